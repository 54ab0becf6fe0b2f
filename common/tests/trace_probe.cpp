// A module of its own with its own copy of the trace: proves that two
// modules in one process never share trace state.
#include "ombra/common/trace.h"
#include "ombra/platform/unknown.h"

OMBRA_EXPORT int probeTrace(const char* name, const char* text) {
    const int opened = TraceOpen(name);
    TraceText(text);
    return opened;
}
