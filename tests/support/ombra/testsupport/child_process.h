// Programs a test starts as a user's shell would: through the platform's
// CreateProcess (posix_spawn), with a folder, added environment and output
// files arranged by /bin/sh. Not QProcess: Qt starts children with a
// vfork-like clone whose child runs the sanitizers' hooks in the test's
// own memory until it execs, and ThreadSanitizer then reports races that
// are not there, or stops the test.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "ombra/platform/handle.h"
#include "ombra/platform/process.h"
#include "ombra/platform/registry.h"

namespace ombra::testsupport {

struct ChildOptions {
    std::string folder;                    // the working folder; empty: this process's
    std::vector<std::string> environment;  // NAME=value, added to this process's
    std::vector<std::string> unset;        // names taken out of it
    std::string output, errors;            // files for standard output and error; empty: this process's
};

// Starts `program` with `arguments`; null when /bin/sh cannot be started.
inline HANDLE startChild(const std::string& program, const std::vector<std::string>& arguments,
                         const ChildOptions& options = {}) {
    // sh -c SCRIPT sh FOLDER OUTPUT ERRORS [-u NAME]... NAME=value... PROGRAM ARGUMENTS...
    std::string script = "folder=$1 out=$2 err=$3; shift 3; ";
    script += "if [ -n \"$folder\" ]; then cd -- \"$folder\" || exit 127; fi; ";
    script += "if [ -n \"$out\" ]; then exec >\"$out\" || exit 127; fi; ";
    script += "if [ -n \"$err\" ]; then exec 2>\"$err\" || exit 127; fi; ";
    script += "exec env \"$@\"";
    std::vector<std::string> line = {"-c", script, "sh", options.folder, options.output, options.errors};
    for (const auto& name : options.unset) {
        line.push_back("-u");
        line.push_back(name);
    }
    line.insert(line.end(), options.environment.begin(), options.environment.end());
    line.push_back(program);
    line.insert(line.end(), arguments.begin(), arguments.end());
    return CreateProcess("/bin/sh", line, {});
}

// The child's exit code once it ends within `limitMs`; STILL_ACTIVE when it
// did not (it is killed then) or could not be started.
inline DWORD runChild(const std::string& program, const std::vector<std::string>& arguments, DWORD limitMs,
                      const ChildOptions& options = {}) {
    const HANDLE p = startChild(program, arguments, options);
    if (p == nullptr)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(p, limitMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(p, &code);
    } else {
        TerminateProcess(p, 0);
        WaitForSingleObject(p, INFINITE);
    }
    CloseHandle(p);
    return code;
}

// Ends a child as an operator would (SIGTERM, so it can tidy up), killing
// it if it has not ended after `limitMs`; closes the handle.
inline void stopChild(HANDLE& process, DWORD limitMs = 10'000) {
    if (process == nullptr)
        return;
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
        runChild("/bin/sh", {"-c", "kill -TERM \"$1\"", "sh", std::to_string(GetProcessId(process))}, limitMs);
        if (WaitForSingleObject(process, limitMs) != WAIT_OBJECT_0) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, INFINITE);
        }
    }
    CloseHandle(process);
    process = nullptr;
}

// The ports listed under HKLM HARDWARE\DEVICEMAP\SERIALCOMM.
inline std::vector<std::string> serialCommPorts() {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[512];
        DWORD nameLen = sizeof name, dataLen = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS)
            break;
        if (type == REG_SZ)
            ports.emplace_back(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), dataLen));
    }
    RegCloseKey(key);
    return ports;
}

}  // namespace ombra::testsupport
