// The verdict and the unattended run report, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "service_records.h"
#include "ombra/common/pipe_protocol.h"
#include "ombra/launcher/run_report.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/process.h"

namespace fs = std::filesystem;
using namespace ombra;
using launcher::ResultDetail;
using launcher::RunLogResult;
using launcher::RunReport;
using launcher::ServiceKind;
using launcher::ServiceRecord;

namespace {

using launcher::testing::record;
using launcher::testing::text;

// A burn and verify as the launcher posts it: texts, progress, completion.
std::vector<ServiceRecord> burnRun(bool verifyFails) {
    std::vector<ServiceRecord> run = {text("Tordel: loading remote code", 3), text("SST:Erasing flash...", 3),
                                      text("SST:Finished erasing.", 3), record(ServiceKind::SERVICE_PROGRESS, 4096, 8192),
                                      record(ServiceKind::SERVICE_PROGRESS, 8192, 8192),
                                      text("SST:Flash burning complete.", 3),
                                      text("SST:Verifying addresses 00000000 - 00001000", 3)};
    if (verifyFails) run.push_back(text("SST:Verification failed.", 0));
    else run.push_back(text("SST:Verification passed.", 3));
    // The programmer's status says only that the burn ran to its end.
    run.push_back(record(ServiceKind::SERVICE_COMPLETION, pipe::E_STATUS_SUCCESS, 0));
    return run;
}

ResultDetail judge(const std::vector<ServiceRecord>& run) {
    ResultDetail d;
    for (const auto& r : run) {
        d.add(r);
        if (r.kind == ServiceKind::SERVICE_COMPLETION) d.addCompletion(r.first);
    }
    return d;
}

RunReport header(bool verify) {
    RunReport report;
    report.startedOn("12/08/26,02:46:18");
    report.imageFileName("/data/fw.bin");
    report.comPort("/dev/ttyS0");
    report.baudRate(115200);
    report.action(verify);
    return report;
}

const std::string kHeader =
    " * Burning started on : 12/08/26,02:46:18 \r\n"
    " * Binary image file name : /data/fw.bin \r\n"
    " * Com port : /dev/ttyS0 \r\n"
    " * Baud rate : 115200 \r\n";

}  // namespace

TEST(ResultDetail, ASuccessStatusDoesNotHideAFailedVerification) {
    const ResultDetail passed = judge(burnRun(false));
    EXPECT_TRUE(passed.passed());
    EXPECT_EQ(passed.text(), "");
    EXPECT_TRUE(passed.failures().empty());

    const ResultDetail failed = judge(burnRun(true));
    EXPECT_FALSE(failed.passed());
    EXPECT_EQ(failed.text(), " *\tSST:Verification failed.\n\r");
    EXPECT_EQ(failed.failures(), std::vector<std::string>{"SST:Verification failed."});
}

TEST(ResultDetail, OnlyClassZeroTextsCount) {
    ResultDetail d;
    // Class 3 texts, progress and completions carry no failure of their own.
    d.add(text("Tordel: ERROR 1(l333) - failed to upload programmer code", 3));
    d.add(text("x", 1));
    d.add(record(ServiceKind::SERVICE_PROGRESS, 0, 0));
    d.add(record(ServiceKind::SERVICE_COMPLETION, pipe::E_STATUS_FAILURE, 0));
    EXPECT_TRUE(d.passed());

    // Even an empty class-0 text is a failure line; texts keep their own
    // line breaks and stop at a zero byte, as the dialog's copy does.
    d.add(text("", 0));
    d.add(text("Cannot communicate with Tordel.", 0));
    d.add(text("a\n\rb", 0));
    d.add(text(std::string("cut\0here", 8), 0));
    EXPECT_EQ(d.text(), " *\t\n\r *\tCannot communicate with Tordel.\n\r *\ta\n\rb\n\r *\tcut\n\r");
    EXPECT_EQ(d.failures(), (std::vector<std::string>{"", "Cannot communicate with Tordel.", "a\n\rb", "cut"}));
}

TEST(ResultDetail, CompletionsAndTheDialogsOwnLines) {
    ResultDetail d;
    d.addCompletion(pipe::E_STATUS_SUCCESS);
    EXPECT_TRUE(d.passed());
    d.addCompletion(pipe::E_STATUS_FAILURE);
    d.addCompletion(pipe::E_STATUS_CANCELLED);
    d.addCompletion(7);  // never posted; not a success
    d.deviceUnrecognized();
    d.fail("device not found");
    EXPECT_EQ(d.text(),
              " *\tERROR: burning cancelled\n\r"
              " *\t CANCELLED BY USER \n\r\n"
              " *\tERROR: burning cancelled\n\r"
              "\t WARNING : Flash device unrecognized, using default driver\n"
              " *\tdevice not found\n\r");
    EXPECT_EQ(d.failures(), (std::vector<std::string>{"ERROR: burning cancelled", "CANCELLED BY USER",
                                                      "ERROR: burning cancelled",
                                                      "WARNING : Flash device unrecognized, using default driver",
                                                      "device not found"}));
}

