// fault-matrix: every operation, programmer and link fault of the simulator
// at both working rates, each run judged against the board's flash.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e_rig.h"
#include "ombra/launcher/run_report.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/process.h"
#include "reliability.h"

namespace fs = std::filesystem;
using namespace ombra;
using namespace ombra::reliability;
using e2e::Bytes;
using launcher::ServiceKind;
using launcher::ServiceRecord;

namespace {

enum class Op { identify, burn, burnVerify, verify, dump };
constexpr const char* kOpNames[] = {"identify", "burn", "burn+verify", "verify", "dump"};
constexpr Op kOps[] = {Op::identify, Op::burn, Op::burnVerify, Op::verify, Op::dump};

constexpr const char* kKindNames[] = {"drop", "corrupt", "delay", "stall", "mute"};
constexpr sim::FaultRule::Kind kKinds[] = {sim::FaultRule::Kind::drop, sim::FaultRule::Kind::corrupt,
                                           sim::FaultRule::Kind::delay, sim::FaultRule::Kind::stall,
                                           sim::FaultRule::Kind::mute};
constexpr double kRates[] = {1e-6, 1e-5, 1e-4, 1e-3};

// Where a fault at a chosen offset lands.
enum class Phase { rate, upload, erase, stream, verifyReply, xmodemBlock, xmodemAck };
constexpr const char* kPhaseNames[] = {"rate", "upload", "erase", "stream", "verify-reply", "xmodem-block",
                                       "xmodem-ack"};

struct Options {
    int runs = 20;
    unsigned seed = 1;
    std::vector<DWORD> bauds = {115200, 460800};
    std::string filter;
    std::size_t size = 8192;
    int limitS = 40;
    double timeScale = 0.1;
    int jobs = 1;
    bool verbose = false;
};

// Byte counts of both directions when a run reached each stage, from a
// clean run of the same operation, programmer and rate.
struct Marks {
    std::uint64_t uploadIn = 0, uploadOut = 0;  // the programmer's first text
    std::uint64_t eraseOut = 0;                 // "Erasing ..."
    std::uint64_t streamIn = 0;                 // erase finished
    std::uint64_t verifyIn = 0, verifyOut = 0;  // first "Verifying addresses"
    std::uint64_t dumpIn = 0, dumpOut = 0;      // first progress of a dump
};

struct Scenario {
    Op op = Op::identify;
    const e2e::Programmer* programmer = nullptr;
    DWORD baud = 115200;
    bool faulty = true;
    sim::FaultRule::Direction direction = sim::FaultRule::Direction::toBoard;
    std::size_t kind = 0;
    Phase phase = Phase::rate;
    double rate = 0;
    unsigned seed = 1;
    bool plantMismatch = false;  // verify: one flash byte differs from the image

