// The judgement and the tally that decide the runs' exit codes.
#include <gtest/gtest.h>

#include "reliability.h"

using namespace ombra::reliability;

TEST(Judge, ContentsDecideWhatAPassIsWorth) {
    EXPECT_EQ(judge(true, true, true), Verdict::passed);
    EXPECT_EQ(judge(true, false, true), Verdict::falseSuccess);
    // A burn without verification cannot see a corrupted stream.
    EXPECT_EQ(judge(true, false, false), Verdict::unverified);
    // A failure is clean whatever the flash holds.
    EXPECT_EQ(judge(false, false, true), Verdict::failedCleanly);
    EXPECT_EQ(judge(false, true, false), Verdict::failedCleanly);
}

TEST(Judge, OnlyFalseSuccessesAndHangsFailTheRun) {
    for (std::size_t i = 0; i < kVerdicts; ++i) {
        const auto v = static_cast<Verdict>(i);
        EXPECT_EQ(isFault(v), v == Verdict::falseSuccess || v == Verdict::hang) << verdictName(v);
    }
}

TEST(Tally, CountsPerGroupAndTotals) {
    Tally t;
    t.add("drop", Verdict::passed);
    t.add("drop", Verdict::failedCleanly);
    t.add("mute", Verdict::hang);
    t.add("mute", Verdict::stopped);
    EXPECT_EQ(t.count("drop", Verdict::passed), 1u);
    EXPECT_EQ(t.count("mute", Verdict::passed), 0u);
    EXPECT_EQ(t.count("none", Verdict::passed), 0u);
    EXPECT_EQ(t.faults(), 1u);
    const std::string table = t.table("fault");
    EXPECT_NE(table.find("drop"), std::string::npos);
    // The total row: 4 runs, 1 passed, 1 failed, 0 false, 0 unverified, 1 stopped, 1 hang.
    EXPECT_NE(table.find("total"), std::string::npos);
    const std::string total = table.substr(table.find("total"));
    EXPECT_NE(total.find(" 4       1       1              0           0        1      1"), std::string::npos)
        << table;
}

TEST(Leftovers, LockFilesAreFoundByTheirOwnersNumber) {
    // No front end with this number runs here.
    EXPECT_TRUE(lockFilesOf(0xFFFFFFF0u).empty());
    EXPECT_TRUE(workersOf(0xFFFFFFF0u).empty());
    EXPECT_FALSE(lockFolders().empty());
}
