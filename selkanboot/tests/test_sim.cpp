// SelkanBoot through the component runtime against the simulated board.
#include <gtest/gtest.h>

#include "boot_client.h"
#include "ombra/platform/clock.h"
#include "ombra/sim/board.h"

namespace ombra::selkanboot::test {
namespace {

const std::string kError7 = "SelkanBoot: ERROR 7 : Timeout expired";

// mov word [cs:0x0100], 0xBEEF ; jmp $
const std::vector<std::uint8_t> kMarkerProgram = {0x2E, 0xC7, 0x06, 0x00, 0x01, 0xEF, 0xBE, 0xEB, 0xFE};
// The program lands at 0030:0000, physical 0x3000 on this chip.
constexpr std::uint32_t kMarker = 0x3000 + 0x100;

sim::BoardOptions boardOptions(std::uint8_t identity = 0x64)
{
    sim::BoardOptions o;
    o.identity = identity;
    o.paced = true;
    return o;
}

// The limit is generous: the board's thread may wait long for a core on a
// loaded machine.
bool markerSet(const sim::Board& board)
{
    for (int i = 0; i < 1000; ++i) {
        std::vector<std::uint8_t> m = board.readMemory(kMarker, 2);
        if (m.size() == 2 && m[0] == 0xEF && m[1] == 0xBE)
            return true;
        Sleep(10);
    }
    return false;
}

class SimUploadAndRun : public ::testing::TestWithParam<DWORD> {};

TEST_P(SimUploadAndRun, ProgramRunsAndTableReachesRegisters)
{
    sim::Board board(boardOptions());
    BootClient c;
    c.prepare(board.portPath(), GetParam(), kMarkerProgram);
    ASSERT_EQ(c.upload(), 1u) << (c.errors().empty() ? "" : c.errors().front());
    EXPECT_TRUE(c.done());
    std::vector<std::pair<std::uint16_t, std::uint16_t>> expected = {
        {0xFFA2, 0x3FFE}, {0xFFA8, 0xA0BC}, {0xFFA4, 0x0007}, {0x0A08, 0x0004}};
    EXPECT_EQ(board.cbusWrites(), expected);
    EXPECT_NEAR(double(board.linkBaud()), double(GetParam()), GetParam() * 0.03);

    EXPECT_EQ(c.execute(), 1u);
    EXPECT_TRUE(c.errors().empty());
    EXPECT_TRUE(markerSet(board));
}

INSTANTIATE_TEST_SUITE_P(Rates, SimUploadAndRun, ::testing::Values(115200u, 460800u));

TEST(SimUpload, FiftyFiveMegahertzPartGetsItsOwnDivisor)
{
    sim::Board board(boardOptions(0x49));
    BootClient c;
    c.prepare(board.portPath(), 115200, kMarkerProgram);
    ASSERT_EQ(c.upload(), 1u) << (c.errors().empty() ? "" : c.errors().front());
    EXPECT_TRUE(c.sawText("SelkanBoot: ROM version is 49.1"));
    EXPECT_NEAR(double(board.linkBaud()), 115200.0, 115200 * 0.05);
    EXPECT_EQ(c.execute(), 1u);
    EXPECT_TRUE(markerSet(board));
}

TEST(SimUpload, CorruptedPingsAreIgnored)
{
    sim::BoardOptions o = boardOptions();
    sim::FaultRule corrupt;
    corrupt.direction = sim::FaultRule::Direction::fromBoard;
    corrupt.kind = sim::FaultRule::Kind::corrupt;
    corrupt.offsets = {5, 17, 29, 40};
    o.faults.push_back(corrupt);
    sim::Board board(o);
    BootClient c;
    c.prepare(board.portPath(), 115200, kMarkerProgram);
    EXPECT_EQ(c.upload(), 1u);
    EXPECT_TRUE(c.errors().empty());
}

TEST(SimUpload, ABoardThatFallsBehindAtTheRateSwitchStillListensAtTheNewRate)
{
    // The board's thread gets no processor for longer than the host waits
    // before it talks at the new rate (150 ms), right after the execute of
    // the baud-rate stub (at 0000:0700): the stub still runs before the
    // board listens again. The stall comes with the frame's last byte,
    // the second of its checksum; the host's bytes before that frame vary
    // in number with the ping phase's timing.
    sim::BoardOptions o = boardOptions();
    sim::FaultRule stall;
    stall.direction = sim::FaultRule::Direction::toBoard;
    stall.kind = sim::FaultRule::Kind::stall;
    stall.after = {0xAA, 0x09, 0x00, 0x04, 0x00, 0x07, 0x00, 0x00};
    stall.offsets = {1};
    stall.ms = 400;
    o.faults.push_back(stall);
    sim::Board board(o);
    BootClient c;
    c.prepare(board.portPath(), 115200, kMarkerProgram);
    ASSERT_EQ(c.upload(), 1u) << (c.errors().empty() ? "" : c.errors().front());
    EXPECT_EQ(c.execute(), 1u);
    EXPECT_TRUE(markerSet(board));
}

TEST(SimUpload, LargestImageFitsAt460800ButNotAt115200)
{
    std::vector<std::uint8_t> image = testImage(65531);
    {
        sim::Board board(boardOptions());
        BootClient c;
        c.prepare(board.portPath(), 460800, image);
        ASSERT_EQ(c.upload(), 1u) << (c.errors().empty() ? "" : c.errors().front());
        EXPECT_EQ(board.readMemory(0x3000, 65531), image);
    }
    {
        // 5.7 s on the wire is past the 5 s the load may take.
        sim::Board board(boardOptions());
        BootClient c;
        c.prepare(board.portPath(), 115200, image);
        EXPECT_EQ(c.upload(), 0u);
        EXPECT_EQ(c.errors(), std::vector<std::string>{kError7});
    }
}

TEST(SimCancel, DuringUpload)
{
    sim::Board board(boardOptions());
    BootClient c;
    c.prepare(board.portPath(), 115200, testImage(30000));
    c.cancelOn("SelkanBoot: uploading");
    EXPECT_EQ(c.upload(), 0u);
    EXPECT_TRUE(c.errors().empty());
    EXPECT_TRUE(c.sawText("SelkanBoot: cancelling operation..."));
}

}  // namespace
}  // namespace ombra::selkanboot::test
