// Worker runs that take long: a boot ROM that never answers (the boot
// loader's own time limits), and whole-device burns around the capacity.
#include <gtest/gtest.h>

#include <cstdlib>

#include "e2e_rig.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"

using namespace ombra;
using namespace ombra::e2e;
using launcher::JobKind;

namespace {

const Programmer& burnixAmd = kProgrammers[2];
constexpr std::size_t kCapacity = 1024 * 1024;  // AM29LV800BT

Job burnJob(const std::string& port, const std::string& image) {
    Job j;
    j.kind = JobKind::burn;
    j.programmer = &burnixAmd;
    j.port = port;
    j.path = image;
    return j;
}

struct Slow : ::testing::Test {
    HANDLE cancel = CreateEvent(TRUE, FALSE);
    ~Slow() override {
        CloseHandle(cancel);
        ::setenv("OMBRA_MESSAGEBOX", "no", 1);
    }
};

}  // namespace

TEST_F(Slow, SilentBootRom) {
    Registry registry;
    sim::Board board(fastBoard("AM29LV800BT"));
    board.setMuted(true);
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(256));
    const Outcome run = runJob(burnJob(board.portPath(), image), cancel);
    const auto texts = run.texts();
    ASSERT_GE(texts.size(), 2u) << ::testing::PrintToString(texts);
    // The boot loader's error as it is, then the worker's step.
    EXPECT_EQ(texts[texts.size() - 2], "SelkanBoot: ERROR 7 : Timeout expired");
    EXPECT_EQ(texts.back(), "Tordel: ERROR 1(l241) - failed to upload programmer code");
    EXPECT_EQ(run.completions(), std::vector<DWORD>{pipe::E_STATUS_FAILURE});
}

TEST_F(Slow, ImageAroundTheCapacity) {
    Registry registry;
    sim::Board board(fastBoard("AM29LV800BT"));
    // Exactly the capacity: burned whole without a question (a question
    // would be answered No).
    const Bytes exact = pattern(kCapacity, 3);
    const std::string exactPath = registry.file("exact.bin");
    writeBytes(exactPath, exact);
    ::setenv("OMBRA_MESSAGEBOX", "no", 1);
    const Outcome whole = runJob(burnJob(board.portPath(), exactPath), cancel);
    EXPECT_EQ(whole.completions(), std::vector<DWORD>{pipe::E_STATUS_SUCCESS}) << ::testing::PrintToString(whole.texts());
    EXPECT_EQ(board.flash(), exact);

    // One byte more, answered Yes: exactly the capacity is burned.
    Bytes larger = pattern(kCapacity + 1, 4);
    const std::string largerPath = registry.file("larger.bin");
    writeBytes(largerPath, larger);
    ::setenv("OMBRA_MESSAGEBOX", "yes", 1);
    const Outcome cut = runJob(burnJob(board.portPath(), largerPath), cancel);
    EXPECT_EQ(cut.completions(), std::vector<DWORD>{pipe::E_STATUS_SUCCESS}) << ::testing::PrintToString(cut.texts());
    larger.pop_back();
    EXPECT_EQ(board.flash(), larger);
}
