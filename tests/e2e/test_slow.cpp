// Worker runs that take long: a boot ROM that never answers (the boot
// loader's own time limits).
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
