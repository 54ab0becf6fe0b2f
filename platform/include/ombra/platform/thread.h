// Threads as waitable handles with an exit code. Threads cannot be killed:
// closing the handle of a running thread only lets it go; what it uses must
// be kept alive by shared ownership until it ends.
#pragma once

#include <functional>

#include "ombra/platform/handle.h"

using LPTHREAD_START_ROUTINE = DWORD (*)(void* argument);

constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;

// Starts `routine(argument)` at once with the default stack size. The handle
// becomes signaled when the routine returns; its result is the exit code.
// Null on failure (last error set). `threadId` may be null.
HANDLE CreateThread(LPTHREAD_START_ROUTINE routine, void* argument, DWORD* threadId);
// The same for a callable.
HANDLE StartThread(std::function<DWORD()> body, DWORD* threadId);

// STILL_ACTIVE while the thread runs.
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);

// Best effort: the operating system may refuse a raise without privileges;
// that is not an error here (TRUE unless the handle is bad).
BOOL SetThreadPriority(HANDLE thread, int priority);
// A handle that stands for the calling thread in SetThreadPriority; it is
// not closed and not waitable.
HANDLE GetCurrentThread();

DWORD GetCurrentThreadId();
