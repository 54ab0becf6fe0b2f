#include "ombra/sim/board.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <thread>

#include "boot_rom.h"
#include "link.h"
#include "soc.h"

namespace ombra::sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Instructions between link rounds; fewer while bytes stream, so the UART's
// small queues never hold the program back. A program that only polls an
// idle UART runs at the chip's own pace in wall time (the board sleeps in
// between), so its polling time-outs last about as long as on the chip.
constexpr std::uint64_t kSlice = 20000, kStreamSlice = 1000, kMinIdleSlice = 1000;
constexpr auto kMaxSleep = 2ms, kRomSleep = 50ms;
// Paced, a running program's board wakes about once per this many bytes on
// the line (within kMaxWindow), and replays at most kMaxReplay of line time
// after an absence (a loaded host, a stall). A wake costs about as much as
// the bytes' work, so the window is a count of bytes at 19,200 baud too.
constexpr int kWindowBytes = 512;
constexpr auto kMaxWindow = 300ms, kMaxReplay = 600ms;
// With nothing on the line, a running program's board looks again this often.
constexpr auto kIdleWake = 80ms;
// As the link's own: the first bytes after a quiet line may come at once.
constexpr auto kBurstSlack = 4ms;
// A wake reads what the line brought since the last one, with room to spare
// for a late wake.
constexpr std::size_t kReadAhead = 2 * kWindowBytes, kFlushAt = 32;

const FlashPart& choosePart(const BoardOptions& o) {
    const FlashPart* p = (o.flashMaker && o.flashModelCode)
                             ? findFlashPart(*o.flashMaker, *o.flashModelCode)
                             : findFlashPart(o.flashModel);
    if (!p)
        throw std::runtime_error("unknown flash part: " + o.flashModel);
    return *p;
}

Link::Settings linkSettings(const BoardOptions& o) {
    return {o.paced, o.garbleOnRateMismatch, o.faults, o.seed};
}

std::uint32_t instructionTime(const BoardOptions& o) {
    if (o.nsPerInstruction)
        return o.nsPerInstruction;
    return o.identity == 0x64 ? 8000 / 67 : 8000 / 55;
}

std::uint16_t romVersion(const BoardOptions& o) {
    return o.romVersion ? *o.romVersion : static_cast<std::uint16_t>(o.identity << 8 | 0x01);
}

} // namespace

struct Board::Impl {
    explicit Impl(BoardOptions o)
        : opt(std::move(o)), soc(choosePart(opt), opt.identity, instructionTime(opt)),
          link(linkSettings(opt)), rom(soc, romVersion(opt), std::chrono::milliseconds(opt.pingIntervalMs)) {
        soc.flash().setTimeScale(opt.flashTimeScale);
        if (!opt.flashFile.empty())
            loadFlash(opt.flashFile);
        soc.setDebugSink(opt.debugSink);
        if (opt.cpuTrace)
            soc.cpu().setTrace(opt.cpuTrace);
        rom.enter(Clock::now());
        thread = std::thread([this] { loop(); });
    }

    ~Impl() {
        stop = true;
        thread.join();
    }

    void loadFlash(const std::string& path) {
        std::error_code ec;
        if (!std::filesystem::exists(path, ec) && !ec)
            return;  // a new file: the chip starts erased
        std::ifstream in(path, std::ios::binary);
        if (!in || std::filesystem::is_directory(path, ec))
            throw std::runtime_error("cannot read flash file: " + path);
        auto& cells = soc.flash().cells();
        in.read(reinterpret_cast<char*>(cells.data()), static_cast<std::streamsize>(cells.size()));
        if (in.gcount() == static_cast<std::streamsize>(cells.size()) && in.peek() != EOF)
            throw std::runtime_error("flash file larger than the part: " + path);
    }

