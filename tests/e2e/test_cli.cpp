// ombra-cli as a user runs it, against selkan-sim as its own process: the
// verdict, the exit code and the run log file, above all for a burn whose
// verification fails while every worker status says success.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_rig.h"
#include "ombra/testsupport/hex_record.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/process.h"

namespace fs = std::filesystem;
using namespace ombra;
using namespace ombra::e2e;

namespace {

// The log after its first line (the start time).
std::string afterStartLine(const std::string& log) {
    const std::string head = " * Burning started on : ";
    if (log.compare(0, head.size(), head) != 0) return "no start line: " + log;
    const auto end = log.find(" \r\n");
    return end == std::string::npos ? "unended start line: " + log : log.substr(end + 3);
}

std::vector<std::string> burnArgs(const SimProcess& sim, const std::string& image, const std::string& log) {
    return {"burn", "--port", sim.port(), "--image", image, "--verify", "--log", log};
}

std::string logBody(const std::string& image, const std::string& port, const std::string& result) {
    return " * Binary image file name : " + image + " \r\n * Com port : " + port +
           " \r\n * Baud rate : 115200 \r\n * Action : burn and verify \r\n"
           " * Detected flash type : SST SST39LF/VF160 \n * Result: \n" + result;
}

// Smaller than the burn program's 8 KiB ring buffer: an unpaced stream
// cannot overflow it, however the machine's load shifts the timing.
constexpr std::size_t kImageSize = 6 * 1024;
// Host-to-board bytes since power-up: the identify and the burn with their
// uploads take about 3.2 KB before the image, so this byte is well inside
// the image's stream, which nothing checks before the verification.
const char* const kCorruptMidStream = "in:corrupt:at=6000";

}  // namespace

TEST(Cli, BurnAndVerifyOnASoundLinkPasses) {
    Registry registry;
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(kImageSize, 11));
    SimProcess sim(registry, {});
    ASSERT_TRUE(sim.waitUntilUp());

    const std::string log = registry.file("run.log");
    const Finished run = runCli(registry, burnArgs(sim, image, log));
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("  SST:Verification passed.\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("  result: passed\n"), std::string::npos) << run.output;
    EXPECT_EQ(afterStartLine(readText(log)), logBody(image, sim.port(), "\tOK"));

    // The board passes again, but the report cannot be written: not a pass.
    const Finished lost = runCli(registry, burnArgs(sim, image, registry.file("missing/run.log")));
    EXPECT_EQ(lost.exitCode, 1u) << lost.output;
    EXPECT_NE(lost.output.find("  result: passed\n"), std::string::npos) << lost.output;
    EXPECT_NE(lost.output.find("ombra-cli: cannot create log file " + registry.file("missing/run.log")),
              std::string::npos)
        << lost.output;
}

TEST(Cli, CorruptedStreamFailsTheVerificationDespiteASuccessStatus) {
    Registry registry;
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(kImageSize, 12));
    SimProcess sim(registry, {"--fault", kCorruptMidStream});
    ASSERT_TRUE(sim.waitUntilUp());

    const std::string log = registry.file("run.log");
    const Finished run = runCli(registry, burnArgs(sim, image, log));
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    // The programmer's own verdict, then its status that only says the
    // operation ran to its end.
    EXPECT_NE(run.output.find("  SST:Verification failed.\n  status SUCCESS (0)\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("  burn and verify  SUCCESS"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("  result: failed\n    SST:Verification failed.\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("result: passed"), std::string::npos) << run.output;
    EXPECT_EQ(afterStartLine(readText(log)), logBody(image, sim.port(), " *\tSST:Verification failed.\n\r"));
}

// At 19,200 baud the burn program is a little longer on the line than the
// boot loader waits for the answer's first byte (1 s). That wait starts
// once the upload has left, as after a serial port's synchronous write; had
// it started when the port took the bytes, the answer's sync byte would
// come in the read that times out, and be lost.
TEST(Cli, SlowLineCarriesTheUploadsAndTheImage) {
    Registry registry;
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(1024, 13));
    SimProcess sim(registry, {}, 1, true);
    ASSERT_TRUE(sim.waitUntilUp());

    const Finished run =
        runCli(registry, {"burn", "--port", sim.port(), "--image", image, "--verify", "--baud", "19200", "--plain"});
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("  SST:Verification passed.\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("  result: passed\n"), std::string::npos) << run.output;
}

namespace {

// Intel HEX records with their checksums.
using testsupport::hexRecord;

void writeText(const std::string& path, const std::string& text) { writeBytes(path, Bytes(text.begin(), text.end())); }

}  // namespace

