// The diagnostic trace. Off unless switched on per trace name under
// HKEY_LOCAL_MACHINE "Software\Tarvik\Ombra\Debug\<name>"; each module
// (program or component) has its own state, so the library that holds it is
// linked statically and never exported. Nothing here reports an error.
#pragma once

#include "ombra/platform/types.h"

#if defined(__GNUC__)
#define OMBRA_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define OMBRA_PRINTF_LIKE(fmt, args)
#endif

// Output bits of "dwTraceType".
inline constexpr DWORD TRACE_FILE = 0x1;
inline constexpr DWORD TRACE_CONSOLE = 0x2;
inline constexpr DWORD TRACE_DEBUGGER = 0x4;

// Size of every line buffer, line end included.
inline constexpr int TRACE_LINE_SIZE = 256;
// Longest trace file path read from the registry.
inline constexpr int TRACE_PATH_SIZE = 260;

// 1 when the settings were taken or tracing is off; 0 when the key or a
// needed value is missing or of the wrong type. The first call that opens
// the trace decides its name and outputs for the life of the module.
int TraceOpen(const char* name);
void TraceText(const char* text);
void TraceFormat(const char* format, ...) OMBRA_PRINTF_LIKE(1, 2);
