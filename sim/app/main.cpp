// selkan-sim: runs simulated boards, each on its own pseudo-terminal, until
// SIGINT or SIGTERM; prints one port path per board on standard output.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ombra/sim/board.h"
#include "serialcomm.h"

using namespace ombra::sim;

namespace {

const char kHelp[] = R"(Usage: selkan-sim [options]

Runs simulated Selkan K/L boards. Each board sits behind a pseudo-terminal
that a host opens like a serial port; its path is printed on standard output,
one line per board. The board starts in its boot ROM (19,200 baud, pinging).

Board:
  --flash MODEL           flash part by model name (default SST39LF/VF160)
  --flash-codes MK:MD     flash part by maker and model code, hexadecimal
                          (e.g. BF:2782); overrides --flash
  --list-flash            list every flash part the board can carry, and exit
  --identity HEX          chip identity, 64 (67.5 MHz, default) or 49 (55 MHz)
  --rom-version MJ.MN     version the boot ROM reports, hexadecimal bytes
                          (default: major = identity, minor 01)
  --flash-file PATH       flash contents, loaded at start (missing bytes read
                          as erased) and saved on SIGINT/SIGTERM; with
                          --boards N, board i > 0 uses PATH.i
  --flash-time-scale X    multiply the flash busy times (0 = instant; default 1)
  --boards N              run N boards, each on its own port (default 1)

Link:
  --no-pacing             move bytes as fast as both sides go (default: at the
                          UART's line rate, baud / 10 bytes per second)
  --no-garble             deliver bytes even when the host's baud rate is more
                          than 5 % off the UART's (default: garble them)
  --fault RULE            inject a fault, repeatable. RULE is
                          DIR:KIND[:p=P][:at=N,N...][:ms=M][:after=HEX]
                            DIR  in (host to board), out, both
                            KIND drop, corrupt, delay (the byte waits M ms),
                                 stall (the board freezes M ms),
                                 mute (the board stops answering until it is
                                 power-cycled)
                            p=P  probability per byte; at= byte offsets since
                                 power-up in that direction
                            after=HEX  wait for these bytes in that direction;
                                 at= then counts from the byte after them
                            board=I,J...  only these boards (from 0; default:
                                 every board)
  --seed N                random seed for probabilistic faults (default 1)
  --link NAME             make NAME a symbolic link to the port (board i of
                          several: NAMEi); removed on exit

Output:
  --debug-log PATH        write the target's debug UART output to PATH
                          ("-" for standard error); with several boards,
                          board i > 0 writes PATH.i
  --trace PATH            write a disassembly line per executed instruction
                          (slow; same naming as --debug-log)
  --quiet                 no status lines on standard error
  --exit-with-parent      stop (as on SIGTERM) when the program that started
                          this one ends, however it ends (test rigs)
  --help                  this text

Signals: SIGINT and SIGTERM save the flash files and stop; SIGUSR1
power-cycles every board (back to the boot ROM).

While running, each port is listed in the registry store (machine hive,
HARDWARE\DEVICEMAP\SERIALCOMM) when the store's folder exists
(OMBRA_REGISTRY_DIR, else the default folder).
)";

[[noreturn]] void usage(const std::string& why) {
    std::fprintf(stderr, "selkan-sim: %s (try --help)\n", why.c_str());
    std::exit(2);
}

bool parseHex(const std::string& s, unsigned long max, unsigned long& out) {
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoul(s.c_str(), &end, 16);
    return errno == 0 && *end == '\0' && out <= max;
}

// A fault rule for some boards only.
struct BoardFault {
    FaultRule rule;
    std::vector<int> boards;  // empty: every board
};

// The rule without its "board=I,J" part, whose numbers go to `boards`;
// `why` says what is wrong with them.
std::string withoutBoards(const std::string& text, std::vector<int>& boards, std::string& why) {
    std::string rest;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        const std::string part = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (part.starts_with("board=")) {
            std::size_t at = 6;
            while (at <= part.size()) {
                const std::size_t comma = part.find(',', at);
                const std::string n = part.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
                char* end = nullptr;
                const long b = std::strtol(n.c_str(), &end, 10);
                if (n.empty() || *end != '\0' || b < 0 || b > 63) {
                    why = "bad board number in " + text;
                    return {};
                }
                boards.push_back(static_cast<int>(b));
                if (comma == std::string::npos)
                    break;
                at = comma + 1;
            }
        } else {
            rest += (start == 0 ? "" : ":") + part;
        }
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return rest;
}

std::string indexed(const std::string& path, int i) {
    return i == 0 ? path : path + "." + std::to_string(i);
}

struct Output {
    std::FILE* file = nullptr;
    bool owned = false;
    bool flushEach;  // the debug log is read while it grows; the trace is not
    std::mutex m;
    Output(const std::string& path, bool flush) : flushEach(flush) {
        if (path == "-") {
            file = stderr;
        } else {
            file = std::fopen(path.c_str(), "a");
            owned = file != nullptr;
            if (!file)
                usage("cannot open " + path + ": " + std::strerror(errno));
        }
    }
    ~Output() {
        if (owned)
            std::fclose(file);
    }
    void write(std::string_view s) {
        std::lock_guard lock(m);
        std::fwrite(s.data(), 1, s.size(), file);
        if (flushEach)
            std::fflush(file);
    }
};

} // namespace