TEST(Cli, HexImageBurnsFromItsLowestAddressWithTheGapErased) {
    Registry registry;
    SimProcess sim(registry, {});
    ASSERT_TRUE(sim.waitUntilUp());
    // Two blocks of 2 KiB at 0x1000 and 0x2000, written last block first.
    const Bytes a = pattern(2048, 21), b = pattern(2048, 22);
    std::string hex;
    for (unsigned i = 0; i < 2048; i += 32)
        hex += hexRecord(0, 0x2000 + i, Bytes(b.begin() + i, b.begin() + i + 32));
    for (unsigned i = 0; i < 2048; i += 32)
        hex += hexRecord(0, 0x1000 + i, Bytes(a.begin() + i, a.begin() + i + 32));
    hex += ":00000001FF\n";
    const std::string image = registry.file("firmware.hex");
    writeText(image, hex);

    const Finished burn = runCli(registry, {"burn", "--port", sim.port(), "--image", image, "--verify"});
    EXPECT_EQ(burn.exitCode, 0u) << burn.output;
    EXPECT_NE(burn.output.find("Image " + image + ": ihex, 6144 bytes from 0x1000"), std::string::npos) << burn.output;
    EXPECT_NE(burn.output.find("at 0x1000"), std::string::npos) << burn.output;
    EXPECT_NE(burn.output.find("  result: passed\n"), std::string::npos) << burn.output;
    for (const auto& entry : fs::directory_iterator(registry.file("tmp")))
        EXPECT_NE(entry.path().filename().string().rfind("ombra-image-", 0), 0u) << entry.path() << " is left";

    const std::string dumped = registry.file("dump.bin");
    const Finished dump = runCli(registry, {"dump", "--port", sim.port(), "--out", dumped, "--start", "0x800",
                                            "--length", "0x2000"});
    ASSERT_EQ(dump.exitCode, 0u) << dump.output;
    // Erased below the image and in the gap between its two parts.
    Bytes expected(0x2000, 0xFF);
    std::copy(a.begin(), a.end(), expected.begin() + 0x800);
    std::copy(b.begin(), b.end(), expected.begin() + 0x800 + a.size() + 0x800);
    EXPECT_EQ(readBytes(dumped), expected);
}

TEST(Cli, BadImageRecordStopsBeforeAnyBoardIsTouched) {
    Registry registry(std::vector<std::string>{});
    const std::string image = registry.file("firmware.hex");
    writeText(image, hexRecord(0, 0, {1, 2, 3}) + ":0300030001020300\n:00000001FF\n");
    // No such port: any attempt to reach a board would say so.
    const Finished run = runCli(registry, {"burn", "--port", registry.file("no-port"), "--image", image});
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_EQ(run.output, "ombra-cli: " + image + ":2: checksum is 00, the record's bytes need F4\n");

    // A text image places itself: --start is refused.
    writeText(image, hexRecord(0, 0, {1, 2, 3}) + ":00000001FF\n");
    const Finished start =
        runCli(registry, {"burn", "--port", registry.file("no-port"), "--image", image, "--start", "0x100"});
    EXPECT_EQ(start.exitCode, 2u) << start.output;
    // Read as the format asked for, not by its content.
    const Finished asked = runCli(registry, {"burn", "--port", registry.file("no-port"), "--image", image, "--format",
                                           "srec"});
    EXPECT_EQ(asked.exitCode, 1u) << asked.output;
    EXPECT_NE(asked.output.find(image + ":1: a record starts with 'S', not ':'"), std::string::npos) << asked.output;
}

TEST(Cli, UsageErrorsAndHelpTellTheExitCodes) {
    Registry registry(std::vector<std::string>{});
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command"},
        {{"burn", "--port", "p"}, "burn needs --image"},
        {{"identify", "--port", "p", "--log", "x.log"}, "--log is for burn only"},
        {{"burn", "--port", "p", "--image", "i", "--log", ""}, "bad value for --log: "},
        {{"erase", "--port", "p"}, "unknown command erase"},
        // Known only once the ports are: one dump file for two boards.
        {{"dump", "--port", "a", "--port", "b", "--out", "d.bin", "--length", "16"},
         "with several boards --out needs {n} or {port}"},
        // The registry's SERIALCOMM key is empty here.
        {{"identify", "--ports-from-registry"}, "no port listed under HARDWARE\\DEVICEMAP\\SERIALCOMM"},
    };
    for (const auto& [args, why] : cases) {
        const Finished run = runCli(registry, args);
        EXPECT_EQ(run.exitCode, 2u) << ::testing::PrintToString(args) << run.output;
        EXPECT_EQ(run.output.rfind("ombra-cli: " + why + "\nusage: ombra-cli identify", 0), 0u) << run.output;
        EXPECT_NE(run.output.find("exit codes: 0 passed"), std::string::npos) << run.output;
    }
    const Finished help = runCli(registry, {"--help"});
    EXPECT_EQ(help.exitCode, 0u);
    for (const char* code : {"exit codes: 0 passed (every board); 1 failed", "2 usage error", "3 cancelled (Ctrl-C)"})
        EXPECT_NE(help.output.find(code), std::string::npos) << help.output;
}
