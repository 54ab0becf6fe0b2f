#include "host_link.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace ombra::remote::test {
namespace {

speed_t speedOf(unsigned baud) {
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    default: throw std::invalid_argument("no such line rate");
    }
}

}  // namespace

HostLink::HostLink(const std::string& path, unsigned baud) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    setBaud(baud);
}

HostLink::~HostLink() {
    if (fd_ >= 0) ::close(fd_);
}

void HostLink::setBaud(unsigned baud) {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) throw std::runtime_error("tcgetattr");
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speedOf(baud));
    ::cfsetospeed(&t, speedOf(baud));
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) throw std::runtime_error("tcsetattr");
}

void HostLink::send(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("write to the link failed");
        } else {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
}

void HostLink::sendFrame(std::uint8_t type, std::span<const std::uint8_t> payload) {
    send(frame::encode(type, payload));
}

std::optional<std::uint8_t> HostLink::readByte(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::uint8_t b = 0;
        const ssize_t n = ::read(fd_, &b, 1);
        if (n == 1) return b;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    }
}

std::vector<std::uint8_t> HostLink::readBytes(std::size_t count, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<std::uint8_t> out;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (auto b = readByte(left)) out.push_back(*b);
    }
    return out;
}

std::optional<frame::Frame> HostLink::readFrame(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    frame::Decoder decoder(64);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        const auto b = readByte(left);
        if (!b) return std::nullopt;
        const auto r = decoder.feed(*b);
        if (r == frame::Decoder::Result::ok || r == frame::Decoder::Result::badSum)
            return decoder.frame();
    }
}

std::optional<frame::Frame> HostLink::waitFor(std::uint8_t type, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        auto f = readFrame(left);
        if (!f) return std::nullopt;
        if (f->sumOk && f->type == type) return f;
    }
}

void HostLink::discardInput() {
    ::tcflush(fd_, TCIFLUSH);
    std::uint8_t buf[256];
    while (::read(fd_, buf, sizeof buf) > 0) {
    }
}

std::vector<std::uint8_t> be32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

std::vector<std::uint8_t> be16(std::uint16_t v) {
    return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

}  // namespace ombra::remote::test
