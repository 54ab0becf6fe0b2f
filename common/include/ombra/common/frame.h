// The serial frame shared by the boot ROM protocol and the remote link:
//   0xAA, type, length (16-bit, high byte first), payload, sum (16-bit, high
//   byte first) of every byte before it.
// Each side has its own catalogue of types; this header knows only the frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ombra::frame {

inline constexpr std::uint8_t kSync = 0xAA;
inline constexpr std::size_t kHeaderSize = 4;   // sync, type, length
inline constexpr std::size_t kTrailerSize = 2;  // checksum
inline constexpr std::size_t kMaxPayload = 0xFFFF;

// Sum modulo 65,536 of the bytes, starting from `seed`.
std::uint16_t sum(std::span<const std::uint8_t> bytes, std::uint16_t seed = 0);

// The whole frame for `type` and `payload` (payload of at most kMaxPayload bytes).
std::vector<std::uint8_t> encode(std::uint8_t type, std::span<const std::uint8_t> payload);

struct Frame {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> payload;
    std::uint16_t receivedSum = 0;
    bool sumOk = false;
};

// A byte-fed receiver. Bytes before a sync byte are skipped. A frame whose
// announced length exceeds `maxPayload` is skipped whole (its bytes are
// counted off, never stored) and reported as `oversized`.
class Decoder {
public:
    enum class Result { incomplete, ok, badSum, oversized };

    explicit Decoder(std::size_t maxPayload = kMaxPayload) : maxPayload_(maxPayload) {}

    // Feed one byte. On ok or badSum the finished frame is in frame().
    Result feed(std::uint8_t byte);
    const Frame& frame() const { return frame_; }
    void reset();

private:
    enum class State { sync, type, lenHigh, lenLow, payload, skip, sumHigh, sumLow };
    std::size_t maxPayload_;
    State state_ = State::sync;
    std::uint16_t length_ = 0;
    std::size_t remaining_ = 0;
    bool oversized_ = false;
    Frame frame_;
};

}  // namespace ombra::frame
