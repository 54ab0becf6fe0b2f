#include "host_link.h"

#include <stdexcept>

namespace ombra::remote::test {
namespace {

using platform::SerialTransfer;

// Reads return at once with what is buffered; the waits below set their own
// limits, so a silent board never blocks a test.
constexpr platform::SerialTimeouts kReturnAtOnce{platform::kSerialMaxWait, 0, 0, 0, 0};
// A write has its bytes gone within this, however slow the line.
constexpr platform::SerialTimeouts kPollRead{0, 0, 100, 0, 10000};

platform::SerialSettings rawLine(unsigned baud) {
    platform::SerialSettings s;
    s.baudRate = baud;
    s.dtr = platform::SerialLine::off;
    s.rts = platform::SerialLine::off;
    return s;
}

std::chrono::milliseconds leftUntil(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
}

}  // namespace

HostLink::HostLink(const std::string& path, unsigned baud) {
    platform::SerialError error;
    port_ = platform::SerialPort::open(path, rawLine(baud), &error, {.exclusive = false});
    if (!port_) throw std::runtime_error("cannot open " + path + ": " + error.message);
    if (auto e = port_->setTimeouts(kPollRead)) throw std::runtime_error("timeouts: " + e.message);
}

HostLink::~HostLink() = default;

void HostLink::setBaud(unsigned baud) {
    if (auto e = port_->configure(rawLine(baud))) throw std::runtime_error("line rate: " + e.message);
}

void HostLink::send(std::span<const std::uint8_t> bytes) {
    const SerialTransfer t = port_->write(bytes);
    if (t.end != SerialTransfer::End::complete || t.count != bytes.size())
        throw std::runtime_error("write to the link failed");
}

void HostLink::sendFrame(std::uint8_t type, std::span<const std::uint8_t> payload) {
    send(frame::encode(type, payload));
}

std::optional<std::uint8_t> HostLink::readByte(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::uint8_t b = 0;
        const SerialTransfer t = port_->read({&b, 1});
        if (t.end == SerialTransfer::End::failed) return std::nullopt;
        if (t.count == 1) return b;
        if (leftUntil(deadline).count() <= 0) return std::nullopt;
    }
}

std::vector<std::uint8_t> HostLink::readBytes(std::size_t count, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<std::uint8_t> out;
    while (out.size() < count) {
        const auto left = leftUntil(deadline);
        if (left.count() <= 0) break;
        if (auto b = readByte(left)) out.push_back(*b);
    }
    return out;
}

std::optional<frame::Frame> HostLink::readFrame(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    frame::Decoder decoder(64);
    for (;;) {
        const auto left = leftUntil(deadline);
        if (left.count() <= 0) return std::nullopt;
        const auto b = readByte(left);
        if (!b) return std::nullopt;
        const auto r = decoder.feed(*b);
        if (r == frame::Decoder::Result::ok || r == frame::Decoder::Result::badSum) return decoder.frame();
    }
}

std::optional<frame::Frame> HostLink::waitFor(std::uint8_t type, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto f = readFrame(leftUntil(deadline));
        if (!f) return std::nullopt;
        if (f->sumOk && f->type == type) return f;
    }
}

void HostLink::discardInput() {
    port_->purge(platform::kPurgeRxClear);
    port_->setTimeouts(kReturnAtOnce);
    std::uint8_t buf[256];
    while (port_->read(buf).count > 0) {
    }
    port_->setTimeouts(kPollRead);
}

std::vector<std::uint8_t> be32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

std::vector<std::uint8_t> be16(std::uint16_t v) {
    return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

}  // namespace ombra::remote::test
