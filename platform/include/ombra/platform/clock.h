// Monotonic time: the tick count, sleeping, and deadline handles that can
// sit in a WaitForMultipleObjects list beside the cancel event.
#pragma once

#include <cstdint>

#include "ombra/platform/handle.h"

// Milliseconds of the monotonic clock, cut to 32 bits (wraps after ~49 days;
// differences of two readings stay right across the wrap).
DWORD GetTickCount();
std::uint64_t GetTickCount64();

void Sleep(DWORD milliseconds);

// A timer handle: signaled once its due time has passed. Manual-reset timers
// stay signaled until set again; auto-reset ones are consumed by the wait
// that sees them. Null on failure.
HANDLE CreateWaitableTimer(BOOL manualReset);
// Arms the timer `dueInMilliseconds` from now (0 = signaled at once),
// clearing an earlier signal.
BOOL SetWaitableTimer(HANDLE timer, DWORD dueInMilliseconds);
// Disarms the timer; this also clears a signal it has given.
BOOL CancelWaitableTimer(HANDLE timer);
