#include "ombra/burnix/ini.h"

#include <fstream>
#include <sstream>

namespace ombra::burnix {
namespace {

std::string_view trim(std::string_view s) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return s;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

}  // namespace

IniFile IniFile::parse(std::string_view text) {
    IniFile ini;
    std::string section;
    bool inSection = false;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = trim(text.substr(0, eol));
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string_view::npos) continue;
            section = std::string(trim(line.substr(1, close - 1)));
            inSection = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inSection || eq == std::string_view::npos) continue;
        std::string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                                  (value.front() == '\'' && value.back() == '\'')))
            value = value.substr(1, value.size() - 2);
        ini.entries_.push_back({section, std::string(trim(line.substr(0, eq))), std::string(value)});
    }
    return ini;
}

IniFile IniFile::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str());
}

std::optional<std::string> IniFile::find(std::string_view section, std::string_view key) const {
    for (const Entry& e : entries_)
        if (sameName(e.section, section) && sameName(e.key, key)) return e.value;
    return std::nullopt;
}

std::string IniFile::getString(std::string_view section, std::string_view key, std::string_view fallback,
                               std::size_t size) const {
    std::string value = find(section, key).value_or(std::string(fallback));
    if (size == 0) return {};
    if (value.size() > size - 1) value.resize(size - 1);
    return value;
}

std::int32_t IniFile::getInt(std::string_view section, std::string_view key, std::int32_t fallback) const {
    const auto value = find(section, key);
    return value ? parseProfileInt(*value) : fallback;
}

std::int32_t parseProfileInt(std::string_view text) {
    text = trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    // Wraps like a 32-bit register, so 0xFFFFFFFF reads as -1.
    std::uint32_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && lower(c) >= 'a' && lower(c) <= 'f') digit = static_cast<unsigned>(lower(c) - 'a' + 10);
        else break;
        value = value * base + digit;
    }
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

}  // namespace ombra::burnix
