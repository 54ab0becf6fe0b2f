// The running processes whose command line holds a text, for tests that
// look for workers left behind (workers carry their front end's process
// number in the mutex name they are given).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace ombra::testsupport {

// "pid: command line" for each match, the arguments joined by spaces.
inline std::vector<std::string> processesWith(const std::string& needle) {
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        // A process may end between the listing and the read (ESRCH):
        // istream::read turns that into a failed stream, where reading the
        // buffer directly would throw.
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string cmdline;
        char buf[4096];
        while (in.read(buf, sizeof buf), in.gcount() > 0)
            cmdline.append(buf, static_cast<std::size_t>(in.gcount()));
        for (char& c : cmdline)
            if (c == '\0') c = ' ';
        if (cmdline.find(needle) != std::string::npos) found.push_back(name + ": " + cmdline);
    }
    return found;
}

}  // namespace ombra::testsupport
