#include "ombra/frontend/cbus_file.h"

#include <cctype>
#include <new>

#include "ombra/common/trace.h"
#include "ombra/platform/file.h"
#include "ombra/platform/pipe.h"

namespace ombra::frontend {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle()
    {
        if (h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// Splits the bytes into the pieces a text-mode line read gives: CR LF reads
// as LF, a lone CR is a character, and a piece ends at LF or when it holds
// kCBusLineLimit characters (the LF counted).
class LineSplitter {
public:
    explicit LineSplitter(std::vector<std::uint8_t>& table) : table_(table) { piece_.reserve(kCBusLineLimit); }

    // false when the table would grow past its size field.
    bool feed(char c)
    {
        if (pendingCr_) {
            pendingCr_ = false;
            if (c == '\n')
                return endPiece();
            if (!append('\r'))
                return false;
        }
        if (c == '\r') {
            pendingCr_ = true;
            return true;
        }
        if (c == '\n')
            return endPiece();
        return append(c);
    }

    bool finish()
    {
        if (pendingCr_ && !append('\r'))
            return false;
        pendingCr_ = false;
        return piece_.empty() || endPiece();
    }

private:
    bool append(char c)
    {
        piece_.push_back(c);
        return piece_.size() < kCBusLineLimit || endPiece();
    }

    bool endPiece()
    {
        TraceFormat("ReadString read '%s'", piece_.c_str());
        std::uint16_t word = 0;
        const bool number = parseCBusWord(piece_, word);
        piece_.clear();
        if (!number)
            return true;
        if (table_.size() + 2 > kMaxCBusTableSize)
            return false;
        table_.push_back(static_cast<std::uint8_t>(word >> 8));
        table_.push_back(static_cast<std::uint8_t>(word));
        return true;
    }

    std::vector<std::uint8_t>& table_;
    std::string piece_;
    bool pendingCr_ = false;
};

}  // namespace

std::vector<std::uint8_t> defaultCBusTable()
{
    return {0xFF, 0xA2, 0x3F, 0xFE, 0xFF, 0xA8, 0xA0, 0xBC, 0xFF, 0xA4, 0x00, 0x07, 0x0A, 0x08, 0x00, 0x04, 0xFF, 0xFF};
}

bool parseCBusWord(std::string_view line, std::uint16_t& word)
{
    std::size_t i = 0;
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
        ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-'))
        negative = line[i++] == '-';
    if (i + 2 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X') &&
        hexDigit(line[i + 2]) >= 0)
        i += 2;
    // Only the last four digits survive the cut to 16 bits.
    std::uint16_t value = 0;
    std::size_t digits = 0;
    for (; i < line.size() && hexDigit(line[i]) >= 0; ++i, ++digits)
        value = static_cast<std::uint16_t>(value << 4 | hexDigit(line[i]));
    if (digits == 0)
        return false;
    word = negative ? static_cast<std::uint16_t>(-value) : value;
    return true;
}

CBusResult parseCBusText(std::string_view text, std::vector<std::uint8_t>& table)
{
    table.clear();
    LineSplitter lines(table);
    for (char c : text) {
        if (!lines.feed(c)) {
            table.clear();
            return CBusResult::tooLarge;
        }
    }
    if (!lines.finish()) {
        table.clear();
        return CBusResult::tooLarge;
    }
    return CBusResult::ok;
}

CBusResult readCBusFile(const std::string& path, std::vector<std::uint8_t>& table)
{
    table.clear();
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, OPEN_EXISTING));
    if (file.get() == INVALID_HANDLE_VALUE)
        return CBusResult::cannotOpen;
    std::uint64_t length = 0;
    if (!GetFileSizeEx(file.get(), &length))
        return CBusResult::cannotStat;
    // Two bytes per word at most, and never more than the size field
    // counts: the buffer fits whatever the file's length.
    const std::uint64_t room = length < kMaxCBusTableSize / 2 ? length * 2 : kMaxCBusTableSize;
    try {
        table.reserve(static_cast<std::size_t>(room));
    } catch (const std::bad_alloc&) {
        TraceText("Out of memory");
        return CBusResult::outOfMemory;
    }

    LineSplitter lines(table);
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got)) {
            table.clear();
            return CBusResult::cannotStat;
        }
        if (got == 0)
            break;
        for (DWORD i = 0; i < got; ++i) {
            if (!lines.feed(buffer[i])) {
                table.clear();
                return CBusResult::tooLarge;
            }
        }
    }
    if (!lines.finish()) {
        table.clear();
        return CBusResult::tooLarge;
    }
    TraceText("readCBusTable exited");
    return CBusResult::ok;
}

}  // namespace ombra::frontend
