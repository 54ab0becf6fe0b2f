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

// The sum of fields `first` to `last` of a /proc stat file, in seconds (the
// kernel counts them in 1/100 s); negative where they cannot be read.
inline double statSeconds(const std::string& path, int first, int last) {
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) return -1;
    const auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    double ticks = 0;
    // Counted after the name, which is field 2.
    for (int i = 3; i <= last && fields >> field; ++i)
        if (i >= first) ticks += std::atof(field.c_str());
    return ticks / 100.0;
}

// The children's, once they have been reaped (cutime, cstime).
inline double childrenCpuSeconds() { return statSeconds("/proc/self/stat", 16, 17); }

// A running process's own so far, without its children (utime, stime).
inline double processCpuSeconds(unsigned long pid) {
    return statSeconds("/proc/" + std::to_string(pid) + "/stat", 14, 15);
}

}  // namespace ombra::testsupport
