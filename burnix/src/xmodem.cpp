#include "ombra/burnix/xmodem.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <utility>

#include "ombra/common/frame.h"

namespace ombra::burnix {

std::uint16_t crc16Xmodem(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0;
    for (std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ (b << 8));
        for (int i = 0; i < 8; ++i)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

const char* xmodemResultText(XmResult result) {
    switch (result) {
    case XmResult::ok: return "Transmission successful, dump complete";
    case XmResult::cancelled: return "Dump cancelled";
    case XmResult::lostSync: return "Lost sync with remote";
    case XmResult::retries: return "Maximal number of retries failed.";
    case XmResult::error: return "Transmission error.";
    }
    return "Transmission error.";
}

namespace {

class Receiver {
public:
    Receiver(Transport& port, std::span<std::uint8_t> dest, Reporter& report, Trace& trace, const XModemOptions& o)
        : port_(port), dest_(dest), report_(report), trace_(trace), opt_(o) {}

    XmResult run(std::uint32_t& stored);

private:
    enum class Block { accepted, rejected, cancelled, retries };
    void sendByte(std::uint8_t b) { port_.write(std::span(&b, 1)); }
    void sendCancel() {
        static const std::uint8_t can[3] = {xm::kCan, xm::kCan, xm::kCan};
        for (std::uint8_t b : can) sendByte(b);
    }
    Block receiveBlock(std::size_t size);
    void reject();

    Transport& port_;
    std::span<std::uint8_t> dest_;
    Reporter& report_;
    Trace& trace_;
    const XModemOptions& opt_;
    bool crc_ = false;  // blocks closed by a CRC-16, not the 8-bit sum
    int openings_ = 0;  // handshake bytes sent
    std::uint8_t expected_ = 1;
    std::uint32_t stored_ = 0;
    int budget_ = 0;
    std::array<std::uint8_t, 1024> data_{};
};

XmResult Receiver::run(std::uint32_t& stored) {
    std::uint8_t handshake = xm::kCrcRequest;
    budget_ = opt_.duplicateBudget;
    for (;;) {
        std::size_t blockSize = 0;
        for (int attempt = 0; attempt < opt_.headerAttempts && blockSize == 0; ++attempt) {
            if (handshake != 0) {
                // The sender picks its block check by the handshake it answers.
                if (handshake == xm::kCrcRequest && openings_ >= opt_.crcAttempts) handshake = xm::kNak;
                ++openings_;
                crc_ = handshake == xm::kCrcRequest;
                sendByte(handshake);
            }
            std::uint8_t byte = 0;
            if (port_.readByteWithin(byte, opt_.byteTimeoutMs) == Io::ok) {
                trace_.line(formatText("Received byte %2X", byte));
                if (byte == xm::kSoh) {
                    trace_.line("identified SOH");
                    blockSize = 128;
                } else if (byte == xm::kStx) {
                    trace_.line("identified STX");
                    blockSize = 1024;
                } else if (byte == xm::kEot) {
                    trace_.line("identified EOT");
                    port_.flush();
                    sendByte(xm::kAck);
                    stored = stored_;
                    // Whatever came, the transfer stops here; short is an error.
                    return stored_ == dest_.size() ? XmResult::ok : XmResult::error;
                } else if (byte == xm::kCan) {
                    trace_.line("identified CAN");
                    std::uint8_t second = 0;
                    if (port_.readByteWithin(second, opt_.byteTimeoutMs) == Io::ok && second == xm::kCan) {
                        port_.flush();
                        sendByte(xm::kAck);
                        stored = stored_;
                        return XmResult::cancelled;
                    }
                }
            }
            if (port_.cancelled()) {
                sendCancel();
                stored = stored_;
                return XmResult::cancelled;
            }
        }
        if (blockSize == 0) {
            port_.flush();
            sendCancel();
            stored = stored_;
            return XmResult::lostSync;
        }
        trace_.line("starting receive");
        handshake = 0;
        switch (receiveBlock(blockSize)) {
        case Block::accepted: sendByte(xm::kAck); break;
        case Block::rejected: reject(); break;
        case Block::cancelled:
            sendCancel();
            stored = stored_;
            return XmResult::cancelled;
        case Block::retries:
            port_.flush();
            sendCancel();
            stored = stored_;
            return XmResult::retries;
        }
    }
}

Receiver::Block Receiver::receiveBlock(std::size_t size) {
    const std::size_t checkSize = crc_ ? 2 : 1;
    std::array<std::uint8_t, 2> number{};
    std::array<std::uint8_t, 2> check{};
    const auto readInto = [&](std::uint8_t* p, std::size_t n) -> std::optional<bool> {
        for (std::size_t i = 0; i < n; ++i) {
            const Io r = port_.readByteWithin(p[i], opt_.byteTimeoutMs);
            if (r == Io::cancelled || port_.cancelled()) return std::nullopt;
            if (r != Io::ok) {
                trace_.line("failed to read byte within timeout");
                return false;
            }
        }
        return true;
    };
    for (auto [p, n] : {std::pair{number.data(), std::size_t{2}}, std::pair{data_.data(), size},
                        std::pair{check.data(), checkSize}}) {
        const auto ok = readInto(p, n);
        if (!ok) return Block::cancelled;
        if (!*ok) return Block::rejected;
    }
    const std::uint8_t num = number[0];
    if (num != static_cast<std::uint8_t>(~number[1])) return Block::rejected;
    const bool current = num == expected_;
    const bool repeat = num == static_cast<std::uint8_t>(expected_ - 1);
    if (!current && !repeat) return Block::rejected;
    const std::span<const std::uint8_t> data(data_.data(), size);
    const bool good = crc_
        ? crc16Xmodem(data) == ((check[0] << 8) | check[1])
        : static_cast<std::uint8_t>(frame::sum(data)) == check[0];
    if (!good) {
        trace_.line("CRC failed");
        return Block::rejected;
    }
    if (repeat) {
        if (--budget_ == 0) return Block::retries;
        return Block::accepted;
    }
    const std::size_t room = dest_.size() - stored_;
    const std::size_t take = std::min(size, room);
    if (take > 0) std::memcpy(dest_.data() + stored_, data_.data(), take);
    stored_ += static_cast<std::uint32_t>(take);
    ++expected_;
    if (take > 0 && stored_ % 4096 == 0) {
        report_.progress(stored_, static_cast<DWORD>(dest_.size()));
        trace_.line(formatText("received packet no %d", expected_));
    }
    budget_ = opt_.duplicateBudget;
    return Block::accepted;
}

void Receiver::reject() {
    trace_.line("reject");
    port_.purge(kPurgeRxClear);
    sendByte(xm::kNak);
    port_.flush();
    report_.plain("Packet rejected, requesting retransmission.");
}

}  // namespace

XmResult XModemReceive(Transport& port, std::span<std::uint8_t> dest, Reporter& report, Trace& trace,
                       std::uint32_t& stored, const XModemOptions& options) {
    trace.open("SST");
    trace.line("inside XModemReceive()");
    stored = 0;
    Receiver receiver(port, dest, report, trace, options);
    return receiver.run(stored);
}

}  // namespace ombra::burnix
