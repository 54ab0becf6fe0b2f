// The launcher core against real worker processes.
#include <gtest/gtest.h>

#include "service_records.h"
#include "ombra/launcher/launcher.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/thread.h"
#include "worker_harness.h"

using namespace ombra;
using namespace ombra::launcher;

namespace {

struct Outcome {
    std::vector<ServiceRecord> records;
    std::int32_t identified = -1;
    DWORD exitCode = 0;
    bool terminated = false;
    std::string mutexName;
};

struct LauncherTest : ::testing::Test {
    harness::TempFolder folder;
    HANDLE cancel = CreateEvent(TRUE, FALSE);
    ~LauncherTest() override { CloseHandle(cancel); }

    WorkerJob job(JobKind kind, const std::string& script, const std::string& path = OMBRA_TEST_WORKER) {
        WorkerJob j;
        j.kind = kind;
        j.workerName = "TestWorker";
        j.workerPath = path;
        j.block = harness::identifyBlock(script);
        j.cancelEvent = cancel;
        return j;
    }

    Outcome run(WorkerJob j) {
        Outcome r;
        WorkerLauncher launcher(std::move(j), [&](ServiceRecord s) { r.records.push_back(std::move(s)); });
        launcher.run();
        r.identified = launcher.identifiedDevice();
        r.exitCode = launcher.workerExitCode();
        r.terminated = launcher.workerTerminated();
        r.mutexName = launcher.mutexName();
        return r;
    }
};

using launcher::testing::record;
using launcher::testing::text;

// Compares kind, text and values; the thread id is checked apart.
void expectRecords(const Outcome& run, const std::vector<ServiceRecord>& expected) {
    ASSERT_EQ(run.records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(run.records[i].kind, expected[i].kind) << i;
        EXPECT_EQ(run.records[i].text, expected[i].text) << i;
        EXPECT_EQ(run.records[i].first, expected[i].first) << i;
        EXPECT_EQ(run.records[i].second, expected[i].second) << i;
        EXPECT_EQ(run.records[i].threadId, GetCurrentThreadId()) << i;
    }
}

}  // namespace

TEST_F(LauncherTest, RecordsArePostedUntilTheFirstStatusThenTheWorkerEnds) {
    const Outcome r = run(job(JobKind::identify, "text:hello;text0:plain;progress:1,2;return:success:7"));
    expectRecords(r, {text("hello", 3), text("plain", 3), record(ServiceKind::SERVICE_PROGRESS, 1, 2),
                      record(ServiceKind::SERVICE_COMPLETION, 2, 7)});
    EXPECT_EQ(r.identified, 7);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_FALSE(r.terminated);
    EXPECT_EQ(r.mutexName.rfind("OmbraMUTR", 0), 0u);
    EXPECT_FALSE(platform::UniqueMutex::exists(r.mutexName)) << "released when the run ends";
}

TEST_F(LauncherTest, BurnPassesTheMessageClassAndOnlyIdentifyCarriesAValue) {
    const Outcome r = run(job(JobKind::burn, "text0:mismatch;status:2,9;sleep:100;return:failure"));
    expectRecords(r, {text("mismatch", 0), record(ServiceKind::SERVICE_COMPLETION, 2, 0)});
    EXPECT_EQ(r.identified, -1);
    EXPECT_EQ(r.exitCode, 0u) << "the worker read the terminate message after its own record";
}

TEST_F(LauncherTest, TheBlockArrivesWithAWorkingCancelDuplicate) {
    auto j = job(JobKind::identify, "echo;return:failure");
    j.block.commDeviceName = "/dev/ttyS7";
    Outcome r = run(j);
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[0].text, "port=/dev/ttyS7 baud=115200 table=4 device=0 cancel=clear");
    SetEvent(cancel);
    r = run(job(JobKind::identify, "echo;return:failure"));
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[0].text, "port=/dev/null-port baud=115200 table=4 device=0 cancel=set");
}

TEST_F(LauncherTest, CancelReachesTheWorker) {
    std::vector<ServiceRecord> records;
    // Set once the worker says it is about to wait for it.
    WorkerLauncher l2(job(JobKind::dump, "text:waiting;waitcancel:20000;return:failure"), [&](ServiceRecord s) {
        if (s.kind == ServiceKind::SERVICE_TEXT && s.text == "waiting") SetEvent(cancel);
        records.push_back(std::move(s));
    });
    l2.run();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().kind, ServiceKind::SERVICE_COMPLETION);
    EXPECT_EQ(records.back().first, 3u);
    EXPECT_EQ(l2.workerExitCode(), 0u);
}

TEST_F(LauncherTest, AWorkerThatLingersIsTerminated) {
    const Outcome r = run(job(JobKind::identify, "status:1,0;sleep:30000"));
    expectRecords(r, {record(ServiceKind::SERVICE_COMPLETION, 1, 0)});
    EXPECT_TRUE(r.terminated);
}

TEST_F(LauncherTest, ADeadWorkerGivesTheHasExitedText) {
    for (JobKind kind : {JobKind::identify, JobKind::burn}) {
        const Outcome r = run(job(kind, "text:before;crash"));
        // The has-exited text keeps class 3 in the burn thread too.
        expectRecords(r, {text("before", 3), text("TestWorker has exited.", 3),
                          record(ServiceKind::SERVICE_COMPLETION, 1, 0)});
    }
}

