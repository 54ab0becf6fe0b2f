// Child processes: started with exactly the handles they are meant to
// inherit, waitable, with exit codes and termination.
#pragma once

#include <span>
#include <string>

#include "ombra/platform/handle.h"

// Starts `programPath` with `arguments` (argv[1..]; argv[0] is the path).
// The child gets descriptors 0-2 and exactly the handles in `inherit`, each
// under its own number (HandleToNumber); nothing else of this process. The
// environment and working folder are this process's. Gives a waitable
// process handle, or null (last error set) when the program cannot be
// started.
HANDLE CreateProcess(const std::string& programPath, std::span<const std::string> arguments,
                     std::span<const HANDLE> inherit);

DWORD GetProcessId(HANDLE process);
DWORD GetCurrentProcessId();

// STILL_ACTIVE while the process runs. The exit status is the low 8 bits of
// the child's exit value (exit(-1) reads as 255: compare with ExitCodeOf);
// a process killed by TerminateProcess reads as the code given there; one
// killed by another signal reads as 128 + the signal number.
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);

// What an exit value reads as through GetExitCodeProcess on this platform.
constexpr DWORD ExitCodeOf(int exitValue) { return static_cast<DWORD>(exitValue) & 0xFFu; }

// Kills the process at once (it gets no chance to clean up).
BOOL TerminateProcess(HANDLE process, DWORD exitCode);

// Full path of the running program; empty if it cannot be told.
std::string GetProgramPath();
