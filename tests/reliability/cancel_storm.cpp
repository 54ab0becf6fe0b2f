// cancel-storm: operations stopped at a random moment, through the cancel
// event as the dialog's Stop sets it, or by a signal to ombra-cli (SIGINT
// as a terminal's Ctrl-C, SIGKILL). Each must end within 6 s, leave no
// worker, lock file or temporary file, and leave the board usable.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli_rig.h"
#include "e2e_rig.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/process.h"
#include "ombra/platform/thread.h"
#include "reliability.h"

namespace fs = std::filesystem;
using namespace ombra;
using namespace ombra::reliability;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kEndLimitS = 6.0;
constexpr DWORD kIdentifyLimitMs = 60'000;

struct Counts {
    int runs = 0, late = 0, leaks = 0, killLeftovers = 0, powerCycles = 0, unusable = 0;
    double worstS = 0;
};

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

bool sendSignal(const char* signal, DWORD pid) {
    const std::vector<std::string> args = {"-c", std::string("kill -") + signal + " $1", "bash", std::to_string(pid)};
    const HANDLE p = CreateProcess("/bin/bash", args, {});
    if (p == nullptr) return false;
    WaitForSingleObject(p, 5000);
    DWORD code = 1;
    GetExitCodeProcess(p, &code);
    CloseHandle(p);
    return code == 0;
}

// A boot step after the pings that ran out of its time on a loaded machine
// (the boards share the processors with everything else) tells nothing of
// what a cancel left behind: such an attempt is made once more. A board
// that sends no pings is another matter: its ROM took the cancelled run's
// first frames and waits for more, as a real one would until it is reset.
bool bootRanOutOfTime(const std::vector<std::string>& texts) {
    bool pinged = false;
    for (const auto& t : texts) {
        if (t.find("SelkanBoot: ping received") != std::string::npos) pinged = true;
        if (pinged && t.find("SelkanBoot: ERROR 7") != std::string::npos) return true;
    }
    return false;
}

// An identify through the launcher, cancelled when it has not ended within
// a minute (it takes seconds): a hang shows as a failure, not as a stall.
e2e::Outcome identifyWithin(const e2e::Job& job) {
    HANDLE cancel = CreateEvent(TRUE, FALSE);
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    std::thread guard([&] {
        std::unique_lock<std::mutex> g(lock);
        if (!cv.wait_for(g, std::chrono::milliseconds(kIdentifyLimitMs), [&] { return done; })) SetEvent(cancel);
    });
    e2e::Outcome o = e2e::runJob(job, cancel);
    {
        std::lock_guard<std::mutex> g(lock);
        done = true;
    }
    cv.notify_all();
    guard.join();
    CloseHandle(cancel);
    return o;
}

// Polls until `ok` holds or the time since `from` passes `limitS`.
template <class F>
bool within(Clock::time_point from, double limitS, F ok) {
    for (;;) {
        if (ok()) return true;
        if (since(from) > limitS) return false;
        Sleep(20);
    }
}

