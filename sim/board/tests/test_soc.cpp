// The SoC's registers and memory map as the core sees them.
#include <gtest/gtest.h>

#include "../src/boot_rom.h"
#include "../src/soc.h"

using namespace ombra::sim;

TEST(SocPorts, UartRegistersIdentityAndPlainState) {
    Soc soc(*findFlashPart("SST39LF/VF160"), 0x49, 100);
    EXPECT_EQ(soc.in16(ports::identity) >> 8, 0x49);
    EXPECT_EQ(soc.in8(ports::identity + 1), 0x49);
    EXPECT_EQ(soc.linkBaud(), 3437500u / 179);

    // Status: nothing received, room to send.
    EXPECT_EQ(soc.in8(ports::linkStatus), ports::txReady);
    soc.link().rx = {0x41, 0x42};
    EXPECT_EQ(soc.in16(ports::linkStatus) & ports::rxReady, ports::rxReady);
    EXPECT_EQ(soc.in8(ports::linkRx + 1), 0);  // the high half takes nothing
    EXPECT_EQ(soc.in16(ports::linkRx), 0x41);
    EXPECT_EQ(soc.in8(ports::linkRx), 0x42);
    EXPECT_EQ(soc.in8(ports::linkRx), 0x42);  // empty: the last byte stays
    for (int i = 0; i < 20; ++i)
        soc.out16(ports::linkTx, static_cast<std::uint16_t>(0x100 + i));
    EXPECT_EQ(soc.link().tx.size(), LinkUart::txCapacity);
    EXPECT_EQ(soc.link().tx.front(), 0x00);
    EXPECT_EQ(soc.in8(ports::linkStatus) & ports::txReady, 0);

    // A divisor written byte by byte, as by two OUTs of AL.
    soc.out8(ports::linkDivisor, 30);
    soc.out8(ports::linkDivisor + 1, 0);
    EXPECT_EQ(soc.linkBaud(), 3437500u / 30);

    soc.out16(0x01DC, 0x0040);
    soc.out16(0xFF28, 0xFFFF);
    EXPECT_EQ(soc.ioRegister(0x01DC), 0x0040);
    EXPECT_EQ(soc.ioRegister(0xFF28), 0xFFFF);

    soc.out8(ports::debugTx, 'x');
    soc.out8(ports::debugTx + 1, 'y');  // not the transmit byte
    EXPECT_EQ(soc.debugLog(), "x");

    soc.cbusWrite(0xFFA2, 0x1234);
    soc.cbusWrite(0xFFA2, 0x5678);
    ASSERT_EQ(soc.cbusWrites().size(), 1u);
    EXPECT_EQ(soc.ioRegister(0xFFA2), 0x5678);
}

TEST(SocMemory, MapAndFlashWordCycles) {
    Soc soc(*findFlashPart("SST39LF/VF200A"), 0x64, 100);
    EXPECT_EQ(soc.read8(memmap::romPage), 0xF4);
    EXPECT_EQ(soc.read8(0x900000), 0xFF);
    soc.write8(0x900000, 0x12);  // nothing decoded there

    // The window mirrors the 256 KiB part.
    soc.flash().cells()[0x10] = 0x5A;
    EXPECT_EQ(soc.read8(memmap::flashBase + 0x10), 0x5A);
    EXPECT_EQ(soc.read8(memmap::flashBase + 0x40010), 0x5A);

    // Identify through byte cycles: each word pair forms one chip cycle.
    auto word = [&](std::uint32_t a, std::uint16_t v) {
        soc.write8(memmap::flashBase + a, static_cast<std::uint8_t>(v));
        soc.write8(memmap::flashBase + a + 1, static_cast<std::uint8_t>(v >> 8));
    };
    word(0xAAAA, 0xAAAA);
    word(0x5554, 0x5555);
    word(0xAAAA, 0x9090);
    EXPECT_EQ(soc.read8(memmap::flashBase + 2), 0x89);
    EXPECT_EQ(soc.read8(memmap::flashBase + 3), 0x27);

    // A lone byte store still reaches the chip (its command byte decodes).
    soc.write8(memmap::flashBase + 0, 0xF0);
    soc.in16(ports::linkStatus);
    EXPECT_EQ(soc.read8(memmap::flashBase + 0x10), 0x5A);
}

