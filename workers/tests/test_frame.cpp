// The worker frame as real processes: the test worker (whose Run the block
// scripts) and the four worker programs.
#include <gtest/gtest.h>

#include "ombra/platform/pipe.h"
#include "ombra/workers/worker_proc.h"
#include "worker_harness.h"

using namespace ombra;
using harness::Worker;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr DWORD kExitMinusOne = 255;  // exit(-1) as the platform reports it
constexpr DWORD kLongWait = 20000;

struct FrameTest : ::testing::Test {
    harness::TempFolder folder;
    std::string trace = folder.file("worker.log");
    void SetUp() override { harness::enableTrace("TestWorker", trace); }
    std::string traced() { return harness::readFile(trace); }
};

Bytes status(DWORD code, DWORD value) {
    VectorSink s;
    pipe::StatusRecord(code, value).WriteTo(s);
    return s.bytes;
}

}  // namespace

TEST(RunForm, ParsedLikeTheScanfFormWithStrtoul) {
    workers::RunForm f;
    ASSERT_TRUE(workers::parseRunForm("OmbraMUTR1PR2TI3 7 9", f));
    EXPECT_EQ(f.mutexName, "OmbraMUTR1PR2TI3");
    EXPECT_EQ(f.input, 7u);
    EXPECT_EQ(f.output, 9u);
    ASSERT_TRUE(workers::parseRunForm("  m   12 4x extra", f));  // scanf stops at the x, ignores the rest
    EXPECT_EQ(f.output, 4u);
    EXPECT_FALSE(workers::parseRunForm("m 12x 4", f));
    EXPECT_FALSE(workers::parseRunForm("register", f));
    EXPECT_FALSE(workers::parseRunForm("m 3", f));
    EXPECT_FALSE(workers::parseRunForm("m x 3", f));
    EXPECT_FALSE(workers::parseRunForm("", f));
    ASSERT_TRUE(workers::parseRunForm("m 99999999999999999999 4294967296", f));
    EXPECT_EQ(f.input, 0xFFFFFFFFu);  // names no handle rather than a wrapped one
    EXPECT_EQ(f.output, 0xFFFFFFFFu);
}