    std::string group() const { return faulty ? kKindNames[kind] : "none"; }
    std::string name() const {
        std::string n = std::string(kOpNames[static_cast<int>(op)]) + "/" + programmer->label + "/" +
                        std::to_string(baud) + "/";
        if (!faulty) return n + "none";
        n += std::string(direction == sim::FaultRule::Direction::toBoard ? "in" : "out") + ":" + kKindNames[kind] +
             ":" + kPhaseNames[static_cast<int>(phase)];
        if (phase == Phase::rate) {
            char r[16];
            std::snprintf(r, sizeof r, "%g", rate);
            n += std::string(":p=") + r;
        }
        return n;
    }
};

struct Result {
    Verdict verdict = Verdict::failedCleanly;
    double seconds = 0;
    std::string rule;
    std::string note;
    bool leak = false;
};

std::size_t gImageSize = 8192;  // the runs' image size
std::mutex gMarksLock;
std::map<std::string, Marks> gMarks;

std::string marksKey(const Scenario& s) {
    return std::string(kOpNames[static_cast<int>(s.op)]) + s.programmer->label + std::to_string(s.baud);
}

bool contains(const std::string& text, const char* needle) { return text.find(needle) != std::string::npos; }

// The fault's rule; offsets come from the marks of a clean run.
sim::FaultRule faultRule(const Scenario& s, const Marks& m, std::mt19937& rng, std::string& text) {
    sim::FaultRule rule;
    rule.direction = s.direction;
    rule.kind = kKinds[s.kind];
    rule.ms = rule.kind == sim::FaultRule::Kind::delay ? 200 : 2000;
    auto pick = [&](std::uint64_t from, std::uint64_t span) {
        std::uniform_int_distribution<std::uint64_t> d(0, span > 0 ? span - 1 : 0);
        return from + d(rng);
    };
    const bool in = s.direction == sim::FaultRule::Direction::toBoard;
    std::uint64_t at = 0;
    switch (s.phase) {
    case Phase::rate: rule.probability = s.rate; break;
    case Phase::upload: at = in ? pick(16, m.uploadIn > 16 ? m.uploadIn - 16 : 1) : pick(0, m.uploadOut); break;
    case Phase::erase: at = in ? pick(m.eraseOut == 0 ? m.uploadIn : m.streamIn - 6, 6) : pick(m.eraseOut, 8); break;
    case Phase::stream: at = in ? pick(m.streamIn + 14, gImageSize) : pick(m.streamIn, 8); break;
    case Phase::verifyReply: at = in ? pick(m.verifyIn > 12 ? m.verifyIn - 12 : 0, 24) : pick(m.verifyOut, 8); break;
    case Phase::xmodemBlock: at = in ? pick(m.dumpIn, 4) : pick(m.dumpOut, 132 * 2); break;
    case Phase::xmodemAck: at = in ? pick(m.dumpIn, 8) : pick(m.dumpOut, 4); break;
    }
    if (s.phase != Phase::rate) rule.offsets = {at};
    char buf[160];
    if (s.phase == Phase::rate)
        std::snprintf(buf, sizeof buf, "%s:%s:p=%g:ms=%u", in ? "in" : "out", kKindNames[s.kind], rule.probability,
                      rule.ms);
    else
        std::snprintf(buf, sizeof buf, "%s:%s:at=%llu:ms=%u", in ? "in" : "out", kKindNames[s.kind],
                      static_cast<unsigned long long>(at), rule.ms);
    text = buf;
    return rule;
}

Result runOne(const Scenario& s, const Options& opt, const std::string& work) {
    Result res;
    std::mt19937 rng(s.seed);
    const std::size_t size = opt.size;
    Marks marks;
    {
        std::lock_guard<std::mutex> lock(gMarksLock);
        const auto it = gMarks.find(marksKey(s));
        if (it != gMarks.end()) marks = it->second;
    }

    sim::BoardOptions bo;
    bo.flashModel = s.programmer->part;
    bo.paced = true;
    bo.flashTimeScale = opt.timeScale;
    bo.seed = s.seed;
    if (s.faulty) bo.faults = {faultRule(s, marks, rng, res.rule)};
    else res.rule = "none";
    sim::Board board(bo);

    const std::string tag = work + "/run" + std::to_string(s.seed);
    const Bytes image = e2e::pattern(size, s.seed);
    Bytes truth = image;
    if (s.op == Op::burn || s.op == Op::burnVerify) board.writeFlash(0, e2e::pattern(size, s.seed + 7777));
    if (s.op == Op::verify) {
        Bytes flash = image;
        if (s.plantMismatch) flash[std::uniform_int_distribution<std::size_t>(0, size - 1)(rng)] ^= 0x10;
        board.writeFlash(0, flash);
    }
    if (s.op == Op::dump) board.writeFlash(0, image);
    e2e::writeBytes(tag + ".img", image);
    fs::remove(tag + ".dump");

    e2e::Job job;
    job.programmer = s.programmer;
    job.port = board.portPath();
    job.baud = s.baud;
    switch (s.op) {
    case Op::identify: job.kind = launcher::JobKind::identify; break;
    case Op::burn:
    case Op::burnVerify:
        job.kind = launcher::JobKind::burn;
        job.path = tag + ".img";
        job.verify = s.op == Op::burnVerify;
        break;
    case Op::verify:
        job.kind = launcher::JobKind::verify;
        job.path = tag + ".img";
        job.dumpLength = static_cast<DWORD>(size);
        break;
    case Op::dump:
        job.kind = launcher::JobKind::dump;
        job.path = tag + ".dump";
        job.dumpLength = static_cast<DWORD>(size);
        break;
    }

    HANDLE cancel = CreateEvent(TRUE, FALSE);
    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    launcher::WorkerLauncher* running = nullptr;
    bool killAsked = false;
    std::string mutexName;
    e2e::Outcome outcome;
    Marks seen;
    bool sawProgrammer = false;
    const auto started = std::chrono::steady_clock::now();

    std::thread runner([&] {
        outcome = e2e::runJob(job, cancel, [&](const ServiceRecord& r, launcher::WorkerLauncher& l) {
            {
                std::lock_guard<std::mutex> g(lock);
                running = &l;
                mutexName = l.mutexName();
                if (killAsked) l.killWorker();
            }
            if (s.faulty) return;
            const sim::BoardStats st = board.stats();
            if (r.kind == ServiceKind::SERVICE_TEXT) {
                if (!sawProgrammer && contains(r.text, s.programmer->textPrefix)) {
                    sawProgrammer = true;
                    seen.uploadIn = st.bytesToBoard;
                    seen.uploadOut = st.bytesFromBoard;
                }
                if (seen.eraseOut == 0 && contains(r.text, "rasing")) seen.eraseOut = st.bytesFromBoard;
                if (contains(r.text, "inished erasing")) seen.streamIn = st.bytesToBoard;
                if (seen.verifyOut == 0 && contains(r.text, "Verifying")) {
                    seen.verifyIn = st.bytesToBoard;
                    seen.verifyOut = st.bytesFromBoard;
                }
            }
            if (r.kind == ServiceKind::SERVICE_PROGRESS && s.op == Op::dump && seen.dumpOut == 0) {
                seen.dumpIn = st.bytesToBoard;
                seen.dumpOut = st.bytesFromBoard;
            }
        });
        std::lock_guard<std::mutex> g(lock);
        done = true;
        cv.notify_all();
    });

    std::unique_lock<std::mutex> g(lock);
    bool stopped = false, killed = false;
    if (!cv.wait_for(g, std::chrono::seconds(opt.limitS), [&] { return done; })) {
        stopped = true;  // the dialog's Stop
        SetEvent(cancel);
        if (!cv.wait_for(g, std::chrono::seconds(6), [&] { return done; })) {
            killed = true;
            killAsked = true;
            if (running != nullptr) running->killWorker();
            if (!cv.wait_for(g, std::chrono::seconds(20), [&] { return done; })) {
                std::fprintf(stderr, "fault-matrix: %s [%s] did not end even when its worker was killed\n",
                             s.name().c_str(), res.rule.c_str());
                std::_Exit(3);
            }
        }
    }
    g.unlock();
    runner.join();
    CloseHandle(cancel);
    res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    // What the front end would say.
    launcher::ResultDetail detail;
    DWORD status = 0;
    bool verifyPassed = false;
    for (const auto& r : outcome.records) {
        detail.add(r);
        if (r.kind == ServiceKind::SERVICE_COMPLETION && status == 0) status = r.first;
        if (r.kind == ServiceKind::SERVICE_TEXT && contains(r.text, "Verification passed")) verifyPassed = true;
    }
    bool claimsPass = status == pipe::E_STATUS_SUCCESS && detail.passed();
    bool agree = false;
    bool verified = true;
    switch (s.op) {
    case Op::identify:
        claimsPass = claimsPass && outcome.identified >= 0;
        agree = outcome.identified == static_cast<std::int32_t>(s.programmer->device);
        break;
    case Op::burn:
    case Op::burnVerify:
        verified = s.op == Op::burnVerify;
        e2e::backInRom(board);
        agree = board.readFlash(0, static_cast<std::uint32_t>(size)) == image;
        break;
    case Op::verify:
        claimsPass = claimsPass && verifyPassed;
        agree = !s.plantMismatch;
        break;
    case Op::dump: agree = e2e::readBytes(tag + ".dump") == board.readFlash(0, static_cast<std::uint32_t>(size)); break;
    }
    if (killed) res.verdict = Verdict::hang;
    else if (stopped) res.verdict = Verdict::stopped;
    else res.verdict = judge(claimsPass, agree, verified);
    if (s.op == Op::verify && s.plantMismatch && !claimsPass && res.verdict == Verdict::failedCleanly)
        res.note = "mismatch found";

    // The launcher ends its worker and releases its mutex before it returns
    // (by the run's own mutex name: other runs may be going on beside it).
    const auto workers = mutexName.empty() ? std::vector<std::string>{} : workersWith(mutexName);
    const auto locks = mutexName.empty() ? std::vector<std::string>{} : lockFilesWith(mutexName);
    if (!workers.empty() || !locks.empty()) {
        res.leak = true;
        res.note += " left behind: " + (workers.empty() ? locks.front() : workers.front());
    }
    std::error_code ec;
    if (res.verdict == Verdict::falseSuccess) {
        // Kept for a look, in the current folder (the run's own goes with
        // the registry): the image, what the board held, what the run wrote.
        const fs::path keep = fs::current_path(ec) / "fault-matrix-kept";
        fs::create_directories(keep, ec);
        const std::string base = (keep / ("run" + std::to_string(s.seed))).string();
        e2e::writeBytes(base + ".flash", board.readFlash(0, static_cast<std::uint32_t>(size)));
        fs::copy_file(tag + ".img", base + ".img", fs::copy_options::overwrite_existing, ec);
        fs::copy_file(tag + ".dump", base + ".dump", fs::copy_options::overwrite_existing, ec);
        res.note += " kept: " + base + ".*";
    }
    fs::remove(tag + ".img", ec);
    fs::remove(tag + ".dump", ec);

    if (!s.faulty && res.verdict == Verdict::passed) {
        std::lock_guard<std::mutex> l(gMarksLock);
        gMarks[marksKey(s)] = seen;
    }
    return res;
}

int usage() {
    std::fprintf(stderr,
                 "usage: fault-matrix [--runs N] [--seed N] [--baud RATE]... [--filter TEXT] [--size BYTES]\n"
                 "                    [--limit-s S] [--time-scale X] [--jobs N] [--verbose]\n"
                 "Runs N faulty operations (after one clean run per operation, programmer and rate)\n"
                 "on simulated boards and prints a table per fault kind. The filter keeps scenarios\n"
                 "whose name (op/programmer/baud/dir:kind:phase[:p=P]) contains TEXT; several\n"
                 "filters separated by ',' must all match. Exit 1 on a false success, hang or leak.\n");
    return 2;
}

bool parse(int argc, char** argv, Options& o) {
    bool baudGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](long lo, long hi, long& out) { return reliability::numberArgument(argc, argv, i, lo, hi, out); };
        long v = 0;
        if (a == "--runs" && value(0, 1000000, v)) o.runs = static_cast<int>(v);
        else if (a == "--seed" && value(0, 0x7FFFFFFF, v)) o.seed = static_cast<unsigned>(v);
        else if (a == "--baud" && value(1200, 921600, v)) {
            if (!baudGiven) o.bauds.clear();
            baudGiven = true;
            o.bauds.push_back(static_cast<DWORD>(v));
        } else if (a == "--size" && value(16, 1 << 20, v)) o.size = static_cast<std::size_t>(v);
        else if (a == "--limit-s" && value(5, 3600, v)) o.limitS = static_cast<int>(v);
        else if (a == "--jobs" && value(1, 8, v)) o.jobs = static_cast<int>(v);
        else if (a == "--time-scale" && i + 1 < argc) {
            char* end = nullptr;
            o.timeScale = std::strtod(argv[++i], &end);
            if (end == nullptr || *end != '\0' || !(o.timeScale >= 0 && o.timeScale <= 10)) return false;
        } else if (a == "--filter" && i + 1 < argc) o.filter = argv[++i];
        else if (a == "--verbose") o.verbose = true;
        else return false;
    }
    return true;
}

