#pragma once
// The boot ROM, written in C++ rather than run on the core: it pings at
// 19,200 baud until a valid frame comes, then serves version, C-bus table,
// load and execute frames. Execute hands the core over to the loaded code
// with a far return address into the ROM page, where the board takes over
// again.
#include <chrono>
#include <cstdint>
#include <deque>
#include <span>

#include "ombra/common/frame.h"
#include "soc.h"

namespace ombra::sim {

class BootRom {
public:
    using Clock = std::chrono::steady_clock;
    enum class Result { idle, busy, run };

    BootRom(Soc& soc, std::uint16_t version, std::chrono::milliseconds pingInterval);

    // Entry at 0xFFFE:0000: the link back at 19,200 baud, pinging.
    void enter(Clock::time_point now);
    // A far return from loaded code: commands go on at the current rate.
    void resume();
    // Starts the core at seg:off with a far return to the ROM on its stack.
    void launch(std::uint16_t seg, std::uint16_t off, std::uint16_t returnOffset);

    // One round: answers what has arrived, pings when due. `lineIdle` says
    // the board's output has left the link (execute waits for it).
    Result step(Clock::time_point now, bool lineIdle);
    // When the next ping is due; none while one is still on its way out
    // (the line's own movement wakes the board then), so a host that reads
    // nothing never holds the board awake.
    Clock::time_point nextPing() const {
        if (!pinging_ || !out_.empty() || !soc_.link().tx.empty())
            return Clock::time_point::max();
        return nextPing_;
    }
    // An execute was answered; the code starts once the answer has left.
    bool launching() const { return launching_; }
    std::uint64_t framesDropped() const { return dropped_; }

    static constexpr std::uint8_t kPing = 0x01, kAck = 0x10, kVersion = 0x15;

private:
    void handle(const frame::Frame& f);
    void send(std::uint8_t type, std::span<const std::uint8_t> payload);

    Soc& soc_;
    std::uint16_t version_;
    std::chrono::milliseconds interval_;
    frame::Decoder decoder_;
    std::deque<std::uint8_t> out_;
    bool pinging_ = true;
    Clock::time_point nextPing_{};
    bool launching_ = false;
    std::uint16_t launchSeg_ = 0, launchOff_ = 0;
    std::uint64_t dropped_ = 0;
};

} // namespace ombra::sim
