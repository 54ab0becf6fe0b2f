#pragma once
// The serial cable: a pseudo-terminal whose slave side the host opens. Moves
// bytes between the pty master and the link UART's queues, at the UART's
// line rate in wall time when paced, garbled when the host's rate is off by
// more than 5 %, and through the configured faults.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ombra/sim/board.h"
#include "soc.h"

namespace ombra::sim {

// The host's rate as set on the pty (any rate, standard or not); 0 if unknown.
std::uint32_t ptyOutputBaud(int fd);

class Link {
public:
    using Clock = std::chrono::steady_clock;

    struct Settings {
        bool paced = true;
        bool garble = true;
        std::vector<FaultRule> faults;
        std::uint32_t seed = 1;
    };

    explicit Link(Settings settings);  // throws std::runtime_error
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    const std::string& path() const { return path_; }
    int masterFd() const { return master_; }

    // One round of moving bytes both ways at the UART's current rate; the
    // host's bytes stay in the line unless `takeInput`.
    void service(LinkUart& uart, std::uint32_t uartBaud, Clock::time_point now, bool takeInput = true);

    // The same in three parts, for a board that catches up with a stretch
    // of line time at once. receive: reads up to `max` of the host's bytes
    // whose line time has come by `now`, each due at its own time (and
    // looks at the host's rate). step: moves what is due by `now` into the
    // UART (unless held) and takes the UART's output at the line rate.
    // flush: writes to the host what is due by `now`.
    // Line time before `since` is lost (a quiet line); service takes a
    // short slack for the board's own latency.
    void receive(std::uint32_t uartBaud, Clock::time_point now, std::size_t max, Clock::time_point since);
    void step(LinkUart& uart, std::uint32_t uartBaud, Clock::time_point now, bool takeInput);
    void flush(Clock::time_point now);
    // For a replay: the next time after `after` at which a byte would enter
    // or leave the UART (time_point::max() when none would); a byte due that
    // the full UART cannot take waits a byte time for the program.
    Clock::time_point nextMove(const LinkUart& uart, std::uint32_t uartBaud, Clock::time_point after) const;
    // The last receive found the host's side empty: it is not ahead of the line.
    bool quiet() const { return quiet_; }
    // The board woke because the host wrote: the next receive looks at once.
    void hostWrote() { quiet_ = false; }
    // Bytes taken from the host, not yet in the UART.
    std::size_t inbound() const { return in_.queue.size(); }
    // Bytes on their way to the host, not yet written.
    std::size_t outbound() const { return out_.queue.size(); }
    static std::chrono::nanoseconds byteTime(std::uint32_t uartBaud);
    // When what the UART and the link now hold for the host has left
    // (time_point::max() when nothing is on its way).
    Clock::time_point outputDone(const LinkUart& uart, std::uint32_t uartBaud, Clock::time_point now) const;
    // Paced: when the bytes the host has written so far and the link has not
    // yet read will all have reached the line (time_point::max() when there
    // are none).
    Clock::time_point inputDone(std::uint32_t uartBaud, Clock::time_point now) const;
    // When the link next wants to move a byte (time_point::max() when idle),
    // and whether new host input could be taken at once.
    Clock::time_point nextDue(const LinkUart& uart, Clock::time_point now) const;
    // The host is not reading: wait for the pty to take output.
    bool outputBlocked() const { return blocked_; }
    bool wantsInput(const LinkUart& uart, Clock::time_point now) const;
    // Nothing of the board's output is still on its way.
    bool outputIdle(const LinkUart& uart) const { return uart.tx.empty() && outbound_.empty(); }

    // The board came round so late that it gives up line time: the host's
    // bytes already taken keep their spacing and arrive that much later.
    void delayInbound(Clock::duration by);

    // The board sleeps until `wake` by its own choice: a later round is
    // late (the board's thread got no processor) only past that time.
    void willSleepUntil(Clock::time_point wake) { lastService_ = std::max(lastService_, wake); }

    // A stall fault fired: the board freezes until this time.
    Clock::time_point stalledUntil() const { return stallUntil_; }

    std::uint32_t hostBaud() const;
    void powerUp();
    // Muted, nothing more leaves: bytes still on their way are dropped too.
    void setMuted(bool m) {
        muted_ = m;
        if (m)
            out_.queue.clear();
    }

    std::uint64_t bytesIn() const { return totalIn_; }
    std::uint64_t bytesOut() const { return totalOut_; }

private:
    struct Held {
        std::uint8_t byte;
        Clock::time_point due;
    };
    struct Direction {
        std::deque<Held> queue;  // bytes taken but not yet delivered
        Clock::time_point next{};  // pacing: when the next byte may move
        std::uint64_t offset = 0;  // bytes seen since power-up
        std::uint64_t garbleCount = 0;
        // The last bytes seen, and per rule where its anchor ended (none yet).
        std::deque<std::uint8_t> recent;
        std::vector<std::optional<std::uint64_t>> anchorEnd;
    };
    // Applies faults to one byte; false when it is dropped.
    bool fault(bool toBoard, Direction& d, std::uint8_t& byte, Clock::time_point now,
               Clock::time_point& due);
    bool mismatch(std::uint32_t host, std::uint32_t uartBaud) const;
    std::uint8_t garble(Direction& d, std::uint8_t byte);
    // How many bytes may move by `now` (at most max), one per byte time.
    std::size_t slots(Direction& d, std::chrono::nanoseconds byteTime, Clock::time_point now, std::size_t max,
                      Clock::time_point since);

    Settings settings_;
    std::mt19937 rng_;
    int master_ = -1, slave_ = -1;
    std::string path_;
    Direction in_, out_;
    std::deque<Held>& outbound_ = out_.queue;
    bool muted_ = false;
    bool anchored_ = false;  // some rule waits for bytes in the stream
    bool blocked_ = false;
    Clock::time_point stallUntil_{};
    Clock::time_point lastService_{};
    std::uint32_t lastHostBaud_ = 0;
    std::uint32_t host_ = 0;  // the host's rate at the last receive
    bool quiet_ = true;
    Clock::time_point quietAt_{};  // when the last receive found the host's side empty
    std::size_t waitedIn_ = 0;  // bytes of unknown rate: they waited while the board lagged
    std::uint64_t totalIn_ = 0, totalOut_ = 0;
};

} // namespace ombra::sim
