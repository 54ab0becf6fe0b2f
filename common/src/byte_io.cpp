#include "ombra/common/byte_io.h"

#include <algorithm>

namespace ombra {

bool MemorySource::read(std::span<std::uint8_t> out) {
    if (out.size() > remaining()) {
        pos_ = bytes_.size();
        return false;
    }
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), out.size(), out.begin());
    pos_ += out.size();
    return true;
}

bool VectorSink::write(std::span<const std::uint8_t> data) {
    bytes.insert(bytes.end(), data.begin(), data.end());
    return true;
}

namespace le {

void append16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    std::uint8_t b[2];
    put16(b, v);
    out.insert(out.end(), b, b + 2);
}

void append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t b[4];
    put32(b, v);
    out.insert(out.end(), b, b + 4);
}

void appendText(std::vector<std::uint8_t>& out, std::string_view text) {
    append32(out, static_cast<std::uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

bool read16(ByteSource& src, std::uint16_t& v) {
    std::uint8_t b[2];
    if (!src.read(b)) return false;
    v = get16(b);
    return true;
}

bool read32(ByteSource& src, std::uint32_t& v) {
    std::uint8_t b[4];
    if (!src.read(b)) return false;
    v = get32(b);
    return true;
}

}  // namespace le
}  // namespace ombra
