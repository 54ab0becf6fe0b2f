// Gang programming: ombra-cli against `selkan-sim --boards 4`, one worker
// per board in parallel. All pass; one dead board fails alone; a corrupted
// byte fails one board's verification and a retry mends it; Ctrl-C cancels
// every board through its cancel event. The JSON report is checked field by
// field.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli_rig.h"
#include "ombra/image/image.h"

namespace fs = std::filesystem;
using namespace ombra;
using namespace ombra::e2e;
using nlohmann::json;

namespace {

constexpr int kBoards = 4;
// Small: four unpaced boards share two loaded cores, and a stream within the
// burn program's ring buffer cannot overflow it.
constexpr std::size_t kImageSize = 4 * 1024;
// Host-to-board bytes since power-up: the identify and the burn uploads
// come first (about 3.2 KB), so this byte is inside the image's stream.
const char* const kCorruptOnBoard1 = "in:corrupt:at=5000:board=1";

json readJson(const std::string& path) {
    std::ifstream in(path);
    return json::parse(in, nullptr, false);
}

// The pseudo-terminal behind each link: the port the registry lists.
std::vector<std::string> devicePaths(const SimProcess& sim) {
    std::vector<std::string> paths;
    for (const auto& link : sim.ports()) {
        std::error_code ec;
        paths.push_back(fs::read_symlink(link, ec).string());
    }
    return paths;
}

// The report's boards by port.
std::map<std::string, json> boardsByPort(const json& report) {
    std::map<std::string, json> boards;
    for (const auto& b : report["boards"]) boards[b["port"].get<std::string>()] = b;
    return boards;
}

std::vector<std::string> burnArgs(const std::string& image, const std::string& report) {
    return {"burn", "--ports-from-registry", "--image", image, "--verify", "--report", report};
}

void expectPassedOnce(const json& board, int device) {
    EXPECT_EQ(board["result"], "passed") << board.dump(2);
    EXPECT_EQ(board["attempts"], 1);
    EXPECT_EQ(board["retries"], 0);
    EXPECT_TRUE(board["failures"].empty());
    ASSERT_EQ(board["operations"].size(), 2u) << board.dump(2);
    EXPECT_EQ(board["operations"][0]["name"], "identify");
    EXPECT_EQ(board["operations"][0]["device_index"], device);
    EXPECT_EQ(board["operations"][1]["name"], "burn and verify");
    for (const auto& op : board["operations"]) {
        EXPECT_EQ(op["status"], "SUCCESS");
        EXPECT_EQ(op["result"], "passed");
        EXPECT_EQ(op["attempt"], 1);
        EXPECT_TRUE(op["class0_texts"].empty());
        EXPECT_TRUE(op["failures"].empty());
        EXPECT_GT(op["seconds"].get<double>(), 0.0);
    }
}

}  // namespace

TEST(Gang, FourBoardsFromTheRegistryPassAndTheReportSaysSoFieldByField) {
    Registry registry;
    SimProcess sim(registry, {}, kBoards);
    ASSERT_TRUE(sim.waitUntilUp());
    const std::vector<std::string> ports = devicePaths(sim);
    const Bytes bytes = pattern(kImageSize, 31);
    const std::string image = registry.file("image.bin");
    writeBytes(image, bytes);
    const std::string report = registry.file("report.json");
    std::vector<std::string> args = burnArgs(image, report);
    args.insert(args.end(), {"--log", registry.file("run-{n}.log")});

    const Finished run = runCli(registry, args);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("  result: passed (4 of 4 boards passed)\n"), std::string::npos) << run.output;

    const json r = readJson(report);
    ASSERT_TRUE(r.is_object()) << readText(report);
    EXPECT_EQ(r["tool"], "ombra-cli");
    EXPECT_FALSE(r["version"].get<std::string>().empty());
    EXPECT_EQ(r["command"], "burn");
    EXPECT_EQ(r["verify"], true);
    EXPECT_EQ(r["programmer"], "SST");
    EXPECT_EQ(r["baud"], 115200);
    EXPECT_EQ(r["retries"], 0);
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    EXPECT_TRUE(std::regex_match(r["started"].get<std::string>(), iso)) << r["started"];
    EXPECT_TRUE(std::regex_match(r["ended"].get<std::string>(), iso)) << r["ended"];
    EXPECT_LE(r["started"].get<std::string>(), r["ended"].get<std::string>());
    EXPECT_GT(r["seconds"].get<double>(), 0.0);
    const std::string digest = image::sha256Hex(bytes);
    EXPECT_EQ(r["image"], (json{{"name", image},
                                {"format", "raw"},
                                {"file_size", kImageSize},
                                {"file_sha256", digest},
                                {"start", 0},
                                {"size", kImageSize},
                                {"sha256", digest}}));
    EXPECT_EQ(r["result"], "passed");
    EXPECT_EQ(r["exit_code"], 0);
    EXPECT_TRUE(r["error"].is_null());

    ASSERT_EQ(r["boards"].size(), static_cast<std::size_t>(kBoards));
    const auto boards = boardsByPort(r);
    ASSERT_EQ(boards.size(), static_cast<std::size_t>(kBoards));
    std::set<int> numbers;
    const int device = r["boards"][0]["device"]["index"].get<int>();
    EXPECT_GE(device, 0);
    for (const auto& port : ports) {
        SCOPED_TRACE(port);
        ASSERT_EQ(boards.count(port), 1u);
        const json& b = boards.at(port);
        numbers.insert(b["number"].get<int>());
        EXPECT_EQ(b["programmer"], "SST");
        EXPECT_EQ(b["device"], (json{{"index", device}, {"name", "SST SST39LF/VF160"}}));
        expectPassedOnce(b, device);
        const std::string log = registry.file("run-" + std::to_string(b["number"].get<int>()) + ".log");
        EXPECT_EQ(b["log_file"], log);
        EXPECT_TRUE(b["log_error"].is_null());
        const std::string text = readText(log);
        EXPECT_NE(text.find(" * Com port : " + port + " \r\n"), std::string::npos) << text;
        EXPECT_EQ(text.substr(text.size() - 15), " * Result: \n\tOK") << text;
    }
    EXPECT_EQ(numbers, (std::set<int>{1, 2, 3, 4}));

    // Each board's flash into a file of its own.
    const Finished dump = runCli(registry, {"dump", "--ports-from-registry", "--out", registry.file("dump-{n}.bin"),
                                            "--length", std::to_string(kImageSize)});
    EXPECT_EQ(dump.exitCode, 0u) << dump.output;
    for (int n = 1; n <= kBoards; ++n) EXPECT_EQ(readBytes(registry.file("dump-" + std::to_string(n) + ".bin")), bytes) << n;
}

