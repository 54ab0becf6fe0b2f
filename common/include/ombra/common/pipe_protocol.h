// The byte protocol between the front end and a worker: the parameter block
// (front end -> worker), the status records (worker or programmer -> front
// end) and the terminate message. Every integer is little-endian; a text
// field is a 32-bit length and that many bytes, without a terminator.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ombra/common/byte_io.h"
#include "ombra/common/comm_records.h"
#include "ombra/platform/types.h"

namespace ombra::pipe {

// ---- parameter block -------------------------------------------------------

enum class Operation { identify, burn, verify, dump };

// The earlier block form, read by the workers of the chip-family
// programmers, ends with the cancel event: it has no programmer name.
enum class BlockForm { current, earlier };

inline constexpr std::size_t kMaxCBusTable = 0xFFFF;

struct ParameterBlock {
    Operation operation = Operation::identify;
    GUID programmerClsid{};
    DWORD deviceNumber = 0;  // absent from the identify block
    std::string commDeviceName;
    DCB dcb;
    COMMTIMEOUTS timeouts;
    std::vector<std::uint8_t> cbusTable;  // wire size is 16-bit
    DWORD baudRate = 0;
    std::string path;        // burn/verify: image file; dump: target file
    DWORD start = 0;         // burn, verify, dump
    DWORD verifyFlag = 0;    // burn
    DWORD dumpLength = 0;    // dump
    DWORD cancelEvent = 0;   // handle number valid in the worker
    std::string programmerName;  // current form only

    friend bool operator==(const ParameterBlock&, const ParameterBlock&) = default;
};

// Fields in wire order; a reader reports each one after it is complete.
enum class BlockField {
    programmerClsid, deviceNumber, commDeviceName, dcb, timeouts, cbusTableSize, cbusTable,
    baudRate, path, start, verifyFlag, dumpLength, cancelEvent, programmerName
};

// The block's bytes; nullopt when the C-bus table does not fit its 16-bit size.
std::optional<std::vector<std::uint8_t>> encode(const ParameterBlock& block, BlockForm form);

using FieldObserver = std::function<void(BlockField, const ParameterBlock&)>;

// Reads one block of `operation`. `out` is written only when the whole
// block was read; a short read, or a text longer than kMaxFieldLength, fails
// before anything of that size is allocated.
bool readParameterBlock(ByteSource& src, Operation operation, BlockForm form, ParameterBlock& out,
                        const FieldObserver& onField = {});

// ---- status records --------------------------------------------------------

enum : DWORD { E_RECORD_TEXT = 1, E_RECORD_STATUS = 2, E_RECORD_PROGRESS = 3 };
enum : DWORD { E_STATUS_FAILURE = 1, E_STATUS_SUCCESS = 2, E_STATUS_CANCELLED = 3 };

inline constexpr std::size_t kMaxRecordText = 1027;  // held with its terminator in 1028 bytes
inline constexpr DWORD kDefaultMessageClass = 3;

// Writers. Each field goes out in a write of its own; the first failed
// write ends the record.
class PipeRecord {
public:
    virtual ~PipeRecord() = default;
    virtual bool WriteTo(ByteSink& pipe) const = 0;
    // The same into a pipe handle of the platform.
    bool Write(HANDLE pipe) const;
};

class TextRecord final : public PipeRecord {
public:
    // The text ends at its first zero byte and is cut to kMaxRecordText.
    TextRecord(std::string_view text, DWORD messageClass);
    bool WriteTo(ByteSink& pipe) const override;
    std::string_view text() const { return {text_.data(), length_}; }
    DWORD messageClass() const { return class_; }

private:
    std::array<char, kMaxRecordText + 1> text_{};
    std::size_t length_ = 0;
    DWORD class_;
};

class StatusRecord final : public PipeRecord {
public:
    StatusRecord(DWORD code, DWORD value) : code_(code), value_(value) {}
    bool WriteTo(ByteSink& pipe) const override;

private:
    DWORD code_, value_;
};

class ProgressRecord final : public PipeRecord {
public:
    ProgressRecord(DWORD done, DWORD total) : done_(done), total_(total) {}
    bool WriteTo(ByteSink& pipe) const override;

private:
    DWORD done_, total_;
};

// Reader.
struct TextMessage {
    std::string text;  // at most kMaxRecordText bytes
    DWORD messageClass = 0;
    friend bool operator==(const TextMessage&, const TextMessage&) = default;
};
struct StatusMessage {
    DWORD code = 0;
    DWORD value = 0;
    friend bool operator==(const StatusMessage&, const StatusMessage&) = default;
};
struct ProgressMessage {
    DWORD done = 0;
    DWORD total = 0;
    friend bool operator==(const ProgressMessage&, const ProgressMessage&) = default;
};
using Record = std::variant<TextMessage, StatusMessage, ProgressMessage>;

enum class ReadResult {
    ok,
    failed,      // the stream broke (end of file, error, short read)
    badType,     // a record type outside 1..3
    badLength,   // a text length beyond kMaxRecordText
};

ReadResult readRecord(ByteSource& src, Record& out);

// ---- terminate message -----------------------------------------------------

inline constexpr std::array<std::uint8_t, 4> kTerminateMessage{1, 2, 3, 4};

// Byte-fed scan for 01 02 03 04. A byte that breaks the sequence is not
// looked at again as a new start, so 01 01 02 03 04 does not match.
class TerminateScanner {
public:
    // The byte the scan waits for next: 1 (a new start) to 4.
    std::uint8_t expecting() const { return expecting_; }
    // True when this byte completed the message.
    bool feed(std::uint8_t byte);

private:
    std::uint8_t expecting_ = 1;
};

}  // namespace ombra::pipe
