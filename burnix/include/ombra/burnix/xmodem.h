// XModem receiver (128- and 1024-byte blocks) that stores a transfer into a
// caller's buffer, typically a writable mapping of the dump file.
#pragma once

#include <cstdint>
#include <span>

#include "ombra/burnix/host.h"
#include "ombra/burnix/link.h"

namespace ombra::burnix {

enum class XmResult : std::uint32_t { ok = 0, cancelled = 1, lostSync = 2, retries = 3, error = 4 };

namespace xm {
inline constexpr std::uint8_t kSoh = 0x01;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEot = 0x04;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kCan = 0x18;
inline constexpr std::uint8_t kCrcRequest = 'C';
}  // namespace xm

struct XModemOptions {
    // The opening handshake asks this many times for blocks closed by a
    // CRC-16 ('C', high byte first) before it falls back to NAK and the
    // 8-bit sum, for a sender that knows only the sum. Under the sum two
    // damaged bytes of a 1024-byte block cancel out once in 256, and a
    // damaged dump would pass. 0: the sum only.
    int crcAttempts = 3;
    DWORD byteTimeoutMs = 5000;
    int headerAttempts = 32;
    int duplicateBudget = 25;
};

// CRC-16 with polynomial 0x1021, initial value 0.
std::uint16_t crc16Xmodem(std::span<const std::uint8_t> bytes);

// Receives until EOT, a cancel from either side, or lost sync. Stores at
// most dest.size() bytes; `stored` is how many. An EOT before dest is full
// is a short transfer: XmResult::error.
XmResult XModemReceive(Transport& port, std::span<std::uint8_t> dest, Reporter& report, Trace& trace,
                       std::uint32_t& stored, const XModemOptions& options = {});

// The text Dump writes for a result.
const char* xmodemResultText(XmResult result);

}  // namespace ombra::burnix
