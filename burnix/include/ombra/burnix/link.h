// Host side of the remote link: framed messages between the programmer and
// the remote program running on the board.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ombra/burnix/host.h"

namespace ombra::burnix {

namespace msg {
inline constexpr std::uint8_t kPing = 0x01;
inline constexpr std::uint8_t kErase = 0x03;
inline constexpr std::uint8_t kEraseBlock = 0x04;
inline constexpr std::uint8_t kProgram = 0x05;
inline constexpr std::uint8_t kSetBaudRate = 0x0A;
inline constexpr std::uint8_t kIdentify = 0x0C;
inline constexpr std::uint8_t kDump = 0x0D;
inline constexpr std::uint8_t kVerify = 0x0E;
inline constexpr std::uint8_t kReset = 0x0F;
inline constexpr std::uint8_t kDone = 0x10;
inline constexpr std::uint8_t kBufferOverflow = 0x11;
inline constexpr std::uint8_t kIdentifyRes = 0x15;
inline constexpr std::uint8_t kDumpRes = 0x16;
inline constexpr std::uint8_t kVerifyRes = 0x17;
inline constexpr std::uint8_t kSetBaudRateRes = 0x18;
}  // namespace msg

// Command frames as they go on the wire.
std::vector<std::uint8_t> commandFrame(std::uint8_t type, std::span<const std::uint8_t> payload = {});
std::vector<std::uint8_t> programFrame(std::uint32_t address, std::uint32_t count);
std::vector<std::uint8_t> dumpFrame(std::uint32_t address, std::uint32_t count);
// Only the low 16 bits of the count travel.
std::vector<std::uint8_t> verifyFrame(std::uint32_t address, std::uint32_t count);
std::vector<std::uint8_t> eraseBlockFrame(std::uint32_t address);

// Text records of one component: every line carries the programmer's name
// in the component's own style.
class Reporter {
public:
    enum class Style { colon, parenthesis };  // "%s:%s" or "(%s) %s"
    Reporter(RecordSink& sink, std::string name, Style style) : sink_(sink), name_(std::move(name)), style_(style) {}
    void text(std::string_view message, DWORD messageClass = kClassNormal);
    // Without the name (the XModem receiver's rejection line).
    void plain(std::string_view message, DWORD messageClass = kClassNormal);
    void status(DWORD code, DWORD value = 0) { sink_.status(code, value); }
    void progress(DWORD done, DWORD total) { sink_.progress(done, total); }

private:
    RecordSink& sink_;
    std::string name_;
    Style style_;
};

std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

class RemoteLink {
public:
    RemoteLink(Transport& port, Host& host, Trace& trace, Reporter& report)
        : port_(port), host_(host), trace_(trace), report_(report) {}

    enum class Result { ok, cancelled, failed };

    // Waits, without limit, for a PING frame with a correct sum; sends "0000"
    // after every read that times out. `cancelled` when the event fired,
    // `failed` when the port itself fails.
    Result waitForPing();
    // Waits for DONE; BUFFER_OVERFLOW writes the ERROR 10 text and fails.
    Result waitForProgramFinish();

    struct Message {
        std::uint8_t type = 0;
        std::vector<std::uint8_t> payload;
        std::uint16_t receivedSum = 0;
    };
    // The next frame with a correct sum; frames with a wrong sum or that
    // break off are dropped. `failed` only when the port itself fails.
    Result readMessage(Message& message);

    // Hunts a reply of `type` without sleeping, reading the type byte after
    // each sync byte; the rest of the frame is left to the caller.
    Result huntType(std::uint8_t type, bool sleepBeforeByte);
    // Hunts `type` (10 ms before each hunted byte), then reads and drops the
    // length, the payload and the sum.
    Result waitReply(std::uint8_t type);

    Io send(std::span<const std::uint8_t> bytes);
    void sendFlushed(std::span<const std::uint8_t> bytes);
    void sendVerify(std::uint32_t address, std::uint32_t count);
    void sendDump(std::uint32_t address, std::uint32_t count);
    void sendReset();

    Transport& port() { return port_; }

private:
    Result waitFor(std::uint8_t wanted, bool overflowFails);
    // Reads until a sync byte; `failed` when the port itself fails.
    Result hunt(std::uint8_t& byte, bool sleepBeforeByte);
    // One byte under the port's time-outs.
    Io readOne(std::uint8_t& byte);
    Io readExactly(std::span<std::uint8_t> bytes);
    // Reads and drops n bytes in bounded pieces.
    Io skip(std::size_t n);

    Transport& port_;
    Host& host_;
    Trace& trace_;
    Reporter& report_;
};

}  // namespace ombra::burnix