bool matches(const std::string& name, const std::string& filter) {
    std::size_t from = 0;
    while (from <= filter.size()) {
        const std::size_t comma = std::min(filter.find(',', from), filter.size());
        const std::string part = filter.substr(from, comma - from);
        if (!part.empty() && name.find(part) == std::string::npos) return false;
        from = comma + 1;
    }
    return true;
}

// A fault that suits the operation: phases the operation goes through.
bool phaseFits(Op op, Phase p) {
    switch (p) {
    case Phase::rate:
    case Phase::upload: return true;
    case Phase::erase:
    case Phase::stream: return op == Op::burn || op == Op::burnVerify;
    case Phase::verifyReply: return op == Op::burnVerify || op == Op::verify;
    case Phase::xmodemBlock:
    case Phase::xmodemAck: return op == Op::dump;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!parse(argc, argv, opt)) return usage();
    gImageSize = opt.size;
    e2e::Registry registry;
    const std::string work = registry.folder() + "/work";
    fs::create_directories(work);

    // The faulty runs, then the clean runs that mark where their stages start.
    std::mt19937 rng(opt.seed);
    std::vector<Scenario> faulty;
    for (int tries = 0; static_cast<int>(faulty.size()) < opt.runs && tries < 1000000; ++tries) {
        Scenario s;
        s.op = kOps[rng() % 5];
        s.programmer = &e2e::kProgrammers[rng() % 6];
        s.baud = opt.bauds[rng() % opt.bauds.size()];
        s.kind = rng() % 5;
        s.direction = rng() % 2 ? sim::FaultRule::Direction::toBoard : sim::FaultRule::Direction::fromBoard;
        s.phase = static_cast<Phase>(rng() % 7);
        s.rate = kRates[rng() % 4];
        s.seed = static_cast<unsigned>(rng() & 0x7FFFFFFF);
        s.plantMismatch = rng() % 2 == 0;
        if (!phaseFits(s.op, s.phase) || !matches(s.name(), opt.filter)) continue;
        faulty.push_back(s);
    }
    std::vector<Scenario> cleanOnes;
    for (DWORD baud : opt.bauds)
        for (Op op : kOps)
            for (const auto& p : e2e::kProgrammers) {
                Scenario c;
                c.op = op;
                c.programmer = &p;
                c.baud = baud;
                c.faulty = false;
                c.seed = static_cast<unsigned>(rng() & 0x7FFFFFFF);
                const bool needed = std::any_of(faulty.begin(), faulty.end(),
                                                [&](const Scenario& f) { return marksKey(f) == marksKey(c); });
                if (needed || (opt.filter.empty() && opt.runs == 0)) cleanOnes.push_back(c);
            }

    Tally byKind, byOp;
    std::size_t leaks = 0, finished = 0;
    std::mutex outLock;
    auto record = [&](const Scenario& s, const Result& r) {
        std::lock_guard<std::mutex> g(outLock);
        byKind.add(s.group(), r.verdict);
        byOp.add(kOpNames[static_cast<int>(s.op)], r.verdict);
        leaks += r.leak;
        if (opt.verbose || isFault(r.verdict) || r.leak || (!s.faulty && r.verdict != Verdict::passed))
            std::printf("%-14s %6.1fs  %s [%s]%s\n", verdictName(r.verdict), r.seconds, s.name().c_str(),
                        r.rule.c_str(), r.note.c_str());
        // A long run shows where it stands now and then, so stopping it early loses nothing.
        if (++finished % 100 == 0) std::printf("-- after %zu runs\n%s", finished, byKind.table("fault").c_str());
        std::fflush(stdout);
    };
    auto runAll = [&](const std::vector<Scenario>& list) {
        std::atomic<std::size_t> next{0};
        std::vector<std::thread> pool;
        for (int j = 0; j < opt.jobs; ++j)
            pool.emplace_back([&] {
                for (std::size_t i; (i = next++) < list.size();) record(list[i], runOne(list[i], opt, work));
            });
        for (auto& t : pool) t.join();
    };
    const auto t0 = std::chrono::steady_clock::now();
    runAll(cleanOnes);
    runAll(faulty);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::printf("\nfault-matrix: seed %u, %zu clean + %zu faulty runs, image %zu bytes, %.0f s\n", opt.seed,
                cleanOnes.size(), faulty.size(), opt.size, seconds);
    std::printf("%s\n%s", byKind.table("fault").c_str(), byOp.table("operation").c_str());
    std::printf("leaks (worker or lock file left): %zu\n", leaks);
    return byKind.faults() == 0 && leaks == 0 ? 0 : 1;
}
