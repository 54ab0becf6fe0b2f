// ombra-cli's parts that need no board: the command line, per-board file
// names, the registry's port list, the displays, the exit code and the
// reports, the JSON document field by field.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "board_run.h"
#include "cli_options.h"
#include "display.h"
#include "ombra/common/pipe_protocol.h"
#include "ombra/platform/process.h"
#include "ombra/platform/registry.h"
#include "report.h"

namespace fs = std::filesystem;
using namespace ombra;
using namespace ombra::cli;

namespace {

ParseResult parse(const std::vector<std::string>& args, Options& o) {
    o = Options{};
    return parseOptions(args, o);
}

// What a FILE* got, read back.
class Capture {
public:
    Capture() : file_(std::tmpfile()) {}
    ~Capture() { std::fclose(file_); }
    std::FILE* file() const { return file_; }
    std::string text() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string s;
        char b[512];
        std::size_t n;
        while ((n = std::fread(b, 1, sizeof b, file_)) > 0) s.append(b, n);
        return s;
    }

private:
    std::FILE* file_;
};

OperationResult operation(std::string name, Verdict outcome, DWORD status, unsigned attempt = 1) {
    OperationResult op;
    op.name = std::move(name);
    op.attempt = attempt;
    op.completed = true;
    op.status = status;
    op.outcome = outcome;
    op.seconds = 1.25;
    return op;
}

// Two boards: the first passed on its second attempt after a failed
// verification, the second could not be reached.
RunSummary twoBoardBurn() {
    RunSummary run;
    run.version = "0.1";
    run.options.command = Command::burn;
    run.options.verify = true;
    run.options.retries = 1;
    run.options.image = "fw.hex";
    run.started = std::chrono::system_clock::time_point(std::chrono::milliseconds(1714555800125));
    run.ended = run.started + std::chrono::milliseconds(12500);
    run.image = ImageSummary{"fw.hex", "ihex", 17000, std::string(64, 'a'), 0x1000, 6144, std::string(64, 'b')};

    BoardResult one;
    one.number = 1;
    one.port = "/dev/pts/3";
    one.programmer = "SST";
    one.device = 3;
    one.deviceName = "SST SST39LF/VF160";
    one.attempts = 2;
    one.verdict = Verdict::passed;
    OperationResult identify = operation("identify", Verdict::passed, pipe::E_STATUS_SUCCESS);
    identify.device = 3;
    OperationResult failed = operation("burn and verify", Verdict::failed, pipe::E_STATUS_SUCCESS);
    failed.messages = {"SST:Verification failed."};
    failed.failures = {"SST:Verification failed."};
    OperationResult again = identify;
    again.attempt = 2;
    one.operations = {identify, failed, again, operation("burn and verify", Verdict::passed, pipe::E_STATUS_SUCCESS, 2)};

    BoardResult two;
    two.number = 2;
    two.port = "/dev/pts/4";
    two.programmer = "SST";
    two.attempts = 2;
    two.verdict = Verdict::failed;
    OperationResult dead = operation("identify", Verdict::failed, pipe::E_STATUS_FAILURE);
    dead.failures = {"identify failed"};
    two.operations = {dead, dead};
    two.operations[1].attempt = 2;
    two.failures = {"identify failed"};
    run.boards = {one, two};
    return run;
}

}  // namespace

