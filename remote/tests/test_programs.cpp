// The remote programs on the simulated board, driven through its
// pseudo-terminal as the programmer components drive them.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "remote_fixture.h"

namespace ombra::remote::test {
namespace {

const PartCase kParts[] = {
    {"SST39LF/VF800A", Family::sst}, {"SST39LF/VF200A", Family::sst},
    {"28F800C3B", Family::intel},    {"28F160B3T", Family::intel},
    {"AM29LV800BB", Family::amd},    {"MBM29LV160T", Family::amd},
};
const PartCase kOnePerFamily[] = {
    {"SST39LF/VF160", Family::sst}, {"28F800C3T", Family::intel}, {"AM29LV800BT", Family::amd}};

std::string caseName(const ::testing::TestParamInfo<PartCase>& info) {
    std::string name = info.param.model;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
}

class PerPart : public ::testing::TestWithParam<PartCase> {};
class PerFamily : public ::testing::TestWithParam<PartCase> {};

TEST_P(PerPart, PingsUntilTheHostSpeaksThenIdentifiesAndReturnsToTheRom) {
    RemoteBoard b(GetParam());
    ASSERT_TRUE(b.start(builtinImage(b.family(), Program::identify)));
    // a silent host keeps getting pings; fillers do not stop them
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(b.expect(kPing));
    const std::uint8_t fillers[] = {'0', '0', '0', '0', 0, 0};
    b.link().send(fillers);
    b.link().discardInput();
    ASSERT_TRUE(b.expect(kPing));
    ASSERT_FALSE(b.board().inRom());

    b.link().sendFrame(kIdentify);
    frame::Frame f;
    ASSERT_TRUE(b.expect(kIdentifyRes, &f));
    ASSERT_EQ(f.payload.size(), 4u);
    EXPECT_EQ(f.payload[0] << 8 | f.payload[1], b.board().flashPart().makerCode);
    EXPECT_EQ(f.payload[2] << 8 | f.payload[3], b.board().flashPart().modelCode);
    EXPECT_TRUE(b.inRomWithin(5s));
}

// Erase, a PROGRAM stream in several chunks, VERIFY sums, then the flash
// itself; odd length at 0 from the built-in build, even length above 64 KiB
// from the driver-file build (which answers the stream with DONE).
TEST_P(PerPart, BurnsAndVerifiesRandomImages) {
    struct Run {
        bool driverBuild;
        std::uint32_t address;
        std::size_t size;
    };
    for (const Run run : {Run{false, 0, 3 * 4096 + 1001}, Run{true, 0x10000, 2 * 4096 + 2050}}) {
        SCOPED_TRACE(run.driverBuild ? "driver-file build" : "built-in build");
        RemoteBoard b(GetParam());
        // leftovers that only an erase removes, at both ends of the chip
        const std::uint32_t capacity = b.board().flashPart().capacity;
        b.board().writeFlash(0, randomBytes(0x20000, 7));
        b.board().writeFlash(capacity - 0x10000, randomBytes(0x10000, 8));
        const auto image = run.driverBuild ? driverProgram(b.family(), "RemoteBurn.bin")
                                           : std::vector<std::uint8_t>(
                                                 builtinImage(b.family(), Program::burn).begin(),
                                                 builtinImage(b.family(), Program::burn).end());
        ASSERT_TRUE(b.start(image));
        const bool wholeChip = b.family() != Family::intel || run.driverBuild;
        ASSERT_TRUE(b.erase(wholeChip, run.address + static_cast<std::uint32_t>(run.size)));

        const auto data = randomBytes(run.size, static_cast<std::uint32_t>(run.size));
        ASSERT_TRUE(b.programInSteps(run.address, data));
        if (run.driverBuild) {
            ASSERT_TRUE(b.expect(kDone, nullptr, 60s));
        }
        for (std::size_t done = 0; done < data.size(); done += 4096) {
            const auto n = std::min<std::size_t>(4096, data.size() - done);
            const auto sum = b.verifySum(run.address + static_cast<std::uint32_t>(done),
                                         static_cast<std::uint16_t>(n));
            ASSERT_TRUE(sum.has_value());
            EXPECT_EQ(*sum, byteSum(std::span(data).subspan(done, n))) << "chunk at " << done;
        }
        if (run.address == 0x10000) {
            // a range across the 64 KiB window: eight erased bytes below, nine of the image
            const auto sum = b.verifySum(0xFFF8, 17);
            ASSERT_TRUE(sum.has_value());
            EXPECT_EQ(*sum, (8 * 0xFF + byteSum(std::span(data).first(9))) & 0xFFFF);
        }
        const auto flash = b.board().readFlash(run.address, static_cast<std::uint32_t>(run.size + 2));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
        EXPECT_EQ(flash[run.size], 0xFF) << "byte after the image";
        if (wholeChip) {
            const auto erased = [](const std::vector<std::uint8_t>& v) {
                return std::all_of(v.begin(), v.end(), [](auto x) { return x == 0xFF; });
            };
            EXPECT_TRUE(erased(b.board().readFlash(0, run.address))) << "below the image";
            EXPECT_TRUE(erased(b.board().readFlash(capacity - 0x10000, 0x10000))) << "chip top";
        }
        // IDENTIFY answers from the burn program too, and leaves it
        b.link().sendFrame(kIdentify);
        ASSERT_TRUE(b.expect(kIdentifyRes));
        EXPECT_TRUE(b.inRomWithin(5s));
    }
}

TEST_P(PerFamily, RefusesBadFramesAndAnswersUnknownTypes) {
    RemoteBoard b(GetParam());
    ASSERT_TRUE(b.start(builtinImage(b.family(), Program::verify)));
    b.board().writeFlash(0, std::vector<std::uint8_t>{1, 2, 3, 4});

    // a wrong sum: refused, not carried out (IDENTIFY would leave the program)
    auto bad = frame::encode(kIdentify, {});
    bad.back() ^= 1;
    b.link().send(bad);
    ASSERT_TRUE(b.expect(kBufferOverflow));
    // longer than the payload buffer: refused, never stored past it
    b.link().sendFrame(kVerify, std::vector<std::uint8_t>(60, 0xEE));
    ASSERT_TRUE(b.expect(kBufferOverflow));
    const auto data = b.board().readMemory(kDataPhys + kDataStart, kDataEnd - kDataStart);
    EXPECT_EQ(std::count(data.begin(), data.end(), 0xEE), 50);
    // too short for its command
    b.link().sendFrame(kVerify, be16(4));
    ASSERT_TRUE(b.expect(kBufferOverflow));
    // unknown type
    b.link().sendFrame(0x42);
    ASSERT_TRUE(b.expect(kDone));
    EXPECT_FALSE(b.board().inRom());
    EXPECT_NE(b.board().debugLog().find("checksum error"), std::string::npos);
    EXPECT_NE(b.board().debugLog().find("Undefined command: 00000042"), std::string::npos);

    // still serving: odd counts sum only the bytes asked for
    EXPECT_EQ(b.verifySum(0, 3), 6);
    EXPECT_EQ(b.verifySum(0, 4), 10);
    b.link().sendFrame(kReset);
    EXPECT_TRUE(b.inRomWithin(5s));
}

::testing::AssertionResult divisorBecomes(RemoteBoard& b, std::uint16_t divisor) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (b.board().ioRegister(0xFF88) != divisor) {
        if (std::chrono::steady_clock::now() > deadline)
            return ::testing::AssertionFailure() << "divisor " << b.board().ioRegister(0xFF88);
        std::this_thread::sleep_for(5ms);
    }
    return ::testing::AssertionSuccess();
}

TEST_P(PerFamily, SetBaudRateSwitchesToTheListedDivisorOrTheDefault) {
    RemoteBoard b(GetParam(), {.identity = 0x49});
    ASSERT_TRUE(b.start(builtinImage(b.family(), Program::verify)));
    b.link().sendFrame(kSetBaudRate, be32(57600));
    ASSERT_TRUE(b.expect(kSetBaudRateRes));
    EXPECT_TRUE(divisorBecomes(b, 60));
    b.link().setBaud(57600);
    b.board().writeFlash(0, std::vector<std::uint8_t>{9, 9});
    EXPECT_EQ(b.verifySum(0, 2), 18);

    b.link().sendFrame(kSetBaudRate, be32(12345));
    ASSERT_TRUE(b.expect(kSetBaudRateRes));
    EXPECT_TRUE(divisorBecomes(b, 28));
    EXPECT_NE(b.board().debugLog().find("Setting BAUD_DIV = 0000001C"), std::string::npos);
}

// A stream faster than the flash: the driver-file build drops what does not
// fit, programs an unbroken prefix, and says BUFFER_OVERFLOW at the end.
// Parts whose blocks are unlocked at power-up: the slow flash makes any
// erase take minutes, so the stream goes into the fresh, erased chip.
const PartCase kUnlockedParts[] = {
    {"SST39LF/VF160", Family::sst}, {"28F160B3T", Family::intel}, {"AM29LV800BT", Family::amd}};
class Overrun : public ::testing::TestWithParam<PartCase> {};

TEST_P(Overrun, StreamFasterThanTheFlashEndsInBufferOverflowWithinTheBuffer) {
    RemoteBoard b(GetParam(), {.flashTimeScale = 200});
    const auto image = driverProgram(b.family(), "RemoteBurn.bin");
    const std::uint32_t ringEnd = loadPhys(b.family()) + static_cast<std::uint32_t>(image.size()) +
                                  static_cast<std::uint32_t>(kRingSize);
    const std::vector<std::uint8_t> canary(1024, 0x5A);
    b.board().writeMemory(ringEnd, canary);
    ASSERT_TRUE(b.start(image));

    const auto data = randomBytes(3 * kRingSize, 11);
    b.program(0, data);
    ASSERT_TRUE(b.expect(kBufferOverflow, nullptr, 120s));
    EXPECT_EQ(b.board().readMemory(ringEnd, 1024), canary);
    const auto flash = b.board().readFlash(0, static_cast<std::uint32_t>(data.size()));
    // the programmed part is a prefix of the stream, the rest still erased
    std::size_t prefix = 0;
    while (prefix < data.size() && flash[prefix] == data[prefix]) ++prefix;
    prefix &= ~std::size_t{1};
    EXPECT_GE(prefix, kRingSize);
    EXPECT_LT(prefix, data.size());
    EXPECT_TRUE(std::all_of(flash.begin() + static_cast<std::ptrdiff_t>(prefix) + 2, flash.end(),
                            [](auto v) { return v == 0xFF; }));
}

INSTANTIATE_TEST_SUITE_P(Parts, PerPart, ::testing::ValuesIn(kParts), caseName);
INSTANTIATE_TEST_SUITE_P(Families, PerFamily, ::testing::ValuesIn(kOnePerFamily), caseName);
INSTANTIATE_TEST_SUITE_P(Families, Overrun, ::testing::ValuesIn(kUnlockedParts), caseName);

}  // namespace
}  // namespace ombra::remote::test
