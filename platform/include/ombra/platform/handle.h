// Kernel-object handles: close, wait, duplicate, and the numbers by which a
// handle crosses into a child process. Win32-shaped, because the callers'
// algorithms test Win32 results (WAIT_OBJECT_0 + i, WAIT_TIMEOUT, ...).
//
// A HANDLE stays valid until CloseHandle. A closed or made-up HANDLE is
// rejected (ERROR_OS_INVALID_HANDLE) rather than dereferenced.
#pragma once

#include <string>

#include "ombra/platform/types.h"

// What a handle stands for; needed when a bare number is adopted.
enum class HandleKind { Event, Timer, Thread, Process, Pipe, File, Mapping, Serial };

// Most handles one wait accepts.
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// The calling thread's last error. On POSIX the value is an errno number;
// compare it with the names below, never with Win32 numbers.
DWORD GetLastError();
void SetLastError(DWORD error);
// The system's text for an error number (no trailing line break).
std::string GetErrorText(DWORD error);

// Portable names for the errors callers look at.
extern const DWORD ERROR_OS_BROKEN_PIPE;     // the other end of a pipe is gone
extern const DWORD ERROR_OS_INVALID_HANDLE;  // closed, unknown or wrong-kind handle
extern const DWORD ERROR_OS_ALREADY_EXISTS;  // a unique name is already taken
extern const DWORD ERROR_OS_INVALID_PARAMETER;
extern const DWORD ERROR_OS_NOT_FOUND;       // no such file
extern const DWORD ERROR_OS_DISK_FULL;       // no space left for a reservation

BOOL CloseHandle(HANDLE handle);

// WAIT_OBJECT_0 when signaled, WAIT_TIMEOUT, or WAIT_FAILED (last error set).
// INVALID_HANDLE_VALUE is a handle that never becomes signaled. Waiting on an
// auto-reset event or timer consumes its signal.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Wait-any over up to MAXIMUM_WAIT_OBJECTS handles, all in one poll: gives
// WAIT_OBJECT_0 + i for the lowest signaled index. waitAll must be FALSE
// (wait-all is not used by this system and fails with WAIT_FAILED).
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// A new handle to the same object, in this process. With `inheritable` a
// child started with it in its inherit list sees it under its number; the
// source keeps its own inheritance.
BOOL DuplicateHandle(HANDLE source, HANDLE* target, BOOL inheritable);

// The number that names a handle to a child process (the descriptor number
// on POSIX). 0xFFFFFFFF for INVALID_HANDLE_VALUE or an unknown handle.
DWORD HandleToNumber(HANDLE handle);

// Adopts an inherited number as a handle of `kind` (Event, Pipe or File).
// The number is checked: it must be open, of that kind, and not already
// owned by a handle of this process. Null on failure, with last error set.
// An adopted event is manual-reset.
HANDLE HandleFromNumber(DWORD number, HandleKind kind);
