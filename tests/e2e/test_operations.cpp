// The four operations through real worker processes, for each of the three
// driver families of the configurable programmer and each chip-family
// programmer.
#include <gtest/gtest.h>

#include "e2e_rig.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"

using namespace ombra;
using namespace ombra::e2e;
using launcher::JobKind;
using launcher::ServiceKind;

namespace {

constexpr std::size_t kImageSize = 0x1000;

class Operations : public ::testing::TestWithParam<Programmer> {
protected:
    Registry registry;
    HANDLE cancel = CreateEvent(TRUE, FALSE);
    ~Operations() override { CloseHandle(cancel); }

    Job job(JobKind kind, const sim::Board& board, std::string path = {}) {
        Job j;
        j.kind = kind;
        j.programmer = &GetParam();
        j.port = board.portPath();
        j.path = std::move(path);
        return j;
    }
};

// The record order every operation starts with once the upload worked.
void expectStartedRemote(const Outcome& run, std::size_t from) {
    const auto texts = run.texts();
    ASSERT_GT(texts.size(), from + 1);
    auto uploaded = std::find(texts.begin() + static_cast<long>(from), texts.end(), "programmer code uploaded successfully");
    ASSERT_NE(uploaded, texts.end());
    auto running = std::find(uploaded, texts.end(), "programmer code running");
    ASSERT_NE(running, texts.end());
}

// The first differing offset, or -1: a readable failure for large spans.
long firstDifference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return static_cast<long>(std::min(a.size(), b.size()));
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return -1;
}

std::string programmerLabel(const ::testing::TestParamInfo<Programmer>& info) { return info.param.label; }

}  // namespace

TEST_P(Operations, IdentifyBurnVerifyAndDump) {
    const Programmer& p = GetParam();
    sim::Board board(fastBoard(p.part));

    // Identify: the index of the part in the programmer's table.
    const Outcome identified = runJob(job(JobKind::identify, board), cancel);
    ASSERT_EQ(identified.completions(), std::vector<DWORD>{pipe::E_STATUS_SUCCESS});
    EXPECT_EQ(identified.identified, static_cast<std::int32_t>(p.device));
    ASSERT_FALSE(identified.texts().empty());
    // The worker's name goes in front of a text that names it already.
    EXPECT_EQ(identified.texts().front().rfind("Wexom: Wexom: loading programmer \"", 0), 0u)
        << identified.texts().front();
    expectStartedRemote(identified, 1);
    EXPECT_EQ(identified.records.back().kind, ServiceKind::SERVICE_COMPLETION);
    EXPECT_EQ(identified.records.back().second, p.device);
    // Each run below starts from the ROM. The board takes the last frames of
    // a run after its worker is gone; the simulated link judges them by the
    // host's rate when it reads them, which the next run's boot loader
    // changes.
    EXPECT_TRUE(backInRom(board));

    // Burn without verification, then with it over a second image.
    const Bytes first = pattern(kImageSize, 1), second = pattern(kImageSize, 2);
    const std::string firstPath = registry.file("first.bin"), secondPath = registry.file("second.bin");
    writeBytes(firstPath, first);
    writeBytes(secondPath, second);
    const Outcome burned = runJob(job(JobKind::burn, board, firstPath), cancel);
    ASSERT_EQ(burned.completions(), std::vector<DWORD>{pipe::E_STATUS_SUCCESS}) << ::testing::PrintToString(burned.texts());
    expectStartedRemote(burned, 0);
    // Progress climbs to the whole image; the completion is the last record.
    DWORD done = 0, total = 0;
    for (const auto& r : burned.records)
        if (r.kind == ServiceKind::SERVICE_PROGRESS) {
            EXPECT_GE(r.first, done);
            done = r.first;
            total = r.second;
        }
    EXPECT_GT(burned.progressCount(), 0u);
    EXPECT_EQ(done, total);
    EXPECT_EQ(burned.records.back().kind, ServiceKind::SERVICE_COMPLETION);
    EXPECT_TRUE(backInRom(board));
    EXPECT_EQ(firstDifference(board.readFlash(0, kImageSize), first), -1);
    EXPECT_FALSE(burned.hasText("erif"));

    Job verified = job(JobKind::burn, board, secondPath);
    verified.verify = 1;
    const Outcome burnedAndVerified = runJob(verified, cancel);
    ASSERT_EQ(burnedAndVerified.completions(), std::vector<DWORD>{pipe::E_STATUS_SUCCESS})
        << ::testing::PrintToString(burnedAndVerified.texts());
    EXPECT_TRUE(burnedAndVerified.hasText("erif"));
    EXPECT_TRUE(backInRom(board));
    EXPECT_EQ(firstDifference(board.readFlash(0, kImageSize), second), -1)
        << ::testing::PrintToString(burnedAndVerified.texts());

    // Standalone verification passes, then fails once a flash word changed.
    const Outcome passed = runJob(job(JobKind::verify, board, secondPath), cancel);
    EXPECT_EQ(passed.completions(), std::vector<DWORD>{pipe::E_STATUS_SUCCESS})
        << ::testing::PrintToString(passed.texts());
    expectStartedRemote(passed, 0);
    EXPECT_TRUE(backInRom(board));
    const std::uint8_t flipped[2] = {static_cast<std::uint8_t>(second[0x800] ^ 0x5A), second[0x801]};
    board.writeFlash(0x800, flipped);
    // The programmer's own record after a comparison counts as the run's end
    // for the front end; the worker's final record carries the failure.
    const auto failed = rawRun(job(JobKind::verify, board, secondPath), cancel);
    bool reported = false;
    for (const auto& r : failed)
        if (const auto* t = std::get_if<pipe::TextMessage>(&r)) reported |= t->text.find("erification failed") != std::string::npos;
    EXPECT_TRUE(reported);
    ASSERT_FALSE(statusCodes(failed).empty());
    EXPECT_EQ(statusCodes(failed).back(), pipe::E_STATUS_FAILURE);

    // The programmer resets the board after a comparison; the next upload
    // needs its ROM.
    EXPECT_TRUE(backInRom(board));

    // Dump: the file holds the flash span.
    Job dump = job(JobKind::dump, board, registry.file("dump.bin"));
    dump.start = 0x400;
    dump.dumpLength = 0x800;
    const Outcome dumped = runJob(dump, cancel);
    ASSERT_EQ(dumped.completions(), std::vector<DWORD>{pipe::E_STATUS_SUCCESS}) << ::testing::PrintToString(dumped.texts());
    expectStartedRemote(dumped, 0);
    EXPECT_EQ(firstDifference(readBytes(dump.path), board.readFlash(0x400, 0x800)), -1);
}

TEST_P(Operations, IdentifyOfAPartOutsideTheTableGivesMinusOne) {
    const Programmer& p = GetParam();
    // Each table lacks the other makers' parts.
    const bool sstTable = std::string(p.part).rfind("SST", 0) == 0;
    sim::Board board(fastBoard(sstTable ? "AM29LV800BT" : "SST39LF/VF160"));
    const Outcome run = runJob(job(JobKind::identify, board), cancel);
    ASSERT_EQ(run.completions(), std::vector<DWORD>{pipe::E_STATUS_SUCCESS}) << ::testing::PrintToString(run.texts());
    EXPECT_EQ(run.identified, -1);
    EXPECT_EQ(run.records.back().second, 0xFFFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(Programmers, Operations, ::testing::ValuesIn(kProgrammers), programmerLabel);
