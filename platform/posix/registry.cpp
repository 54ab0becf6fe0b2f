// Registry calls over the hive files. Each call resolves its key afresh
// under the hive's lock: shared for reading, exclusive for writing, where
// the file is replaced by a complete new copy (temporary file + rename) so
// a reader never sees half a hive.
#include "ombra/platform/registry.h"

#include "reg_hive.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using ombra::platform::reg::Key;
using ombra::platform::reg::Value;

namespace {

constexpr const char* kHiveNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};
constexpr std::size_t kMaxHiveFile = 64u << 20;
// A lock holder only ever holds the lock for one call; waiting longer than
// this means a stuck process, and the call fails instead of hanging.
constexpr auto kLockPatience = std::chrono::seconds(20);

struct KeyHandle {
    int hive;
    std::vector<std::string> path;
    REGSAM sam;
};

std::mutex handlesMutex;
std::unordered_set<KeyHandle*> handles;

struct Resolved {
    int hive;
    std::vector<std::string> path;
    REGSAM sam;
};

std::optional<Resolved> resolve(HKEY key)
{
    auto v = reinterpret_cast<std::uintptr_t>(key);
    if (v >= 0x80000000u && v <= 0x80000002u) return Resolved{static_cast<int>(v - 0x80000000u), {}, KEY_ALL_ACCESS};
    std::lock_guard lock(handlesMutex);
    auto* h = reinterpret_cast<KeyHandle*>(key);
    if (!handles.contains(h)) return std::nullopt;
    return Resolved{h->hive, h->path, h->sam};
}

HKEY newHandle(int hive, std::vector<std::string> path, REGSAM sam)
{
    auto* h = new KeyHandle{hive, std::move(path), sam};
    std::lock_guard lock(handlesMutex);
    handles.insert(h);
    return reinterpret_cast<HKEY>(h);
}

bool allowed(const Resolved& r, REGSAM need) { return (r.sam & need) == need; }

constexpr int kCurrentUserHive = 1;  // index in kHiveNames

// The machine-wide hives' folder of a machine-wide installation.
std::string machineRegistryDir()
{
    if (const char* d = std::getenv("OMBRA_MACHINE_REGISTRY_DIR"); d && *d) return d;
    return "/var/lib/ombra/registry";
}