int main(int argc, char** argv) {
    BoardOptions base;
    int boards = 1;
    std::vector<BoardFault> faults;
    std::string link, debugLog, trace;
    bool quiet = false;
    bool exitWithParent = false;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                usage(a + " needs a value");
            return args[++i];
        };
        unsigned long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--list-flash") {
            for (const auto& p : flashParts())
                std::printf("%-14s %-9s %02X:%04X %8u bytes  %s\n", p.model, p.maker, p.makerCode, p.modelCode,
                            p.capacity, commandSetName(p.commandSet));
            return 0;
        } else if (a == "--flash") {
            base.flashModel = value();
            if (!findFlashPart(base.flashModel))
                usage("unknown flash model " + base.flashModel + " (see --list-flash)");
        } else if (a == "--flash-codes") {
            const std::string& v = value();
            const auto colon = v.find(':');
            unsigned long mk = 0, md = 0;
            if (colon == std::string::npos || !parseHex(v.substr(0, colon), 0xFFFF, mk) ||
                !parseHex(v.substr(colon + 1), 0xFFFF, md))
                usage("--flash-codes wants MAKER:MODEL in hexadecimal");
            if (!findFlashPart(static_cast<std::uint16_t>(mk), static_cast<std::uint16_t>(md)))
                usage("no flash part with codes " + v + " (see --list-flash)");
            base.flashMaker = static_cast<std::uint16_t>(mk);
            base.flashModelCode = static_cast<std::uint16_t>(md);
        } else if (a == "--identity") {
            std::string v = value();
            if (v.starts_with("0x") || v.starts_with("0X"))
                v = v.substr(2);
            if (!parseHex(v, 0xFF, n) || (n != 0x64 && n != 0x49))
                usage("--identity is 64 or 49");
            base.identity = static_cast<std::uint8_t>(n);
        } else if (a == "--rom-version") {
            const std::string& v = value();
            const auto dot = v.find('.');
            unsigned long mj = 0, mn = 0;
            if (dot == std::string::npos || !parseHex(v.substr(0, dot), 0xFF, mj) ||
                !parseHex(v.substr(dot + 1), 0xFF, mn))
                usage("--rom-version wants MAJOR.MINOR in hexadecimal");
            base.romVersion = static_cast<std::uint16_t>(mj << 8 | mn);
        } else if (a == "--flash-file") {
            base.flashFile = value();
        } else if (a == "--flash-time-scale") {
            const std::string& v = value();
            char* end = nullptr;
            base.flashTimeScale = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !(base.flashTimeScale >= 0 && base.flashTimeScale <= 1000))
                usage("--flash-time-scale wants a number from 0 to 1000");
        } else if (a == "--boards") {
            const std::string& v = value();
            char* end = nullptr;
            const long b = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || b < 1 || b > 64)
                usage("--boards wants 1 to 64");
            boards = static_cast<int>(b);
        } else if (a == "--no-pacing") {
            base.paced = false;
        } else if (a == "--no-garble") {
            base.garbleOnRateMismatch = false;
        } else if (a == "--fault") {
            std::string why;
            std::vector<int> only;
            const std::string text = withoutBoards(value(), only, why);
            if (!why.empty())
                usage(why);
            auto rule = parseFaultRule(text, &why);
            if (!rule)
                usage(why);
            faults.push_back({*rule, only});
        } else if (a == "--seed") {
            const std::string& v = value();
            char* end = nullptr;
            base.seed = static_cast<std::uint32_t>(std::strtoul(v.c_str(), &end, 10));
            if (v.empty() || *end)
                usage("--seed wants a number");
        } else if (a == "--link") {
            link = value();
        } else if (a == "--debug-log") {
            debugLog = value();
        } else if (a == "--trace") {
            trace = value();
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--exit-with-parent") {
            exitWithParent = true;
        } else {
            usage("unknown option " + a);
        }
    }

    for (const auto& f : faults)
        for (int b : f.boards)
            if (b >= boards)
                usage("--fault names board " + std::to_string(b) + " of " + std::to_string(boards));

    // Signals are taken by sigwait below; the board threads inherit the mask.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    if (exitWithParent) {
        // A test that dies must not leave its boards running (and holding
        // what it gave them, such as its output pipe).
        const pid_t parent = ::getppid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::raise(SIGTERM);  // it ended already
    }

    std::vector<std::unique_ptr<Output>> outputs;
    std::vector<std::unique_ptr<Board>> running;
    std::vector<std::string> links;
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < boards; ++i) {
        BoardOptions o = base;
        o.seed = base.seed + static_cast<std::uint32_t>(i);
        for (const auto& f : faults)
            if (f.boards.empty() || std::find(f.boards.begin(), f.boards.end(), i) != f.boards.end())
                o.faults.push_back(f.rule);
        if (!o.flashFile.empty())
            o.flashFile = indexed(base.flashFile, i);
        if (!debugLog.empty()) {
            outputs.push_back(std::make_unique<Output>(debugLog == "-" ? debugLog : indexed(debugLog, i), true));
            Output* out = outputs.back().get();
            o.debugSink = [out](std::string_view s) { out->write(s); };
        }
        if (!trace.empty()) {
            outputs.push_back(std::make_unique<Output>(trace == "-" ? trace : indexed(trace, i), false));
            Output* out = outputs.back().get();
            o.cpuTrace = [out](const std::string& line) { out->write(line + "\n"); };
        }
        try {
            running.push_back(std::make_unique<Board>(std::move(o)));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "selkan-sim: %s\n", e.what());
            return 1;
        }
        const Board& b = *running.back();
        if (!link.empty()) {
            const std::string name = boards == 1 ? link : link + std::to_string(i);
            struct stat st{};
            // Only a link of ours may be replaced, never a file.
            if (::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                ::unlink(name.c_str());
            if (::symlink(b.portPath().c_str(), name.c_str()) == 0)
                links.push_back(name);
            else
                std::fprintf(stderr, "selkan-sim: cannot make link %s: %s\n", name.c_str(), std::strerror(errno));
        }
        entries.emplace_back("\\Device\\SelkanSim" + std::to_string(::getpid()) + "_" + std::to_string(i),
                             b.portPath());
        if (!quiet)
            std::fprintf(stderr, "selkan-sim: board %d on %s: %s %s, identity %02X%s\n", i, b.portPath().c_str(),
                         b.flashPart().maker, b.flashPart().model, base.identity,
                         base.paced ? "" : ", unpaced");
    }
    SerialCommEntries registry(entries);
    if (!quiet && registry.registered())
        std::fprintf(stderr, "selkan-sim: ports listed in the registry store at %s\n", registry.folder().c_str());
    // Printed last: a reader of these lines finds everything in place.
    for (const auto& b : running)
        std::printf("%s\n", b->portPath().c_str());
    std::fflush(stdout);

    for (;;) {
        int sig = 0;
        if (sigwait(&sigs, &sig) != 0)
            continue;
        if (sig == SIGUSR1) {
            for (auto& b : running)
                b->powerCycle();
            if (!quiet)
                std::fprintf(stderr, "selkan-sim: power-cycled\n");
            continue;
        }
        break;
    }

    int status = 0;
    if (!base.flashFile.empty())
        for (auto& b : running)
            if (!b->saveFlash()) {
                std::fprintf(stderr, "selkan-sim: cannot save the flash file\n");
                status = 1;
            }
    for (const auto& name : links)
        ::unlink(name.c_str());
    running.clear();
    return status;
}
