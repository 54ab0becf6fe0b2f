// Anonymous pipes and byte I/O on pipe and file handles.
#pragma once

#include "ombra/platform/handle.h"

// Both ends are private to this process unless `inheritable`; a child gets
// an end only through the inherit list of CreateProcess.
BOOL CreatePipe(HANDLE* readEnd, HANDLE* writeEnd, BOOL inheritable);

// Reads until `count` bytes have come or the stream ends; `*bytesRead` is
// what arrived. A file at its end gives TRUE with a short count (0 at the
// end). A pipe whose writers are all gone gives FALSE with
// ERROR_OS_BROKEN_PIPE when nothing at all arrived, else TRUE with the short
// count. `bytesRead` may be null.
BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead);

// Writes all `count` bytes. A pipe without a reader gives FALSE with
// ERROR_OS_BROKEN_PIPE (never a signal); `*bytesWritten` is what went out.
BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* bytesWritten);