    void loop() {
        while (!stop) {
            auto now = Clock::now();
            bool idle = false;
            auto deadline = now + kMaxSleep;
            short events = 0;
            {
                std::lock_guard lock(m);
                if (link.stalledUntil() > now) {
                    idle = true;
                    deadline = std::min(deadline, link.stalledUntil());
                    lineTime = now;  // frozen: no line time to replay afterwards
                } else if (opt.paced && !inRom) {
                    idle = catchUp(now);
                    deadline = now + kIdleWake;
                    const auto due = link.nextDue(soc.link(), now);
                    const auto inputDone = link.inputDone(soc.linkBaud(), now);
                    if (due != Clock::time_point::max()) {
                        const auto window = std::min<Clock::duration>(
                            kMaxWindow, Link::byteTime(soc.linkBaud()) * kWindowBytes);
                        // A short message from the host (a command) is
                        // answered once its last byte is in, not a window
                        // later; a stream keeps the host a window ahead.
                        deadline = std::max(due, std::min(now + window, inputDone));
                        // Output that ends before the window does (a reply, a
                        // block's end) leaves on time; a program waiting for
                        // room in the UART streams on.
                        if (soc.link().txRoom())
                            deadline = std::min(deadline, link.outputDone(soc.link(), soc.linkBaud(), now));
                    }
                    // The host's next write wakes a board that has taken
                    // all it wrote (the second of two writes in a row).
                    if (!inputHeld() && ((link.quiet() && link.wantsInput(soc.link(), now)) ||
                                         (inputDone == Clock::time_point::max() && link.inbound() == 0 &&
                                          soc.link().rxRoom())))
                        events |= POLLIN;
                    if (link.outputBlocked())
                        events |= POLLOUT;
                } else {
                    lineTime = now;
                    idle = round(now);
                    // The ROM does nothing by itself but ping; it sleeps
                    // until then, or until the host writes.
                    if (inRom)
                        deadline = now + kRomSleep;
                    deadline = std::min(deadline, link.nextDue(soc.link(), now));
                    if (inRom)
                        deadline = std::min(deadline, rom.nextPing());
                    if (!inputHeld() && link.wantsInput(soc.link(), now))
                        events |= POLLIN;
                    if (link.outputBlocked())
                        events |= POLLOUT;
                }
                if (idle && deadline > now)
                    link.willSleepUntil(deadline);
            }
            if (!idle || deadline <= now)
                continue;
            pollfd p{link.masterFd(), events, 0};
            const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
            timespec ts{static_cast<time_t>(wait.count() / 1'000'000'000),
                        static_cast<long>(wait.count() % 1'000'000'000)};
            if (ppoll(&p, 1, &ts, nullptr) > 0 && (p.revents & POLLIN)) {
                std::lock_guard lock(m);
                link.hostWrote();
            }
            sleeps.fetch_add(1, std::memory_order_relaxed);
        }
    }

    // Launching loaded code takes no time on the chip, so a host that
    // switches its rate after an execute (the baud-rate stub) never meets
    // the old rate. This board's thread may come round late on a loaded
    // host: the host's next bytes wait in the line until the launched code
    // has had its first run.
    bool inputHeld() const { return inRom ? rom.launching() : !ranSinceLaunch; }

    // One round of link, ROM or core; true when nothing happened.
    bool round(Clock::time_point now) {
        LinkUart& uart = soc.link();
        link.service(uart, soc.linkBaud(), now, !inputHeld());
        bool idle;
        if (inRom) {
            const auto r = rom.step(now, link.outputIdle(uart));
            if (r == BootRom::Result::run) {
                inRom = false;
                ranSinceLaunch = false;
            }
            idle = r == BootRom::Result::idle;
        } else {
            std::uint64_t n = slice;
            if (wasIdle) {
                const auto waited = std::chrono::duration_cast<std::chrono::nanoseconds>(now - lastRun);
                n = std::clamp<std::uint64_t>(static_cast<std::uint64_t>(waited.count()) / instructionNs,
                                              kMinIdleSlice, kSlice);
            }
            lastRun = now;
            const std::uint64_t ran = soc.cpu().run(n);
            ranSinceLaunch = true;
            const auto act = soc.takeActivity();
            idle = ran == 0 || (act.work == 0 && act.idlePolls > 0);
            wasIdle = idle;
            slice = act.linkBytes ? kStreamSlice : kSlice;
            if (soc.cpu().halted())
                idle = !haltedInRom(now) && idle;
        }
        link.service(uart, soc.linkBaud(), now, !inputHeld());
        return idle;
    }

    // Paced, with a program running, the board need not wake for every
    // byte: it sleeps through a stretch of line time, then replays it. Bytes
    // enter and leave the UART at their own times on the line, with the core
    // run between them at the chip's pace (and on while it has work), so the
    // program sees the line as on the chip. True when it is idle.
    bool catchUp(Clock::time_point now) {
        LinkUart& uart = soc.link();
        // After a long absence (a loaded host) the line time beyond the
        // replay limit is given up; bytes already taken keep their spacing.
        if (lineTime < now - kMaxReplay) {
            link.delayInbound(now - kMaxReplay - lineTime);
            lineTime = now - kMaxReplay;
        }
        lineTime = std::min(lineTime, now);
        const std::size_t queued = link.inbound();
        // All line time since the last replay counts, however late this one.
        link.receive(soc.linkBaud(), now, inputHeld() || queued >= kReadAhead ? 0 : kReadAhead - queued,
                     std::min(lineTime, now - kBurstSlack));
        link.step(uart, soc.linkBaud(), lineTime, !inputHeld());  // what was due already
        bool idle = true;
        soc.setStopOnOutput(true);
        while (!inRom) {
            // To the next byte on the line, or through what is left.
            auto next = std::min(now, link.nextMove(uart, soc.linkBaud(), lineTime));
            if (next <= lineTime)
                next = std::min(now, lineTime + Link::byteTime(soc.linkBaud()));
            lineTime = runFor(lineTime, next, now, idle);
            link.step(uart, soc.linkBaud(), lineTime, !inputHeld());
            if (link.outbound() >= kFlushAt)
                link.flush(lineTime);
            if (lineTime >= now)
                break;
        }
        soc.setStopOnOutput(false);
        link.flush(now);
        return idle;
    }

    // The core from line time `from` to `to` at the chip's pace, then on
    // while it still works (the core runs free then). A byte the program
    // writes to the UART ends the run, so the link takes it at its time on
    // the line. Gives the line time reached; `idle` says whether the program
    // only polls an idle UART at the end.
    Clock::time_point runFor(Clock::time_point from, Clock::time_point to, Clock::time_point now, bool& idle) {
        Cpu& cpu = soc.cpu();
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count();
        std::uint64_t n = ns > 0 ? static_cast<std::uint64_t>(ns) / instructionNs : 0;
        if (working)
            n = std::max(n, kStreamSlice);
        if (!ranSinceLaunch)
            n = std::max(n, kMinIdleSlice);  // loaded code starts at once
        idle = true;
        if (n == 0)
            return to;
        const std::uint64_t ran = cpu.run(n);
        ranSinceLaunch = true;
        auto reached = to;
        auto act = soc.takeActivity();
        if (ran < n && !cpu.halted()) {
            // Stopped at an output byte, this far into the stretch.
            reached = std::min(to, from + std::chrono::nanoseconds(ran * instructionNs));
        } else {
            for (std::uint64_t extra = 0; act.work > 0 && !act.waitingForLink && !cpu.halted() && extra < kSlice;
                 extra += kStreamSlice) {
                const std::uint64_t more = cpu.run(kStreamSlice);
                act = soc.takeActivity();
                if (more < kStreamSlice && !cpu.halted())
                    break;  // an output byte: the link takes it now
            }
        }
        idle = act.work == 0 || act.waitingForLink;
        working = !idle;
        if (cpu.halted())
            idle = !haltedInRom(now) && idle;
        return reached;
    }

    // The ROM page holds HLT: a core stopped there jumped or returned into
    // the ROM. A HLT anywhere else leaves the core halted for good.
    bool haltedInRom(Clock::time_point now) {
        Cpu& cpu = soc.cpu();
        const auto& r = cpu.regs();
        const std::uint32_t at = cpu.physical(r.cs, static_cast<std::uint16_t>(r.ip - 1));
        if (at < memmap::romPage)
            return false;
        if (at == memmap::romPage + memmap::romResumeOffset) {
            rom.resume();
        } else {
            rom.enter(now);
            ++romEntries;
        }
        inRom = true;
        return true;
    }

    void powerCycle() {
        std::lock_guard lock(m);
        soc.powerUp();
        link.powerUp();
        rom.enter(Clock::now());
        inRom = true;
        ++romEntries;
    }

    BoardOptions opt;
    Soc soc;
    Link link;
    BootRom rom;
    mutable std::mutex m;
    std::thread thread;
    std::atomic<bool> stop{false};
    bool inRom = true;
    bool ranSinceLaunch = true;
    std::uint64_t slice = kSlice;
    bool wasIdle = false;
    Clock::time_point lastRun{};
    Clock::time_point lineTime{};  // paced: how far the board has replayed the line
    bool working = false;          // the core's last run ended in work
    std::atomic<std::uint64_t> sleeps{0};
    const std::uint32_t instructionNs = instructionTime(opt);
    std::uint64_t romEntries = 1;
};

Board::Board(BoardOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Board::~Board() = default;

const std::string& Board::portPath() const { return impl_->link.path(); }
const FlashPart& Board::flashPart() const { return impl_->soc.flash().part(); }

std::vector<std::uint8_t> Board::flash() const {
    std::lock_guard lock(impl_->m);
    return impl_->soc.flash().cells();
}

std::vector<std::uint8_t> Board::readFlash(std::uint32_t addr, std::uint32_t size) const {
    std::lock_guard lock(impl_->m);
    const auto& c = impl_->soc.flash().cells();
    if (addr >= c.size())
        return {};
    size = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(c.size()) - addr);
    return {c.begin() + addr, c.begin() + addr + size};
}

void Board::writeFlash(std::uint32_t addr, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(impl_->m);
    auto& c = impl_->soc.flash().cells();
    for (std::size_t i = 0; i < bytes.size() && addr + i < c.size(); ++i)
        c[addr + i] = bytes[i];
}

bool Board::saveFlash(const std::string& path) const {
    const std::string target = path.empty() ? impl_->opt.flashFile : path;
    if (target.empty())
        return false;
    const auto cells = flash();
    const std::string tmp = target + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(cells.data()), static_cast<std::streamsize>(cells.size()));
        if (!out.flush())
            return false;
    }
    return std::rename(tmp.c_str(), target.c_str()) == 0;
}

std::vector<std::pair<std::uint16_t, std::uint16_t>> Board::cbusWrites() const {
    std::lock_guard lock(impl_->m);
    return impl_->soc.cbusWrites();
}

std::uint16_t Board::ioRegister(std::uint16_t port) const {
    std::lock_guard lock(impl_->m);
    return impl_->soc.ioRegister(port);
}

std::uint32_t Board::linkBaud() const {
    std::lock_guard lock(impl_->m);
    return impl_->soc.linkBaud();
}

std::string Board::debugLog() const {
    std::lock_guard lock(impl_->m);
    return impl_->soc.debugLog();
}

std::vector<std::uint8_t> Board::readMemory(std::uint32_t phys, std::uint32_t size) const {
    std::lock_guard lock(impl_->m);
    const auto& ram = impl_->soc.ram();
    if (phys >= ram.size())
        return {};
    size = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(ram.size()) - phys);
    return {ram.begin() + phys, ram.begin() + phys + size};
}