namespace {

// Starts an SST word program, then polls its toggle bit (and, with
// `pollLink`, the idle link UART) while the chip works, in a loop shaped by
// `body` (bytes placed in every pass); halts when the chip is ready. Returns the core's instruction count and the marker.
struct LoopRun {
    std::uint64_t instructions = 0, skipped = 0, busyEnd = 0;
    std::uint16_t marker = 0, cx = 0;
    bool halted = false;
};

// `body` gets its own offset in the code, for jumps out of the loop.
LoopRun runPollingLoop(const std::vector<std::uint8_t>& body, bool skipping, std::uint64_t budget = 100000000,
                       bool pollLink = true) {
    Soc soc(*findFlashPart("SST39LF/VF160"), 0x49, 100);
    soc.flash().setTimeScale(200);  // a long busy time: many passes
    soc.setIdleSkipping(skipping);
    std::vector<std::uint8_t> code = {
        0xB8, 0x00, 0x40, 0x8E, 0xC0,                    // mov ax, 0x4000 / mov es, ax: the flash
        0xB9, 0x00, 0x80,                                // mov cx, 0x8000
        0x26, 0xC7, 0x06, 0xAA, 0xAA, 0xAA, 0xAA,        // unlock, unlock, program 0x1234 at 0
        0x26, 0xC7, 0x06, 0x54, 0x55, 0x55, 0x55,
        0x26, 0xC7, 0x06, 0xAA, 0xAA, 0xA0, 0xA0,
        0x26, 0xC7, 0x06, 0x00, 0x00, 0x34, 0x12,
    };
    const std::size_t poll = code.size();
    std::size_t toGot = 0;
    if (pollLink) {
        code.insert(code.end(), {0xBA, 0x82, 0xFF, 0xED, 0xA8, 0x80, 0x75, 0x00});  // in status; jnz got
        toGot = code.size() - 1;
    }
    code.insert(code.end(), body.begin(), body.end());
    code.insert(code.end(), {0x26, 0xA1, 0x00, 0x00, 0x26, 0x33, 0x06, 0x00, 0x00, 0x75, 0x00});  // toggles?
    code.back() = static_cast<std::uint8_t>(poll - code.size());
    code.push_back(0xF4);  // ready
    if (pollLink)
        code[toGot] = static_cast<std::uint8_t>(code.size() - toGot - 1);
    code.push_back(0xF4);  // a byte came
    std::copy(code.begin(), code.end(), soc.ram().begin() + 0x1000);
    soc.cpu().reset(0x0010, 0);
    while (soc.cpu().instructions() < budget && !soc.cpu().halted())
        soc.cpu().run(std::min<std::uint64_t>(100000, budget - soc.cpu().instructions()));
    LoopRun r;
    r.instructions = soc.cpu().instructions();
    r.skipped = soc.cpu().skipped();
    r.marker = static_cast<std::uint16_t>(soc.ram()[0x100] | soc.ram()[0x101] << 8);
    r.cx = soc.cpu().regs().cx;
    r.halted = soc.cpu().halted();
    r.busyEnd = soc.flash().nextChange(0);
    EXPECT_EQ(soc.flash().cellWord(0), 0x1234);
    return r;
}

} // namespace

