#pragma once
// The host side of the simulated cable for tests: opens the port path like a
// serial device, reads and writes with deadlines, and reads boot frames.
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "ombra/common/frame.h"

namespace ombra::sim::test {

// Any rate through termios2 (BOTHER), as the product's serial layer sets it.
bool setAnyBaud(int fd, std::uint32_t baud);

class HostPort {
public:
    HostPort(const std::string& path, speed_t baud) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0)
            setBaud(baud);
    }
    ~HostPort() { close(); }
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void setBaud(speed_t baud) {
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, baud);
        cfsetospeed(&t, baud);
        tcsetattr(fd_, TCSANOW, &t);
    }
    // Received bytes only: flushing a pty's output can drop bytes just
    // written that the board has not taken yet.
    void purge() { tcflush(fd_, TCIFLUSH); }

    void write(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }
    void sendFrame(std::uint8_t type, const std::vector<std::uint8_t>& payload = {}) {
        write(frame::encode(type, payload));
    }

    // One byte, or nothing by the deadline.
    std::optional<std::uint8_t> readByte(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            std::uint8_t b;
            if (::read(fd_, &b, 1) == 1)
                return b;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()) + 1);
        }
    }

    // The next frame with a good sum (bad ones are counted in `bad`).
    std::optional<frame::Frame> readFrame(std::chrono::milliseconds limit, int* bad = nullptr) {
        const auto end = std::chrono::steady_clock::now() + limit;
        frame::Decoder d;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            const auto b = readByte(left);
            if (!b)
                return std::nullopt;
            const auto r = d.feed(*b);
            if (r == frame::Decoder::Result::ok)
                return d.frame();
            if (r == frame::Decoder::Result::badSum && bad)
                ++*bad;
        }
    }

private:
    int fd_ = -1;
};

} // namespace ombra::sim::test
