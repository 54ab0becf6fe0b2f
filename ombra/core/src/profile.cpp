#include "ombra/frontend/profile.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "ombra/platform/registry.h"

namespace ombra::frontend {

using platform::RegKey;

namespace {

// Reads the whole value; false when it is missing or cannot be read.
bool queryValue(HKEY key, const std::string& entry, DWORD& type, std::vector<BYTE>& data)
{
    DWORD size = 0;
    if (RegQueryValueExA(key, entry.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    // The value may grow between the two calls (another process writing).
    for (int attempt = 0; attempt < 3; ++attempt) {
        data.assign(size, 0);
        DWORD got = size;
        const LONG r = RegQueryValueExA(key, entry.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(),
                                        &got);
        if (r == ERROR_SUCCESS) {
            data.resize(got);
            return true;
        }
        if (r != ERROR_MORE_DATA)
            return false;
        size = got;
    }
    return false;
}

bool parseDecimal(std::string_view text, int& value)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long n = 0;
    std::size_t digits = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
        n = n * 10 + (text[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    if (digits == 0)
        return false;
    if (negative)
        n = -n;
    if (n > INT_MAX || n < INT_MIN)
        return false;
    value = static_cast<int>(n);
    return true;
}

}  // namespace

AppProfile::AppProfile(std::string registryKey, std::string appName)
    : registryKey_(std::move(registryKey)), appName_(std::move(appName))
{
}

std::string AppProfile::keyPath(const std::string& section) const
{
    std::string path = "Software\\" + registryKey_ + "\\" + appName_;
    if (!section.empty())
        path += "\\" + section;
    return path;
}

int AppProfile::getInt(const std::string& section, const std::string& entry, int def) const
{
    RegKey key;
    if (key.open(HKEY_CURRENT_USER, keyPath(section).c_str(), KEY_READ) != ERROR_SUCCESS)
        return def;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!queryValue(key.get(), entry, type, data))
        return def;
    if (type == REG_DWORD && data.size() == 4) {
        const DWORD v = DWORD(data[0]) | DWORD(data[1]) << 8 | DWORD(data[2]) << 16 | DWORD(data[3]) << 24;
        return static_cast<int>(v);
    }
    if (type == REG_SZ) {
        const auto end = std::find(data.begin(), data.end(), BYTE(0));
        int value = 0;
        if (parseDecimal(std::string_view(reinterpret_cast<const char*>(data.data()),
                                          static_cast<std::size_t>(end - data.begin())),
                         value))
            return value;
    }
    return def;
}

std::string AppProfile::getString(const std::string& section, const std::string& entry, const std::string& def) const
{
    RegKey key;
    if (key.open(HKEY_CURRENT_USER, keyPath(section).c_str(), KEY_READ) != ERROR_SUCCESS)
        return def;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!queryValue(key.get(), entry, type, data) || (type != REG_SZ && type != REG_EXPAND_SZ))
        return def;
    const auto end = std::find(data.begin(), data.end(), BYTE(0));
    return std::string(data.begin(), end);
}

bool AppProfile::writeInt(const std::string& section, const std::string& entry, int value)
{
    RegKey key;
    if (key.create(HKEY_CURRENT_USER, keyPath(section).c_str(), KEY_WRITE) != ERROR_SUCCESS)
        return false;
    const DWORD v = static_cast<DWORD>(value);
    const BYTE data[4] = {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
    return RegSetValueExA(key.get(), entry.c_str(), 0, REG_DWORD, data, sizeof data) == ERROR_SUCCESS;
}

bool AppProfile::writeString(const std::string& section, const std::string& entry, const std::string& value)
{
    RegKey key;
    if (key.create(HKEY_CURRENT_USER, keyPath(section).c_str(), KEY_WRITE) != ERROR_SUCCESS)
        return false;
    // The text goes up to its first zero byte, with the terminator.
    const std::size_t length = std::strlen(value.c_str());
    return RegSetValueExA(key.get(), entry.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(length + 1)) == ERROR_SUCCESS;
}

bool AppProfile::deleteEntry(const std::string& section, const std::string& entry)
{
    RegKey key;
    const LONG opened = key.open(HKEY_CURRENT_USER, keyPath(section).c_str(), KEY_SET_VALUE);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened != ERROR_SUCCESS)
        return false;
    const LONG r = RegDeleteValueA(key.get(), entry.c_str());
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

std::string applicationNameFromPath(std::string_view executablePath)
{
    const auto slash = executablePath.find_last_of("/\\");
    std::string_view base = slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
    if (base.size() > 4) {
        const std::string_view ext = base.substr(base.size() - 4);
        bool exe = ext[0] == '.';
        for (std::size_t i = 1; exe && i < 4; ++i)
            exe = std::tolower(static_cast<unsigned char>(ext[i])) == "exe"[i - 1];
        if (exe)
            base.remove_suffix(4);
    }
    return std::string(base);
}

}  // namespace ombra::frontend
