// A serial port opened by device path: line settings, read/write time-outs
// with the meaning of COMMTIMEOUTS, reads and writes that a list of wait
// handles can interrupt, purge, drain and out-of-band characters.
//
// The port is move-only and closes itself. Errors carry a kind, the
// operating system's code and a message; a default SerialError means success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ombra/platform/types.h"

namespace ombra::platform {

enum class SerialErrorKind {
    none,
    invalidArgument,  // a value no port accepts (a zero baud rate, 9 data bits)
    notFound,         // no such device
    accessDenied,
    busy,             // another process holds the port
    unsupported,      // the device cannot do what was asked
    io,               // a read, write or control call failed
    hungUp,           // the other end went away
};

struct SerialError {
    SerialErrorKind kind = SerialErrorKind::none;
    int osCode = 0;  // errno on POSIX, GetLastError() on Windows
    std::string message;

    explicit operator bool() const { return kind != SerialErrorKind::none; }
};

enum class SerialParity { none, odd, even, mark, space };
enum class SerialStopBits { one, oneAndHalf, two };
// A modem line the host drives: held low, held high, or left to flow control.
enum class SerialLine { off, on, flowControl };

struct SerialSettings {
    std::uint32_t baudRate = 9600;  // any rate the device can set
    std::uint8_t dataBits = 8;      // 5..8
    SerialParity parity = SerialParity::none;
    SerialStopBits stopBits = SerialStopBits::one;
    bool ctsOutputFlow = false;  // transmit only while CTS is up
    bool dsrOutputFlow = false;  // transmit only while DSR is up
    bool dsrSensitivity = false;  // drop input while DSR is down
    bool xonXoffOutput = false;  // obey XON/XOFF from the other end
    bool xonXoffInput = false;   // send XON/XOFF when our input fills
    std::uint8_t xonChar = 0x11;
    std::uint8_t xoffChar = 0x13;
    bool discardNul = false;
    SerialLine dtr = SerialLine::on;
    SerialLine rts = SerialLine::on;
};

// COMMTIMEOUTS, all in milliseconds.
struct SerialTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;

    friend bool operator==(const SerialTimeouts&, const SerialTimeouts&) = default;
};
inline constexpr std::uint32_t kSerialMaxWait = 0xFFFFFFFFu;

// How a read or write ended. A time-out is not an error: `count` tells how
// much was moved. `interrupted` names the wait handle that was signaled.
struct SerialTransfer {
    enum class End { complete, timedOut, interrupted, failed };
    End end = End::complete;
    std::size_t count = 0;
    std::size_t handleIndex = 0;  // with `interrupted`
    SerialError error;            // with `failed`
};

enum SerialPurge : unsigned {
    kPurgeTxAbort = 1,
    kPurgeRxAbort = 2,
    kPurgeTxClear = 4,
    kPurgeRxClear = 8,
};

struct SerialStatus {
    std::uint32_t errors = 0;  // framing, parity, overrun seen since the last clear
    std::size_t inQueue = 0;   // bytes received, not yet read
    std::size_t outQueue = 0;  // bytes written, not yet sent
};

struct SerialOpenOptions {
    bool exclusive = true;  // refuse a port another process has open this way
    // A write completes only once its bytes have left at the line rate, also
    // where the device cannot tell (a pseudo-terminal has no transmit queue:
    // its writes end at once, whatever the rate). A caller that starts a
    // time limit for the answer when its write returns needs this.
    bool lineTimedWrites = false;
};

class SerialPort {
public:
    class Impl;

    // Opens `path` and applies `settings`. On failure gives null and fills `error`.
    static std::unique_ptr<SerialPort> open(std::string_view path, const SerialSettings& settings,
                                            SerialError* error, SerialOpenOptions options = {});
    // One end of a virtual cable (a pseudo-terminal where there is one); the
    // path of the other end, which opens like any serial device, goes into
    // `peerPath`. Null with `unsupported` where no such device exists.
    static std::unique_ptr<SerialPort> openVirtualPair(std::string& peerPath, SerialError* error);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    SerialError configure(const SerialSettings& settings);
    SerialSettings settings() const;

    SerialError setTimeouts(const SerialTimeouts& timeouts);
    SerialTimeouts timeouts() const;

    // Reads up to buffer.size() bytes under the time-outs. A signaled handle
    // in `waitHandles` ends the read early; INVALID_HANDLE_VALUE and null
    // entries are never signaled.
    SerialTransfer read(std::span<std::uint8_t> buffer, std::span<const HANDLE> waitHandles = {});

    // Writes every byte under the write time-outs; complete only once the
    // bytes have left the port, so a purge afterwards discards nothing.
    SerialTransfer write(std::span<const std::uint8_t> bytes, std::span<const HANDLE> waitHandles = {});

    SerialError purge(unsigned flags);
    // Gives the error state and queue sizes, and clears the error state.
    SerialError clearErrors(SerialStatus* status = nullptr);
    // Sends one character ahead of anything queued.
    SerialError transmitChar(std::uint8_t c);
    SerialError setBreak(bool on);
    // Waits until everything written has been sent.
    SerialError drain();
    // Queue sizes are the driver's business here; accepted for compatibility.
    SerialError setQueueSizes(std::size_t input, std::size_t output);

    const std::string& path() const;

private:
    explicit SerialPort(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The hardware serial ports the system finds (device paths on POSIX, names
// such as "COM3" on Windows), in the order the system gives them. Virtual
// ports (pseudo-terminals) are not among them.
std::vector<std::string> listSerialPorts();

// True when `path` names an existing character device (a serial port, a
// terminal); false for files, folders, missing paths and a NUL in the path.
// Nothing is opened.
bool isCharacterDevice(std::string_view path);

// Checks settings every port needs to accept; the device may refuse more.
SerialError validateSerialSettings(const SerialSettings& settings);

const char* serialErrorKindName(SerialErrorKind kind);

}  // namespace ombra::platform
