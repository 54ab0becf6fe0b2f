#include "reg_hive.h"

#include "ombra/platform/registry.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace ombra::platform::reg {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::size_t kHexLineWidth = 76;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view trimLeft(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) { return trimRight(trimLeft(s)); }

// Data that a "text" form gives back exactly: one terminator at the end, no
// other zero, nothing that breaks a line or hides in an editor.
bool plainText(const std::vector<BYTE>& d)
{
    if (d.empty() || d.back() != 0) return false;
    for (std::size_t i = 0; i + 1 < d.size(); ++i) {
        BYTE b = d[i];
        if ((b < 0x20 && b != '\t') || b == 0x7F) return false;
    }
    return true;
}

void appendQuoted(std::string& out, std::string_view s)
{
    out += '"';
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

void appendHex(std::string& out, const std::vector<BYTE>& data)
{
    std::size_t column = out.size() - (out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        bool last = i + 1 == data.size();
        if (column + 3 > kHexLineWidth) {
            out += "\\\r\n  ";
            column = 2;
        }
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
        column += 2;
        if (!last) {
            out += ',';
            ++column;
        }
    }
}

void writeKey(std::string& out, const Key& key, const std::string& path, bool isRoot)
{
    if (!isRoot || !key.values.empty()) {
        out += '[';
        out += path;
        out += "]\r\n";
        for (const Value& v : key.values) {
            if (v.name.empty())
                out += '@';
            else
                appendQuoted(out, v.name);
            out += '=';
            if (v.type == REG_SZ && plainText(v.data)) {
                appendQuoted(out, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
            } else if (v.type == REG_DWORD && v.data.size() == 4) {
                char buf[16];
                unsigned d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<unsigned>(v.data[3]) << 24);
                std::snprintf(buf, sizeof buf, "dword:%08x", d);
                out += buf;
            } else {
                if (v.type == REG_BINARY) {
                    out += "hex:";
                } else {
                    char buf[24];
                    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
                    out += buf;
                }
                appendHex(out, v.data);
            }
            out += "\r\n";
        }
        out += "\r\n";
    }
    for (const auto& sub : key.keys) writeKey(out, *sub, path + '\\' + sub->name, false);
}

// Reads a quoted text at the start of `s`; leaves `s` after the closing quote.
bool readQuoted(std::string_view& s, std::string& out, std::string& reason)
{
    if (s.empty() || s.front() != '"') {
        reason = "expected '\"'";
        return false;
    }
    s.remove_prefix(1);
    out.clear();
    while (!s.empty()) {
        char c = s.front();
        s.remove_prefix(1);
        if (c == '"') return true;
        if (c == '\\') {
            if (s.empty() || (s.front() != '\\' && s.front() != '"')) {
                reason = "backslash must be doubled inside quotes";
                return false;
            }
            c = s.front();
            s.remove_prefix(1);
        }
        out += c;
    }
    reason = "missing closing '\"'";
    return false;
}

bool readHexBytes(std::string_view s, std::vector<BYTE>& out, std::string& reason)
{
    s = trim(s);
    out.clear();
    if (s.empty()) return true;
    while (true) {
        s = trimLeft(s);
        int value = 0, n = 0;
        while (!s.empty() && hexDigit(s.front()) >= 0 && n < 2) {
            value = value * 16 + hexDigit(s.front());
            s.remove_prefix(1);
            ++n;
        }
        if (n == 0) {
            reason = "bad hex byte";
            return false;
        }
        out.push_back(static_cast<BYTE>(value));
        s = trimLeft(s);
        if (s.empty()) return true;
        if (s.front() != ',') {
            reason = "bad hex byte";
            return false;
        }
        s.remove_prefix(1);
        if (out.size() > REG_MAX_DATA) {
            reason = "value too large";
            return false;
        }
    }
}

struct Lines {
    std::string_view text;
    std::size_t pos = 0;
    std::size_t number = 0;

    bool next(std::string_view& line)
    {
        if (pos >= text.size()) return false;
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = end + 1;
        ++number;
        return true;
    }
};

}  // namespace

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

Key* Key::findKey(std::string_view n) const
{
    for (const auto& k : keys)
        if (sameName(k->name, n)) return k.get();
    return nullptr;
}

Key& Key::addKey(std::string_view n)
{
    keys.push_back(std::make_unique<Key>());
    keys.back()->name = std::string(n);
    return *keys.back();
}

Value* Key::findValue(std::string_view n)
{
    for (Value& v : values)
        if (sameName(v.name, n)) return &v;
    return nullptr;
}

const Value* Key::findValue(std::string_view n) const { return const_cast<Key*>(this)->findValue(n); }

bool Key::removeKey(std::string_view n)
{
    auto it = std::find_if(keys.begin(), keys.end(), [&](const auto& k) { return sameName(k->name, n); });
    if (it == keys.end()) return false;
    keys.erase(it);
    return true;
}

Key* walk(Key& root, const std::vector<std::string>& path)
{
    Key* k = &root;
    for (const std::string& p : path) {
        k = k->findKey(p);
        if (!k) return nullptr;
    }
    return k;
}

const Key* walk(const Key& root, const std::vector<std::string>& path)
{
    return walk(const_cast<Key&>(root), path);
}

