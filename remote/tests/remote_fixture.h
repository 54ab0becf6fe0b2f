// A simulated board running one remote program, and the host-side steps the
// tests share.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "host_link.h"
#include "ombra/remote/images.h"
#include "ombra/sim/board.h"

namespace ombra::remote::test {

using namespace std::chrono_literals;

// Link message types.
enum : std::uint8_t {
    kPing = 0x01, kErase = 0x03, kEraseBlock = 0x04, kProgram = 0x05, kSetBaudRate = 0x0A,
    kIdentify = 0x0C, kDump = 0x0D, kVerify = 0x0E, kReset = 0x0F, kDone = 0x10,
    kBufferOverflow = 0x11, kIdentifyRes = 0x15, kDumpRes = 0x16, kVerifyRes = 0x17,
    kSetBaudRateRes = 0x18,
};

struct PartCase {
    const char* model;
    Family family;
};

// Physical addresses of the program's data area (DS = 0x0001).
inline constexpr std::uint32_t kDataPhys = 0x100;
inline constexpr std::uint32_t kDataStart = 0x0070, kDataEnd = 0x2090;
inline constexpr std::size_t kRingSize = 8192;

const char* driverName(Family family);
std::vector<std::uint8_t> driverProgram(Family family, const char* file);
std::vector<std::uint8_t> randomBytes(std::size_t n, std::uint32_t seed);
std::uint16_t byteSum(std::span<const std::uint8_t> bytes);
std::uint32_t loadPhys(Family family);

class RemoteBoard {
public:
    struct Options {
        double flashTimeScale = 0.01;
        std::uint8_t identity = 0x64;
        bool paced = false;  // bytes at the line rate, as a real link
        std::uint32_t inboundDelayMs = 0;  // every byte to the board arrives this late
    };
    RemoteBoard(const PartCase& part, Options options);
    RemoteBoard(const PartCase& part) : RemoteBoard(part, Options{}) {}

    sim::Board& board() { return *board_; }
    HostLink& link() { return *link_; }
    Family family() const { return family_; }

    // Loads the program and waits for its first PING.
    ::testing::AssertionResult start(std::span<const std::uint8_t> image);
    // A frame of `type`, skipping PINGs; failure when none comes in time.
    ::testing::AssertionResult expect(std::uint8_t type, frame::Frame* out = nullptr,
                                      std::chrono::milliseconds limit = 20s);
    ::testing::AssertionResult inRomWithin(std::chrono::milliseconds limit);

    // Host steps of a burn.
    ::testing::AssertionResult erase(bool wholeChip, std::uint32_t end);
    // PROGRAM and its whole stream at once, as fast as the link takes it.
    void program(std::uint32_t address, std::span<const std::uint8_t> data);
    // PROGRAM, then each 4096-byte chunk once the flash holds the ones before.
    // The program writes flash only between bytes, after an even count; the
    // unpaced link hands it bytes in bursts, and bursts that leave the count
    // odd can stall it until the stream overruns the ring. A real line paces
    // the bytes; this host paces the chunks instead.
    ::testing::AssertionResult programInSteps(std::uint32_t address, std::span<const std::uint8_t> data);
    std::optional<std::uint16_t> verifySum(std::uint32_t address, std::uint16_t count);

private:
    Family family_;
    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<HostLink> link_;
};

}  // namespace ombra::remote::test
