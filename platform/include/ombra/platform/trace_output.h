// The two trace outputs that are not a file: the console (this process's
// standard error) and the debugger (syslog at debug priority).
#pragma once

#include <cstddef>

namespace ombra::platform {

// Writes the bytes as they are, all of them unless stderr fails.
void traceToConsole(const char* bytes, std::size_t length);
// One syslog record tagged `name` holding `line` (a trailing line end is dropped).
void traceToDebugger(const char* name, const char* line);

}  // namespace ombra::platform