TEST(Gang, DeadBoardFailsAloneAndTheReportSaysWhich) {
    Registry registry;
    // Board 2 never answers from the first byte on: its boot ROM's ping
    // phase runs out; the others do not wait for it.
    SimProcess sim(registry, {"--fault", "in:mute:at=0:board=2"}, kBoards);
    ASSERT_TRUE(sim.waitUntilUp());
    const std::vector<std::string> ports = devicePaths(sim);
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(kImageSize, 32));
    const std::string report = registry.file("report.json");

    const Finished run = runCli(registry, burnArgs(image, report));
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("  result: failed (3 of 4 boards passed)\n"), std::string::npos) << run.output;

    const json r = readJson(report);
    ASSERT_TRUE(r.is_object()) << readText(report);
    EXPECT_EQ(r["result"], "failed");
    EXPECT_EQ(r["exit_code"], 1);
    const auto boards = boardsByPort(r);
    ASSERT_EQ(boards.size(), static_cast<std::size_t>(kBoards));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(ports[i]);
        const json& b = boards.at(ports[i]);
        if (i != 2) {
            expectPassedOnce(b, b["device"]["index"].get<int>());
            continue;
        }
        EXPECT_EQ(b["result"], "failed");
        EXPECT_TRUE(b["device"].is_null());
        EXPECT_FALSE(b["failures"].empty());
        ASSERT_EQ(b["operations"].size(), 1u) << b.dump(2);  // nothing after a failed identify
        EXPECT_EQ(b["operations"][0]["name"], "identify");
        EXPECT_EQ(b["operations"][0]["status"], "FAILURE");
        EXPECT_EQ(b["operations"][0]["result"], "failed");
        // The console's report names the board too.
        const std::string line = "  [" + std::to_string(b["number"].get<int>()) + "] " + ports[i] + ": failed\n";
        EXPECT_NE(run.output.find(line), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("SelkanBoot: ERROR 7 : Timeout expired"), std::string::npos) << run.output;
    }
}

