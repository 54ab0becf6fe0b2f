// Each command set driven by the sequences the target programs use, plus the
// misuse a chip must survive.
#include <gtest/gtest.h>

#include "ombra/sim/flash.h"

using namespace ombra::sim;

namespace {

struct Driver {
    explicit Driver(const char* model) : chip(FlashChip::create(*findFlashPart(model))) {}
    std::unique_ptr<FlashChip> chip;
    std::uint64_t now = 0;
    void w(std::uint32_t addr, std::uint16_t v) { chip->write(addr, v, now); now += 100; }
    std::uint16_t r(std::uint32_t addr) { now += 100; return chip->read(addr, now); }

    // Families with the two-write unlock prefix.
    std::uint32_t u1 = 0xAAAA, u2 = 0x5554;
    void unlock() { w(u1, 0xAAAA); w(u2, 0x5555); }
    void cmd(std::uint16_t c) { unlock(); w(u1, c); }

    // Ready test: two consecutive reads agree (in `mask`); returns reads spent.
    int waitToggle(std::uint32_t a, std::uint16_t mask) {
        for (int n = 1; n < 10000000; ++n) {
            std::uint16_t x = r(a), y = r(a);
            if ((x & mask) == (y & mask))
                return n;
            now += 10000;
        }
        return -1;
    }
    int waitIntel(std::uint32_t a) {
        for (int n = 1; n < 10000000; ++n) {
            w(0, 0x7070);
            if (r(a) & 0x80) {
                w(0, 0xFFFF);
                return n;
            }
            now += 1000;
        }
        return -1;
    }
};

void jedecCycle(Driver& d, std::uint16_t maker, std::uint16_t model, std::uint16_t mask) {
    d.cmd(0x9090);
    EXPECT_EQ(d.r(0), maker);
    EXPECT_EQ(d.r(2), model);
    d.cmd(0xF0F0);
    EXPECT_EQ(d.r(0), 0xFFFF);

    // Program without erase only clears bits.
    d.cmd(0xA0A0);
    d.w(0x1234, 0x0F0F);
    EXPECT_GT(d.waitToggle(0x1234, mask), 1);  // busy for a while, then ready
    EXPECT_EQ(d.r(0x1234), 0x0F0F);

    // Chip erase, then the end-of-erase test at word 0.
    d.cmd(0x8080);
    d.cmd(0x1010);
    EXPECT_NE(d.r(0), d.r(0));
    EXPECT_GT(d.waitToggle(0, mask), 1);
    EXPECT_EQ(d.r(0x1234), 0xFFFF);
    EXPECT_EQ(d.chip->cells().front(), 0xFF);
}

} // namespace

TEST(FlashParts, TablesAreConsistent) {
    EXPECT_EQ(flashParts().size(), 7u + 8u + 28u);
    for (const auto& p : flashParts()) {
        std::uint64_t sum = 0;
        for (const auto& r : p.regions)
            sum += std::uint64_t(r.size) * r.count;
        EXPECT_EQ(sum, p.capacity) << p.model;
        EXPECT_EQ(findFlashPart(p.makerCode, p.modelCode), &p) << p.model;
    }
    EXPECT_STREQ(findFlashPart(0x04, 0x22DA)->model, "MBM29LV800TA");
    EXPECT_STREQ(findFlashPart(0xAD, 0x22DA)->model, "HY29LV800T");
    EXPECT_EQ(findFlashPart("sst39lf/vf160")->modelCode, 0x2782);
    EXPECT_EQ(findFlashPart("nonesuch"), nullptr);
    const FlashPart& top = *findFlashPart("AM29LV800BT");
    EXPECT_EQ(blockAt(top, 0xF0000).start, 0xF0000u);
    EXPECT_EQ(blockAt(top, 0xF9000).size, 8192u);
    EXPECT_EQ(blockAt(top, 0xFFFFF).start, 0xFC000u);
}

TEST(FlashSst, CommandTableSequences) {
    Driver d("SST39LF/VF160");
    jedecCycle(d, 0xBF, 0x2782, 0xFFFF);
    // Data polling: DQ7 shows the complement of the programmed bit while busy.
    d.cmd(0xA0A0);
    d.w(0x10, 0x0000);
    EXPECT_EQ(d.r(0x10) & 0x80, 0x80);
    d.waitToggle(0x10, 0xFFFF);
    EXPECT_EQ(d.r(0x10), 0x0000);
}

TEST(FlashSst, BrokenSequenceDoesNothing) {
    Driver d("SST39LF/VF400A");
    d.w(0xAAAA, 0xAAAA);
    d.w(0x5556, 0x5555);  // wrong unlock address
    d.w(0xAAAA, 0xA0A0);
    d.w(0x100, 0x0000);
    EXPECT_EQ(d.r(0x100), 0xFFFF);
    // The identify command does not change the array; reads beyond it mirror.
    EXPECT_EQ(d.r(0x80000 + 0x100), 0xFFFF);
}

