// The board over its pseudo-terminal, driven by a small host-side client the
// way the boot loader drives a real board.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "host_port.h"
#include "ombra/sim/board.h"

using namespace ombra::sim;
using namespace std::chrono_literals;
using test::HostPort;

namespace {

std::vector<std::uint8_t> program(const char* name) {
    std::ifstream in(std::string(SIM_TEST_PROGRAMS) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

BoardOptions fast() {
    BoardOptions o;
    o.paced = false;
    o.pingIntervalMs = 5;
    return o;
}

// Polls until `done`; the limit is generous because the board's thread may
// wait long for a core on a loaded machine.
template <class Done>
bool waitUntil(Done done, std::chrono::milliseconds limit = 10000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// What the link UART's transmit queue (16) and the link's outbound queue
// (64) can hold: bytes still on their way when the host changes its rate.
constexpr std::uint64_t kBytesInFlight = 80;

const std::vector<std::uint8_t> kCBusTable = {0xFF, 0xA2, 0x3F, 0xFE, 0xFF, 0xA8, 0xA0, 0xBC, 0xFF,
                                              0xA4, 0x00, 0x07, 0x0A, 0x08, 0x00, 0x04, 0xFF, 0xFF};

// Waits for a frame of `type`, skipping others (pings in flight).
std::optional<ombra::frame::Frame> expect(HostPort& port, std::uint8_t type,
                                          std::chrono::milliseconds limit = 10000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        auto f = port.readFrame(std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now()));
        if (f && f->type == type)
            return f;
    }
    return std::nullopt;
}

// Ping phase as the boot loader runs it: 15 valid frames, then AA 00 00 00 00 AA.
void leavePingPhase(HostPort& port) {
    int pings = 0;
    while (pings < 15) {
        auto f = port.readFrame(5000ms);
        ASSERT_TRUE(f) << "after " << pings << " pings";
        ++pings;
    }
    port.write({0xAA, 0x00, 0x00, 0x00, 0x00, 0xAA});
}

std::vector<std::uint8_t> loadFrame(std::uint16_t seg, std::uint16_t off,
                                     const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> p(4 + bytes.size());
    p[0] = static_cast<std::uint8_t>(seg >> 8);
    p[1] = static_cast<std::uint8_t>(seg);
    p[2] = static_cast<std::uint8_t>(off >> 8);
    p[3] = static_cast<std::uint8_t>(off);
    std::copy(bytes.begin(), bytes.end(), p.begin() + 4);
    return p;
}

} // namespace

TEST(BootRom, WholeBootSequenceEchoProgramAndReturn) {
    Board board(fast());
    HostPort port(board.portPath(), B19200);
    ASSERT_TRUE(port.ok());

    // Stray NULs and a frame with a bad sum do not end the ping phase.
    port.write({0x00, 0x00, 0xAA, 0x0C, 0x00, 0x00, 0x00, 0xB7});
    leavePingPhase(port);

    port.purge();
    port.sendFrame(0x0C);
    auto v = expect(port, 0x15);
    ASSERT_TRUE(v);
    ASSERT_EQ(v->payload.size(), 2u);
    EXPECT_EQ(v->payload[0], 0x64);  // major = identity

    port.sendFrame(0x03, kCBusTable);
    ASSERT_TRUE(expect(port, 0x10));
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> regs = {
        {0xFFA2, 0x3FFE}, {0xFFA8, 0xA0BC}, {0xFFA4, 0x0007}, {0x0A08, 0x0004}};
    EXPECT_EQ(board.cbusWrites(), regs);
    EXPECT_EQ(board.ioRegister(0xFFA8), 0xA0BC);

    // Baud-rate stub for 115,200 (divisor 36), then execute it.
    port.sendFrame(0x05, {0x00, 0x07, 0x00, 0x00, 0xBA, 0x88, 0xFF, 0xB8, 36, 0, 0xEF, 0xCB});
    port.sendFrame(0x09, {0x00, 0x07, 0x00, 0x00});
    EXPECT_TRUE(waitUntil([&] { return board.linkBaud() == 4218750 / 36; })) << board.linkBaud();
    port.close();
    HostPort fastPort(board.portPath(), B115200);
    fastPort.purge();

    // The ROM goes on at the new rate: load and run the echo program.
    const auto echo = program("echo.bin");
    ASSERT_FALSE(echo.empty());
    fastPort.sendFrame(0x05, loadFrame(0x0030, 0x0000, echo));
    ASSERT_TRUE(expect(fastPort, 0x10));
    EXPECT_EQ(board.readMemory(0x3000, static_cast<std::uint32_t>(echo.size())), echo);
    fastPort.sendFrame(0x09, {0x00, 0x30, 0x00, 0x00});
    ASSERT_TRUE(expect(fastPort, 0x10));
    EXPECT_TRUE(waitUntil([&] { return !board.inRom(); }));

    const std::vector<std::uint8_t> text = {'h', 'e', 'l', 'l', 'o', 0xAA, 0x00};
    fastPort.write(text);
    std::vector<std::uint8_t> back;
    while (back.size() < text.size()) {
        auto b = fastPort.readByte(5000ms);
        ASSERT_TRUE(b);
        back.push_back(*b);
    }
    EXPECT_EQ(back, text);
    EXPECT_EQ(board.debugLog(), "E");

    // ESC makes the program jump to 0xFFFE:0000: the ROM pings at 19,200 again.
    const auto entries = board.stats().romEntries;
    fastPort.write({0x1B});
    EXPECT_TRUE(waitUntil([&] { return board.inRom(); }));
    EXPECT_EQ(board.stats().romEntries, entries + 1);
    EXPECT_EQ(board.linkBaud(), 4218750u / 219);
    fastPort.close();
    HostPort again(board.portPath(), B19200);
    again.purge();
    EXPECT_TRUE(expect(again, 0x01, 5000ms));
}

TEST(BootRom, BadChecksumIsDroppedAndVersionIsConfigurable) {
    BoardOptions o = fast();
    o.identity = 0x49;
    Board board(o);
    HostPort port(board.portPath(), B19200);
    leavePingPhase(port);
    port.purge();
    const auto dropped = board.stats().framesDropped;
    port.write({0xAA, 0x0C, 0x00, 0x00, 0x00, 0xB7});
    EXPECT_TRUE(waitUntil([&] { return board.stats().framesDropped == dropped + 1; }));
    EXPECT_FALSE(expect(port, 0x15, 300ms));
    port.write({0xAA, 0x0C, 0x00, 0x00, 0x00, 0xB6});
    auto v = expect(port, 0x15);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->payload[0], 0x49);
    EXPECT_EQ(board.linkBaud(), 3437500u / 179);

