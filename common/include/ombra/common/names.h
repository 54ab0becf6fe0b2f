// Names that arrive from a pipe, a file or a command line and become one
// component of a file path or a registry key (a driver's folder, a trace
// context's key). A name that could climb out of its folder, or reach a
// key other than its own, is refused where it is joined.
#pragma once

#include <cstddef>
#include <string_view>

namespace ombra {

// A file name component and a registry key name both stop at 255.
inline constexpr std::size_t kMaxPlainNameLength = 255;

// Not empty, at most kMaxPlainNameLength bytes, no '/' or '\\', no "..",
// no NUL or other control character (bytes 0x01-0x1F and 0x7F).
bool isPlainName(std::string_view name);

}  // namespace ombra
