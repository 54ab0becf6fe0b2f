#include "ombra/burnix/link.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>

#include "ombra/common/frame.h"

namespace ombra::burnix {
namespace {

void putBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// Most texts of a record are limited to 511 characters.
constexpr std::size_t kMaxText = 511;
// PING and DONE frames are read into a 16-byte buffer with their sum.
constexpr std::size_t kSmallPayload = 14;

}  // namespace

std::string formatText(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::vector<std::uint8_t> commandFrame(std::uint8_t type, std::span<const std::uint8_t> payload) {
    return frame::encode(type, payload);
}

std::vector<std::uint8_t> programFrame(std::uint32_t address, std::uint32_t count) {
    std::vector<std::uint8_t> p;
    putBe32(p, address);
    putBe32(p, count);
    return frame::encode(msg::kProgram, p);
}

std::vector<std::uint8_t> dumpFrame(std::uint32_t address, std::uint32_t count) {
    std::vector<std::uint8_t> p;
    putBe32(p, address);
    putBe32(p, count);
    return frame::encode(msg::kDump, p);
}

std::vector<std::uint8_t> verifyFrame(std::uint32_t address, std::uint32_t count) {
    std::vector<std::uint8_t> p;
    putBe32(p, address);
    p.push_back(static_cast<std::uint8_t>(count >> 8));
    p.push_back(static_cast<std::uint8_t>(count));
    return frame::encode(msg::kVerify, p);
}

std::vector<std::uint8_t> eraseBlockFrame(std::uint32_t address) {
    std::vector<std::uint8_t> p;
    putBe32(p, address);
    return frame::encode(msg::kEraseBlock, p);
}

void Reporter::text(std::string_view message, DWORD messageClass) {
    std::string line = style_ == Style::colon ? name_ + ":" : "(" + name_ + ") ";
    line.append(message);
    if (line.size() > kMaxText) line.resize(kMaxText);
    sink_.text(line, messageClass);
}

void Reporter::plain(std::string_view message, DWORD messageClass) {
    sink_.text(message.substr(0, std::min(message.size(), kMaxText)), messageClass);
}

Io RemoteLink::readOne(std::uint8_t& byte) {
    std::size_t got = 0;
    return port_.read(std::span(&byte, 1), got);
}

Io RemoteLink::readExactly(std::span<std::uint8_t> bytes) {
    if (bytes.empty()) return Io::ok;
    std::size_t got = 0;
    return port_.read(bytes, got);
}

Io RemoteLink::skip(std::size_t n) {
    std::array<std::uint8_t, 256> scratch;
    while (n > 0) {
        const std::size_t piece = std::min(n, scratch.size());
        const Io r = readExactly(std::span(scratch.data(), piece));
        if (r != Io::ok) return r;
        n -= piece;
    }
    return Io::ok;
}

Io RemoteLink::send(std::span<const std::uint8_t> bytes) { return port_.write(bytes); }

void RemoteLink::sendFlushed(std::span<const std::uint8_t> bytes) {
    port_.write(bytes);
    port_.flush();
}

void RemoteLink::sendVerify(std::uint32_t address, std::uint32_t count) { sendFlushed(verifyFrame(address, count)); }

void RemoteLink::sendDump(std::uint32_t address, std::uint32_t count) {
    trace_.line("sending dump commnad");
    sendFlushed(dumpFrame(address, count));
}

void RemoteLink::sendReset() { sendFlushed(commandFrame(msg::kReset)); }

RemoteLink::Result RemoteLink::waitForPing() {
    trace_.line("CBurnix::waitForPing()");
    return waitFor(msg::kPing, false);
}

RemoteLink::Result RemoteLink::waitForProgramFinish() {
    trace_.line("CBurnix::waitForProgramFinish()");
    return waitFor(msg::kDone, true);
}

RemoteLink::Result RemoteLink::waitFor(std::uint8_t wanted, bool overflowFails) {
    static const std::uint8_t kKeepAlive[4] = {'0', '0', '0', '0'};
    for (;;) {
        host_.sleepMs(10);
        std::uint8_t byte = 0;
        const Io r = readOne(byte);
        if (r == Io::cancelled || port_.cancelled()) return Result::cancelled;
        // The port itself is gone: waiting longer cannot help.
        if (r == Io::failed) return Result::failed;
        if (r == Io::timeout) {
            // Nothing came: nudge the remote program and keep waiting.
            port_.clearError();
            port_.write(kKeepAlive);
        }
        if (r != Io::ok || byte != frame::kSync) continue;
        trace_.line("got header");

        std::array<std::uint8_t, 3> head{};
        if (readExactly(head) != Io::ok) continue;
        const std::uint8_t type = head[0];
        const std::size_t length = (std::size_t{head[1]} << 8) | head[2];
        std::array<std::uint8_t, kSmallPayload> payload{};
        std::array<std::uint8_t, 2> sum{};
        bool complete;
        if (length <= kSmallPayload) {
            complete = readExactly(std::span(payload.data(), length)) == Io::ok && readExactly(sum) == Io::ok;
        } else {
            // Too long for this kind of frame: counted off, never stored.
            complete = skip(length) == Io::ok && readExactly(sum) == Io::ok;
        }
        if (port_.cancelled()) return Result::cancelled;
        if (!complete) continue;
        if (overflowFails && type == msg::kBufferOverflow) {
            report_.text("ERROR 10: Buffer overflowed. Please reduce baud rate and try again.");
            return Result::failed;
        }
        if (type != wanted || length > kSmallPayload) continue;
        const std::uint8_t fixed[4] = {frame::kSync, type, head[1], head[2]};
        const std::uint16_t expect = frame::sum(std::span(payload.data(), length), frame::sum(fixed));
        if (expect == ((std::uint16_t{sum[0]} << 8) | sum[1])) return Result::ok;
    }
}

RemoteLink::Result RemoteLink::readMessage(Message& message) {
    for (;;) {
        std::uint8_t byte = 0;
        const Result hunted = hunt(byte, true);
        trace_.line("got message header");
        if (hunted != Result::ok) return hunted;

        std::array<std::uint8_t, 3> head{};
        const Io h = readExactly(head);
        if (port_.cancelled()) return Result::cancelled;
        if (h != Io::ok) continue;
        const std::uint16_t length = static_cast<std::uint16_t>((head[1] << 8) | head[2]);
        trace_.line(formatText("wMsgN = %d", length));
        message.type = head[0];
        message.payload.clear();
        if (length != 0) {
            trace_.line("allocating data buffer");
            message.payload.resize(length);
        }
        const Io p = readExactly(message.payload);
        if (port_.cancelled()) return Result::cancelled;
        std::array<std::uint8_t, 2> sum{};
        const Io s = p == Io::ok ? readExactly(sum) : p;
        if (port_.cancelled()) return Result::cancelled;
        const std::uint8_t fixed[4] = {frame::kSync, head[0], head[1], head[2]};
        const std::uint16_t calculated = frame::sum(message.payload, frame::sum(fixed));
        message.receivedSum = static_cast<std::uint16_t>((sum[0] << 8) | sum[1]);
        trace_.line(formatText("incoming checksum = %d , calculated checksum = %d", message.receivedSum, calculated));
        if (s == Io::ok && calculated == message.receivedSum) {
            trace_.line("passed checksum");
            return Result::ok;
        }
        trace_.line("failed checksum, deleting buffer");
        message.payload.clear();
    }
}

RemoteLink::Result RemoteLink::hunt(std::uint8_t& byte, bool sleepBeforeByte) {
    do {
        if (sleepBeforeByte) host_.sleepMs(10);
        const Io r = readOne(byte);
        if (r == Io::cancelled || port_.cancelled()) return Result::cancelled;
        if (r == Io::failed) return Result::failed;
        if (r != Io::ok) byte = 0;
    } while (byte != frame::kSync);
    return Result::ok;
}

RemoteLink::Result RemoteLink::huntType(std::uint8_t type, bool sleepBeforeByte) {
    for (;;) {
        std::uint8_t byte = 0;
        const Result hunted = hunt(byte, sleepBeforeByte);
        if (hunted != Result::ok) return hunted;
        if (sleepBeforeByte) trace_.line("got response header");
        std::uint8_t got = 0;
        if (readOne(got) == Io::ok && got == type) return Result::ok;
        if (port_.cancelled()) return Result::cancelled;
    }
}

RemoteLink::Result RemoteLink::waitReply(std::uint8_t type) {
    const Result hunted = huntType(type, true);
    if (hunted != Result::ok) return hunted;
    std::array<std::uint8_t, 2> len{};
    readExactly(len);
    if (port_.cancelled()) return Result::cancelled;
    skip(((std::size_t{len[0]} << 8) | len[1]) + 2);
    return port_.cancelled() ? Result::cancelled : Result::ok;
}

}  // namespace ombra::burnix
