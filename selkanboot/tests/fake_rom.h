// A scripted stand-in for the board's boot ROM on a pseudo-terminal, for
// the protocol cases a real board cannot be made to show on demand.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ombra/platform/serial.h"

namespace ombra::selkanboot::test {

struct FakeRomScript {
    bool silent = false;              // never pings, never answers
    int pingIntervalMs = 15;
    int versionDeafMs = 0;            // queries within this time of the first go unanswered
    bool versionOfOtherTypeFirst = false;  // answer the first query with type 0x10
    std::uint8_t major = 0x64;
    std::uint8_t minor = 0x02;
    bool answerCBusTable = true;
    bool answerLoad = true;
};

class FakeRom {
public:
    explicit FakeRom(FakeRomScript script);
    ~FakeRom();

    const std::string& path() const { return path_; }

    struct Seen {
        std::vector<std::uint8_t> cbusTable;
        std::uint16_t divisor = 0;
        int versionQueries = 0;
        int loads = 0;
        std::uint32_t loadAddress = 0;
        std::vector<std::uint8_t> image;
        std::uint32_t executed = 0;  // segment << 16 | offset of the last execute
        int executes = 0;
        int nulsWhileSilent = 0;
    };
    Seen seen();

private:
    void run();
    void send(std::uint8_t type, const std::vector<std::uint8_t>& payload);
    void handle(std::uint8_t type, const std::vector<std::uint8_t>& payload);

    FakeRomScript script_;
    std::unique_ptr<platform::SerialPort> board_;
    std::unique_ptr<platform::SerialPort> keepOpen_;  // the link stays up while the host reopens
    std::string path_;
    std::atomic<bool> stop_ {false};
    std::mutex mutex_;
    Seen seen_;
    bool hostSeen_ = false;
    bool otherTypeSent_ = false;
    std::chrono::steady_clock::time_point firstQuery_;  // the host's hello ended the ping phase
    std::thread thread_;
};

}  // namespace ombra::selkanboot::test
