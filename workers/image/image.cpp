// The readers of Intel HEX and Motorola S-record images. Both collect the
// data records as runs first, so the image is built only from a file that
// checked out to its end record.
#include <cstdio>
#include <string>
#include <utility>

#include "ombra/image/image.h"

namespace ombra::image {

namespace {

std::string hex2(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
    return b;
}

std::string hex8(std::uint64_t v) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%08llX", static_cast<unsigned long long>(v));
    return b;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trimmed(std::string_view line) {
    while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && isBlank(line.back())) line.remove_suffix(1);
    return line;
}

std::string describeChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x21 && u < 0x7F) return std::string("'") + c + "'";
    return "byte 0x" + hex2(u);
}

// The record's bytes from its hex digits; false with the cause.
bool decodeHex(std::string_view digits, std::vector<std::uint8_t>& out, std::string& cause) {
    out.clear();
    for (char c : digits)
        if (hexValue(c) < 0) {
            cause = describeChar(c) + " is not a hexadecimal digit";
            return false;
        }
    if (digits.size() % 2 != 0) {
        cause = "odd number of hexadecimal digits";
        return false;
    }
    out.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(hexValue(digits[i]) << 4 | hexValue(digits[i + 1])));
    return true;
}

// Lines split at LF (CR LF too); a single DOS end-of-file mark (0x1A) closing
// the file is left out.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {
        if (!text_.empty() && text_.back() == '\x1A') text_.remove_suffix(1);
    }
    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        const auto end = text_.find('\n', pos_);
        const auto stop = end == std::string_view::npos ? text_.size() : end;
        line = trimmed(text_.substr(pos_, stop - pos_));
        pos_ = stop + 1;
        ++number_;
        return true;
    }
    std::size_t number() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
};

struct Run {
    std::uint64_t address;
    std::vector<std::uint8_t> bytes;
    std::size_t line;
};

// Gathers the data runs, keeps their span bounded and builds the image.
class Builder {
public:
    // A run that starts at `address`; false with the cause when it would
    // make the image wider than any flash.
    bool add(std::uint64_t address, std::vector<std::uint8_t> bytes, std::size_t line, std::string& cause) {
        if (bytes.empty()) return true;
        const std::uint64_t last = address + bytes.size() - 1;
        const std::uint64_t low = runs_.empty() ? address : std::min(low_, address);
        const std::uint64_t high = runs_.empty() ? last : std::max(high_, last);
        if (high - low + 1 > kMaxSpanBytes) {
            cause = "address " + hex8(address < low_ || runs_.empty() ? address : last) +
                    " makes the image span more than " + std::to_string(kMaxSpanBytes >> 20) + " MiB";
            return false;
        }
        low_ = low;
        high_ = high;
        runs_.push_back({address, std::move(bytes), line});
        return true;
    }

    bool build(Image& image, ImageError& error) const {
        if (runs_.empty()) {
            error = {0, "no data records"};
            return false;
        }
        image.start = static_cast<std::uint32_t>(low_);
        image.bytes.assign(static_cast<std::size_t>(high_ - low_ + 1), 0xFF);
        std::vector<bool> written(image.bytes.size(), false);
        for (const Run& r : runs_) {
            const std::size_t at = static_cast<std::size_t>(r.address - low_);
            for (std::size_t i = 0; i < r.bytes.size(); ++i) {
                if (written[at + i]) {
                    error = {r.line, "address " + hex8(r.address + i) + " is already written by an earlier record"};
                    return false;
                }
                written[at + i] = true;
                image.bytes[at + i] = r.bytes[i];
            }
        }
        return true;
    }

private:
    std::vector<Run> runs_;
    std::uint64_t low_ = 0, high_ = 0;
};

}  // namespace

const char* formatName(Format format) {
    switch (format) {
    case Format::raw: return "raw";
    case Format::intelHex: return "ihex";
    case Format::sRecord: return "srec";
    }
    return "raw";
}

bool parseFormatName(std::string_view name, std::optional<Format>& format) {
    if (name == "auto") format.reset();
    else if (name == "raw") format = Format::raw;
    else if (name == "ihex") format = Format::intelHex;
    else if (name == "srec") format = Format::sRecord;
    else return false;
    return true;
}