// Through the launcher's cancel event, on in-process boards.
void launcherStorm(int runs, std::mt19937& rng, const std::string& work, bool verbose, Counts& c) {
    std::vector<std::unique_ptr<sim::Board>> boards(6);
    const e2e::Bytes image = e2e::pattern(8192, 5);
    e2e::writeBytes(work + "/image.bin", image);
    const std::uint32_t self = GetCurrentProcessId();
    for (int i = 0; i < runs; ++i) {
        const std::size_t pi = rng() % 6;
        const e2e::Programmer& p = e2e::kProgrammers[pi];
        if (!boards[pi]) {
            sim::BoardOptions o;
            o.flashModel = p.part;
            o.flashTimeScale = 0.1;
            boards[pi] = std::make_unique<sim::Board>(o);
            boards[pi]->writeFlash(0, image);
        }
        sim::Board& board = *boards[pi];
        e2e::Job job;
        job.programmer = &p;
        job.port = board.portPath();
        job.baud = rng() % 2 ? 115200 : 460800;
        const unsigned op = rng() % 4;
        job.kind = op == 0 ? launcher::JobKind::identify
                   : op == 1 ? launcher::JobKind::burn
                   : op == 2 ? launcher::JobKind::verify
                             : launcher::JobKind::dump;
        job.path = op == 3 ? work + "/dump.bin" : work + "/image.bin";
        job.verify = 1;
        job.dumpLength = 8192;
        const int delayMs = static_cast<int>(rng() % 3000);

        HANDLE cancel = CreateEvent(TRUE, FALSE);
        std::mutex lock;
        std::condition_variable cv;
        bool done = false;
        launcher::WorkerLauncher* running = nullptr;
        std::thread runner([&] {
            e2e::runJob(job, cancel, [&](const launcher::ServiceRecord&, launcher::WorkerLauncher& l) {
                std::lock_guard<std::mutex> g(lock);
                running = &l;
            });
            std::lock_guard<std::mutex> g(lock);
            done = true;
            cv.notify_all();
        });
        std::unique_lock<std::mutex> g(lock);
        cv.wait_for(g, std::chrono::milliseconds(delayMs), [&] { return done; });
        SetEvent(cancel);
        const auto t0 = Clock::now();
        if (!cv.wait_for(g, std::chrono::duration<double>(kEndLimitS), [&] { return done; })) {
            ++c.late;
            if (running != nullptr) running->killWorker();
            if (!cv.wait_for(g, std::chrono::seconds(20), [&] { return done; })) {
                std::fprintf(stderr, "cancel-storm: a launcher run did not end even with its worker killed\n");
                std::_Exit(3);
            }
        }
        const double endS = since(t0);
        g.unlock();
        runner.join();
        CloseHandle(cancel);
        ++c.runs;
        c.worstS = std::max(c.worstS, endS);

        std::string note;
        if (!workersOf(self).empty() || !lockFilesOf(self).empty()) {
            ++c.leaks;
            note = " LEFT BEHIND";
        }
        // The next operation on the board; when it fails (the board still
        // runs the cancelled program, or its ROM waits for the rest of the
        // cancelled boot), after a power cycle.
        e2e::Job next;
        next.programmer = &p;
        next.port = board.portPath();
        next.baud = 460800;
        const auto identified = [&](const e2e::Outcome& o) {
            return o.identified == static_cast<std::int32_t>(p.device);
        };
        bool cycled = false;
        const auto powerCycle = [&] {
            board.powerCycle();
            ++c.powerCycles;
            cycled = true;
        };
        if (!e2e::backInRom(board)) powerCycle();
        e2e::Outcome o = identifyWithin(next);
        if (!identified(o) && !cycled) {
            powerCycle();
            o = identifyWithin(next);
        }
        if (!identified(o) && bootRanOutOfTime(o.texts())) o = identifyWithin(next);
        const bool usable = identified(o);
        if (!usable) {
            ++c.unusable;
            note += " BOARD UNUSABLE:";
            for (const auto& t : o.texts()) note += " | " + t;
        }
        e2e::backInRom(board);
        if (verbose || !note.empty() || endS > kEndLimitS)
            std::printf("launcher %-11s op %u at %4d ms: ended %.2f s after the cancel%s%s\n", p.label, op, delayMs,
                        endS, cycled ? ", power-cycled" : "", note.c_str());
        std::fflush(stdout);
    }
}