TEST(RunReport, SuccessfulRunEndsInOk) {
    RunReport report = header(true);
    report.detectedFlashType("SST SST39LF/VF160");
    const std::string& text = report.finish(judge(burnRun(false)));
    EXPECT_EQ(text, kHeader +
                        " * Action : burn and verify \r\n"
                        " * Detected flash type : SST SST39LF/VF160 \n"
                        " * Result: \n\tOK");
    EXPECT_TRUE(report.finished());
}

TEST(RunReport, FailedVerifyCarriesItsLine) {
    RunReport report = header(true);
    report.defaultCBusTable();
    report.detectedFlashType("SST SST39LF/VF160");
    report.defaultCBusTable();
    EXPECT_EQ(report.finish(judge(burnRun(true))),
              kHeader +
                  " * Action : burn and verify \r\n"
                  "Could not open cbus file. Using default table.\r\n"
                  " * Detected flash type : SST SST39LF/VF160 \n"
                  "Could not open cbus file. Using default table.\r\n"
                  " * Result: \n *\tSST:Verification failed.\n\r");
}

TEST(RunReport, UnrecognizedDeviceAndCancelledBurn) {
    RunReport report = header(false);
    report.note("A line of the front end's own.");
    ResultDetail d;
    d.deviceUnrecognized();
    d.cancelledByUser();
    EXPECT_EQ(report.finish(d), kHeader +
                                    " * Action : burn (no verify) \r\n"
                                    "A line of the front end's own.\r\n"
                                    " * Result: \n"
                                    "\t WARNING : Flash device unrecognized, using default driver\n"
                                    " *\t CANCELLED BY USER \n\r\n");
}

TEST(RunReport, FinishAppendsTheResultOnce) {
    RunReport report = header(false);
    const std::string first = report.finish(ResultDetail{});
    ResultDetail late;
    late.burningCancelled();
    EXPECT_EQ(report.finish(late), first);
    EXPECT_EQ(report.text().find(" * Result: "), report.text().rfind(" * Result: "));
}

TEST(RunReport, LongTextsAreKeptWhole) {
    // Longer than any buffer the dialog's formatting would use.
    const std::string path(5000, 'p');
    RunReport report;
    report.imageFileName(path);
    report.baudRate(0xFFFFFFFFu);
    EXPECT_EQ(report.text(), " * Binary image file name : " + path + " \r\n * Baud rate : 4294967295 \r\n");
}

TEST(RunReport, StartedOnTextIsTheDatesShortForm) {
    const std::string text = launcher::startedOnText(0);
    // "%x,%X" in the C locale: 01/01/70,00:00:00 shifted by the time zone.
    ASSERT_EQ(text.size(), 17u) << text;
    EXPECT_EQ(text[2], '/');
    EXPECT_EQ(text[5], '/');
    EXPECT_EQ(text[8], ',');
    EXPECT_EQ(text[11], ':');
    EXPECT_EQ(text[14], ':');
}

struct RunLogFile : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("ombra_run_log_" + std::to_string(GetCurrentProcessId()));
    RunLogFile() {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~RunLogFile() override { fs::remove_all(dir); }
    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(RunLogFile, WritesTheBytesAsTheyAreAndTruncates) {
    const fs::path log = dir / "run.log";
    std::ofstream(log, std::ios::binary) << std::string(4096, 'x');
    // Line ends of every kind and a zero byte go through unchanged.
    std::string bytes = " * Result: \n *\tSST:Verification failed.\n\r\r\n";
    bytes += '\0';
    bytes += "end";
    DWORD error = 1234;
    EXPECT_EQ(launcher::writeRunLog(log.string(), bytes, &error), RunLogResult::written);
    EXPECT_EQ(read(log), bytes);
    EXPECT_EQ(error, 1234u);  // untouched on success

    EXPECT_EQ(launcher::writeRunLog(log.string(), ""), RunLogResult::written);
    EXPECT_EQ(fs::file_size(log), 0u);
}

TEST_F(RunLogFile, FailureToCreateIsToldApart) {
    DWORD error = 0;
    EXPECT_EQ(launcher::writeRunLog((dir / "missing" / "run.log").string(), "x", &error), RunLogResult::cannotCreate);
    EXPECT_EQ(error, ERROR_OS_NOT_FOUND);
    // A folder in the way is not a file to write.
    EXPECT_EQ(launcher::writeRunLog(dir.string(), "x", &error), RunLogResult::cannotCreate);
    EXPECT_NE(error, 0u);
    EXPECT_TRUE(fs::is_directory(dir));

    EXPECT_EQ(launcher::writeRunLog("", "x", &error), RunLogResult::noPath);
}