Format detectFormat(std::span<const std::uint8_t> content) {
    // A first line of text, as long as a record can be. A bad record in it
    // is the reader's to report: a text image is never burned as raw.
    std::string first;
    std::size_t i = 0;
    for (; i < content.size() && i <= 1024 && content[i] != '\n'; ++i) {
        const auto c = content[i];
        if ((c < 0x20 || c >= 0x7F) && c != '\t' && c != '\r') return Format::raw;
        first.push_back(static_cast<char>(c));
    }
    if (i > 1024) return Format::raw;
    const std::string_view line = trimmed(first);
    if (line.size() >= 2 && line[0] == ':') return Format::intelHex;
    if (line.size() >= 2 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9') return Format::sRecord;
    return Format::raw;
}

bool parseIntelHex(std::string_view text, Image& image, ImageError& error) {
    Lines lines(text);
    Builder builder;
    std::string_view line;
    std::vector<std::uint8_t> b;
    std::string cause;
    std::uint64_t segmentBase = 0, linearBase = 0;
    bool linear = false, ended = false;
    std::size_t dataRecords = 0;
    auto fail = [&](std::string why) {
        error = {lines.number(), std::move(why)};
        return false;
    };
    while (lines.next(line)) {
        if (line.empty()) continue;
        if (ended) return fail("record after the end-of-file record");
        if (line[0] != ':') return fail("a record starts with ':', not " + describeChar(line[0]));
        if (!decodeHex(line.substr(1), b, cause)) return fail(cause);
        if (b.size() < 5) return fail("record too short");
        const std::size_t count = b[0];
        if (count != b.size() - 5)
            return fail("byte count says " + std::to_string(count) + " data bytes, the record holds " +
                        std::to_string(b.size() - 5));
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < b.size(); ++i) sum += b[i];
        const unsigned expected = (0x100 - (sum & 0xFF)) & 0xFF;
        if (b.back() != expected)
            return fail("checksum is " + hex2(b.back()) + ", the record's bytes need " + hex2(expected));
        const unsigned offset = static_cast<unsigned>(b[1] << 8 | b[2]);
        const unsigned type = b[3];
        const std::span<const std::uint8_t> data(b.data() + 4, count);
        auto word = [&] { return static_cast<unsigned>(data[0] << 8 | data[1]); };
        switch (type) {
        case 0x00: {
            ++dataRecords;
            if (linear) {
                // 32-bit linear addresses run on across a 64 KiB boundary.
                const std::uint64_t at = (linearBase + offset) & 0xFFFFFFFFu;
                std::vector<std::uint8_t> bytes(data.begin(), data.end());
                if (at + bytes.size() > 0x100000000ull) return fail("data runs past the 4 GiB address space");
                if (!builder.add(at, std::move(bytes), lines.number(), cause)) return fail(cause);
            } else {
                // Segment addressing: the offset wraps within its 64 KiB.
                const std::size_t first = std::min<std::size_t>(count, 0x10000 - offset);
                if (!builder.add(segmentBase + offset, {data.begin(), data.begin() + first}, lines.number(), cause) ||
                    !builder.add(segmentBase, {data.begin() + first, data.end()}, lines.number(), cause))
                    return fail(cause);
            }
            break;
        }
        case 0x01:
            if (count != 0) return fail("end-of-file record with data");
            ended = true;
            break;
        case 0x02:
            if (count != 2) return fail("extended segment address record needs 2 data bytes");
            segmentBase = std::uint64_t{word()} << 4;
            linear = false;
            break;
        case 0x04:
            if (count != 2) return fail("extended linear address record needs 2 data bytes");
            linearBase = std::uint64_t{word()} << 16;
            linear = true;
            break;
        case 0x03:
        case 0x05:
            // A start address: the board starts its programs itself.
            if (count != 4) return fail("start address record needs 4 data bytes");
            break;
        default: return fail("unknown record type " + hex2(type));
        }
    }
    if (!ended) {
        error = {0, "no end-of-file record: the file is incomplete"};
        return false;
    }
    image.format = Format::intelHex;
    image.dataRecords = dataRecords;
    return builder.build(image, error);
}