TEST(FlashAmd, CommandTableSequencesAndSectorErase) {
    Driver d("AM29LV800BB");
    d.u1 = 0x0AAA;
    d.u2 = 0x0554;
    jedecCycle(d, 0x01, 0x225B, 0x4040);

    // Sector erase touches only its sector (bottom boot: 16K at 0, 8K at 0x4000).
    d.cmd(0xA0A0);
    d.w(0x4000, 0x1111);
    d.waitToggle(0x4000, 0x4040);
    d.cmd(0xA0A0);
    d.w(0x0000, 0x2222);
    d.waitToggle(0, 0x4040);
    d.cmd(0x8080);
    d.unlock();
    d.w(0x4000, 0x3030);
    d.waitToggle(0x4000, 0x4040);
    EXPECT_EQ(d.r(0x4000), 0xFFFF);
    EXPECT_EQ(d.r(0x0000), 0x2222);
}

TEST(FlashAmd, ProgrammingAOneOverAZeroRaisesDq5UntilReset) {
    Driver d("MX29LV800BT");
    d.u1 = 0x0AAA;
    d.u2 = 0x0554;
    d.cmd(0xA0A0);
    d.w(0x20, 0x00FF);
    d.waitToggle(0x20, 0x4040);
    d.cmd(0xA0A0);
    d.w(0x20, 0xFF00);
    d.now += 1000000000;
    EXPECT_EQ(d.r(0x20) & 0x20, 0x20);
    EXPECT_NE(d.r(0x20) & 0x40, d.r(0x20) & 0x40);  // still toggling
    d.w(0, 0xF0F0);
    EXPECT_EQ(d.r(0x20), 0x0000);
}

TEST(FlashIntel, CommandTableSequences) {
    Driver d("28F160B3B");
    d.w(0, 0x9090);
    EXPECT_EQ(d.r(0), 0x89);
    EXPECT_EQ(d.r(2), 0x8891);
    d.w(0, 0xFFFF);
    EXPECT_EQ(d.r(0), 0xFFFF);

    d.w(0, 0x1010);
    d.w(0x6000, 0x1234);
    EXPECT_GT(d.waitIntel(0x6000), 1);
    EXPECT_EQ(d.r(0x6000), 0x1234);
    d.w(0, 0x4040);  // the other program command
    d.w(0x6000, 0xFF00);
    d.waitIntel(0x6000);
    EXPECT_EQ(d.r(0x6000), 0x1200);  // only clears bits

    // Block erase at B (8K parameter block 3), exactly as the burn program does.
    const std::uint32_t b = 0x6000;
    d.w(0, 0x5050);
    d.w(0, 0x6060);
    d.w(b, 0xD0D0);
    d.w(0, 0x2020);
    d.w(b, 0xD0D0);
    EXPECT_GT(d.waitIntel(b), 1);
    EXPECT_EQ(d.r(0x6000), 0xFFFF);
    d.w(0, 0x7070);
    EXPECT_EQ(d.r(b) & 0x3A, 0);
}

TEST(FlashIntel, WrongConfirmAndLockedBlocks) {
    Driver d("28F800C3B");
    d.chip->cells()[0x4000] = 0x00;
    d.w(0, 0x2020);
    d.w(0x4000, 0xFFFF);  // wrong confirm
    EXPECT_EQ(d.r(0) & 0x30, 0x30);
    EXPECT_EQ(d.chip->cells()[0x4000], 0x00);
    d.w(0, 0x5050);
    EXPECT_EQ(d.r(0), 0x80);

    // C3 parts come up locked: erase and program refuse with SR1.
    EXPECT_TRUE(d.chip->locked(0x4000));
    d.w(0, 0x2020);
    d.w(0x4000, 0xD0D0);
    EXPECT_EQ(d.r(0) & 0x22, 0x22);
    d.w(0, 0x5050);
    d.w(0, 0x4040);
    d.w(0x4002, 0x0000);
    EXPECT_EQ(d.r(0) & 0x12, 0x12);
    EXPECT_EQ(d.chip->cellWord(0x4002), 0xFFFF);

    // Unlocked, the same erase works; a power cycle locks again.
    d.w(0, 0x5050);
    d.w(0, 0x6060);
    d.w(0x4000, 0xD0D0);
    EXPECT_FALSE(d.chip->locked(0x4000));
    EXPECT_TRUE(d.chip->locked(0x2000));
    d.w(0, 0x2020);
    d.w(0x4000, 0xD0D0);
    d.waitIntel(0x4000);
    EXPECT_EQ(d.chip->cells()[0x4000], 0xFF);
    d.chip->powerUp();
    EXPECT_TRUE(d.chip->locked(0x4000));
}

TEST(FlashTiming, ScaleZeroIsInstantAndBusyFollowsTypicalTimes) {
    Driver d("AM29LV160DT");
    d.u1 = 0x0AAA;
    d.u2 = 0x0554;
    d.cmd(0x8080);
    d.cmd(0x1010);
    EXPECT_TRUE(d.chip->busy(d.now + 24'000'000'000ull));
    EXPECT_FALSE(d.chip->busy(d.now + 26'000'000'000ull));
    Driver fast("AM29LV160DT");
    fast.u1 = 0x0AAA;
    fast.u2 = 0x0554;
    fast.chip->setTimeScale(0);
    fast.cmd(0x8080);
    fast.cmd(0x1010);
    EXPECT_FALSE(fast.chip->busy(fast.now));
    EXPECT_EQ(fast.waitToggle(0, 0x4040), 1);
}
