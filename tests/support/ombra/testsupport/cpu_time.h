// CPU seconds for the benchmark programs: this process's own, and those of
// its children once they have been reaped.
#pragma once

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

namespace ombra::testsupport {

inline double selfCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// From the process's own statistics; negative where they cannot be read.
inline double childrenCpuSeconds() {
    std::ifstream in("/proc/self/stat");
    std::string line;
    if (!std::getline(in, line)) return -1;
    const auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    double ticks = 0;
    // Fields 16 and 17 (cutime, cstime), counted after the name's field 2.
    for (int i = 3; i <= 17 && fields >> field; ++i)
        if (i >= 16) ticks += std::atof(field.c_str());
    return ticks / 100.0;  // the kernel reports these in units of 1/100 s
}

// User and system seconds a running process has used so far (its own,
// without its children); negative where they cannot be read.
inline double processCpuSeconds(unsigned long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return -1;
    const auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    double ticks = 0;
    // Fields 14 and 15 (utime, stime).
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14) ticks += std::atof(field.c_str());
    return ticks / 100.0;
}

}  // namespace ombra::testsupport
