#include "ombra/common/frame.h"

namespace ombra::frame {

std::uint16_t sum(std::span<const std::uint8_t> bytes, std::uint16_t seed) {
    std::uint32_t s = seed;
    for (std::uint8_t b : bytes) s += b;
    return static_cast<std::uint16_t>(s);
}

std::vector<std::uint8_t> encode(std::uint8_t type, std::span<const std::uint8_t> payload) {
    const auto n = static_cast<std::uint16_t>(payload.size() > kMaxPayload ? kMaxPayload : payload.size());
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + n + kTrailerSize);
    out.push_back(kSync);
    out.push_back(type);
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), payload.begin(), payload.begin() + n);
    const std::uint16_t s = sum(out);
    out.push_back(static_cast<std::uint8_t>(s >> 8));
    out.push_back(static_cast<std::uint8_t>(s));
    return out;
}

void Decoder::reset() {
    state_ = State::sync;
    length_ = 0;
    remaining_ = 0;
    oversized_ = false;
    frame_ = Frame{};
}

Decoder::Result Decoder::feed(std::uint8_t byte) {
    switch (state_) {
    case State::sync:
        if (byte == kSync) {
            frame_ = Frame{};
            oversized_ = false;
            state_ = State::type;
        }
        return Result::incomplete;
    case State::type:
        frame_.type = byte;
        state_ = State::lenHigh;
        return Result::incomplete;
    case State::lenHigh:
        length_ = static_cast<std::uint16_t>(byte << 8);
        state_ = State::lenLow;
        return Result::incomplete;
    case State::lenLow:
        length_ = static_cast<std::uint16_t>(length_ | byte);
        remaining_ = length_;
        oversized_ = length_ > maxPayload_;
        if (!oversized_) frame_.payload.reserve(length_);
        state_ = remaining_ == 0 ? State::sumHigh : (oversized_ ? State::skip : State::payload);
        return Result::incomplete;
    case State::payload:
        frame_.payload.push_back(byte);
        if (--remaining_ == 0) state_ = State::sumHigh;
        return Result::incomplete;
    case State::skip:
        if (--remaining_ == 0) state_ = State::sumHigh;
        return Result::incomplete;
    case State::sumHigh:
        frame_.receivedSum = static_cast<std::uint16_t>(byte << 8);
        state_ = State::sumLow;
        return Result::incomplete;
    case State::sumLow: {
        frame_.receivedSum = static_cast<std::uint16_t>(frame_.receivedSum | byte);
        state_ = State::sync;
        if (oversized_) return Result::oversized;
        const std::uint8_t head[kHeaderSize] = {kSync, frame_.type, static_cast<std::uint8_t>(length_ >> 8),
                                                static_cast<std::uint8_t>(length_)};
        const std::uint16_t expect = sum(frame_.payload, sum(head));
        frame_.sumOk = expect == frame_.receivedSum;
        return frame_.sumOk ? Result::ok : Result::badSum;
    }
    }
    return Result::incomplete;
}

}  // namespace ombra::frame
