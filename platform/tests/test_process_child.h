// Child roles for the cross-process tests: the test program starts itself
// with "--child ROLE ..." and a static initializer runs the role before
// GoogleTest ever sees the command line.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ombra/platform/clock.h"
#include "ombra/platform/event.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/process.h"
#include "ombra/platform/unique_mutex.h"

namespace childproc {

inline std::vector<std::string> ownArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    while (std::getline(in, arg, '\0')) args.push_back(arg);
    return args;
}

inline DWORD number(const std::string& text) { return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10)); }

inline void writeText(DWORD pipeNumber, const std::string& text) {
    HANDLE out = HandleFromNumber(pipeNumber, HandleKind::Pipe);
    if (!out) std::_Exit(90);
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), nullptr);
    CloseHandle(out);
}

// Runs a role and exits, or returns when this is not a child.
inline int dispatch() {
    auto args = ownArguments();
    if (args.size() < 3 || args[1] != "--child") return 0;
    const std::string& role = args[2];
    if (role == "exit" && args.size() >= 4) std::exit(std::atoi(args[3].c_str()));
    if (role == "sleep") {
        Sleep(60000);
        std::_Exit(0);
    }
    if (role == "wait-event" && args.size() >= 5) {
        HANDLE event = HandleFromNumber(number(args[3]), HandleKind::Event);
        if (!event) std::_Exit(2);
        DWORD r = WaitForSingleObject(event, number(args[4]));
        std::_Exit(r == WAIT_OBJECT_0 ? 0 : r == WAIT_TIMEOUT ? 1 : 3);
    }
    if (role == "list-fds" && args.size() >= 4) {
        std::string list;
        if (DIR* dir = ::opendir("/proc/self/fd")) {
            while (dirent* entry = ::readdir(dir)) {
                if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == ::dirfd(dir)) continue;
                list += std::string(entry->d_name) + " ";
            }
            ::closedir(dir);
        }
        writeText(number(args[3]), list);
        std::_Exit(0);
    }
    if (role == "hold-mutex" && args.size() >= 5) {
        ombra::platform::UniqueMutex mutex;
        writeText(number(args[4]), mutex.create(args[3]) ? "held" : "failed");
        Sleep(60000);
        std::_Exit(0);
    }
    if (role == "mutex-exists" && args.size() >= 4) {
        std::_Exit(ombra::platform::UniqueMutex::exists(args[3]) ? 0 : 1);
    }
    std::_Exit(99);
}

inline const int dispatched = dispatch();

// Starts this test program in a child role; null on failure.
inline HANDLE start(std::vector<std::string> args, std::vector<HANDLE> inherit = {}) {
    args.insert(args.begin(), "--child");
    return CreateProcess(GetProgramPath(), args, inherit);
}

// The child's exit code, after waiting for it.
inline DWORD finish(HANDLE process, DWORD ms = 10000) {
    DWORD code = 0xDEAD;
    if (WaitForSingleObject(process, ms) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    return code;
}

}  // namespace childproc