TEST(Gang, CorruptedByteFailsOneVerificationAndARetryFromTheStartMendsIt) {
    const std::string needle = "SST:Verification failed.";
    {
        // Without retries the board fails and the others pass.
        Registry registry;
        SimProcess sim(registry, {"--fault", kCorruptOnBoard1}, kBoards);
        ASSERT_TRUE(sim.waitUntilUp());
        const std::string corrupted = devicePaths(sim)[1];
        const std::string image = registry.file("image.bin");
        writeBytes(image, pattern(kImageSize, 33));
        const std::string report = registry.file("report.json");
        const Finished run = runCli(registry, burnArgs(image, report));
        EXPECT_EQ(run.exitCode, 1u) << run.output;
        const json r = readJson(report);
        ASSERT_TRUE(r.is_object()) << readText(report);
        const auto boards = boardsByPort(r);
        ASSERT_EQ(boards.count(corrupted), 1u) << r.dump(2);
        const json& b = boards.at(corrupted);
        EXPECT_EQ(b["result"], "failed") << r.dump(2);
        EXPECT_EQ(b["failures"], json({needle}));
        EXPECT_EQ(b["operations"][1]["status"], "SUCCESS");  // the worker only ran to its end
        EXPECT_EQ(b["operations"][1]["class0_texts"], json({needle}));
        for (const auto& [port, other] : boards)
            if (port != corrupted) {
                EXPECT_EQ(other["result"], "passed") << port << run.output;
            }
    }
    Registry registry;
    SimProcess sim(registry, {"--fault", kCorruptOnBoard1}, kBoards);
    ASSERT_TRUE(sim.waitUntilUp());
    const std::string corrupted = devicePaths(sim)[1];
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(kImageSize, 34));
    const std::string report = registry.file("report.json");
    std::vector<std::string> args = burnArgs(image, report);
    args.insert(args.end(), {"--retries", "1"});
    const Finished run = runCli(registry, args);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("retrying from the start (attempt 2 of 2)"), std::string::npos) << run.output;

    const json r = readJson(report);
    ASSERT_TRUE(r.is_object()) << readText(report);
    EXPECT_EQ(r["result"], "passed");
    EXPECT_EQ(r["retries"], 1);
    for (const auto& [port, b] : boardsByPort(r)) {
        SCOPED_TRACE(port);
        EXPECT_EQ(b["result"], "passed");
        if (port != corrupted) {
            EXPECT_EQ(b["attempts"], 1);
            continue;
        }
        EXPECT_EQ(b["attempts"], 2);
        EXPECT_EQ(b["retries"], 1);
        EXPECT_TRUE(b["failures"].empty());  // the last attempt's
        ASSERT_EQ(b["operations"].size(), 4u) << b.dump(2);
        const std::vector<std::pair<std::string, int>> order = {
            {"identify", 1}, {"burn and verify", 1}, {"identify", 2}, {"burn and verify", 2}};
        for (std::size_t i = 0; i < order.size(); ++i) {
            EXPECT_EQ(b["operations"][i]["name"], order[i].first);
            EXPECT_EQ(b["operations"][i]["attempt"], order[i].second);
            EXPECT_EQ(b["operations"][i]["result"], i == 1 ? "failed" : "passed");
        }
        EXPECT_EQ(b["operations"][1]["class0_texts"], json({needle}));
        EXPECT_EQ(b["operations"][1]["failures"], json({needle}));
    }
}

TEST(Gang, CtrlCCancelsEveryBoardThroughItsCancelEvent) {
    Registry registry;
    // Paced: the burns stream long enough to be caught in the middle.
    SimProcess sim(registry, {}, kBoards, true);
    ASSERT_TRUE(sim.waitUntilUp());
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(96 * 1024, 35));
    const std::string report = registry.file("report.json");
    CliProcess cli(registry, burnArgs(image, report));
    ASSERT_TRUE(cli.started());
    const std::string pid = std::to_string(cli.pid());

    // Every board has erased its flash: the images are streaming.
    std::vector<std::string> streaming;
    for (int n = 1; n <= kBoards; ++n) streaming.push_back("[" + std::to_string(n) + "]   SST:Finished erasing.");
    ASSERT_TRUE(cli.waitForOutput(streaming, 180'000)) << cli.output();
    ASSERT_TRUE(cli.interrupt());
    const Finished run = cli.finish();
    EXPECT_EQ(run.exitCode, 3u) << run.output;
    EXPECT_NE(run.output.find("Cancelling every board"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("  result: cancelled (0 of 4 boards passed)\n"), std::string::npos) << run.output;

    const json r = readJson(report);
    ASSERT_TRUE(r.is_object()) << readText(report);
    EXPECT_EQ(r["result"], "cancelled");
    EXPECT_EQ(r["exit_code"], 3);
    ASSERT_EQ(r["boards"].size(), static_cast<std::size_t>(kBoards));
    for (const auto& b : r["boards"]) {
        SCOPED_TRACE(b["port"].get<std::string>());
        EXPECT_EQ(b["result"], "cancelled");
        EXPECT_EQ(b["attempts"], 1);
        ASSERT_EQ(b["operations"].size(), 2u) << b.dump(2);
        // The worker saw the cancel event and said so itself: it was not
        // killed by the terminal's signal.
        EXPECT_EQ(b["operations"][1]["status"], "CANCELLED");
        EXPECT_EQ(b["operations"][1]["result"], "cancelled");
    }

    // No worker of that run is left, and no lock file of its mutexes.
    EXPECT_TRUE(processesWith("PR" + pid + "TI").empty()) << ::testing::PrintToString(processesWith("PR" + pid + "TI"));
    std::vector<fs::path> lockFolders = {registry.file("tmp")};
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) lockFolders.push_back(fs::path(runtime) / "ombra");
    for (const auto& folder : lockFolders) {
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
            EXPECT_EQ(entry.path().filename().string().find("PR" + pid + "TI"), std::string::npos) << entry.path();
    }
}
