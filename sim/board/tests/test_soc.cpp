// The SoC's registers and memory map as the core sees them.
#include <gtest/gtest.h>

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
