// The host side of the remote link for tests: a serial device (the
// simulator's pseudo-terminal) in raw mode, framed messages through the
// shared frame codec, and raw bytes for streams and XModem.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ombra/common/frame.h"
#include "ombra/platform/serial.h"

namespace ombra::remote::test {

class HostLink {
public:
    HostLink(const std::string& path, unsigned baud);
    ~HostLink();
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;

    bool isOpen() const { return port_ != nullptr; }
    void setBaud(unsigned baud);

    void send(std::span<const std::uint8_t> bytes);
    void sendFrame(std::uint8_t type, std::span<const std::uint8_t> payload = {});

    // One byte, or nothing when none came within the limit.
    std::optional<std::uint8_t> readByte(std::chrono::milliseconds limit);
    // Exactly `count` bytes, or fewer when the limit passed first.
    std::vector<std::uint8_t> readBytes(std::size_t count, std::chrono::milliseconds limit);
    // The next whole frame (good or bad sum); bytes outside frames skipped.
    std::optional<frame::Frame> readFrame(std::chrono::milliseconds limit);
    // The next frame of `type` with a good sum, skipping others (PINGs).
    std::optional<frame::Frame> waitFor(std::uint8_t type, std::chrono::milliseconds limit);
    // Drop whatever has arrived.
    void discardInput();

private:
    std::unique_ptr<platform::SerialPort> port_;
};

std::vector<std::uint8_t> be32(std::uint32_t v);
std::vector<std::uint8_t> be16(std::uint16_t v);

}  // namespace ombra::remote::test
