// The dump program's XModem-1K sender against lrzsz's rx, an independent
// receiver, and against a host that cancels, refuses or never starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "ombra/platform/process.h"
#include "remote_fixture.h"

namespace ombra::remote::test {
namespace {

enum : std::uint8_t { kStx = 0x02, kEot = 0x04, kAck = 0x06, kNak = 0x15, kCan = 0x18 };
constexpr std::size_t kBlockBytes = 1 + 2 + 1024 + 1;  // sum mode

const PartCase kParts[] = {
    {"SST39LF/VF800A", Family::sst}, {"LE28DW8102T", Family::sst},
    {"28F800C3B", Family::intel},    {"28F160B3T", Family::intel},
    {"AM29LV800BB", Family::amd},    {"MBM29LV160T", Family::amd},
};

std::string caseName(const ::testing::TestParamInfo<PartCase>& info) {
    std::string name = info.param.model;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
}

// Runs rx on the board's port, writing `name` in `dir` (rx refuses paths
// outside its working folder); true when it ended with status 0 in time.
bool runRx(const std::string& port, const std::string& dir, const std::string& name, bool crc) {
    auto quoted = [](const std::string& s) { return "'" + s + "'"; };
    const std::string script = "cd " + quoted(dir) + " && exec rx -b -q " + (crc ? "-c " : "") + quoted(name) +
                               " <" + quoted(port) + " >" + quoted(port) + " 2>" + quoted(name + ".log");
    const std::string args[] = {"-c", script};
    HANDLE process = CreateProcess("/bin/sh", args, {});
    if (!process) return false;
    DWORD code = 1;
    if (WaitForSingleObject(process, 120000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
    } else {
        GetExitCodeProcess(process, &code);
    }
    CloseHandle(process);
    return code == 0;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readText(const std::string& path) {
    const auto bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

void sendDump(RemoteBoard& b, std::uint32_t address, std::uint32_t count) {
    auto payload = be32(address);
    const auto c = be32(count);
    payload.insert(payload.end(), c.begin(), c.end());
    b.link().sendFrame(kDump, payload);
}

// rx discards its output right after acknowledging EOT, so that ACK may
// never reach the board; the host acknowledges in rx's place (a board that
// got rx's ACK is back in its ROM, which ignores the byte).
::testing::AssertionResult endOfTransmission(RemoteBoard& b) {
    const std::uint8_t ack[] = {kAck};
    b.link().send(ack);
    return b.inRomWithin(10s);
}

class DumpPerPart : public ::testing::TestWithParam<PartCase> {};

// A count that leaves a partial block in checksum mode, a multiple of 1024
// (one extra pad block) in CRC mode.
TEST_P(DumpPerPart, RxReceivesTheFlashSpanInSumAndCrcMode) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("ombra-remote-dump-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    struct Run {
        bool crc;
        std::uint32_t address, count;
    };
    for (const Run run : {Run{false, 0x1000, 5000}, Run{true, 0x20000, 3072}}) {
        SCOPED_TRACE(run.crc ? "CRC mode" : "sum mode");
        // rx clears its input right after sending its start byte, so the
        // board must not answer within microseconds: give the link latency
        RemoteBoard b(GetParam(), {.inboundDelayMs = 5});
        b.board().writeFlash(0, randomBytes(0x30000, run.count));
        ASSERT_TRUE(b.start(builtinImage(b.family(), Program::dump)));
        sendDump(b, run.address, run.count);
        ASSERT_TRUE(b.expect(kDumpRes));
        const std::string name = run.crc ? "crc.bin" : "sum.bin";
        const std::string file = (dir / name).string();
        std::filesystem::remove(file);
        ASSERT_TRUE(runRx(b.board().portPath(), dir.string(), name, run.crc))
            << "rx: " << readText(file + ".log");
        const auto got = readFile(file);
        const auto want = b.board().readFlash(run.address, run.count);
        ASSERT_GE(got.size(), want.size());
        EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin()));
        if (got.size() > want.size()) {
            EXPECT_EQ(got[want.size()], 0x1A);
        }
        EXPECT_TRUE(endOfTransmission(b));
        const std::string mode = run.crc ? "XMODEM CRC" : "XMODEM checksum";
        EXPECT_NE(b.board().debugLog().find(mode), std::string::npos);
    }
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Parts, DumpPerPart, ::testing::ValuesIn(kParts), caseName);

TEST(Dump, ReceiverCancelsWithCanCan) {
    {   // before the first block: the transfer ends at once
        RemoteBoard b(kParts[0]);
        ASSERT_TRUE(b.start(builtinImage(b.family(), Program::dump)));
        sendDump(b, 0, 4096);
        ASSERT_TRUE(b.expect(kDumpRes));
        const std::uint8_t cancel[] = {kCan, kCan};
        b.link().send(cancel);
        EXPECT_TRUE(b.inRomWithin(10s));
        EXPECT_NE(b.board().debugLog().find("transfer cancelled"), std::string::npos);
    }
    {   // after a block: acknowledged, then the transfer ends
        RemoteBoard b(kParts[0]);
        ASSERT_TRUE(b.start(builtinImage(b.family(), Program::dump)));
        sendDump(b, 0, 4096);
        ASSERT_TRUE(b.expect(kDumpRes));
        const std::uint8_t nak[] = {kNak};
        b.link().send(nak);
        const auto block = b.link().readBytes(kBlockBytes, 10s);
        ASSERT_EQ(block.size(), kBlockBytes);
        EXPECT_EQ(block[0], kStx);
        EXPECT_EQ(block[1], 1);
        EXPECT_EQ(block[2], 0xFE);
        const std::uint8_t cancel[] = {kCan, kCan};
        b.link().send(cancel);
        EXPECT_EQ(b.link().readByte(10s), std::optional<std::uint8_t>(kAck));
        EXPECT_TRUE(b.inRomWithin(10s));
    }
}

TEST(Dump, BlockRefused25TimesEndsWithThreeCan) {
    RemoteBoard b(kParts[0]);
    b.board().writeFlash(0, randomBytes(1024, 3));
    ASSERT_TRUE(b.start(builtinImage(b.family(), Program::dump)));
    sendDump(b, 0, 1024);
    ASSERT_TRUE(b.expect(kDumpRes));
    const std::uint8_t nak[] = {kNak};
    std::vector<std::uint8_t> first;
    for (int i = 0; i < 25; ++i) {
        b.link().send(nak);
        const auto block = b.link().readBytes(kBlockBytes, 10s);
        ASSERT_EQ(block.size(), kBlockBytes) << "sending " << i;
        if (i == 0) first = block;
        EXPECT_EQ(block, first) << "every sending is the same block";
    }
    const std::uint16_t sum = byteSum(std::span(first).subspan(3, 1024));
    EXPECT_EQ(first.back(), static_cast<std::uint8_t>(sum));
    b.link().send(nak);
    EXPECT_EQ(b.link().readBytes(3, 10s), std::vector<std::uint8_t>(3, kCan));
    EXPECT_TRUE(b.inRomWithin(10s));
}

}  // namespace
}  // namespace ombra::remote::test
