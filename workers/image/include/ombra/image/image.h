// Image files for a burn: raw binary, Intel HEX and Motorola S-record. A
// text image is read whole and every record checked before anything uses it;
// the result is the flat binary a burn streams, from the lowest address the
// records name, with gaps filled as erased flash (0xFF).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ombra::image {

enum class Format { raw, intelHex, sRecord };

// "raw", "ihex", "srec": the names --format takes.
const char* formatName(Format format);
// Also "auto" (nullopt in `format`); false for any other name.
bool parseFormatName(std::string_view name, std::optional<Format>& format);

// The larger a file may be, and the wider the address range its records may
// span (the flash window is 4 MiB; beyond this a file is not an image).
inline constexpr std::size_t kMaxFileBytes = 64u << 20;
inline constexpr std::uint32_t kMaxSpanBytes = 16u << 20;

struct Image {
    Format format = Format::raw;
    std::uint32_t start = 0;          // lowest address; 0 for raw
    std::vector<std::uint8_t> bytes;  // from `start`, gaps as 0xFF
    std::size_t dataRecords = 0;      // text formats only
};

// Where and why a file is not an image; line 0 = the file as a whole.
struct ImageError {
    std::size_t line = 0;
    std::string cause;
};

// The format a file's content shows: a first line that is a HEX record
// (':' and hex digits) or an S-record ('S', a digit, hex digits); anything
// else is raw.
Format detectFormat(std::span<const std::uint8_t> content);

// Each gives false and fills `error` at the first bad line.
bool parseIntelHex(std::string_view text, Image& image, ImageError& error);
bool parseSRecord(std::string_view text, Image& image, ImageError& error);
// `format` empty: by content.
bool parseImage(std::span<const std::uint8_t> content, std::optional<Format> format, Image& image,
                ImageError& error);

// Reads the whole file (at most kMaxFileBytes) and parses it. `fileBytes`
// gets the file's own content, for its digest.
bool loadImage(const std::string& path, std::optional<Format> format, Image& image,
               std::vector<std::uint8_t>& fileBytes, ImageError& error);

// "FILE:LINE: cause", or "FILE: cause" for line 0.
std::string describe(const std::string& path, const ImageError& error);

// Lower-case hexadecimal SHA-256 of `bytes`.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

// Writes `bytes` to a new file of its own in the temporary folder; the
// file's path, or empty (with `error`) when it cannot be made. The caller
// removes it (removeFile).
std::string writeTemporaryImage(std::span<const std::uint8_t> bytes, std::string& error);
void removeFile(const std::string& path);

}  // namespace ombra::image
