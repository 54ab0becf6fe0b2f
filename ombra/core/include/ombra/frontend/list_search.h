// The searches of the platform's list and combo boxes over plain lists:
// from the top, case-insensitive (ASCII), first match; -1 when none.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ombra::frontend {

// The first entry that begins with `prefix` (every entry begins with "").
int findStringPrefix(const std::vector<std::string>& entries, std::string_view prefix);
// The first entry equal to `text`.
int findStringExact(const std::vector<std::string>& entries, std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace ombra::frontend