    BoardOptions o2 = fast();
    o2.romVersion = 0x0203;
    Board other(o2);
    HostPort port2(other.portPath(), B19200);
    leavePingPhase(port2);
    port2.sendFrame(0x0C);
    auto v2 = expect(port2, 0x15);
    ASSERT_TRUE(v2);
    EXPECT_EQ(v2->payload, (std::vector<std::uint8_t>{0x02, 0x03}));
    EXPECT_NE(board.portPath(), other.portPath());
}

TEST(Link, HostAtTheWrongRateSeesGarbage) {
    Board board(fast());
    HostPort port(board.portPath(), B115200);
    // Pings on their way before the host set its rate are clean: let them go.
    const auto sent = board.stats().bytesFromBoard;
    ASSERT_TRUE(waitUntil([&] { return board.stats().bytesFromBoard >= sent + kBytesInFlight; }));
    port.purge();
    int bad = 0;
    EXPECT_FALSE(port.readFrame(300ms, &bad));
    port.setBaud(B19200);
    port.purge();
    EXPECT_TRUE(port.readFrame(5000ms));
}

TEST(Link, RatesSetThroughTermios2AreSeen) {
    Board board(fast());
    HostPort port(board.portPath(), B115200);
    // 19,600 is no standard rate but within 5 % of the ROM's 19,263.
    ASSERT_TRUE(test::setAnyBaud(port.fd(), 19600));
    port.purge();
    EXPECT_TRUE(port.readFrame(5000ms));
    ASSERT_TRUE(test::setAnyBaud(port.fd(), 21000));
    const auto sent = board.stats().bytesFromBoard;
    ASSERT_TRUE(waitUntil([&] { return board.stats().bytesFromBoard >= sent + kBytesInFlight; }));
    port.purge();
    EXPECT_FALSE(port.readFrame(300ms));
}

