// ombra-cli as a user runs it: selkan-sim as its own process (one board or
// several, each port behind a link in the registry's folder), and ombra-cli
// run to its end or watched while it runs.
#pragma once

#include <string>
#include <vector>

#include "e2e_rig.h"
#include "ombra/platform/handle.h"
#include "ombra/testsupport/child_process.h"
#include "ombra/testsupport/processes.h"

namespace ombra::e2e {

// Generous: only a machine that has stopped would reach them.
inline constexpr DWORD kBoardUpMs = 60'000;
inline constexpr DWORD kCliRunMs = 240'000;

class SimProcess {
public:
    // `options` come first; unpaced and instant flash unless `paced`.
    // `program`: another selkan-sim than the run folder's.
    SimProcess(const Registry& registry, std::vector<std::string> options, int boards = 1, bool paced = false,
               const std::string& program = {});
    // Stops it as an operator would (SIGTERM: its ports leave the registry).
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Every board runs in its ROM and, with several, the registry lists them.
    bool waitUntilUp() const;
    const std::string& port() const { return ports_.front(); }
    const std::vector<std::string>& ports() const { return ports_; }
    DWORD pid() const;

private:
    std::vector<std::string> ports_;  // the links
    const Registry& registry_;
    HANDLE process_ = nullptr;
};

struct Finished {
    DWORD exitCode = STILL_ACTIVE;
    std::string output;  // standard output and error together
};

// ombra-cli in a session of its own (as a program started from a terminal
// leads its group), its output captured in a file, TMPDIR a folder of the
// run's own (registry.file("tmp")).
class CliProcess {
public:
    CliProcess(const Registry& registry, const std::vector<std::string>& args);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool started() const { return process_ != nullptr; }
    bool running() const;
    DWORD pid() const;
    std::string output() const;
    // Polls the output until every needle has appeared; false at the time
    // limit or when the program ends first.
    bool waitForOutput(const std::vector<std::string>& needles, DWORD limitMs) const;
    // Ctrl-C as a terminal sends it: SIGINT to the whole process group.
    bool interrupt() const;
    Finished finish(DWORD limitMs = kCliRunMs);

private:
    std::string out_;
    HANDLE process_ = nullptr;
};

Finished runCli(const Registry& registry, const std::vector<std::string>& args);

std::string readText(const std::string& path);

using testsupport::processesWith;

}  // namespace ombra::e2e
