// The board over its pseudo-terminal, driven by a small host-side client the
// way the boot loader drives a real board.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

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

const std::vector<std::uint8_t> kCBusTable = {0xFF, 0xA2, 0x3F, 0xFE, 0xFF, 0xA8, 0xA0, 0xBC, 0xFF,
                                              0xA4, 0x00, 0x07, 0x0A, 0x08, 0x00, 0x04, 0xFF, 0xFF};

// Waits for a frame of `type`, skipping others (pings in flight).
std::optional<ombra::frame::Frame> expect(HostPort& port, std::uint8_t type,
                                          std::chrono::milliseconds limit = 2000ms) {
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
        auto f = port.readFrame(1000ms);
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
    for (int i = 0; i < 200 && board.linkBaud() != 4218750 / 36; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(board.linkBaud(), 4218750u / 36);
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
    for (int i = 0; i < 200 && board.inRom(); ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(board.inRom());

    const std::vector<std::uint8_t> text = {'h', 'e', 'l', 'l', 'o', 0xAA, 0x00};
    fastPort.write(text);
    std::vector<std::uint8_t> back;
    while (back.size() < text.size()) {
        auto b = fastPort.readByte(1000ms);
        ASSERT_TRUE(b);
        back.push_back(*b);
    }
    EXPECT_EQ(back, text);
    EXPECT_EQ(board.debugLog(), "E");

    // ESC makes the program jump to 0xFFFE:0000: the ROM pings at 19,200 again.
    const auto entries = board.stats().romEntries;
    fastPort.write({0x1B});
    for (int i = 0; i < 200 && !board.inRom(); ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(board.inRom());
    EXPECT_EQ(board.stats().romEntries, entries + 1);
    EXPECT_EQ(board.linkBaud(), 4218750u / 219);
    fastPort.close();
    HostPort again(board.portPath(), B19200);
    again.purge();
    EXPECT_TRUE(expect(again, 0x01, 1000ms));
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
    EXPECT_FALSE(expect(port, 0x15, 300ms));
    EXPECT_EQ(board.stats().framesDropped, dropped + 1);
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
    // Pings sent before the host set its rate were clean: let them go.
    std::this_thread::sleep_for(20ms);
    port.purge();
    int bad = 0;
    EXPECT_FALSE(port.readFrame(300ms, &bad));
    port.setBaud(B19200);
    port.purge();
    EXPECT_TRUE(port.readFrame(1000ms));
}

TEST(Link, RatesSetThroughTermios2AreSeen) {
    Board board(fast());
    HostPort port(board.portPath(), B115200);
    // 19,600 is no standard rate but within 5 % of the ROM's 19,263.
    ASSERT_TRUE(test::setAnyBaud(port.fd(), 19600));
    port.purge();
    EXPECT_TRUE(port.readFrame(1000ms));
    ASSERT_TRUE(test::setAnyBaud(port.fd(), 21000));
    std::this_thread::sleep_for(20ms);
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

TEST(Link, FaultsDropCorruptAndMute) {
    BoardOptions o = fast();
    o.faults.push_back(*parseFaultRule("out:corrupt:at=1"));
    o.faults.push_back(*parseFaultRule("in:drop:at=0,1,2,3,4,5"));
    Board board(o);
    HostPort port(board.portPath(), B19200);
    int bad = 0;
    ASSERT_TRUE(port.readFrame(1000ms, &bad));
    EXPECT_EQ(bad, 1);  // the first ping lost its type byte
    // The first six bytes to the board are lost: this frame never arrives.
    port.write({0xAA, 0x00, 0x00, 0x00, 0x00, 0xAA});
    std::this_thread::sleep_for(50ms);
    port.purge();
    EXPECT_TRUE(port.readFrame(1000ms));  // still pinging

    board.setMuted(true);
    std::this_thread::sleep_for(50ms);
    port.purge();
    EXPECT_FALSE(port.readByte(200ms));
    board.powerCycle();
    EXPECT_TRUE(port.readFrame(1000ms));

    EXPECT_FALSE(parseFaultRule("sideways:drop:p=0.5"));
    EXPECT_FALSE(parseFaultRule("in:drop"));
    EXPECT_FALSE(parseFaultRule("in:drop:p=2"));
    auto r = parseFaultRule("both:delay:p=0.25:ms=40");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ms, 40u);
    EXPECT_DOUBLE_EQ(r->probability, 0.25);
}

TEST(Link, DelayAndStallHoldTheStream) {
    BoardOptions o = fast();
    o.faults.push_back(*parseFaultRule("out:delay:at=0:ms=300"));
    Board board(o);
    HostPort port(board.portPath(), B19200);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(port.readFrame(2000ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 290ms);

    BoardOptions s = fast();
    s.faults.push_back(*parseFaultRule("in:stall:at=0:ms=300"));
    Board stalled(s);
    HostPort port2(stalled.portPath(), B19200);
    ASSERT_TRUE(port2.readFrame(1000ms));
    port2.write({0x00});
    std::this_thread::sleep_for(50ms);
    port2.purge();
    EXPECT_FALSE(port2.readByte(150ms));  // frozen: no pings
    EXPECT_TRUE(port2.readFrame(1000ms));
}

TEST(Soc, FlashWindowFromTheCoreAndPowerCycle) {
    BoardOptions o = fast();
    Board board(o);
    const auto prog = program("flash.bin");
    ASSERT_FALSE(prog.empty());
    const auto entries = board.stats().romEntries;
    board.loadAndStart(0x00300000, prog);
    for (int i = 0; i < 400 && board.stats().romEntries == entries; ++i)
        std::this_thread::sleep_for(5ms);
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
