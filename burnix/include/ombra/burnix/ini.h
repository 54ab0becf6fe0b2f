// Reader for driver configuration files in the profile format:
//   [section]
//   key=value
// Lookups follow the profile functions: section and key names compare
// without regard to case, the first match wins, a missing entry gives the
// caller's default, texts are cut to the caller's buffer size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombra::burnix {

class IniFile {
public:
    IniFile() = default;
    static IniFile parse(std::string_view text);
    // A missing or unreadable file reads as an empty one, as the profile
    // functions treat it.
    static IniFile load(const std::string& path);

    // The value text, trimmed and with one pair of enclosing quotes removed.
    std::optional<std::string> find(std::string_view section, std::string_view key) const;

    // Text of at most size - 1 characters (size 128 for every caller here).
    std::string getString(std::string_view section, std::string_view key, std::string_view fallback,
                          std::size_t size = 128) const;
    // Decimal integer with optional sign, or hexadecimal after "0x"; digits
    // stop at the first non-digit; a present key without digits gives 0.
    std::int32_t getInt(std::string_view section, std::string_view key, std::int32_t fallback) const;

private:
    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };
    std::vector<Entry> entries_;
};

// Parses a profile integer as getInt does.
std::int32_t parseProfileInt(std::string_view text);

}  // namespace ombra::burnix