bool parseSRecord(std::string_view text, Image& image, ImageError& error) {
    Lines lines(text);
    Builder builder;
    std::string_view line;
    std::vector<std::uint8_t> b;
    std::string cause;
    bool ended = false;
    std::size_t dataRecords = 0;
    auto fail = [&](std::string why) {
        error = {lines.number(), std::move(why)};
        return false;
    };
    // Address bytes by record type; 0 = no such type.
    static constexpr std::size_t kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    while (lines.next(line)) {
        if (line.empty()) continue;
        if (ended) return fail("record after the termination record");
        if (line[0] != 'S') return fail("a record starts with 'S', not " + describeChar(line[0]));
        if (line.size() < 2 || line[1] < '0' || line[1] > '9')
            return fail("unknown record type " + (line.size() < 2 ? std::string("(none)") : describeChar(line[1])));
        const unsigned type = static_cast<unsigned>(line[1] - '0');
        if (kAddressBytes[type] == 0) return fail("record type S4 is reserved");
        if (!decodeHex(line.substr(2), b, cause)) return fail(cause);
        if (b.empty()) return fail("record too short");
        const std::size_t count = b[0];
        if (count != b.size() - 1)
            return fail("byte count says " + std::to_string(count) + " bytes, the record holds " +
                        std::to_string(b.size() - 1));
        const std::size_t addressBytes = kAddressBytes[type];
        if (count < addressBytes + 1)
            return fail("byte count " + std::to_string(count) + " leaves no room for the S" + std::to_string(type) +
                        " record's " + std::to_string(addressBytes) + "-byte address");
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < b.size(); ++i) sum += b[i];
        const unsigned expected = ~sum & 0xFF;
        if (b.back() != expected)
            return fail("checksum is " + hex2(b.back()) + ", the record's bytes need " + hex2(expected));
        std::uint64_t address = 0;
        for (std::size_t i = 0; i < addressBytes; ++i) address = address << 8 | b[1 + i];
        const auto dataBegin = b.begin() + 1 + static_cast<std::ptrdiff_t>(addressBytes);
        const auto dataEnd = b.end() - 1;
        switch (type) {
        case 0: break;  // header: a name, nothing to burn
        case 1:
        case 2:
        case 3:
            ++dataRecords;
            if (address + static_cast<std::uint64_t>(dataEnd - dataBegin) > (1ull << (8 * addressBytes)))
                return fail("data runs past the record's address space");
            if (!builder.add(address, {dataBegin, dataEnd}, lines.number(), cause)) return fail(cause);
            break;
        case 5:
        case 6:
            if (dataBegin != dataEnd) return fail("record count record with data");
            if (address != dataRecords)
                return fail("record count says " + std::to_string(address) + ", the file has " +
                            std::to_string(dataRecords) + " data records before it");
            break;
        default:  // 7, 8, 9: the start address, which the board does not need
            if (dataBegin != dataEnd) return fail("termination record with data");
            ended = true;
            break;
        }
    }
    if (!ended) {
        error = {0, "no termination record (S7, S8 or S9): the file is incomplete"};
        return false;
    }
    image.format = Format::sRecord;
    image.dataRecords = dataRecords;
    return builder.build(image, error);
}

bool parseImage(std::span<const std::uint8_t> content, std::optional<Format> format, Image& image,
                ImageError& error) {
    image = Image{};
    const Format chosen = format ? *format : detectFormat(content);
    const std::string_view text(reinterpret_cast<const char*>(content.data()), content.size());
    switch (chosen) {
    case Format::intelHex: return parseIntelHex(text, image, error);
    case Format::sRecord: return parseSRecord(text, image, error);
    case Format::raw: break;
    }
    if (content.empty()) {
        error = {0, "the file is empty"};
        return false;
    }
    image.bytes.assign(content.begin(), content.end());
    return true;
}

std::string describe(const std::string& path, const ImageError& error) {
    return error.line == 0 ? path + ": " + error.cause : path + ":" + std::to_string(error.line) + ": " + error.cause;
}

}  // namespace ombra::image