TEST(Link, PacedInputTakesTheLineTime) {
    BoardOptions o;
    o.pingIntervalMs = 5;
    Board board(o);
    HostPort port(board.portPath(), B19200);
    leavePingPhase(port);
    port.purge();
    // 964 + 6 bytes at 19,200 baud need at least 0.5 s on the wire.
    const auto start = std::chrono::steady_clock::now();
    port.sendFrame(0x05, loadFrame(0x0100, 0, std::vector<std::uint8_t>(960, 0x5A)));
    ASSERT_TRUE(expect(port, 0x10, 5000ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 490ms);
    EXPECT_EQ(board.readMemory(0x10000, 960), std::vector<std::uint8_t>(960, 0x5A));
}

// Paced, a board running a program wakes once per stretch of line time and
// replays it: a long stream still reaches the program a byte time apart, not
// in bursts that would leave a program no time between bytes.
// What gaps.bin recorded: empty polls between bytes, six instructions a
// pass, 119 ns each, at the ROM's 19,263 baud. The first bytes after a quiet
// line may come together (a slack for the board's own latency).
static void expectAByteTimeApart(const Board& board, std::size_t bytes) {
    const double perByte = 1e10 / 19263 / 119 / 6;
    const auto words = board.readMemory(0x10000, bytes * 2);
    ASSERT_EQ(words.size(), bytes * 2);
    for (std::size_t i = 16; i < bytes; ++i) {
        const unsigned gap = words[2 * i] | words[2 * i + 1] << 8;
        ASSERT_GE(gap, 0.9 * perByte) << "byte " << i;
    }
}

TEST(Link, APacedStreamReachesTheProgramAByteTimeApartWithFewWakes) {
    const auto gaps = program("gaps.bin");
    ASSERT_FALSE(gaps.empty());
    BoardOptions o;
    o.pingIntervalMs = 5;
    Board board(o);
    HostPort port(board.portPath(), B19200);
    board.loadAndStart(0x00300000, gaps);
    ASSERT_TRUE(waitUntil([&] { return board.debugLog() == "G"; }));
    const auto before = board.stats();
    constexpr std::size_t kBytes = 400;
    port.write(std::vector<std::uint8_t>(kBytes, 0x55));
    port.write({0x1B});
    ASSERT_TRUE(waitUntil([&] { return board.inRom(); }));
    const auto after = board.stats();
    EXPECT_EQ(after.bytesToBoard - before.bytesToBoard, kBytes + 1);

    expectAByteTimeApart(board, kBytes);
    // One wake per byte would be 400 for the stream alone.
    EXPECT_LT(after.sleeps - before.sleeps, kBytes / 2);
}

// A board thread that gets no processor for longer than the board replays
// (a loaded host): the host's bytes it had already taken arrive later, still
// a byte time apart, not in a burst.
TEST(Link, BytesKeepTheirSpacingAfterTheBoardGaveUpLineTime) {
    const auto gaps = program("gaps.bin");
    ASSERT_FALSE(gaps.empty());
    BoardOptions o;
    o.pingIntervalMs = 5;
    // The thread sleeps in the middle of a run when the program echoes "!".
    o.debugSink = [](std::string_view text) {
        if (text == "!")
            std::this_thread::sleep_for(150ms);
    };
    Board board(o);
    HostPort port(board.portPath(), B19200);
    board.loadAndStart(0x00300000, gaps);
    ASSERT_TRUE(waitUntil([&] { return board.debugLog() == "G"; }));
    constexpr std::size_t kBytes = 300;
    std::vector<std::uint8_t> stream(kBytes, 0x55);
    stream[100] = '!';
    port.write(stream);
    port.write({0x1B});
    ASSERT_TRUE(waitUntil([&] { return board.inRom(); }));
    EXPECT_EQ(board.debugLog(), "G!");

    expectAByteTimeApart(board, kBytes);
}

// A program that waits for the link between bytes (a loop that changes
// nothing) runs at the line's pace: the board's clock keeps to line time
// through a stream rather than running ahead of it at every byte.
TEST(Link, AProgramWaitingForAStreamKeepsToLineTime) {
    auto sink = program("sink.bin");
    ASSERT_GT(sink.size(), 4u);
    sink[2] = 36;  // 117,188 baud
    sink[3] = 0;
    BoardOptions o;
    o.pingIntervalMs = 5;
    Board board(o);
    HostPort port(board.portPath(), B19200);
    board.loadAndStart(0x00300000, sink);
    ASSERT_TRUE(waitUntil([&] { return board.debugLog() == "S"; }));
    port.setBaud(B115200);
    constexpr std::size_t kBytes = 3000;  // 0.26 s on the line
    const auto before = board.stats();
    const auto start = std::chrono::steady_clock::now();
    port.write(std::vector<std::uint8_t>(kBytes, 0x55));
    port.write({0x1B});
    ASSERT_TRUE(waitUntil([&] { return board.inRom(); }));
    const auto wall = std::chrono::steady_clock::now() - start;
    const auto after = board.stats();
    EXPECT_EQ(after.bytesToBoard - before.bytesToBoard, kBytes + 1);
    // Virtual time never runs ahead of the wall clock by more than a little
    // (the program's own work); a board running ahead at every byte took
    // more than twice the line time.
    const auto line = std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count();
    EXPECT_LT(static_cast<double>(after.virtualNs - before.virtualNs), 1.3 * static_cast<double>(line));
}

// A replay that covers a program's output and what it does after: the bytes
// leave at their own times, before the program switches the UART's rate.
TEST(Link, OutputLeavesAtItsTimeBeforeTheProgramSwitchesRates) {
    const auto hello = program("hello.bin");
    ASSERT_FALSE(hello.empty());
    for (int run = 0; run < 5; ++run) {
        BoardOptions o;
        o.pingIntervalMs = 1000;
        Board board(o);
        HostPort port(board.portPath(), B19200);
        ASSERT_TRUE(port.readFrame(5000ms));  // the ROM's first ping; the next is a second away
        board.loadAndStart(0x00300000, hello);
        ASSERT_TRUE(waitUntil([&] { return board.debugLog() == "D"; }));
        std::string got;
        while (got.size() < 5) {
            const auto b = port.readByte(2000ms);
            ASSERT_TRUE(b) << "after \"" << got << "\"";
            got.push_back(static_cast<char>(*b));
        }
        EXPECT_EQ(got, "HELLO");
    }
}

TEST(Link, FaultsDropCorruptAndMute) {
    BoardOptions o = fast();
    o.faults.push_back(*parseFaultRule("out:corrupt:at=1"));
    o.faults.push_back(*parseFaultRule("in:drop:at=0,1,2,3,4,5"));
    Board board(o);
    HostPort port(board.portPath(), B19200);
    int bad = 0;
    ASSERT_TRUE(port.readFrame(5000ms, &bad));
    EXPECT_EQ(bad, 1);  // the first ping lost its type byte
    // The first six bytes to the board are lost: this frame never arrives.
    // The stray NUL after it (which leaves the pings alone) gets through:
    // once it has, the six have passed the link.
    port.write({0xAA, 0x00, 0x00, 0x00, 0x00, 0xAA, 0x00});
    ASSERT_TRUE(waitUntil([&] { return board.stats().bytesToBoard == 1; }));
    port.purge();
    EXPECT_TRUE(port.readFrame(5000ms));  // still pinging

    board.setMuted(true);
    port.purge();
    EXPECT_FALSE(port.readByte(200ms));
    board.powerCycle();
    EXPECT_TRUE(port.readFrame(5000ms));

    EXPECT_FALSE(parseFaultRule("sideways:drop:p=0.5"));
    EXPECT_FALSE(parseFaultRule("in:drop"));
    EXPECT_FALSE(parseFaultRule("in:drop:p=2"));
    auto r = parseFaultRule("both:delay:p=0.25:ms=40");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ms, 40u);
    EXPECT_DOUBLE_EQ(r->probability, 0.25);
}

