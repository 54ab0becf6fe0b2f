// The registry side of the trace settings utility: one context's values
// under HKEY_LOCAL_MACHINE "Software\Tarvik\Ombra\Debug\<context>", loaded
// and saved the way the trace log reads them. No widget in here.
#pragma once

#include <string>
#include <string_view>

namespace ombra::pivra {

inline constexpr const char* kDebugKey = "Software\\Tarvik\\Ombra\\Debug";

// The trace log reads at most 260 bytes of the path, its zero included.
inline constexpr int kMaxPathBytes = 259;

// What the dialog binds to its controls: three flags (0 or 1) and the path.
struct TraceValues {
    int enabled = 0;
    int console = 0;
    int file = 0;
    std::string path;

    friend bool operator==(const TraceValues&, const TraceValues&) = default;
};

enum class LoadOutcome {
    failed,   // no usable context, or its key could neither be opened nor created
    created,  // the key did not exist and was created empty; nothing was read
    loaded,   // the key existed; the values found were taken
};

// A name that can stand for one key right below the Debug key. An empty
// name would be the Debug key itself, a backslash a key further down.
bool isContextName(std::string_view context);

// Creates or opens the context's key. When it existed, the values found
// replace those in `values`: "fTraceEnabled" the enabled flag, bits 0x1 and
// 0x2 of "dwTraceType" the file and console flags, "sTraceFile" the path (a
// missing path empties it). A missing value, or one of another type, leaves
// that flag as it was.
LoadOutcome loadTraceValues(std::string_view context, TraceValues& values);

// Writes all three values into the context's key, creating it if needed.
// "dwTraceType" gets only the console and file bits, so a hand-set debugger
// bit is cleared. False, with nothing written, for an unusable context, a
// path longer than kMaxPathBytes, or a registry failure.
bool saveTraceValues(std::string_view context, const TraceValues& values);

// The path of the context's key below HKEY_LOCAL_MACHINE.
std::string contextKeyPath(std::string_view context);

}  // namespace ombra::pivra
