#include "link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace ombra::sim {

namespace {

using namespace std::chrono_literals;

// Longest burst after a quiet line: a little slack for the loop's latency.
constexpr auto kBurstWindow = 4ms;
// The board loop comes round every 2 ms at most; a longer absence means its
// thread got no processor (a loaded host).
constexpr auto kLagLimit = 20ms;
// How long an empty host side is taken as still empty, unless the board is
// woken for input.
constexpr auto kQuietLook = 200us;
constexpr std::size_t kOutboundLimit = 64;
constexpr std::size_t kReadLimit = 1024;  // bytes per read from the pty (a wake takes up to 512)

std::runtime_error sysError(const char* what) {
    return std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

Link::Link(Settings settings) : settings_(std::move(settings)), rng_(settings_.seed) {
    for (const auto& rule : settings_.faults)
        anchored_ = anchored_ || !rule.after.empty();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        throw sysError("posix_openpt");
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        ::close(master_);
        throw sysError("pseudo-terminal");
    }
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Held open for the board's lifetime so a host closing its side never
    // hangs up the link; raw at once so nothing echoes or rewrites pings.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        ::close(master_);
        throw sysError("open pty slave");
    }
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    tcsetattr(slave_, TCSANOW, &t);
}

Link::~Link() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

std::uint32_t Link::hostBaud() const { return ptyOutputBaud(master_); }

void Link::powerUp() {
    waitedIn_ = 0;
    in_ = {};
    out_.queue.clear();
    out_ = Direction{};
    muted_ = false;
    stallUntil_ = {};
}

bool Link::mismatch(std::uint32_t host, std::uint32_t uartBaud) const {
    if (!settings_.garble)
        return false;
    return host == 0 || uartBaud == 0 || std::abs(double(host) - double(uartBaud)) > 0.05 * uartBaud;
}

// What a receiver sampling at the wrong rate makes of a byte: never the byte.
std::uint8_t Link::garble(Direction& d, std::uint8_t byte) {
    std::uint8_t mask = static_cast<std::uint8_t>(0xA5 ^ (d.garbleCount++ * 0x3B));
    return static_cast<std::uint8_t>(byte ^ (mask ? mask : 0xFF));
}

bool Link::fault(bool toBoard, Direction& d, std::uint8_t& byte, Clock::time_point now,
                 Clock::time_point& due) {
    const std::uint64_t offset = d.offset++;
    if (anchored_) {
        d.recent.push_back(byte);
        if (d.recent.size() > kMaxFaultAnchor)
            d.recent.pop_front();
        d.anchorEnd.resize(settings_.faults.size());
    }
    for (std::size_t i = 0; i < settings_.faults.size(); ++i) {
        const FaultRule& rule = settings_.faults[i];
        const bool dirOk = rule.direction == FaultRule::Direction::both ||
                           (rule.direction == FaultRule::Direction::toBoard) == toBoard;
        if (!dirOk)
            continue;
        std::uint64_t at = offset;
        if (!rule.after.empty()) {
            auto& end = d.anchorEnd[i];
            if (!end) {
                if (d.recent.size() >= rule.after.size() &&
                    std::equal(rule.after.begin(), rule.after.end(), d.recent.end() - rule.after.size()))
                    end = offset + 1;
                continue;
            }
            at = offset - *end;
        }
        bool hit = std::find(rule.offsets.begin(), rule.offsets.end(), at) != rule.offsets.end();
        if (!hit && rule.probability > 0)
            hit = std::uniform_real_distribution<double>(0, 1)(rng_) < rule.probability;
        if (!hit)
            continue;
        switch (rule.kind) {
        case FaultRule::Kind::drop: return false;
        case FaultRule::Kind::corrupt:
            byte ^= static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 255)(rng_));
            break;
        case FaultRule::Kind::delay: due = std::max(due, now + std::chrono::milliseconds(rule.ms)); break;
        case FaultRule::Kind::stall: stallUntil_ = now + std::chrono::milliseconds(rule.ms); break;
        case FaultRule::Kind::mute: muted_ = true; break;
        }
    }
    return !muted_;
}

