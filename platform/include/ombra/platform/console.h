// The console a command-line program runs in: whether its output is a
// terminal that lines can be redrawn on, and the operator's interrupt
// (Ctrl-C) taken as an event instead of an instant end.
#pragma once

#include "ombra/platform/handle.h"

namespace ombra::platform {

// True when standard output is a terminal.
bool standardOutputIsTerminal();
// The terminal's width in columns; `fallback` when it cannot be told.
int terminalColumns(int fallback = 80);

// From the first call on, the console's interrupt and the requests to stop
// (POSIX: SIGINT, SIGTERM, SIGHUP; Windows: Ctrl-C, Ctrl-Break, close) no
// longer end the process: they set a manual-reset event. Each call gives a
// handle of its own to that event (close it with CloseHandle); null when
// the interrupt cannot be taken (last error set).
//
// Child processes started afterwards no longer receive the console's
// interrupt themselves (POSIX: a process group of their own; Windows:
// CREATE_NEW_PROCESS_GROUP): the caller decides how they end.
HANDLE catchConsoleInterrupt();

}  // namespace ombra::platform