// Passes of a polling loop are counted instead of run only when they change
// nothing: the program ends at the same instruction either way.
TEST(SocIdleSkipping, SkipsOnlyLoopsThatChangeNothingAndKeepsTheTiming) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> body;
        bool skips;
    } cases[] = {
        {"pure polling", {}, true},
        {"a store of the same value", {0xC7, 0x06, 0x00, 0x01, 0x77, 0x00}, true},  // mov word [0x100], 0x77
        {"a counter in a register", {0x49}, false},                                // dec cx
        {"a counter in memory", {0xFF, 0x06, 0x00, 0x01}, false},                  // inc word [0x100]
        {"the debug UART", {0xBA, 0x14, 0xFF, 0xEE, 0xBA, 0x82, 0xFF}, false},      // out to it, dx back
    };
    for (const bool pollLink : {true, false})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (pollLink ? ", polling the link too" : ", polling the flash only"));
            const LoopRun on = runPollingLoop(c.body, true, 100000000, pollLink);
            const LoopRun off = runPollingLoop(c.body, false, 100000000, pollLink);
            EXPECT_TRUE(on.halted);
            EXPECT_TRUE(off.halted);
            EXPECT_EQ(on.instructions, off.instructions);
            EXPECT_EQ(on.marker, off.marker);
            EXPECT_EQ(on.cx, off.cx);
            EXPECT_EQ(off.skipped, 0u);
            if (c.skips)
                EXPECT_GT(on.skipped, on.instructions / 2);
            else
                EXPECT_EQ(on.skipped, 0u);
        }
}

// A loop that leaves the flash alone does not see its busy time end: it is
// skipped past it, to the end of the budget, in the state the run leaves.
TEST(SocIdleSkipping, ALoopThatLeavesTheFlashAloneIsSkippedPastItsBusyEnd) {
    // jmp back to the status poll, 8 bytes before the body (mov dx, in,
    // test, jnz), so the flash is never read again.
    const std::vector<std::uint8_t> back = {0xEB, static_cast<std::uint8_t>(-(8 + 2))};
    constexpr std::uint64_t kBudget = 3000000;  // 300 ms at 100 ns: past the busy time
    const LoopRun on = runPollingLoop(back, true, kBudget);
    const LoopRun off = runPollingLoop(back, false, kBudget);
    EXPECT_FALSE(on.halted);
    EXPECT_EQ(on.instructions, kBudget);
    EXPECT_EQ(off.instructions, kBudget);
    EXPECT_EQ(on.cx, off.cx);
    EXPECT_GT(on.skipped, kBudget * 99 / 100);
    EXPECT_LT(on.busyEnd, kBudget * 100);  // the flash had become ready on the way
}

// A ROM whose pings cannot leave (nobody reads the line) names no time to
// wake for: an overdue ping would keep the board's thread spinning.
TEST(BootRom, AnOverduePingWaitsForTheLineNotTheClock) {
    using namespace std::chrono_literals;
    constexpr auto never = std::chrono::steady_clock::time_point::max();
    Soc soc(*findFlashPart("SST39LF/VF160"), 0x64, 119);
    BootRom rom(soc, 0x6401, 100ms);
    const auto t0 = std::chrono::steady_clock::now();
    rom.enter(t0);
    EXPECT_EQ(rom.nextPing(), t0);
    EXPECT_EQ(rom.step(t0, true), BootRom::Result::busy);  // the first ping
    EXPECT_EQ(rom.nextPing(), never);                      // still to leave
    EXPECT_EQ(rom.step(t0, true), BootRom::Result::busy);  // into the UART
    EXPECT_FALSE(soc.link().tx.empty());

    // A second later it still sits in the UART: the next ping waits for the
    // line, whatever the clock says.
    const auto t1 = t0 + 1s;
    EXPECT_EQ(rom.step(t1, false), BootRom::Result::idle);
    EXPECT_EQ(rom.nextPing(), never);

    soc.link().tx.clear();  // it has left
    EXPECT_EQ(rom.nextPing(), t0 + 100ms);
    EXPECT_EQ(rom.step(t1, true), BootRom::Result::busy);
    rom.step(t1, true);
    soc.link().tx.clear();
    EXPECT_EQ(rom.nextPing(), t1 + 100ms);
}
