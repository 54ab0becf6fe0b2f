// Test hooks of the trace log; not part of its interface.
#pragma once

#include "ombra/platform/types.h"

namespace ombra::trace_detail {

// Back to the state at module start (the trace file, if any, is closed).
void reset();
DWORD outputBits();
bool isOpened();
// Replaces the tick source; null restores GetTickCount.
void setTickSource(DWORD (*source)());

}  // namespace ombra::trace_detail
