// reg query KEY [/v NAME | /ve] [/s]
// reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
// reg delete KEY [/v NAME | /ve | /va] [/f]
// KEY starts with a hive: HKLM, HKCU, HKCR or their long names.
#include "reg_tool.h"

#include "ombra/platform/registry.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

namespace ombra::tools {

namespace {

const char* const kUsage =
    "usage: reg query KEY [/v NAME | /ve] [/s]\n"
    "       reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
    "       reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "KEY: HKLM, HKCU or HKCR (or HKEY_...) followed by \\path\n"
    "TYPE: REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ (parts split by \\0),\n"
    "      REG_DWORD, REG_QWORD (decimal or 0x...), REG_BINARY (hex digits), REG_NONE\n";

struct Hive {
    const char* shortName;
    const char* longName;
    HKEY key;
};

const Hive kHives[] = {{"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                       {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                       {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}};

bool iequal(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto l = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (l(a[i]) != l(b[i])) return false;
    }
    return true;
}

struct KeyName {
    const Hive* hive = nullptr;
    std::string path;  // below the hive, may be empty
    std::string full() const { return path.empty() ? hive->longName : std::string(hive->longName) + "\\" + path; }
};

std::optional<KeyName> parseKey(const std::string& text)
{
    std::size_t slash = text.find('\\');
    std::string_view head = std::string_view(text).substr(0, slash);
    for (const Hive& h : kHives) {
        if (iequal(head, h.shortName) || iequal(head, h.longName)) {
            KeyName k{&h, slash == std::string::npos ? std::string() : text.substr(slash + 1)};
            return k;
        }
    }
    return std::nullopt;
}

struct TypeName {
    const char* name;
    DWORD type;
};

const TypeName kTypes[] = {{"REG_NONE", REG_NONE},         {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},
                           {"REG_BINARY", REG_BINARY},     {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ},
                           {"REG_QWORD", REG_QWORD}};

std::string typeName(DWORD type)
{
    for (const TypeName& t : kTypes)
        if (t.type == type) return t.name;
    char buf[32];
    std::snprintf(buf, sizeof buf, "REG_TYPE_%u", static_cast<unsigned>(type));
    return buf;
}

std::string hexText(const std::vector<BYTE>& data)
{
    std::string s;
    char buf[4];
    for (BYTE b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        s += buf;
    }
    return s;
}

std::string showData(DWORD type, const std::vector<BYTE>& data)
{
    auto asText = [&] {
        std::string s(data.begin(), data.end());
        return s.substr(0, s.find('\0'));
    };
    if (type == REG_SZ || type == REG_EXPAND_SZ) return asText();
    if (type == REG_DWORD && data.size() == 4) {
        char buf[16];
        unsigned v = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<unsigned>(data[3]) << 24);
        std::snprintf(buf, sizeof buf, "0x%x", v);
        return buf;
    }
    if (type == REG_QWORD && data.size() == 8) {
        unsigned long long v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | data[static_cast<std::size_t>(i)];
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%llx", v);
        return buf;
    }
    if (type == REG_MULTI_SZ) {
        std::string s, part;
        for (std::size_t i = 0; i < data.size(); ++i) {
            if (data[i] != 0) {
                part += static_cast<char>(data[i]);
                continue;
            }
            if (part.empty()) break;
            s += (s.empty() ? "" : "\\0") + part;
            part.clear();
        }
        return s;
    }
    return hexText(data);
}

bool parseNumber(const std::string& s, unsigned long long limit, unsigned long long& v)
{
    if (s.empty()) return false;
    int base = 10;
    std::size_t i = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    }
    v = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        int d = (c >= '0' && c <= '9') ? c - '0'
                : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (base == 16 && c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                     : -1;
        if (d < 0) return false;
        if (v > (limit - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) return false;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    return true;
}

bool encodeData(DWORD type, const std::string& text, std::vector<BYTE>& out, std::string& err)
{
    out.clear();
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        out.assign(text.begin(), text.end());
        out.push_back(0);
        return true;
    case REG_MULTI_SZ: {
        std::size_t pos = 0;
        while (true) {
            std::size_t sep = text.find("\\0", pos);
            std::string part = text.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos);
            out.insert(out.end(), part.begin(), part.end());
            out.push_back(0);
            if (sep == std::string::npos) break;
            pos = sep + 2;
        }
        out.push_back(0);
        return true;
    }
    case REG_DWORD:
    case REG_QWORD: {
        unsigned long long v = 0;
        unsigned long long limit = type == REG_DWORD ? 0xFFFFFFFFull : ~0ull;
        if (!parseNumber(text, limit, v)) {
            err = "ERROR: \"" + text + "\" is not a number of that size.\n";
            return false;
        }
        for (int i = 0; i < (type == REG_DWORD ? 4 : 8); ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
        return true;
    }
    default:
        if (text.size() % 2 != 0) {
            err = "ERROR: binary data needs an even number of hex digits.\n";
            return false;
        }
        for (std::size_t i = 0; i < text.size(); i += 2) {
            unsigned long long v = 0;
            if (!parseNumber("0x" + text.substr(i, 2), 0xFF, v)) {
                err = "ERROR: \"" + text + "\" is not hex data.\n";
                return false;
            }
            out.push_back(static_cast<BYTE>(v));
        }
        return true;
    }
}

std::string errorText(LONG e)
{
    switch (e) {
    case ERROR_FILE_NOT_FOUND: return "ERROR: The system was unable to find the specified registry key or value.\n";
    case ERROR_ACCESS_DENIED: return "ERROR: Access is denied.\n";
    case ERROR_BADDB: return "ERROR: The registry file is damaged (see the message above); nothing was changed.\n";
    default: return "ERROR: registry error " + std::to_string(e) + ".\n";
    }
}

struct Options {
    std::optional<std::string> value;  // "" = default value
    bool allValues = false;
    bool recurse = false;
    std::optional<std::string> type, data;
};

void listKey(HKEY key, const std::string& name, bool recurse, std::string& out)
{
    out += name + "\n";
    for (DWORD i = 0;; ++i) {
        char valueName[REG_MAX_VALUE_NAME + 1];
        DWORD nameLen = sizeof valueName, type = 0, size = 0;
        if (RegEnumValueA(key, i, valueName, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size);
        nameLen = sizeof valueName;
        if (RegEnumValueA(key, i, valueName, &nameLen, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
        data.resize(size);
        out += "    " + std::string(nameLen ? valueName : "(Default)") + "    " + typeName(type) + "    " +
               showData(type, data) + "\n";
    }
    out += "\n";
    for (DWORD i = 0;; ++i) {
        char sub[REG_MAX_KEY_NAME + 1];
        DWORD len = sizeof sub;
        if (RegEnumKeyExA(key, i, sub, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::string child = name + "\\" + sub;
        HKEY h = nullptr;
        if (recurse && RegOpenKeyExA(key, sub, 0, KEY_READ, &h) == ERROR_SUCCESS) {
            listKey(h, child, true, out);
            RegCloseKey(h);
        } else if (!recurse) {
            out += child + "\n";
        }
    }
}

int query(const KeyName& k, const Options& o, std::string& out, std::string& err)
{
    HKEY h = nullptr;
    LONG e = RegOpenKeyExA(k.hive->key, k.path.c_str(), 0, KEY_READ, &h);
    if (e != ERROR_SUCCESS) {
        err += errorText(e);
        return 1;
    }
    int status = 0;
    if (o.value) {
        DWORD type = 0, size = 0;
        e = RegQueryValueExA(h, o.value->c_str(), nullptr, &type, nullptr, &size);
        std::vector<BYTE> data(size);
        if (e == ERROR_SUCCESS) e = RegQueryValueExA(h, o.value->c_str(), nullptr, &type, data.data(), &size);
        if (e != ERROR_SUCCESS) {
            err += errorText(e);
            status = 1;
        } else {
            data.resize(size);
            out += k.full() + "\n    " + (o.value->empty() ? std::string("(Default)") : *o.value) + "    " +
                   typeName(type) + "    " + showData(type, data) + "\n\n";
        }
    } else {
        listKey(h, k.full(), o.recurse, out);
    }
    RegCloseKey(h);
    return status;
}

int add(const KeyName& k, const Options& o, std::string& err)
{
    DWORD type = REG_SZ;
    if (o.type) {
        bool known = false;
        for (const TypeName& t : kTypes) {
            if (iequal(*o.type, t.name)) {
                type = t.type;
                known = true;
            }
        }
        if (!known) {
            err += "ERROR: unknown type \"" + *o.type + "\".\n";
            return 1;
        }
    }
    std::vector<BYTE> data;
    if ((o.value || o.data) && !encodeData(type, o.data.value_or(""), data, err)) return 1;
    HKEY h = nullptr;
    LONG e = RegCreateKeyExA(k.hive->key, k.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, &h, nullptr);
    if (e == ERROR_SUCCESS && (o.value || o.data)) {
        e = RegSetValueExA(h, o.value.value_or("").c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    }
    if (h) RegCloseKey(h);
    if (e != ERROR_SUCCESS) {
        err += errorText(e);
        return 1;
    }
    return 0;
}

int remove(const KeyName& k, const Options& o, std::string& err)
{
    LONG e = ERROR_SUCCESS;
    if (o.value || o.allValues) {
        HKEY h = nullptr;
        e = RegOpenKeyExA(k.hive->key, k.path.c_str(), 0, KEY_ALL_ACCESS, &h);
        if (e == ERROR_SUCCESS && o.value) e = RegDeleteValueA(h, o.value->c_str());
        if (e == ERROR_SUCCESS && o.allValues) {
            char name[REG_MAX_VALUE_NAME + 1];
            while (e == ERROR_SUCCESS) {
                DWORD len = sizeof name;
                if (RegEnumValueA(h, 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
                e = RegDeleteValueA(h, name);
            }
        }
        if (h) RegCloseKey(h);
    } else if (k.path.empty()) {
        err += "ERROR: a whole hive cannot be deleted.\n";
        return 1;
    } else {
        e = RegDeleteTreeA(k.hive->key, k.path.c_str());
    }
    if (e != ERROR_SUCCESS) {
        err += errorText(e);
        return 1;
    }
    return 0;
}

}  // namespace

int regCommand(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    if (args.size() < 2) {
        err += kUsage;
        return 1;
    }
    const std::string& verb = args[0];
    auto key = parseKey(args[1]);
    if (!key) {
        err += "ERROR: \"" + args[1] + "\" does not start with HKLM, HKCU or HKCR.\n" + kUsage;
        return 1;
    }
    Options o;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool hasNext = i + 1 < args.size();
        if (iequal(a, "/v") && hasNext)
            o.value = args[++i];
        else if (iequal(a, "/ve"))
            o.value = "";
        else if (iequal(a, "/va"))
            o.allValues = true;
        else if (iequal(a, "/s"))
            o.recurse = true;
        else if (iequal(a, "/t") && hasNext)
            o.type = args[++i];
        else if (iequal(a, "/d") && hasNext)
            o.data = args[++i];
        else if (iequal(a, "/f"))
            continue;
        else {
            err += "ERROR: unexpected argument \"" + a + "\".\n" + kUsage;
            return 1;
        }
    }
    if (iequal(verb, "query")) return query(*key, o, out, err);
    if (iequal(verb, "add")) return add(*key, o, err);
    if (iequal(verb, "delete")) return remove(*key, o, err);
    err += "ERROR: unknown operation \"" + verb + "\".\n" + kUsage;
    return 1;
}

}  // namespace ombra::tools