TEST_F(LauncherTest, AGarbledStreamGivesTheCannotCommunicateTextAndEndsTheWorker) {
    Outcome r = run(job(JobKind::burn, "raw:09000000;sleep:30000"));
    expectRecords(r, {text("Cannot communicate with TestWorker.", 0), record(ServiceKind::SERVICE_COMPLETION, 1, 0)});
    EXPECT_TRUE(r.terminated);
    // A worker already waiting for the terminate message ends by itself
    // once its input is closed.
    r = run(job(JobKind::identify, "raw:0100000000000100;return:failure"));
    expectRecords(r, {text("Cannot communicate with TestWorker.", 3), record(ServiceKind::SERVICE_COMPLETION, 1, 0)});
    EXPECT_FALSE(r.terminated);
    EXPECT_EQ(r.exitCode, 0u);
}

TEST_F(LauncherTest, KillWorkerEndsARunStalledMidRecord) {
    std::vector<ServiceRecord> records;
    // A text record announcing 16 bytes that never come.
    WorkerLauncher launcher(job(JobKind::identify, "raw:010000001000000061;sleep:30000"),
                            [&](ServiceRecord s) { records.push_back(std::move(s)); });
    HANDLE killer = StartThread(
        [&]() -> DWORD {
            Sleep(300);
            launcher.killWorker();
            return 0;
        },
        nullptr);
    launcher.run();
    WaitForSingleObject(killer, INFINITE);
    CloseHandle(killer);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "TestWorker has exited.");
    EXPECT_EQ(records[1].kind, ServiceKind::SERVICE_COMPLETION);
    EXPECT_EQ(records[1].first, 1u);
}

TEST_F(LauncherTest, FailedCreationTexts) {
    const std::string missing = folder.file("no-such-worker");
    auto j = job(JobKind::identify, "", missing);
    j.workerName = "Wexom";
    expectRecords(run(j), {text("Failed to create Wexom process.", 3), record(ServiceKind::SERVICE_COMPLETION, 1, 0)});
    j.kind = JobKind::burn;
    j.workerName = "Tordel";
    expectRecords(run(j), {text("Failed to create Tordel process", 0), record(ServiceKind::SERVICE_COMPLETION, 1, 0)});
    j.kind = JobKind::dump;
    j.workerName = "Lunet";
    expectRecords(run(j), {text("Failed to create Lunet process", 3), record(ServiceKind::SERVICE_COMPLETION, 1, 0)});
}

TEST_F(LauncherTest, ABlockThatCannotBeWrittenEndsInFailureNotAHang) {
    auto j = job(JobKind::identify, "return:success:1");
    j.block.cbusTable.assign(pipe::kMaxCBusTable + 1, 0);
    const Outcome r = run(j);
    expectRecords(r, {record(ServiceKind::SERVICE_COMPLETION, 1, 0)});
    EXPECT_EQ(r.exitCode, 0u);
}

TEST_F(LauncherTest, NothingIsPostedWithoutAUsableCancelEvent) {
    auto j = job(JobKind::identify, "return:success:1");
    j.cancelEvent = nullptr;
    const Outcome r = run(j);
    EXPECT_TRUE(r.records.empty());
}

// The four worker programs, found through their own registration and
// started with a real block: each answers with its status record and
// exits 0 after the terminate message.
TEST_F(LauncherTest, TheFourWorkersEndCleanlyWithoutAProgrammer) {
    const struct {
        const char* name;
        const char* traceName;
        JobKind kind;
        pipe::Operation operation;
    } workers[] = {{"Wexom", "Wexom", JobKind::identify, pipe::Operation::identify},
                   {"Tordel", "Tordel", JobKind::burn, pipe::Operation::burn},
                   {"Quasp", "QuaspDbg", JobKind::verify, pipe::Operation::verify},
                   {"Lunet", "Lunet", JobKind::dump, pipe::Operation::dump}};
    for (const auto& w : workers) {
        harness::Worker reg;
        const std::vector<std::string> args = {"REGISTER"};
        harness::start(reg, harness::runProgram(w.name), harness::Mutex::missing, false, &args);
        ASSERT_EQ(reg.waitExit(20000), 255u);

        std::string path;
        ASSERT_TRUE(findWorker(w.name, path)) << w.name;
        const std::string log = folder.file(std::string(w.name) + ".log");
        harness::enableTrace(w.traceName, log);
        auto j = job(w.kind, "SST", path);
        j.workerName = w.name;
        j.block.operation = w.operation;
        j.block.path = "image.bin";
        j.block.deviceNumber = 2;
        const Outcome r = run(j);
        expectRecords(r, {record(ServiceKind::SERVICE_COMPLETION, 1, 0)});
        EXPECT_EQ(r.exitCode, 0u) << w.name;
        EXPECT_FALSE(r.terminated) << w.name;
        const std::string text = harness::readFile(log);
        const std::string name = w.name;
        EXPECT_NE(text.find(" : starting\r\n"), std::string::npos) << name;
        EXPECT_NE(text.find(" : Command line = " + r.mutexName + " "), std::string::npos) << name;
        EXPECT_NE(text.find(" : Creating instance of programmer\r\n"), std::string::npos) << name;
        EXPECT_EQ(text.find("proc.Run() returned Tordel::FAILURE") != std::string::npos, name == "Tordel");
        EXPECT_EQ(text.find("Failed to create programmer instance") != std::string::npos, name != "Wexom");
        EXPECT_EQ(text.find("waiting for terminate message") == std::string::npos, name == "Quasp");
        if (name == "Wexom") {
            EXPECT_NE(text.find(" : Comm Device name = /dev/null-port\r\n"), std::string::npos);
            EXPECT_NE(text.find(" : CBus Table size = 4\r\n"), std::string::npos);
            EXPECT_NE(text.find(" : BaudRate = 115200\r\n"), std::string::npos);
        }
        if (name == "Lunet") {
            EXPECT_NE(text.find(" : DeviceNum = 2\r\n"), std::string::npos);
        }
    }
    std::string path;
    EXPECT_FALSE(findWorker("Nobody", path));
}