TEST(Link, AnAnchoredRuleCountsFromTheBytesItWaitsFor) {
    BoardOptions o = fast();
    // The fifth byte after the first 55 55: the version query's checksum.
    // Counted from power-up it would hit a stray byte and spare the query.
    o.faults.push_back(*parseFaultRule("in:corrupt:at=5:after=5555"));
    Board board(o);
    HostPort port(board.portPath(), B19200);
    leavePingPhase(port);
    port.purge();
    const std::vector<std::uint8_t> query = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                             0x55, 0x55, 0xAA, 0x0C, 0x00, 0x00, 0x00, 0xB6};
    port.write(query);
    EXPECT_TRUE(waitUntil([&] { return board.stats().framesDropped == 1; }));
    EXPECT_FALSE(expect(port, 0x15, 300ms));
    port.write(query);  // only the first 55 55 anchors
    EXPECT_TRUE(expect(port, 0x15));
    EXPECT_EQ(board.stats().framesDropped, 1u);

    auto r = parseFaultRule("out:stall:at=1:ms=5:after=AA0900");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->after, (std::vector<std::uint8_t>{0xAA, 0x09, 0x00}));
    for (const char* bad : {"in:drop:at=0:after=", "in:drop:at=0:after=AA5", "in:drop:at=0:after=AG",
                            "in:drop:at=0:after=+A"})
        EXPECT_FALSE(parseFaultRule(bad)) << bad;
    EXPECT_TRUE(parseFaultRule("in:drop:at=0:after=" + std::string(2 * kMaxFaultAnchor, 'f')));
    EXPECT_FALSE(parseFaultRule("in:drop:at=0:after=" + std::string(2 * kMaxFaultAnchor + 2, 'f')));
}

