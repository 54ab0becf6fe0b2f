// What the shared programmer code needs from its surroundings, as small
// interfaces: the serial port of one operation, the status pipe, the trace
// log, files and the clock. The component binds them to the platform; the
// tests bind them to fakes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "ombra/platform/types.h"

namespace ombra::burnix {

// Outcome of one port transfer. `cancelled` (the termination event fired)
// is kept apart from `timeout` (the port's time-outs ran out: a short count)
// and `failed` (the port itself reported an error).
enum class Io { ok, timeout, cancelled, failed };

enum PurgeFlags : unsigned {
    kPurgeTxAbort = 1,
    kPurgeRxAbort = 2,
    kPurgeTxClear = 4,
    kPurgeRxClear = 8,
};

class Transport {
public:
    virtual ~Transport() = default;
    // Reads bytes.size() bytes under the port's time-outs. `got` says how
    // many arrived; the result is `ok` only when all did.
    virtual Io read(std::span<std::uint8_t> bytes, std::size_t& got) = 0;
    // One byte, waiting at most `ms` whatever the port's time-outs say.
    virtual Io readByteWithin(std::uint8_t& byte, DWORD ms) = 0;
    // Returns once the bytes have left (or the termination event fired).
    virtual Io write(std::span<const std::uint8_t> bytes) = 0;
    virtual void flush() = 0;
    virtual void purge(unsigned flags) = 0;
    virtual void clearError() = 0;
    virtual void setQueues(DWORD in, DWORD out) = 0;
    // The termination event, polled without waiting.
    virtual bool cancelled() = 0;
};

// Message classes of text records.
inline constexpr DWORD kClassNormal = 3;
inline constexpr DWORD kClassFailure = 0;

// Status codes of status records.
inline constexpr DWORD kStatusFailure = 1;
inline constexpr DWORD kStatusSuccess = 2;
inline constexpr DWORD kStatusCancelled = 3;

// The callback pipe: text, status and progress records.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual void text(std::string_view text, DWORD messageClass) = 0;
    virtual void status(DWORD code, DWORD value) = 0;
    virtual void progress(DWORD done, DWORD total) = 0;
};

class Trace {
public:
    virtual ~Trace() = default;
    // The first name opened in a process decides; lines before are dropped.
    virtual void open(std::string_view name) = 0;
    virtual void line(std::string_view text) = 0;
};

// A read-only view of a whole image file.
class ImageFile {
public:
    virtual ~ImageFile() = default;
    virtual std::span<const std::uint8_t> bytes() const = 0;
};

// A dump file: created empty, then sized and mapped writable.
class DumpFile {
public:
    virtual ~DumpFile() = default;
    // Sets the file to exactly `size` bytes with its space reserved and maps
    // it; an empty span (with size > 0) is a failure, `error` says why.
    virtual std::span<std::uint8_t> map(std::size_t size, std::string& error) = 0;
};

class Host {
public:
    virtual ~Host() = default;
    // Opens and configures the port; on failure the host has told the user.
    virtual std::unique_ptr<Transport> openPort(DWORD baudRate) = 0;
    // Null with `error` set to the system's text when the file cannot be read.
    virtual std::unique_ptr<ImageFile> openImage(const std::string& path, std::string& error) = 0;
    virtual std::unique_ptr<DumpFile> createDumpFile(const std::string& path, std::string& error) = 0;
    virtual void sleepMs(DWORD ms) = 0;
    // Best effort; dumps run raised so the port queue is drained in time.
    virtual void raisePriority(bool high) = 0;
};

}  // namespace ombra::burnix
