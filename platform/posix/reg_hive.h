// In-memory hive and its REGEDIT 5 text form. No I/O here.
#pragma once

#include "ombra/platform/types.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ombra::platform::reg {

struct Value {
    std::string name;  // empty = the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct Key {
    std::string name;
    std::vector<Value> values;               // in creation order
    std::vector<std::unique_ptr<Key>> keys;  // in creation order

    Key* findKey(std::string_view n) const;
    Key& addKey(std::string_view n);
    Value* findValue(std::string_view n);
    const Value* findValue(std::string_view n) const;
    bool removeKey(std::string_view n);
};

bool sameName(std::string_view a, std::string_view b);

// Follows `path` below `root`; null when an element is missing.
Key* walk(Key& root, const std::vector<std::string>& path);
const Key* walk(const Key& root, const std::vector<std::string>& path);

struct ParseError {
    std::size_t line = 0;  // 1-based; 0 = no error
    std::string reason;
};

// Fills `root` (the hive's top key) from the text of a hive file named
// `hiveName` ("HKEY_LOCAL_MACHINE"). An empty text is an empty hive.
ParseError parse(std::string_view text, std::string_view hiveName, Key& root);
std::string serialise(const Key& root, std::string_view hiveName);

}  // namespace ombra::platform::reg
