// The workers' upload of the remote code against a stand-in boot loader:
// each way its threads can end, the step numbers of both programmer
// generations, a thread that ignores the cancel and one that ends on it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "e2e_rig.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"

using namespace ombra;
using namespace ombra::e2e;
using launcher::JobKind;

namespace {

struct Upload : ::testing::Test {
    Registry registry{{"Burnix.so", "Cobalt.so"}};
    HANDLE cancel = CreateEvent(TRUE, FALSE);
    std::chrono::steady_clock::time_point cancelledAt{};

    Upload() {
        const std::string command = "\"" + runDir() + "/regsvr\" /s \"" OMBRA_FAKE_BOOT_PATH "\"";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("regsvr failed");
    }
    ~Upload() override {
        CloseHandle(cancel);
        ::unsetenv("OMBRA_FAKE_BOOT");
    }

    // Texts and status codes of an identify whose port leads nowhere; the
    // cancel event is set when a text starts with `cancelOn`.
    std::pair<std::vector<std::string>, std::vector<DWORD>> identify(const char* script, const Programmer& p,
                                                                     const std::string& cancelOn = {}) {
        ::setenv("OMBRA_FAKE_BOOT", script, 1);
        Job j;
        j.kind = JobKind::identify;
        j.programmer = &p;
        j.port = registry.file("no-such-port");
        const auto records = rawRun(j, cancel, [&](const pipe::Record& r) {
            const auto* t = std::get_if<pipe::TextMessage>(&r);
            if (t != nullptr && !cancelOn.empty() && t->text.rfind(cancelOn, 0) == 0) {
                cancelledAt = std::chrono::steady_clock::now();
                SetEvent(cancel);
            }
        });
        std::vector<std::string> texts;
        for (const auto& r : records)
            if (const auto* t = std::get_if<pipe::TextMessage>(&r)) texts.push_back(t->text);
        return {texts, statusCodes(records)};
    }
};

const std::vector<DWORD> kTwoFailures{pipe::E_STATUS_FAILURE, pipe::E_STATUS_FAILURE};

}  // namespace

TEST_F(Upload, EachEndOfTheBootThreads) {
    const std::string loading = "Wexom: Wexom: loading programmer \"SST\"";
    const struct {
        const char* script;
        std::vector<std::string> texts;
    } cases[] = {
        // A thread that ends without a word failed.
        {"none,done", {loading, "Wexom: ERROR 1(l241) - failed to upload programmer code"}},
        // The boot loader's own text goes out as it is.
        {"error,done", {loading, "fake boot: upload broke", "Wexom: ERROR 1(l241) - failed to upload programmer code"}},
        {"refuse,done", {loading, "Wexom: ERROR 1(l314) - failed to upload programmer code"}},
        {"done,refuse",
         {loading, "fake boot: upload step", "programmer code uploaded successfully",
          "Wexom: ERROR 3(l304) - programmer exec failed"}},
        {"done,error",
         {loading, "fake boot: upload step", "programmer code uploaded successfully", "fake boot: execute broke",
          "Wexom: ERROR 2(l278) - failed to execute programmer code"}},
    };
    for (const auto& c : cases) {
        const auto [texts, statuses] = identify(c.script, kProgrammers[0]);
        EXPECT_EQ(texts, c.texts) << c.script;
        EXPECT_EQ(statuses, kTwoFailures) << c.script;
    }
}

TEST_F(Upload, SuccessOfTheUploadStandsForASilentExecute) {
    const auto [texts, statuses] = identify("done,none", kProgrammers[0]);
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(texts[3], "programmer code running");
    // The programmer then finds no port: the run fails after the upload.
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), pipe::E_STATUS_FAILURE);
}

TEST_F(Upload, ChipFamilyProgrammersUseTheEarlierStepNumbers) {
    const struct {
        const char* script;
        const char* last;
    } cases[] = {
        {"none,done", "Wexom: ERROR 1(l232) - failed to upload programmer code"},
        {"refuse,done", "Wexom: ERROR 1(l305) - failed to upload programmer code"},
        {"done,refuse", "Wexom: ERROR 3(l295) - programmer exec failed"},
        {"done,error", "Wexom: ERROR 2(l269) - failed to execute programmer code"},
    };
    for (const auto& c : cases) {
        const auto [texts, statuses] = identify(c.script, kProgrammers[3]);
        ASSERT_GE(texts.size(), 2u) << c.script;
        // The component names itself; the block's name is not used.
        EXPECT_EQ(texts.front().rfind("Wexom: Wexom: loading programmer \"", 0), 0u) << texts.front();
        EXPECT_EQ(texts.back(), c.last);
        EXPECT_EQ(statuses, kTwoFailures) << c.script;
    }
}

TEST_F(Upload, ThreadThatIgnoresTheCancelIsLeftBehind) {
    const auto [texts, statuses] = identify("stubborn,done", kProgrammers[0], "fake boot: upload ignores the cancel");
    const auto took = std::chrono::steady_clock::now() - cancelledAt;
    EXPECT_EQ(statuses, std::vector<DWORD>{pipe::E_STATUS_CANCELLED});
    // Five seconds of grace after the cancel; the upper bound sits well
    // below the thread's twenty seconds, however slow the machine.
    EXPECT_GE(took, std::chrono::milliseconds(5000));
    EXPECT_LT(took, std::chrono::seconds(15));
    // What the abandoned thread says later no longer reaches the records.
    for (const auto& t : texts) EXPECT_EQ(t.find("fake boot: upload step"), std::string::npos) << t;
}

// The boot loader's thread may see the cancel and end before the worker
// starts to wait for it: the run is cancelled, not a failed upload.
TEST_F(Upload, ThreadThatEndedOnTheCancelIsACancelNotAFailure) {
    const auto [texts, statuses] = identify("heed,done", kProgrammers[0], "fake boot: upload waits for the cancel");
    EXPECT_EQ(statuses, std::vector<DWORD>{pipe::E_STATUS_CANCELLED});
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "fake boot: upload cancelled");
    for (const auto& t : texts) EXPECT_EQ(t.find("ERROR"), std::string::npos) << t;
}