std::string serialise(const Key& root, std::string_view hiveName)
{
    std::string out(kHeader);
    out += "\r\n\r\n";
    writeKey(out, root, std::string(hiveName), true);
    return out;
}

ParseError parse(std::string_view text, std::string_view hiveName, Key& root)
{
    Lines lines{text};
    if (text.substr(0, 3) == "\xEF\xBB\xBF") lines.pos = 3;
    std::string_view line;
    bool header = false;
    Key* current = nullptr;
    // Lower-cased names of the current key's values: a repeated name
    // replaces the earlier one without a linear search per line.
    std::unordered_map<std::string, std::size_t> seen;
    auto folded = [](std::string_view n) {
        std::string f(n);
        for (char& c : f) c = lower(c);
        return f;
    };
    auto fail = [&](std::string reason) { return ParseError{lines.number, std::move(reason)}; };

    while (lines.next(line)) {
        std::string_view t = trim(line);
        if (!header) {
            if (t.empty()) continue;
            if (t != kHeader) return fail("expected \"" + std::string(kHeader) + "\"");
            header = true;
            continue;
        }
        if (t.empty() || t.front() == ';') continue;

        if (t.front() == '[') {
            if (t.back() != ']') return fail("key line must end with ']'");
            std::string_view path = t.substr(1, t.size() - 2);
            if (!path.empty() && path.front() == '-') return fail("key deletion lines are not allowed in a hive file");
            std::size_t slash = path.find('\\');
            if (!sameName(path.substr(0, slash), hiveName)) return fail("key is not under " + std::string(hiveName));
            current = &root;
            while (slash != std::string_view::npos) {
                path.remove_prefix(slash + 1);
                slash = path.find('\\');
                std::string_view part = path.substr(0, slash);
                if (part.empty()) return fail("empty key name");
                if (part.size() > REG_MAX_KEY_NAME) return fail("key name longer than 255 characters");
                Key* next = current->findKey(part);
                current = next ? next : &current->addKey(part);
            }
            seen.clear();
            for (std::size_t i = 0; i < current->values.size(); ++i) seen.emplace(folded(current->values[i].name), i);
            continue;
        }

        if (!current) return fail("value outside any key");
        std::string reason;
        std::string name;
        std::string_view s = t;
        if (s.front() == '@') {
            s.remove_prefix(1);
        } else if (!readQuoted(s, name, reason)) {
            return fail(reason);
        } else if (name.empty()) {
            return fail("empty value name (use @ for the default value)");
        }
        s = trimLeft(s);
        if (s.empty() || s.front() != '=') return fail("expected '='");
        s = trimLeft(s.substr(1));

        Value v;
        v.name = name;
        if (!s.empty() && s.front() == '"') {
            std::string data;
            if (!readQuoted(s, data, reason)) return fail(reason);
            if (!trim(s).empty()) return fail("text after the closing '\"'");
            v.type = REG_SZ;
            v.data.assign(data.begin(), data.end());
            v.data.push_back(0);
        } else if (s.substr(0, 6) == "dword:") {
            std::string_view digits = trim(s.substr(6));
            if (digits.empty() || digits.size() > 8) return fail("dword needs 1 to 8 hex digits");
            std::uint32_t d = 0;
            for (char c : digits) {
                if (hexDigit(c) < 0) return fail("bad hex digit in dword");
                d = d * 16 + static_cast<std::uint32_t>(hexDigit(c));
            }
            v.type = REG_DWORD;
            v.data = {static_cast<BYTE>(d), static_cast<BYTE>(d >> 8), static_cast<BYTE>(d >> 16),
                      static_cast<BYTE>(d >> 24)};
        } else if (s.substr(0, 3) == "hex") {
            std::size_t startLine = lines.number;
            s.remove_prefix(3);
            v.type = REG_BINARY;
            if (!s.empty() && s.front() == '(') {
                std::size_t close = s.find(')');
                if (close == std::string_view::npos || close < 2 || close > 9) return fail("bad hex(type)");
                std::uint32_t type = 0;
                for (char c : s.substr(1, close - 1)) {
                    if (hexDigit(c) < 0) return fail("bad hex(type)");
                    type = type * 16 + static_cast<std::uint32_t>(hexDigit(c));
                }
                v.type = type;
                s.remove_prefix(close + 1);
            }
            if (s.empty() || s.front() != ':') return fail("expected ':' after hex");
            s.remove_prefix(1);
            std::string bytes(trimRight(s));
            while (!bytes.empty() && bytes.back() == '\\') {
                bytes.pop_back();
                std::string_view more;
                if (!lines.next(more)) return fail("hex data continues past the end of the file");
                bytes += trim(more);
                if (bytes.size() > 3 * std::size_t{REG_MAX_DATA}) return fail("value too large");
            }
            if (!readHexBytes(bytes, v.data, reason)) {
                ParseError e = fail(reason);
                e.line = startLine;
                return e;
            }
        } else {
            return fail("unknown value form (expected \"text\", dword: or hex:)");
        }
        auto [it, fresh] = seen.emplace(folded(v.name), current->values.size());
        if (fresh) {
            current->values.push_back(std::move(v));
        } else {
            current->values[it->second].type = v.type;
            current->values[it->second].data = std::move(v.data);
        }
    }
    return {};
}

}  // namespace ombra::platform::reg
