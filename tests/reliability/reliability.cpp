#include "reliability.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "ombra/platform/unique_mutex.h"
#include "ombra/testsupport/processes.h"

namespace fs = std::filesystem;

namespace ombra::reliability {

const char* verdictName(Verdict v) {
    static const char* const kNames[kVerdicts] = {"passed", "failed", "FALSE SUCCESS",
                                                  "unverified", "stopped", "HANG"};
    return kNames[static_cast<std::size_t>(v)];
}

Verdict judge(bool claimsPass, bool contentsAgree, bool verified) {
    if (!claimsPass) return Verdict::failedCleanly;
    if (contentsAgree) return Verdict::passed;
    return verified ? Verdict::falseSuccess : Verdict::unverified;
}

void Tally::add(const std::string& group, Verdict v) { ++rows_[group][static_cast<std::size_t>(v)]; }

std::size_t Tally::count(const std::string& group, Verdict v) const {
    const auto it = rows_.find(group);
    return it == rows_.end() ? 0 : it->second[static_cast<std::size_t>(v)];
}

std::size_t Tally::faults() const {
    std::size_t n = 0;
    for (const auto& [group, row] : rows_)
        n += row[static_cast<std::size_t>(Verdict::falseSuccess)] + row[static_cast<std::size_t>(Verdict::hang)];
    return n;
}

std::string Tally::table(const std::string& groupTitle) const {
    std::string out;
    char line[256];
    auto row = [&](const std::string& name, const std::array<std::size_t, kVerdicts>& c) {
        std::size_t runs = 0;
        for (auto n : c) runs += n;
        std::snprintf(line, sizeof line, "%-16s %6zu %7zu %7zu %14zu %11zu %8zu %6zu\n", name.c_str(), runs, c[0],
                      c[1], c[2], c[3], c[4], c[5]);
        out += line;
    };
    std::snprintf(line, sizeof line, "%-16s %6s %7s %7s %14s %11s %8s %6s\n", groupTitle.c_str(), "runs", "passed",
                  "failed", "false-success", "unverified", "stopped", "hangs");
    out += line;
    std::array<std::size_t, kVerdicts> total{};
    for (const auto& [group, counts] : rows_) {
        row(group, counts);
        for (std::size_t i = 0; i < kVerdicts; ++i) total[i] += counts[i];
    }
    row("total", total);
    return out;
}

std::vector<std::string> lockFolders() {
    std::vector<std::string> folders = {platform::UniqueMutex::folder()};
    return folders;
}

std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    // Files only: the lock folder itself may stay.
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
        if (!entry.is_directory()) found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    return found;
}

// The launcher's mutex names are "OmbraMUTR<n>PR<pid>TI<ticks>".
std::vector<std::string> lockFilesOf(std::uint32_t pid) { return lockFilesWith("PR" + std::to_string(pid) + "TI"); }
std::vector<std::string> workersOf(std::uint32_t pid) { return workersWith("PR" + std::to_string(pid) + "TI"); }

std::vector<std::string> lockFilesWith(const std::string& needle) {
    std::vector<std::string> found;
    for (const auto& folder : lockFolders())
        for (const auto& entry : entriesOf(folder))
            if (entry.find(needle) != std::string::npos) found.push_back(entry);
    return found;
}

std::vector<std::string> workersWith(const std::string& needle) { return testsupport::processesWith(needle); }

bool numberArgument(int argc, char** argv, int& i, long lo, long hi, long& out) {
    if (i + 1 >= argc) return false;
    char* end = nullptr;
    out = std::strtol(argv[++i], &end, 10);
    return end != nullptr && *end == '\0' && out >= lo && out <= hi;
}

}  // namespace ombra::reliability