void Board::writeMemory(std::uint32_t phys, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(impl_->m);
    auto& ram = impl_->soc.ram();
    for (std::size_t i = 0; i < bytes.size() && phys + i < ram.size(); ++i)
        ram[phys + i] = bytes[i];
}

void Board::loadAndStart(std::uint32_t farAddress, std::span<const std::uint8_t> image) {
    const auto seg = static_cast<std::uint16_t>(farAddress >> 16);
    const auto off = static_cast<std::uint16_t>(farAddress);
    std::lock_guard lock(impl_->m);
    auto& ram = impl_->soc.ram();
    const std::uint32_t base = impl_->soc.cpu().physical(seg, off);
    for (std::size_t i = 0; i < image.size(); ++i) {
        const std::uint32_t a = (base + static_cast<std::uint32_t>(i)) & 0xFFFFFF;
        if (a < ram.size())
            ram[a] = image[i];
    }
    impl_->rom.launch(seg, off, memmap::romEntryOffset);
    impl_->inRom = false;
    impl_->ranSinceLaunch = false;
}

void Board::powerCycle() { impl_->powerCycle(); }

void Board::setMuted(bool muted) {
    std::lock_guard lock(impl_->m);
    impl_->link.setMuted(muted);
}

bool Board::inRom() const {
    std::lock_guard lock(impl_->m);
    return impl_->inRom;
}