// Folder of a hive's file; empty when no folder can be named. The machine
// and classes hives are shared by every user when the machine folder
// exists; the user's hive is always the user's own.
std::string registryDir(int hive)
{
    if (const char* d = std::getenv("OMBRA_REGISTRY_DIR"); d && *d) return d;
    if (hive != kCurrentUserHive) {
        std::string machine = machineRegistryDir();
        struct stat st{};
        if (::stat(machine.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return machine;
    }
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && x[0] == '/') return std::string(x) + "/ombra/registry";
    if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.local/share/ombra/registry";
    return {};
}

bool makeDirs(const std::string& dir)
{
    std::string part;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        part = dir.substr(0, pos);
        if (part.empty()) continue;
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st{};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class HiveLock {
public:
    HiveLock(const std::string& path, bool exclusive)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return;
        opened_ = true;
        auto deadline = std::chrono::steady_clock::now() + kLockPatience;
        auto pause = std::chrono::microseconds(50);
        while (::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::microseconds(1000));
        }
        held_ = true;
    }
    ~HiveLock()
    {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;
    bool opened() const { return opened_; }
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool opened_ = false;
    bool held_ = false;
};

void reportBroken(const std::string& file, const ombra::platform::reg::ParseError& e)
{
    static std::mutex m;
    static std::set<std::string> reported;
    std::lock_guard lock(m);
    if (!reported.insert(file).second) return;
    std::fprintf(stderr,
                 "ombra registry: %s, line %zu: %s. The file is left as it is and no change is written to it "
                 "until it is mended.\n",
                 file.c_str(), e.line, e.reason.c_str());
}

// Reads and parses one hive file. ERROR_SUCCESS with an empty hive when the
// file does not exist.
LONG loadHive(const std::string& file, int hive, Key& root)
{
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ERROR_SUCCESS : ERROR_CANTREAD;
    std::string text;
    char buf[65536];
    LONG result = ERROR_SUCCESS;
    while (true) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = ERROR_CANTREAD;
            break;
        }
        if (n == 0) break;
        if (text.size() + static_cast<std::size_t>(n) > kMaxHiveFile) {
            reportBroken(file, {0, "file larger than 64 MiB"});
            result = ERROR_BADDB;
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (result != ERROR_SUCCESS) return result;
    auto err = ombra::platform::reg::parse(text, kHiveNames[hive], root);
    if (err.line != 0) {
        reportBroken(file, err);
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

bool writeWhole(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

LONG saveHive(const std::string& dir, const std::string& file, int hive, const Key& root)
{
    std::string text = ombra::platform::reg::serialise(root, kHiveNames[hive]);
    std::string tmp = dir + "/." + kHiveNames[hive] + ".tmp." + std::to_string(::getpid()) + "." +
                      std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()));
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return ERROR_CANTWRITE;
    // The new copy keeps the old one's permissions.
    struct stat old{};
    if (::stat(file.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
    bool ok = writeWhole(fd, text);
    // On disk before the rename: a crash must leave the old hive or the new
    // one, never an empty file.
    ok = ok && ::fdatasync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), file.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

// Runs `f(const Key& root)` on a consistent copy of the hive.
template <class F>
LONG readHive(int hive, F&& f)
{
    Key root;
    std::string dir = registryDir(hive);
    if (!dir.empty()) {
        std::string file = dir + "/" + kHiveNames[hive] + ".reg";
        struct stat st{};
        if (::stat(dir.c_str(), &st) == 0) {
            // Writers replace the file whole, so a reader that cannot even
            // open the lock file (read-only folder) still sees a whole hive.
            HiveLock lock(dir + "/" + kHiveNames[hive] + ".lock", false);
            if (lock.opened() && !lock.held()) return ERROR_CANTREAD;
            if (LONG r = loadHive(file, hive, root); r != ERROR_SUCCESS) return r;
        }
    }
    const Key& view = root;
    return f(view);
}

// Runs `f(Key& root, bool& changed)` under the exclusive lock and saves the
// hive when `f` succeeds and says it changed something.
template <class F>
LONG writeHive(int hive, F&& f)
{
    std::string dir = registryDir(hive);
    if (dir.empty() || !makeDirs(dir)) return ERROR_PATH_NOT_FOUND;
    std::string file = dir + "/" + kHiveNames[hive] + ".reg";
    HiveLock lock(dir + "/" + kHiveNames[hive] + ".lock", true);
    if (!lock.held()) return ERROR_CANTWRITE;
    Key root;
    if (LONG r = loadHive(file, hive, root); r != ERROR_SUCCESS) return r;
    bool changed = false;
    LONG r = f(root, changed);
    if (r != ERROR_SUCCESS || !changed) return r;
    return saveHive(dir, file, hive, root);
}

bool badText(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// "A\B\C" -> {A, B, C}; null or empty -> {}. One trailing backslash is
// tolerated, other empty elements are not.
LONG splitPath(const char* subKey, std::vector<std::string>& out)
{
    out.clear();
    if (!subKey || !*subKey) return ERROR_SUCCESS;
    std::string_view s(subKey);
    if (s.back() == '\\') s.remove_suffix(1);
    while (true) {
        std::size_t slash = s.find('\\');
        std::string_view part = s.substr(0, slash);
        if (part.empty()) return ERROR_BAD_PATHNAME;
        if (part.size() > REG_MAX_KEY_NAME || badText(part)) return ERROR_INVALID_PARAMETER;
        out.emplace_back(part);
        if (slash == std::string_view::npos) return ERROR_SUCCESS;
        s.remove_prefix(slash + 1);
    }
}

std::vector<std::string> joined(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    std::vector<std::string> r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

LONG checkValueName(const char* name)
{
    if (!name) return ERROR_SUCCESS;
    std::size_t n = std::strlen(name);
    if (n > REG_MAX_VALUE_NAME || badText(name)) return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

// A key that was opened by path and has gone since.
LONG missingKey(const Resolved& r) { return r.path.empty() ? ERROR_SUCCESS : ERROR_KEY_DELETED; }

// Copies `text` with its terminator when `size` (with terminator) allows.
bool copyName(const std::string& text, char* buf, DWORD* len)
{
    if (*len <= text.size()) {
        *len = static_cast<DWORD>(text.size());
        return false;
    }
    std::memcpy(buf, text.c_str(), text.size() + 1);
    *len = static_cast<DWORD>(text.size());
    return true;
}

bool copyData(const std::vector<BYTE>& data, BYTE* buf, DWORD* len)
{
    bool fits = true;
    if (buf) {
        if (*len < data.size())
            fits = false;
        else if (!data.empty())
            std::memcpy(buf, data.data(), data.size());
    }
    *len = static_cast<DWORD>(data.size());
    return fits;
}

void noClass(char* cls, DWORD* clsLen)
{
    if (clsLen) {
        if (cls && *clsLen > 0) cls[0] = 0;
        *clsLen = 0;
    }
}

}  // namespace

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM sam, const void*, PHKEY result,
                     DWORD* disposition)
{
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    auto r = resolve(key);
    if (!r) return ERROR_INVALID_HANDLE;
    std::vector<std::string> rel;
    if (LONG e = splitPath(subKey, rel); e != ERROR_SUCCESS) return e;
    auto path = joined(r->path, rel);

    // Most calls find the key there already: no exclusive lock, no write.
    bool exists = false;
    LONG e = readHive(r->hive, [&](const Key& root) {
        if (!ombra::platform::reg::walk(root, r->path)) return missingKey(*r);
        exists = ombra::platform::reg::walk(root, path) != nullptr;
        return ERROR_SUCCESS;
    });
    if (e != ERROR_SUCCESS) return e;
    bool created = false;
    if (!exists) {
        e = writeHive(r->hive, [&](Key& root, bool& changed) {
            Key* k = ombra::platform::reg::walk(root, r->path);
            if (!k) return missingKey(*r);
            for (const std::string& part : rel) {
                Key* next = k->findKey(part);
                if (!next) {
                    if (!allowed(*r, KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
                    next = &k->addKey(part);
                    changed = true;
                }
                k = next;
            }
            return ERROR_SUCCESS;
        });
        if (e != ERROR_SUCCESS) return e;
        created = true;
    }
    *result = newHandle(r->hive, std::move(path), sam & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY));
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM sam, PHKEY result)
{
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    auto r = resolve(key);
    if (!r) return ERROR_INVALID_HANDLE;
    std::vector<std::string> rel;
    if (LONG e = splitPath(subKey, rel); e != ERROR_SUCCESS) return e;
    auto path = joined(r->path, rel);
    LONG e = readHive(r->hive, [&](const Key& root) {
        if (!ombra::platform::reg::walk(root, r->path)) return missingKey(*r);
        return ombra::platform::reg::walk(root, path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (e != ERROR_SUCCESS) return e;
    *result = newHandle(r->hive, std::move(path), sam & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY));
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    auto v = reinterpret_cast<std::uintptr_t>(key);
    if (v >= 0x80000000u && v <= 0x80000002u) return ERROR_SUCCESS;
    auto* h = reinterpret_cast<KeyHandle*>(key);
    {
        std::lock_guard lock(handlesMutex);
        if (handles.erase(h) == 0) return ERROR_INVALID_HANDLE;
    }
    delete h;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size)
{
    auto r = resolve(key);
    if (!r) return ERROR_INVALID_HANDLE;
    if (data && !size) return ERROR_INVALID_PARAMETER;
    if (!allowed(*r, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    return readHive(r->hive, [&](const Key& root) {
        const Key* k = ombra::platform::reg::walk(root, r->path);
        if (!k) return ERROR_KEY_DELETED;
        const Value* v = k->findValue(name ? name : "");
        if (!v) return ERROR_FILE_NOT_FOUND;
        if (type) *type = v->type;
        if (!size) return ERROR_SUCCESS;
        return copyData(v->data, data, size) ? ERROR_SUCCESS : ERROR_MORE_DATA;
    });
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    auto r = resolve(key);
    if (!r) return ERROR_INVALID_HANDLE;
    if (LONG e = checkValueName(name); e != ERROR_SUCCESS) return e;
    if ((!data && size > 0) || size > REG_MAX_DATA) return ERROR_INVALID_PARAMETER;
    if (!allowed(*r, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return writeHive(r->hive, [&](Key& root, bool& changed) {
        Key* k = ombra::platform::reg::walk(root, r->path);
        if (!k) return ERROR_KEY_DELETED;
        std::string n = name ? name : "";
        Value* v = k->findValue(n);
        if (!v) {
            k->values.push_back(Value{n, 0, {}});
            v = &k->values.back();
        }
        v->type = type;
        v->data.assign(data, data + size);
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, const char* name)
{
    auto r = resolve(key);
    if (!r) return ERROR_INVALID_HANDLE;
    if (!allowed(*r, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return writeHive(r->hive, [&](Key& root, bool& changed) {
        Key* k = ombra::platform::reg::walk(root, r->path);
        if (!k) return ERROR_KEY_DELETED;
        std::string_view n = name ? name : "";
        for (auto it = k->values.begin(); it != k->values.end(); ++it) {
            if (ombra::platform::reg::sameName(it->name, n)) {
                k->values.erase(it);
                changed = true;
                return ERROR_SUCCESS;
            }
        }
        return ERROR_FILE_NOT_FOUND;
    });
}

namespace {

LONG deleteKey(HKEY key, const char* subKey, bool tree)
{
    auto r = resolve(key);
    if (!r) return ERROR_INVALID_HANDLE;
    std::vector<std::string> rel;
    if (LONG e = splitPath(subKey, rel); e != ERROR_SUCCESS) return e;
    auto path = joined(r->path, rel);
    bool contentsOnly = tree && !subKey;
    if (path.empty() && !contentsOnly) return ERROR_ACCESS_DENIED;  // a hive's top key stays
    return writeHive(r->hive, [&](Key& root, bool& changed) {
        if (!ombra::platform::reg::walk(root, r->path)) return missingKey(*r);
        Key* k = ombra::platform::reg::walk(root, path);
        if (!k) return ERROR_FILE_NOT_FOUND;
        if (contentsOnly) {
            changed = !k->keys.empty() || !k->values.empty();
            k->keys.clear();
            k->values.clear();
            return ERROR_SUCCESS;
        }
        if (!tree && !k->keys.empty()) return ERROR_ACCESS_DENIED;
        Key* parent = ombra::platform::reg::walk(root, std::vector<std::string>(path.begin(), path.end() - 1));
        parent->removeKey(path.back());
        changed = true;
        return ERROR_SUCCESS;
    });
}

}  // namespace

LONG RegDeleteKeyA(HKEY key, const char* subKey)
{
    if (!subKey) return ERROR_INVALID_PARAMETER;
    return deleteKey(key, subKey, false);
}

LONG RegDeleteTreeA(HKEY key, const char* subKey) { return deleteKey(key, subKey, true); }

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD*, char* cls, DWORD* clsLen, void*)
{
    auto r = resolve(key);
    if (!r) return ERROR_INVALID_HANDLE;
    if (!name || !nameLen) return ERROR_INVALID_PARAMETER;
    if (!allowed(*r, KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    return readHive(r->hive, [&](const Key& root) {
        const Key* k = ombra::platform::reg::walk(root, r->path);
        if (!k) return ERROR_KEY_DELETED;
        if (index >= k->keys.size()) return ERROR_NO_MORE_ITEMS;
        noClass(cls, clsLen);
        return copyName(k->keys[index]->name, name, nameLen) ? ERROR_SUCCESS : ERROR_MORE_DATA;
    });
}

LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD*, DWORD* type, BYTE* data, DWORD* dataLen)
{
    auto r = resolve(key);
    if (!r) return ERROR_INVALID_HANDLE;
    if (!name || !nameLen || (data && !dataLen)) return ERROR_INVALID_PARAMETER;
    if (!allowed(*r, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    return readHive(r->hive, [&](const Key& root) {
        const Key* k = ombra::platform::reg::walk(root, r->path);
        if (!k) return ERROR_KEY_DELETED;
        if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
        const Value& v = k->values[index];
        bool fits = copyName(v.name, name, nameLen);
        if (type) *type = v.type;
        if (dataLen) fits = copyData(v.data, data, dataLen) && fits;
        return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
    });
}

LONG RegQueryInfoKeyA(HKEY key, char* cls, DWORD* clsLen, DWORD*, DWORD* subKeys, DWORD* maxSubKeyLen,
                      DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen, DWORD* maxValueLen,
                      DWORD* securityDescriptor, void*)
{
    auto r = resolve(key);
    if (!r) return ERROR_INVALID_HANDLE;
    if (!allowed(*r, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    return readHive(r->hive, [&](const Key& root) {
        const Key* k = ombra::platform::reg::walk(root, r->path);
        if (!k) return ERROR_KEY_DELETED;
        DWORD longestKey = 0, longestName = 0, longestData = 0;
        for (const auto& s : k->keys) longestKey = std::max(longestKey, static_cast<DWORD>(s->name.size()));
        for (const Value& v : k->values) {
            longestName = std::max(longestName, static_cast<DWORD>(v.name.size()));
            longestData = std::max(longestData, static_cast<DWORD>(v.data.size()));
        }
        noClass(cls, clsLen);
        if (subKeys) *subKeys = static_cast<DWORD>(k->keys.size());
        if (maxSubKeyLen) *maxSubKeyLen = longestKey;
        if (maxClassLen) *maxClassLen = 0;
        if (values) *values = static_cast<DWORD>(k->values.size());
        if (maxValueNameLen) *maxValueNameLen = longestName;
        if (maxValueLen) *maxValueLen = longestData;
        if (securityDescriptor) *securityDescriptor = 0;
        return ERROR_SUCCESS;
    });
}