// ombra-cli, stopped by a signal; selkan-sim as its own process.
void cliStorm(int runs, std::mt19937& rng, const e2e::Registry& registry, bool verbose, Counts& c) {
    e2e::SimProcess sim(registry, {"--flash-time-scale", "0.1"}, 1, true);
    if (!sim.waitUntilUp()) {
        std::fprintf(stderr, "cancel-storm: selkan-sim did not come up\n");
        std::_Exit(3);
    }
    DWORD simPid = 0;
    for (const auto& line : e2e::processesWith(registry.folder()))
        if (line.find("selkan-sim") != std::string::npos) simPid = static_cast<DWORD>(std::stoul(line));
    const std::string hex = registry.file("image.hex");
    {
        // A text image: ombra-cli burns a raw copy in its TMPDIR.
        const e2e::Bytes bytes = e2e::pattern(8192, 9);
        std::string text;
        char rec[80];
        for (std::size_t at = 0; at < bytes.size(); at += 16) {
            unsigned sum = 16 + ((at >> 8) & 0xFF) + (at & 0xFF);
            int n = std::snprintf(rec, sizeof rec, ":10%04X00", static_cast<unsigned>(at));
            for (std::size_t k = 0; k < 16; ++k) {
                sum += bytes[at + k];
                n += std::snprintf(rec + n, sizeof rec - static_cast<std::size_t>(n), "%02X", bytes[at + k]);
            }
            std::snprintf(rec + n, sizeof rec - static_cast<std::size_t>(n), "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
            text += rec;
        }
        text += ":00000001FF\n";
        std::FILE* f = std::fopen(hex.c_str(), "w");
        if (f != nullptr) {
            std::fputs(text.c_str(), f);
            std::fclose(f);
        }
    }
    const std::string tmp = registry.file("tmp");
    for (int i = 0; i < runs; ++i) {
        const bool kill = rng() % 2 == 0;
        const int delayMs = static_cast<int>(rng() % 4000);
        const char* programmer = rng() % 2 ? "SST" : "Cobalt";
        e2e::CliProcess cli(registry, {"burn", "--port", sim.port(), "--image", hex, "--verify", "--programmer",
                                       programmer, "--baud", "460800", "--plain"});
        const DWORD pid = cli.pid();
        Sleep(static_cast<DWORD>(delayMs));
        const auto t0 = Clock::now();
        if (kill) sendSignal("KILL", pid);
        else cli.interrupt();
        const e2e::Finished end = cli.finish(static_cast<DWORD>(kEndLimitS * 1000));
        const bool ended = end.exitCode != STILL_ACTIVE;
        // Its workers end once their front end is gone; nothing of the run stays.
        // A killed front end cannot remove its own files (its lock file, the
        // raw copy of a text image): those are counted apart and swept.
        const bool clean = within(t0, kEndLimitS, [&] {
            return workersOf(pid).empty() && (kill || entriesOf(tmp).empty());
        });
        const double endS = since(t0);
        ++c.runs;
        c.worstS = std::max(c.worstS, endS);
        std::string note;
        if (!ended || endS > kEndLimitS) {
            ++c.late;
            note += " LATE";
        }
        if (!clean) {
            ++c.leaks;
            for (const auto& w : workersOf(pid)) note += " worker: " + w;
            for (const auto& l : lockFilesOf(pid)) note += " lock: " + l;
            for (const auto& t : entriesOf(tmp)) note += " tmp: " + t;
        }
        if (kill && !entriesOf(tmp).empty()) {
            ++c.killLeftovers;
            if (verbose)
                for (const auto& t : entriesOf(tmp)) note += " left by the kill: " + t;
            for (const auto& t : entriesOf(tmp)) fs::remove(t);
        }
        // The next operation: the board may still run the killed run's program.
        // An identify ends within seconds; one that waits a minute hangs.
        // An identify ended at its limit leaves a worker that cancels itself
        // once it sees its front end gone; the next one waits for the port.
        const auto identify = [&] {
            e2e::CliProcess cli(registry, {"identify", "--port", sim.port(), "--plain"});
            const DWORD cliPid = cli.pid();
            e2e::Finished f = cli.finish(kIdentifyLimitMs);
            within(Clock::now(), kEndLimitS, [&] { return workersOf(cliPid).empty(); });
            return f;
        };
        e2e::Finished next = identify();
        bool cycled = false;
        if (next.exitCode != 0 && simPid != 0) {
            sendSignal("USR1", simPid);
            ++c.powerCycles;
            cycled = true;
            Sleep(200);
            next = identify();
            if (next.exitCode != 0 && bootRanOutOfTime({next.output})) next = identify();
        }
        if (next.exitCode != 0) {
            ++c.unusable;
            note += " BOARD UNUSABLE: " + next.output;
        }
        if (verbose || !note.empty())
            std::printf("ombra-cli %-6s %-7s at %4d ms: exit %u, clean after %.2f s%s%s\n", programmer,
                        kill ? "SIGKILL" : "SIGINT", delayMs, static_cast<unsigned>(end.exitCode), endS,
                        cycled ? ", power-cycled" : "", note.c_str());
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 200;
    unsigned seed = 1;
    int cliPercent = 50;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](long lo, long hi, long& out) { return reliability::numberArgument(argc, argv, i, lo, hi, out); };
        long v = 0;
        if (a == "--runs" && number(0, 100000, v)) runs = static_cast<int>(v);
        else if (a == "--seed" && number(0, 0x7FFFFFFF, v)) seed = static_cast<unsigned>(v);
        else if (a == "--cli-percent" && number(0, 100, v)) cliPercent = static_cast<int>(v);
        else if (a == "--verbose") verbose = true;
        else {
            std::fprintf(stderr,
                         "usage: cancel-storm [--runs N] [--seed N] [--cli-percent P] [--verbose]\n"
                         "Cancels N operations at random moments (P %% of them by a signal to ombra-cli);\n"
                         "exit 1 when one ends later than 6 s, leaves anything behind or an unusable board.\n");
            return 2;
        }
    }
    e2e::Registry registry;
    const std::string work = registry.folder() + "/work";
    fs::create_directories(work);
    fs::create_directories(registry.file("tmp"));
    std::mt19937 rng(seed);
    const int cliRuns = runs * cliPercent / 100;
    Counts viaEvent, viaSignal;
    const auto t0 = Clock::now();
    launcherStorm(runs - cliRuns, rng, work, verbose, viaEvent);
    if (cliRuns > 0) cliStorm(cliRuns, rng, registry, verbose, viaSignal);
    std::printf("\ncancel-storm: seed %u, %d runs, %.0f s\n", seed, runs, since(t0));
    std::printf("%-16s %6s %8s %6s %13s %12s %9s %9s\n", "stopped by", "runs", "over-6s", "leaks",
                "kill-leftover", "power-cycles", "unusable", "worst-s");
    for (const auto& [name, c] : {std::pair<const char*, Counts&>{"cancel event", viaEvent},
                                  std::pair<const char*, Counts&>{"ombra-cli signal", viaSignal}})
        std::printf("%-16s %6d %8d %6d %13d %12d %9d %9.2f\n", name, c.runs, c.late, c.leaks, c.killLeftovers,
                    c.powerCycles, c.unusable, c.worstS);
    const int bad = viaEvent.late + viaEvent.leaks + viaEvent.unusable + viaSignal.late + viaSignal.leaks +
                    viaSignal.unusable;
    return bad == 0 ? 0 : 1;
}