void Link::service(LinkUart& uart, std::uint32_t uartBaud, Clock::time_point now, bool takeInput) {
    // Read no further than the UART has room for, so what it cannot take
    // stays in the line (the host's writes wait, as on a line).
    const std::size_t held = uart.rx.size() + in_.queue.size();
    receive(uartBaud, now, takeInput && held < LinkUart::rxCapacity ? LinkUart::rxCapacity - held : 0,
            now - kBurstWindow);
    step(uart, uartBaud, now, takeInput);
    flush(now);
}

void Link::delayInbound(Clock::duration by) {
    for (Held& h : in_.queue)
        h.due += by;
    if (in_.next != Clock::time_point{})
        in_.next += by;
}

std::chrono::nanoseconds Link::byteTime(std::uint32_t uartBaud) {
    return std::chrono::nanoseconds(10'000'000'000ull / std::max(uartBaud, 1u));
}

std::size_t Link::slots(Direction& d, std::chrono::nanoseconds byteTime, Clock::time_point now, std::size_t max,
                        Clock::time_point since) {
    if (!settings_.paced)
        return max;
    d.next = std::max(d.next, since);
    std::size_t n = 0;
    for (auto t = d.next; n < max && t <= now; t += byteTime)
        ++n;
    return n;
}

void Link::receive(std::uint32_t uartBaud, Clock::time_point now, std::size_t max, Clock::time_point since) {
    // The host changed its rate while the board lagged (its thread got no
    // processor): the bytes that waited meanwhile may have been sent at
    // either rate, so they arrive as sent. A board on time, or a rate that
    // stayed, judges every byte. Measured on the clock, not on `now`, which
    // may be a moment the board is catching up with.
    const auto clock = Clock::now();
    // The host's side was empty a moment ago and the board has not been
    // woken for input since: a look now would find it so again (and cost
    // two system calls, on every round of an idle board).
    if (quiet_ && clock - quietAt_ < kQuietLook)
        return;
    host_ = hostBaud();
    const bool lagged = lastService_ != Clock::time_point{} && clock - std::max(lastService_, stallUntil_) > kLagLimit;
    if (lagged && host_ != lastHostBaud_) {
        int waiting = 0;
        if (ioctl(master_, FIONREAD, &waiting) == 0 && waiting > 0)
            waitedIn_ = static_cast<std::size_t>(waiting);
    }
    lastService_ = clock;
    lastHostBaud_ = host_;
    const bool bad = mismatch(host_, uartBaud);
    const auto bt = byteTime(uartBaud);
    quiet_ = false;
    while (max > 0) {
        std::uint8_t buf[kReadLimit];
        const std::size_t n = slots(in_, bt, now, std::min(max, sizeof buf), since);
        if (n == 0)
            return;
        const ssize_t got = ::read(master_, buf, n);
        if (got <= 0) {
            quiet_ = true;
            quietAt_ = clock;
            return;
        }
        max -= static_cast<std::size_t>(got);
        for (ssize_t i = 0; i < got; ++i) {
            // Each byte is due at its own time on the line.
            auto due = settings_.paced ? in_.next : now;
            if (settings_.paced)
                in_.next += bt;
            const bool waited = waitedIn_ > 0;
            if (waited)
                --waitedIn_;
            std::uint8_t b = bad && !waited ? garble(in_, buf[i]) : buf[i];
            if (!fault(true, in_, b, now, due))
                continue;
            ++totalIn_;
            in_.queue.push_back({b, due});
        }
        if (static_cast<std::size_t>(got) < n) {
            quiet_ = true;
            quietAt_ = clock;
            return;
        }
    }
}

void Link::step(LinkUart& uart, std::uint32_t uartBaud, Clock::time_point now, bool takeInput) {
    // Host to board. Delayed bytes keep their place in the stream.
    while (takeInput && uart.rxRoom() && !in_.queue.empty() && in_.queue.front().due <= now) {
        uart.rx.push_back(in_.queue.front().byte);
        in_.queue.pop_front();
    }

    // Board to host: bytes leave the UART at the line rate.
    if (out_.queue.size() < kOutboundLimit && !uart.tx.empty()) {
        const bool bad = mismatch(host_, uartBaud);
        const auto bt = byteTime(uartBaud);
        const std::size_t n =
            slots(out_, bt, now, std::min(uart.tx.size(), kOutboundLimit - out_.queue.size()), now - kBurstWindow);
        for (std::size_t i = 0; i < n; ++i) {
            std::uint8_t b = uart.tx.front();
            uart.tx.pop_front();
            if (settings_.paced)
                out_.next += bt;
            if (bad)
                b = garble(out_, b);
            auto due = now;
            if (fault(false, out_, b, now, due))
                out_.queue.push_back({b, due});
        }
    }
}

void Link::flush(Clock::time_point now) {
    std::uint8_t buf[kOutboundLimit];
    std::size_t k = 0;
    for (const auto& h : out_.queue) {
        if (h.due > now || k == sizeof buf)
            break;
        buf[k++] = h.byte;
    }
    if (k > 0) {
        const ssize_t put = ::write(master_, buf, k);
        blocked_ = put < static_cast<ssize_t>(k);
        for (ssize_t i = 0; i < put; ++i)
            out_.queue.pop_front();
        if (put > 0)
            totalOut_ += static_cast<std::uint64_t>(put);
    }
}

Link::Clock::time_point Link::outputDone(const LinkUart& uart, std::uint32_t uartBaud, Clock::time_point now) const {
    if (!uart.tx.empty()) {
        if (!settings_.paced)
            return now;
        return std::max(out_.next, now) + byteTime(uartBaud) * (uart.tx.size() - 1);
    }
    return out_.queue.empty() ? Clock::time_point::max() : std::max(out_.queue.back().due, now);
}

Link::Clock::time_point Link::nextMove(const LinkUart& uart, std::uint32_t uartBaud, Clock::time_point after) const {
    auto due = Clock::time_point::max();
    if (!in_.queue.empty())
        due = uart.rxRoom() ? std::max(in_.queue.front().due, after) : after + byteTime(uartBaud);
    if (!uart.tx.empty() && out_.queue.size() < kOutboundLimit)
        due = std::min(due, settings_.paced ? std::max(out_.next, after) : after);
    return due;
}

Link::Clock::time_point Link::inputDone(std::uint32_t uartBaud, Clock::time_point now) const {
    int waiting = 0;
    if (!settings_.paced || ioctl(master_, FIONREAD, &waiting) != 0 || waiting <= 0)
        return Clock::time_point::max();
    return std::max(in_.next, now) + byteTime(uartBaud) * (waiting - 1);
}

bool Link::wantsInput(const LinkUart& uart, Clock::time_point now) const {
    if (!uart.rxRoom() || !in_.queue.empty())
        return false;
    return !settings_.paced || in_.next <= now;
}

Link::Clock::time_point Link::nextDue(const LinkUart& uart, Clock::time_point now) const {
    auto due = Clock::time_point::max();
    if (!in_.queue.empty())
        due = std::min(due, in_.queue.front().due);
    else if (settings_.paced && uart.rxRoom() && in_.next > now)
        due = std::min(due, in_.next);
    if (!out_.queue.empty() && !blocked_)
        due = std::min(due, out_.queue.front().due);
    if (!uart.tx.empty() && out_.queue.size() < kOutboundLimit)
        due = std::min(due, settings_.paced ? out_.next : now);
    return due;
}

} // namespace ombra::sim