TEST(CliOptions, GoodCommandLines) {
    Options o;
    ASSERT_EQ(parse({"burn", "--port", "A", "--port", "B", "--image", "fw.hex", "--verify", "--retries", "3",
                     "--report", "r.json", "--format", "srec", "--baud", "460800", "--programmer", "Cobalt", "--plain"},
                    o)
                  .kind,
              ParseResult::Kind::run);
    EXPECT_EQ(o.command, Command::burn);
    EXPECT_EQ(o.ports, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(o.image, "fw.hex");
    EXPECT_TRUE(o.verify);
    EXPECT_EQ(o.retries, 3u);
    EXPECT_EQ(o.report, "r.json");
    EXPECT_EQ(o.format, image::Format::sRecord);
    EXPECT_EQ(o.baud, 460800u);
    EXPECT_EQ(o.programmer, "Cobalt");
    EXPECT_TRUE(o.plain);
    EXPECT_FALSE(o.startGiven);

    ASSERT_EQ(parse({"dump", "--ports-from-registry", "--out", "d{n}.bin", "--length", "0x1000", "--start", "0x200",
                     "--device", "5"},
                    o)
                  .kind,
              ParseResult::Kind::run);
    EXPECT_TRUE(o.portsFromRegistry);
    EXPECT_TRUE(o.ports.empty());
    EXPECT_EQ(o.length, 0x1000u);
    EXPECT_EQ(o.start, 0x200u);
    EXPECT_TRUE(o.startGiven);
    EXPECT_EQ(o.device, 5);

    EXPECT_EQ(parse({"--help"}, o).kind, ParseResult::Kind::help);
    EXPECT_EQ(parse({"identify", "--port", "A", "-h"}, o).kind, ParseResult::Kind::help);
}

TEST(CliOptions, UsageErrorsSayWhy) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command"},
        {{"erase", "--port", "p"}, "unknown command erase"},
        {{"identify"}, "no port (--port or --ports-from-registry)"},
        {{"identify", "--port", "p", "--port", "p"}, "port p given twice"},
        {{"identify", "--port"}, "--port needs a value"},
        {{"identify", "--port", "p", "--bogus", "1"}, "unknown option --bogus"},
        {{"burn", "--port", "p"}, "burn needs --image"},
        {{"dump", "--port", "p", "--out", "x"}, "dump needs --out and --length"},
        {{"identify", "--port", "p", "--log", "x.log"}, "--log is for burn only"},
        {{"identify", "--port", "p", "--format", "ihex"}, "--format is for burn only"},
        {{"burn", "--port", "p", "--image", "i", "--log", ""}, "bad value for --log: "},
        {{"burn", "--port", "p", "--image", "i", "--format", "hex"}, "bad value for --format: hex"},
        {{"burn", "--port", "p", "--image", "i", "--retries", "11"}, "bad value for --retries: 11"},
        {{"burn", "--port", "p", "--image", "i", "--retries", "-1"}, "bad value for --retries: -1"},
        {{"identify", "--port", "p", "--baud", "0"}, "bad value for --baud: 0"},
        {{"identify", "--port", "p", "--baud", "9x"}, "bad value for --baud: 9x"},
        {{"identify", "--port", "p", "--device", "65536"}, "bad value for --device: 65536"},
        {{"identify", "--port", "p", "--start", "0x100000000"}, "bad value for --start: 0x100000000"},
    };
    for (const auto& [args, why] : cases) {
        Options o;
        const ParseResult r = parse(args, o);
        EXPECT_EQ(r.kind, ParseResult::Kind::usageError) << ::testing::PrintToString(args);
        EXPECT_EQ(r.error, why) << ::testing::PrintToString(args);
    }
    std::vector<std::string> many = {"identify"};
    for (std::size_t i = 0; i <= kMaxBoards; ++i) many.insert(many.end(), {"--port", "p" + std::to_string(i)});
    Options o;
    EXPECT_EQ(parse(many, o).error, "more than 32 boards");
}