TEST(Link, DelayAndStallHoldTheStream) {
    BoardOptions o = fast();
    o.faults.push_back(*parseFaultRule("out:delay:at=0:ms=300"));
    // Before the board exists: its first byte cannot leave earlier.
    const auto start = std::chrono::steady_clock::now();
    Board board(o);
    HostPort port(board.portPath(), B19200);
    ASSERT_TRUE(port.readFrame(5000ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);

    // Frozen for far longer than the check below lasts, however late the
    // test's thread gets to it.
    BoardOptions s = fast();
    s.faults.push_back(*parseFaultRule("in:stall:at=0:ms=2000"));
    Board stalled(s);
    HostPort port2(stalled.portPath(), B19200);
    ASSERT_TRUE(port2.readFrame(5000ms));
    port2.write({0x00});
    ASSERT_TRUE(waitUntil([&] { return stalled.stats().bytesToBoard == 1; }));  // the stall began
    port2.purge();
    EXPECT_FALSE(port2.readByte(300ms));  // frozen: no pings
    EXPECT_TRUE(port2.readFrame(10000ms));
}

// A host that wrote at the board's rate and changed its rate while the
// board's thread got no processor: what it wrote arrives as written, as it
// would have on a line. A board on time garbles what the host sends at a
// rate its UART does not run at.
TEST(Link, BytesThatWaitedWhileTheBoardLaggedArriveAsSent) {
    const auto echo = program("echo.bin");
    ASSERT_FALSE(echo.empty());
    std::mutex m;
    std::condition_variable cv;
    bool lagging = false, release = false;
    BoardOptions o = fast();
    // At the program's "E" on the debug UART the board's thread stops (with
    // the board locked) until the test lets it go.
    o.debugSink = [&, armed = true](std::string_view) mutable {
        if (!armed)
            return;
        armed = false;
        const auto since = std::chrono::steady_clock::now();
        std::unique_lock lock(m);
        lagging = true;
        cv.notify_all();
        cv.wait_for(lock, 10s, [&] { return release; });
        lock.unlock();
        // Long enough to count as a lag, however quickly the test answered.
        std::this_thread::sleep_until(since + 100ms);
    };
    Board board(o);
    HostPort port(board.portPath(), B19200);
    board.loadAndStart(0x00300000, echo);
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return lagging; }));
    }
    port.write({0x1B});  // ESC at the UART's rate: the program goes back to its ROM
    port.setBaud(B115200);
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    EXPECT_TRUE(waitUntil([&] { return board.inRom(); }));

    // On time: once the board has seen the new rate (a byte has left since),
    // a version query at 115,200 reaches the ROM garbled and it pings on.
    Board onTime(fast());
    HostPort fastHost(onTime.portPath(), B115200);
    const auto seen = onTime.stats().bytesFromBoard;
    ASSERT_TRUE(waitUntil([&] { return onTime.stats().bytesFromBoard > seen; }));
    fastHost.sendFrame(0x0C);
    ASSERT_TRUE(waitUntil([&] { return onTime.stats().bytesToBoard == 6; }));
    const auto after = onTime.stats().bytesFromBoard;
    // More than what was on its way and an answer: pings.
    EXPECT_TRUE(waitUntil([&] { return onTime.stats().bytesFromBoard > after + kBytesInFlight + 8 + 6; }));
}