BoardStats Board::stats() const {
    std::lock_guard lock(impl_->m);
    BoardStats s;
    s.bytesToBoard = impl_->link.bytesIn();
    s.bytesFromBoard = impl_->link.bytesOut();
    s.instructions = impl_->soc.cpu().instructions();
    s.virtualNs = impl_->soc.now();
    s.romEntries = impl_->romEntries;
    s.framesDropped = impl_->rom.framesDropped();
    s.skipped = impl_->soc.cpu().skipped();
    s.sleeps = impl_->sleeps.load(std::memory_order_relaxed);
    clockid_t clock{};
    timespec t{};
    if (pthread_getcpuclockid(impl_->thread.native_handle(), &clock) == 0 && clock_gettime(clock, &t) == 0)
        s.threadCpuNs = static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(t.tv_nsec);
    return s;
}

// --- fault rules ----------------------------------------------------------

std::optional<FaultRule> parseFaultRule(std::string_view text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<FaultRule> {
        if (error)
            *error = why + ": " + std::string(text);
        return std::nullopt;
    };
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
    }
    if (parts.size() < 2)
        return fail("expected DIR:KIND");
    FaultRule r;
    if (parts[0] == "in")
        r.direction = FaultRule::Direction::toBoard;
    else if (parts[0] == "out")
        r.direction = FaultRule::Direction::fromBoard;
    else if (parts[0] == "both")
        r.direction = FaultRule::Direction::both;
    else
        return fail("direction must be in, out or both");
    static const std::pair<std::string_view, FaultRule::Kind> kinds[] = {
        {"drop", FaultRule::Kind::drop},   {"corrupt", FaultRule::Kind::corrupt},
        {"delay", FaultRule::Kind::delay}, {"stall", FaultRule::Kind::stall},
        {"mute", FaultRule::Kind::mute}};
    bool known = false;
    for (const auto& [name, kind] : kinds)
        if (parts[1] == name) {
            r.kind = kind;
            known = true;
        }
    if (!known)
        return fail("unknown fault kind");
    auto number = [](std::string_view s, auto& out) {
        const auto res = std::from_chars(s.data(), s.data() + s.size(), out);
        return res.ec == std::errc() && res.ptr == s.data() + s.size();
    };
    for (std::size_t i = 2; i < parts.size(); ++i) {
        const auto p = parts[i];
        if (p.starts_with("p=")) {
            // from_chars for double is not everywhere yet; strtod on a copy.
            const std::string v(p.substr(2));
            char* end = nullptr;
            r.probability = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || !(r.probability >= 0 && r.probability <= 1))
                return fail("p must be a number from 0 to 1");
        } else if (p.starts_with("at=")) {
            auto list = p.substr(3);
            while (!list.empty()) {
                const auto comma = list.find(',');
                std::uint64_t v = 0;
                if (!number(list.substr(0, comma), v))
                    return fail("bad offset");
                r.offsets.push_back(v);
                list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
            }
        } else if (p.starts_with("ms=")) {
            if (!number(p.substr(3), r.ms))
                return fail("bad ms");
        } else if (p.starts_with("after=")) {
            const auto hex = p.substr(6);
            if (hex.empty() || hex.size() % 2 || hex.size() / 2 > kMaxFaultAnchor)
                return fail("after= takes 1 to 64 bytes in hex");
            r.after.clear();
            for (std::size_t k = 0; k < hex.size(); k += 2) {
                std::uint8_t b = 0;
                const auto res = std::from_chars(hex.data() + k, hex.data() + k + 2, b, 16);
                if (res.ec != std::errc() || res.ptr != hex.data() + k + 2)
                    return fail("after= takes 1 to 64 bytes in hex");
                r.after.push_back(b);
            }
        } else {
            return fail("unknown field");
        }
    }
    if (r.probability == 0 && r.offsets.empty())
        return fail("give p= or at=");
    return r;
}

} // namespace ombra::sim