TEST_F(FrameTest, ScriptedRunAnswersAndEndsOnlyOnTheExactTerminateMessage) {
    Worker w;
    harness::start(w, OMBRA_TEST_WORKER);
    ASSERT_TRUE(w.writeBlock(harness::identifyBlock("text:hi;return:success:-1")));
    const Bytes text = {1, 0, 0, 0, 2, 0, 0, 0, 'h', 'i', 3, 0, 0, 0};
    EXPECT_EQ(w.read(text.size()), text);
    EXPECT_EQ(w.read(12), (Bytes{2, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));

    ASSERT_TRUE(w.write({1, 1, 2, 3, 4}));
    EXPECT_EQ(w.waitExit(300), STILL_ACTIVE) << "the second 01 must break the sequence";
    ASSERT_TRUE(w.write({1, 2, 3, 4}));
    EXPECT_EQ(w.waitExit(kLongWait), 0u);
    EXPECT_TRUE(w.read(1).empty()) << "nothing after the final record";

    const std::string log = traced();
    EXPECT_NE(log.find(" : starting\r\n"), std::string::npos);
    EXPECT_NE(log.find(" : Reading parameters\n\r\n"), std::string::npos);
    EXPECT_NE(log.find(" : waiting for terminate message\r\n"), std::string::npos);
    // 01 01 02 03 04 then 01 02 03 04: the 02 after the broken start is a
    // step-1 byte and so is traced with its value.
    const char* expected =
        " received 1\r\n| received 2\r\n| received 3\r\n| received 4\r\n| received 1\r\n| received 2\r\n"
        "| received 3\r\n| received 4\r\n";
    std::string seen;
    for (std::size_t p = log.find(" received "); p != std::string::npos; p = log.find(" received ", p + 1)) {
        if (!seen.empty()) seen += "|";
        seen += log.substr(p, log.find('\n', p) - p + 1);
    }
    EXPECT_EQ(seen, expected);
    EXPECT_NE(log.find(" : exiting\r\n"), std::string::npos);
}

TEST_F(FrameTest, ClosedInputEndsTheWaitAndTheWorkerExitsZero) {
    Worker w;
    harness::start(w, OMBRA_TEST_WORKER);
    ASSERT_TRUE(w.writeBlock(harness::identifyBlock("return:cancelled")));
    EXPECT_EQ(w.read(12), (Bytes{2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}));
    w.closeInput();
    EXPECT_EQ(w.waitExit(kLongWait), 0u);
    EXPECT_NE(traced().find("sending E_STATUS_CANCELLED message"), std::string::npos);
}

// A killed front end leaves its run mutex unheld: the worker cancels rather
// than keep the serial port until its own time-outs (none by default).
TEST_F(FrameTest, AFrontEndThatIsGoneCancelsTheRun) {
    Worker w;
    harness::start(w, OMBRA_TEST_WORKER);
    ASSERT_TRUE(w.writeBlock(harness::identifyBlock("text:waiting;waitcancel:20000;return:failure")));
    const Bytes text = {1, 0, 0, 0, 7, 0, 0, 0, 'w', 'a', 'i', 't', 'i', 'n', 'g', 3, 0, 0, 0};
    ASSERT_EQ(w.read(text.size()), text);
    EXPECT_EQ(w.waitExit(600), STILL_ACTIVE) << "a live front end's run goes on";
    w.mutex.release();
    EXPECT_EQ(w.read(12), status(pipe::E_STATUS_CANCELLED, 0));
    w.closeInput();
    EXPECT_EQ(w.waitExit(kLongWait), 0u);
    EXPECT_NE(traced().find("front end gone: cancelling"), std::string::npos);
}

TEST_F(FrameTest, ShortBlockEndsInFailureRecord) {
    Worker w;
    harness::start(w, OMBRA_TEST_WORKER);
    auto bytes = *pipe::encode(harness::identifyBlock("return:success:1"), pipe::BlockForm::current);
    bytes.resize(bytes.size() - 3);
    ASSERT_TRUE(w.write(bytes));
    w.closeInput();
    EXPECT_EQ(w.read(12), status(pipe::E_STATUS_FAILURE, 0));
    EXPECT_EQ(w.waitExit(kLongWait), 0u);
    EXPECT_EQ(traced().find("Calling proc.Run()"), std::string::npos);
}

TEST_F(FrameTest, RunFormWithoutTheMutexExitsWithoutReading) {
    Worker w;
    harness::start(w, OMBRA_TEST_WORKER, harness::Mutex::missing, /*keepInputReadEnd=*/true);
    const Bytes block = *pipe::encode(harness::identifyBlock("return:success:1"), pipe::BlockForm::current);
    ASSERT_TRUE(w.write(block));
    EXPECT_EQ(w.waitExit(kLongWait), kExitMinusOne);
    EXPECT_TRUE(w.read(1).empty()) << "no status record";
    // Every byte of the block is still in the pipe.
    w.closeInput();
    Bytes left(block.size() + 1);
    DWORD got = 0;
    ReadFile(w.inputReadEnd, left.data(), static_cast<DWORD>(left.size()), &got);
    EXPECT_EQ(got, block.size());
    EXPECT_EQ(traced().find("Reading parameters"), std::string::npos);
}

TEST_F(FrameTest, WrongCommandLinesEndWithMinusOne) {
    const std::vector<std::vector<std::string>> lines = {
        {"register"}, {"Register"}, {}, {"m", "1"}, {"m", "x", "y"}, {std::string(5000, 'M'), "3", "4"}};
    std::string log;
    for (const auto& args : lines) {
        Worker w;
        harness::start(w, OMBRA_TEST_WORKER, harness::Mutex::created, false, &args);
        EXPECT_EQ(w.waitExit(kLongWait), kExitMinusOne) << (args.empty() ? "" : args[0]);
        EXPECT_TRUE(w.read(1).empty());
        if (log.empty()) log = traced();  // each run empties the trace file
    }
    EXPECT_NE(log.find(" : Command line = register\r\n"), std::string::npos);
    EXPECT_NE(log.find(" : bad command line parameters\r\n"), std::string::npos);
    EXPECT_EQ(harness::locationOf("TestWorker"), "") << "lower case is not REGISTER";
}

TEST(WorkerPrograms, RegisterExitsMinusOneAfterSuccessAndUnregisterRemoves) {
    harness::TempFolder folder;
    harness::enableTrace("Wexom", folder.file("wexom.log"));
    for (const char* name : {"Wexom", "Tordel", "Quasp", "Lunet"}) {
        const std::vector<std::string> reg = {"REGISTER"};
        Worker w;
        harness::start(w, harness::runProgram(name), harness::Mutex::missing, false, &reg);
        EXPECT_EQ(w.waitExit(kLongWait), kExitMinusOne) << name;
        EXPECT_EQ(harness::locationOf(name), harness::runProgram(name)) << name;
    }
    {
        const std::vector<std::string> unreg = {"UNREGISTER"};
        Worker w;
        harness::start(w, harness::runProgram("Wexom"), harness::Mutex::missing, false, &unreg);
        EXPECT_EQ(w.waitExit(kLongWait), kExitMinusOne);
        EXPECT_EQ(harness::locationOf("Wexom"), "");
        EXPECT_EQ(harness::locationOf("Lunet"), harness::runProgram("Lunet"));
    }
    {
        // Nothing left to delete: traced, a message box (answered by the
        // test setting), still -1.
        const std::vector<std::string> unreg = {"UNREGISTER"};
        Worker w;
        harness::start(w, harness::runProgram("Wexom"), harness::Mutex::missing, false, &unreg);
        EXPECT_EQ(w.waitExit(kLongWait), kExitMinusOne);
    }
    const std::string log = harness::readFile(folder.file("wexom.log"));
    EXPECT_NE(log.find(" : starting\r\n"), std::string::npos);
    EXPECT_NE(log.find(" : failed to delete 'Wexom' registry value\r\n"), std::string::npos);
}