TEST(CliOptions, EachBoardNamesItsOwnFiles) {
    Options o;
    ASSERT_EQ(parse({"dump", "--port", "a", "--out", "dump.bin", "--length", "1"}, o).kind, ParseResult::Kind::run);
    EXPECT_EQ(checkBoards(o, 1), "");
    EXPECT_EQ(checkBoards(o, 2), "with several boards --out needs {n} or {port}");
    EXPECT_EQ(checkBoards(o, 0), "no port listed under HARDWARE\\DEVICEMAP\\SERIALCOMM");
    EXPECT_EQ(checkBoards(o, kMaxBoards + 1), "more than 32 boards");
    o.out = "dump-{port}.bin";
    EXPECT_EQ(checkBoards(o, 2), "");
    o.log = "run.log";
    EXPECT_EQ(checkBoards(o, 2), "with several boards --log needs {n} or {port}");
    o.log = "run-{n}.log";
    EXPECT_EQ(checkBoards(o, 2), "");

    EXPECT_EQ(perBoardPath("out/{n}-{port}.bin", 3, "/dev/pts/12"), "out/3-12.bin");
    EXPECT_EQ(perBoardPath("{port}{port}", 1, "COM7"), "COM7COM7");
    EXPECT_EQ(perBoardPath("a{x}{n", 2, "p"), "a{x}{n");  // only the two fields are replaced
}

TEST(CliOptions, PortNamesThatAreNoFileNameGiveNoPath) {
    // The port's last part must be a file name of its own: no climbing out
    // of the pattern's folder, no empty or control-character names.
    for (const char* port : {"/dev/..", "..", "/dev/.", "/dev/", "a\\..", "x/COM\t1", "x/pts\n2", ""}) {
        EXPECT_EQ(perBoardPath("dumps/{port}/flash.bin", 1, port), "") << port;
        // Without {port} the port's name does not matter.
        EXPECT_EQ(perBoardPath("dumps/{n}/flash.bin", 1, port), "dumps/1/flash.bin") << port;
    }
}

namespace {

struct EndedObserver final : BoardObserver {
    void operationStarted(std::size_t, const std::string&, const std::string&, unsigned) override { ++started; }
    void text(std::size_t, const std::string&) override {}
    void progress(std::size_t, DWORD, DWORD) override {}
    void completion(std::size_t, DWORD, DWORD) override {}
    void note(std::size_t, const std::string& line) override { notes.push_back(line); }
    void boardEnded(const BoardResult& r) override { ended.push_back(r); }
    int started = 0;
    std::vector<std::string> notes;
    std::vector<BoardResult> ended;
};

}  // namespace

TEST(CliBoardRun, PortWithoutAFileNameFailsBeforeAnyWorker) {
    RunPlan plan;
    plan.options.command = Command::dump;
    plan.options.out = "dump-{port}.bin";
    plan.options.length = 16;
    plan.programFolder = "/nonexistent";  // a worker start would fail differently
    EndedObserver observer;
    DeviceNames names;
    BoardRun board(plan, 1, "/dev/..", observer, names);
    board.run();
    ASSERT_EQ(observer.ended.size(), 1u);
    const BoardResult& r = board.result();
    EXPECT_EQ(r.verdict, Verdict::failed);
    EXPECT_TRUE(r.operations.empty());  // no worker was started
    EXPECT_EQ(observer.started, 0);
    EXPECT_EQ(r.outputFile, "");
    EXPECT_EQ(r.failures, std::vector<std::string>{"the port's name gives no file name for {port}"});
    EXPECT_EQ(observer.notes, r.failures);
}

