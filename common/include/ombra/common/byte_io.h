// Byte sources and sinks for the records that cross process boundaries, and
// little-endian field helpers. A read either fills the whole span or fails:
// callers never see half a field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ombra {

class ByteSource {
public:
    // True only when every byte of `out` was read.
    virtual bool read(std::span<std::uint8_t> out) = 0;

protected:
    ~ByteSource() = default;
};

class ByteSink {
public:
    // True only when every byte was written.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;

protected:
    ~ByteSink() = default;
};

// Reads from a fixed buffer; running past its end is a failed read.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool read(std::span<std::uint8_t> out) override;
    std::size_t remaining() const { return bytes_.size() - pos_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

class VectorSink final : public ByteSink {
public:
    bool write(std::span<const std::uint8_t> bytes) override;
    std::vector<std::uint8_t> bytes;
};

namespace le {

inline void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void append16(std::vector<std::uint8_t>& out, std::uint16_t v);
void append32(std::vector<std::uint8_t>& out, std::uint32_t v);
// A text field: 32-bit length, then the bytes, no terminator.
void appendText(std::vector<std::uint8_t>& out, std::string_view text);

bool read16(ByteSource& src, std::uint16_t& v);
bool read32(ByteSource& src, std::uint32_t& v);

}  // namespace le

// The largest text or table a receiver accepts from another process. A
// length beyond it is refused before anything is allocated.
inline constexpr std::uint32_t kMaxFieldLength = 64 * 1024;

}  // namespace ombra
