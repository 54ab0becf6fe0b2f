// Events: the front end's manual-reset cancel event crosses into workers by
// number (see handle.h); auto-reset events serve in-process hand-offs.
#pragma once

#include "ombra/platform/handle.h"

// Null on failure (last error set).
HANDLE CreateEvent(BOOL manualReset, BOOL initialState);
BOOL SetEvent(HANDLE event);
// Never blocks, whether or not the event is signaled.
BOOL ResetEvent(HANDLE event);
