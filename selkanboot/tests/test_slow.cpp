// The 25-second cases: a board that never answers.
#include <gtest/gtest.h>

#include "boot_client.h"
#include "fake_rom.h"
#include "ombra/sim/board.h"

namespace ombra::selkanboot::test {
namespace {

const std::string kError7 = "SelkanBoot: ERROR 7 : Timeout expired";

TEST(SlowSimBoard, NeverPingsEndsInTimeout)
{
    sim::BoardOptions o;
    sim::Board board(o);
    board.setMuted(true);
    BootClient c;
    c.prepare(board.portPath(), 115200, testImage(64));
    EXPECT_EQ(c.upload(60000), 0u);
    EXPECT_EQ(c.errors(), std::vector<std::string>{kError7});
}

TEST(SlowFakeRom, SilentBoardGetsNulsThenTimeout)
{
    FakeRomScript script;
    script.silent = true;
    FakeRom rom(script);
    BootClient c;
    c.prepare(rom.path(), 115200, testImage(64));
    EXPECT_EQ(c.upload(60000), 0u);
    EXPECT_EQ(c.errors(), std::vector<std::string>{kError7});
    // One NUL per empty 20 ms read plus its 10 ms wait: about 800 in 25 s.
    EXPECT_GT(rom.seen().nulsWhileSilent, 400);
    EXPECT_LT(rom.seen().nulsWhileSilent, 1300);
}

TEST(SlowFakeRom, ThreeVersionTimeoutsGiveFourErrors)
{
    FakeRomScript script;
    script.versionDeafMs = 60000;
    FakeRom rom(script);
    BootClient c;
    c.prepare(rom.path(), 115200, testImage(64));
    EXPECT_EQ(c.upload(60000), 0u);
    EXPECT_EQ(c.errors(), std::vector<std::string>(4, kError7));
    EXPECT_TRUE(rom.seen().cbusTable.empty());
}

}  // namespace
}  // namespace ombra::selkanboot::test