TEST(Soc, FlashWindowFromTheCoreAndPowerCycle) {
    BoardOptions o = fast();
    Board board(o);
    const auto prog = program("flash.bin");
    ASSERT_FALSE(prog.empty());
    const auto entries = board.stats().romEntries;
    board.loadAndStart(0x00300000, prog);
    ASSERT_TRUE(waitUntil([&] { return board.stats().romEntries != entries; }));
    ASSERT_TRUE(board.inRom());
    const auto r = board.readMemory(0x100, 8);
    EXPECT_EQ(r[0] | r[1] << 8, 0xBF);
    EXPECT_EQ(r[2] | r[3] << 8, 0x2782);
    EXPECT_EQ(r[4] | r[5] << 8, 0x1234);
    EXPECT_GT(r[6] | r[7] << 8, 10);  // the toggle bit held it for the program time
    EXPECT_EQ(board.readFlash(0x10010, 2), (std::vector<std::uint8_t>{0x34, 0x12}));

    board.powerCycle();
    EXPECT_EQ(board.readMemory(0x100, 2), (std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(board.readFlash(0x10010, 2), (std::vector<std::uint8_t>{0x34, 0x12}));
}

TEST(Board, FlashFileLoadsAndSaves) {
    const std::string path = ::testing::TempDir() + "/sim_board_flash.bin";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "ABCD";
    }
    BoardOptions o = fast();
    o.flashModel = "SST39LF/VF200A";
    o.flashFile = path;
    {
        Board board(o);
        EXPECT_EQ(board.readFlash(0, 6), (std::vector<std::uint8_t>{'A', 'B', 'C', 'D', 0xFF, 0xFF}));
        const std::uint8_t z[] = {0x00};
        board.writeFlash(5, z);
        EXPECT_TRUE(board.saveFlash());
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> all{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(all.size(), 262144u);
    EXPECT_EQ(all[5], 0x00);

    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(10, 'x');
    EXPECT_THROW(Board{o}, std::runtime_error);
    o.flashFile = ::testing::TempDir();  // a folder is no flash file
    EXPECT_THROW(Board{o}, std::runtime_error);
    BoardOptions unknown = fast();
    unknown.flashModel = "nonesuch";
    EXPECT_THROW(Board{unknown}, std::runtime_error);

    BoardOptions byCodes = fast();
    byCodes.flashMaker = 0x62;
    byCodes.flashModelCode = 0x253E;  // the second code of a model name used twice
    Board sanyo(byCodes);
    EXPECT_EQ(sanyo.flashPart().modelCode, 0x253E);
    EXPECT_EQ(sanyo.flash().size(), 2097152u);
}
