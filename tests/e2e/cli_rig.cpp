#include "cli_rig.h"

#include <filesystem>

#include "ombra/platform/clock.h"
#include "ombra/platform/process.h"
#include "ombra/platform/registry.h"

namespace fs = std::filesystem;

namespace ombra::e2e {

SimProcess::SimProcess(const Registry& registry, std::vector<std::string> options, int boards, bool paced,
                       const std::string& program)
    : registry_(registry) {
    const std::string link = registry.file("port");
    if (boards == 1) {
        ports_.push_back(link);
    } else {
        for (int i = 0; i < boards; ++i) ports_.push_back(link + std::to_string(i));
        options.insert(options.end(), {"--boards", std::to_string(boards)});
    }
    if (!paced) options.insert(options.end(), {"--no-pacing", "--flash-time-scale", "0"});
    options.insert(options.end(), {"--quiet", "--exit-with-parent", "--link", link});
    process_ = CreateProcess(program.empty() ? runDir() + "/selkan-sim" : program, options, {});
}

SimProcess::~SimProcess() { testsupport::stopChild(process_); }

bool SimProcess::waitUntilUp() const {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kBoardUpMs) {
        bool up = true;
        std::error_code ec;
        for (const auto& p : ports_) up = up && fs::exists(p, ec);
        // The registry is written after the last link.
        if (up && ports_.size() > 1) up = testsupport::serialCommPorts().size() >= ports_.size();
        if (up) return true;
        if (process_ == nullptr || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) return false;
        Sleep(20);
    }
    return false;
}

DWORD SimProcess::pid() const { return process_ != nullptr ? GetProcessId(process_) : 0; }

CliProcess::CliProcess(const Registry& registry, const std::vector<std::string>& args)
    : out_(registry.file("cli-output.txt")) {
    // A temporary folder of the run's own, to see what is left in it.
    const std::string tmp = registry.file("tmp");
    fs::create_directories(tmp);
    std::vector<std::string> line = {"-c", "out=$1; export TMPDIR=$2; shift 2; exec setsid \"$@\" >\"$out\" 2>&1",
                                     "sh", out_, tmp, runDir() + "/ombra-cli"};
    line.insert(line.end(), args.begin(), args.end());
    process_ = CreateProcess("/bin/sh", line, {});
}

CliProcess::~CliProcess() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 0);
        WaitForSingleObject(process_, INFINITE);
    }
    CloseHandle(process_);
}

bool CliProcess::running() const { return process_ != nullptr && WaitForSingleObject(process_, 0) != WAIT_OBJECT_0; }

DWORD CliProcess::pid() const { return process_ != nullptr ? GetProcessId(process_) : 0; }

std::string CliProcess::output() const { return readText(out_); }

bool CliProcess::waitForOutput(const std::vector<std::string>& needles, DWORD limitMs) const {
    const DWORD start = GetTickCount();
    while (process_ != nullptr && GetTickCount() - start < limitMs) {
        const std::string text = output();
        bool all = true;
        for (const auto& n : needles) all = all && text.find(n) != std::string::npos;
        if (all) return true;
        if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) return false;
        Sleep(50);
    }
    return false;
}

bool CliProcess::interrupt() const {
    // setsid made it the leader of its own group: the group has its number
    // (bash's kill takes a group; dash's does not).
    if (process_ == nullptr) return false;
    const std::vector<std::string> args = {"-c", "kill -INT -- -$1", "bash", std::to_string(pid())};
    const HANDLE p = CreateProcess("/bin/bash", args, {});
    if (p == nullptr) return false;
    WaitForSingleObject(p, INFINITE);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(p, &code);
    CloseHandle(p);
    return code == 0;
}

Finished CliProcess::finish(DWORD limitMs) {
    Finished f;
    if (process_ == nullptr) return f;
    if (WaitForSingleObject(process_, limitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 0);
        WaitForSingleObject(process_, INFINITE);
        f.output = "ombra-cli did not end\n";
    } else {
        GetExitCodeProcess(process_, &f.exitCode);
    }
    CloseHandle(process_);
    process_ = nullptr;
    f.output += output();
    return f;
}

Finished runCli(const Registry& registry, const std::vector<std::string>& args) {
    CliProcess cli(registry, args);
    return cli.finish();
}

std::string readText(const std::string& path) {
    const Bytes bytes = readBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace ombra::e2e