TEST(CliOptions, PortsFromTheRegistry) {
    const fs::path dir = fs::temp_directory_path() / ("ombra-cli-test-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir);
    ::setenv("OMBRA_REGISTRY_DIR", dir.c_str(), 1);
    EXPECT_TRUE(registryPorts().empty());  // no key at all

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    auto text = [&](const char* name, const std::string& value) {
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    };
    text("\\Device\\Sim_0", "/dev/pts/7");
    text("\\Device\\Empty", "");
    const DWORD number = 5;
    RegSetValueExA(key, "\\Device\\Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    text("\\Device\\TooLong", std::string(2000, 'x'));
    text("\\Device\\Sim_1", "/dev/pts/8");
    RegCloseKey(key);
    EXPECT_EQ(registryPorts(), (std::vector<std::string>{"/dev/pts/7", "/dev/pts/8"}));
    ::unsetenv("OMBRA_REGISTRY_DIR");
    fs::remove_all(dir);
}

TEST(CliDisplay, PlainLinesCarryTheBoardOnlyWhenThereAreSeveral) {
    BoardResult ended;
    ended.number = 2;
    ended.verdict = Verdict::failed;
    {
        Capture out;
        auto d = Display::plain(1, out.file());
        d->operationStarted(1, "Identify (SST on p at 115200 baud)", "identify", 1);
        d->text(1, "Wexom: loading programmer \"SST\"");
        for (DWORD done : {0u, 50u, 99u, 100u, 150u, 1000u}) d->progress(1, done, 1000);
        d->completion(1, pipe::E_STATUS_SUCCESS, 3);
        d->operationStarted(1, "Burn x", "burn", 2);
        d->progress(1, 0, 1000);  // a new operation counts from nothing again
        EXPECT_EQ(out.text(),
                  "Identify (SST on p at 115200 baud)\n"
                  "  Wexom: loading programmer \"SST\"\n"
                  "  [  0%]\n  [ 10%]\n  [100%]\n"
                  "  status SUCCESS (3)\n"
                  "Burn x (attempt 2)\n"
                  "  [  0%]\n");
    }
    Capture out;
    auto d = Display::plain(2, out.file());
    d->line("Boards: 2");
    d->text(2, "SST:Verification failed.");
    d->note(1, "retrying from the start (attempt 2 of 2)");
    d->boardEnded(ended);
    EXPECT_EQ(out.text(),
              "Boards: 2\n[2]   SST:Verification failed.\n[1]   retrying from the start (attempt 2 of 2)\n"
              "[2] board failed\n");
}

TEST(CliDisplay, LiveBlockRedrawsInPlaceOneScreenLinePerBoard) {
    Capture out;
    auto d = Display::live({"/dev/pts/3", "/dev/pts/4"}, out.file(), 100);
    d->text(1, "SST:Erasing flash...\n");
    const std::string first = out.text();
    // The text, then the block of two lines.
    EXPECT_EQ(first.rfind("[1]   SST:Erasing flash...\n[1] /dev/pts/3", 0), 0u) << first;
    d->progress(2, 1, 2);
    const std::string second = out.text().substr(first.size());
    // Back up over the two lines, clear, draw again.
    EXPECT_EQ(second.rfind("\r\x1b[2A\x1b[J[1] ", 0), 0u) << second;
    EXPECT_NE(second.find("[##########..........]  50%"), std::string::npos) << second;
    for (const std::string& line : {first, second}) {
        std::size_t start = 0;
        for (std::size_t nl; (nl = line.find('\n', start)) != std::string::npos; start = nl + 1) {
            std::string l = line.substr(start, nl - start);
            if (l.rfind("\r\x1b[2A\x1b[J", 0) == 0) l = l.substr(8);
            EXPECT_LE(l.size(), 99u) << l;
        }
    }
    d->close();
    const std::size_t before = out.text().size();
    d->text(1, "after the end");
    EXPECT_EQ(out.text().size(), before);
}

TEST(CliDisplay, BoardLine) {
    BoardLine l;
    l.number = 12;
    l.port = "/tmp/some/long/folder/board12";
    l.operation = "burn and verify";
    l.attempt = 2;
    l.percent = 100;
    l.seconds = 3.25;
    l.latest = "SST:Flash burning complete.";
    EXPECT_EQ(formatBoardLine(l, 200),
              "[12] ...der/board12 burn and verify #2  [####################] 100%    3.2 s  SST:Flash burning complete.");
    l.percent = -1;
    l.attempt = 1;
    l.port = "COM3";
    l.operation.clear();
    EXPECT_EQ(formatBoardLine(l, 40), "[12] COM3" + std::string(11, ' ') + "-" + std::string(18, ' '));
}

TEST(CliReport, ExitCodeAndResult) {
    RunSummary run = twoBoardBurn();
    EXPECT_EQ(exitCodeOf(run), kExitFailed);
    EXPECT_STREQ(resultName(run), "failed");
    run.boards[1].verdict = Verdict::passed;
    EXPECT_EQ(exitCodeOf(run), kExitPassed);
    run.boards[1].logError = "cannot create log file x: No such file or directory";
    EXPECT_EQ(exitCodeOf(run), kExitFailed);
    run.boards[1].logError.clear();
    run.interrupted = true;
    EXPECT_EQ(exitCodeOf(run), kExitCancelled);
    EXPECT_STREQ(resultName(run), "cancelled");

    RunSummary early;
    early.error = "fw.hex:2: checksum is 00, the record's bytes need F4";
    EXPECT_EQ(exitCodeOf(early), kExitFailed);
    EXPECT_EQ(exitCodeOf(RunSummary{}), kExitFailed);  // no board ran: nothing passed
}

TEST(CliReport, JsonFieldByField) {
    const RunSummary run = twoBoardBurn();
    const nlohmann::json j = reportJson(run);
    EXPECT_EQ(j["tool"], "ombra-cli");
    EXPECT_EQ(j["version"], "0.1");
    EXPECT_EQ(j["command"], "burn");
    EXPECT_EQ(j["verify"], true);
    EXPECT_EQ(j["retries"], 1);
    EXPECT_EQ(j["started"], "2024-05-01T09:30:00.125Z");
    EXPECT_EQ(j["ended"], "2024-05-01T09:30:12.625Z");
    EXPECT_EQ(j["seconds"], 12.5);
    EXPECT_EQ(j["result"], "failed");
    EXPECT_EQ(j["exit_code"], 1);
    EXPECT_TRUE(j["error"].is_null());
    EXPECT_EQ(j["image"], (nlohmann::json{{"name", "fw.hex"},
                                          {"format", "ihex"},
                                          {"file_size", 17000},
                                          {"file_sha256", std::string(64, 'a')},
                                          {"start", 4096},
                                          {"size", 6144},
                                          {"sha256", std::string(64, 'b')}}));
    ASSERT_EQ(j["boards"].size(), 2u);
    const auto& one = j["boards"][0];
    EXPECT_EQ(one["number"], 1);
    EXPECT_EQ(one["port"], "/dev/pts/3");
    EXPECT_EQ(one["programmer"], "SST");
    EXPECT_EQ(one["device"], (nlohmann::json{{"index", 3}, {"name", "SST SST39LF/VF160"}}));
    EXPECT_EQ(one["result"], "passed");
    EXPECT_EQ(one["attempts"], 2);
    EXPECT_EQ(one["retries"], 1);
    EXPECT_TRUE(one["failures"].empty());
    EXPECT_FALSE(one.contains("log_file"));
    ASSERT_EQ(one["operations"].size(), 4u);
    const auto& failed = one["operations"][1];
    EXPECT_EQ(failed["name"], "burn and verify");
    EXPECT_EQ(failed["attempt"], 1);
    EXPECT_EQ(failed["status"], "SUCCESS");  // the worker ran to its end...
    EXPECT_EQ(failed["result"], "failed");   // ...and the verification failed
    EXPECT_EQ(failed["seconds"], 1.25);
    EXPECT_EQ(failed["class0_texts"], nlohmann::json({"SST:Verification failed."}));
    EXPECT_EQ(failed["failures"], nlohmann::json({"SST:Verification failed."}));
    EXPECT_FALSE(failed.contains("device_index"));
    EXPECT_EQ(one["operations"][0]["device_index"], 3);
    EXPECT_EQ(one["operations"][3]["attempt"], 2);
    EXPECT_EQ(one["operations"][3]["result"], "passed");
    const auto& two = j["boards"][1];
    EXPECT_TRUE(two["device"].is_null());
    EXPECT_EQ(two["result"], "failed");
    EXPECT_EQ(two["failures"], nlohmann::json({"identify failed"}));
    EXPECT_EQ(two["operations"][0]["status"], "FAILURE");

    // An operation whose worker never reported has no status.
    RunSummary notStarted = twoBoardBurn();
    notStarted.boards[1].operations[0].completed = false;
    EXPECT_TRUE(reportJson(notStarted)["boards"][1]["operations"][0]["status"].is_null());
}

TEST(CliReport, WrittenAsOneDocumentEvenWithBytesThatAreNotUtf8) {
    RunSummary run = twoBoardBurn();
    run.boards[1].failures = {"bad \xff byte"};
    const fs::path dir = fs::temp_directory_path() / ("ombra-cli-report-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir);
    const std::string path = (dir / "r.json").string();
    std::string error;
    ASSERT_TRUE(writeReport(path, reportJson(run), error)) << error;
    std::ifstream in(path);
    const nlohmann::json back = nlohmann::json::parse(in);
    EXPECT_EQ(back["boards"][1]["failures"][0], "bad \xEF\xBF\xBD byte");
    EXPECT_EQ(back["image"]["start"], 4096);
    EXPECT_FALSE(writeReport((dir / "missing" / "r.json").string(), back, error));
    EXPECT_EQ(error.rfind("cannot create report " + (dir / "missing" / "r.json").string() + ": ", 0), 0u) << error;
    fs::remove_all(dir);
}

TEST(CliReport, ConsoleReport) {
    Capture several;
    printReport(several.file(), twoBoardBurn());
    EXPECT_EQ(several.text(),
              "\nReport\n"
              "  [1] /dev/pts/3: passed after 2 attempts\n"
              "      identify         SUCCESS      1.25 s  device 3\n"
              "      burn and verify  SUCCESS      1.25 s  failed\n"
              "      identify         SUCCESS      1.25 s  device 3  attempt 2\n"
              "      burn and verify  SUCCESS      1.25 s  attempt 2\n"
              "  [2] /dev/pts/4: failed after 2 attempts\n"
              "      identify         FAILURE      1.25 s  device -1  failed\n"
              "      identify         FAILURE      1.25 s  device -1  attempt 2  failed\n"
              "        identify failed\n"
              "  result: failed (1 of 2 boards passed)\n");

    RunSummary single = twoBoardBurn();
    single.boards.resize(1);
    single.boards[0].operations.resize(2);
    single.boards[0].attempts = 1;
    single.boards[0].verdict = Verdict::failed;
    single.boards[0].failures = {"SST:Verification failed."};
    Capture one;
    printReport(one.file(), single);
    EXPECT_EQ(one.text(),
              "\nReport\n"
              "  identify         SUCCESS      1.25 s  device 3\n"
              "  burn and verify  SUCCESS      1.25 s  failed\n"
              "  result: failed\n"
              "    SST:Verification failed.\n");
    single.interrupted = true;
    Capture cancelled;
    printReport(cancelled.file(), single);
    EXPECT_NE(cancelled.text().find("  result: cancelled\n"), std::string::npos);
}

TEST(CliOptions, ManualPageDocumentsEveryOptionOfTheHelpAndTheExitCodes) {
    const char* source = std::getenv("OMBRA_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream in(fs::path(source) / "workers/cli/ombra-cli.1");
    ASSERT_TRUE(in.good());
    const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string help = usageText();
    std::size_t options = 0;
    for (std::size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
        const std::size_t end = help.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at + 2);
        const std::string option = help.substr(at + 2, end - at - 2);
        std::string troff = "\\-\\-";
        for (char c : option) troff += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(page.find(troff), std::string::npos) << "--" << option;
        ++options;
    }
    EXPECT_GE(options, 15u);
    for (const char* code : {".B 0\nEvery board passed.", ".B 1\nAt least one board failed", ".B 2\nUsage error.",
                             ".B 3\nCancelled (Ctrl-C)."})
        EXPECT_NE(page.find(code), std::string::npos) << code;
}
