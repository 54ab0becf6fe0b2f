// The C-bus table file: one hexadecimal 16-bit word per line, packed high
// byte first into the table the boot ROM is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ombra::frontend {

// Tried when no C-bus file is chosen (a fixed relative path: turn it into
// the platform's form with platform::nativeRelativePath).
inline constexpr const char* kDefaultCBusPath = "C_Bus_Table\\C_Bus.txt";

// The table's size field is 16 bits wide.
inline constexpr std::size_t kMaxCBusTableSize = 65535;
// Longest piece of a line read at once, the line end counted; the rest of a
// longer line is read as a line of its own.
inline constexpr std::size_t kCBusLineLimit = 254;

// The packed form of the shipped file: 18 bytes.
std::vector<std::uint8_t> defaultCBusTable();

enum class CBusResult {
    ok,
    cannotOpen,   // missing, not a regular file, or not readable
    cannotStat,   // its length, or its contents, cannot be read
    outOfMemory,
    tooLarge,     // the table would exceed kMaxCBusTableSize bytes
};

// Reads and packs the file at `path` (used as it is). Every line piece is
// traced as "ReadString read '<text>'", the end as "readCBusTable exited"
// (the caller traces its own entry); lines that do not start with a
// hexadecimal number are skipped; "0x" is accepted and bits above 15 are
// dropped. `table` holds the result only with `ok`, and is empty otherwise.
// Shows nothing.
CBusResult readCBusFile(const std::string& path, std::vector<std::uint8_t>& table);

// The same packing of a file's bytes already in memory (no traces of the
// file's end, nothing opened).
CBusResult parseCBusText(std::string_view text, std::vector<std::uint8_t>& table);

// The word a line gives: "%X" after leading white space (an optional sign
// and "0x" prefix), cut to 16 bits; false when the line holds no number.
bool parseCBusWord(std::string_view line, std::uint16_t& word);

}  // namespace ombra::frontend
