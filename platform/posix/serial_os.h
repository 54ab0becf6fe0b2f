// What the serial port needs from the operating system. serial.cpp checks
// arguments and keeps settings; the files behind this header make the calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "ombra/platform/serial.h"

namespace ombra::platform {

class SerialPort::Impl {
public:
    static std::unique_ptr<Impl> open(const std::string& path, bool exclusive, SerialError* error);
    static std::unique_ptr<Impl> openPseudoTerminal(std::string& peerPath, SerialError* error);
    ~Impl();

    SerialError apply(const SerialSettings& settings);
    SerialTransfer read(std::span<std::uint8_t> buffer, std::span<const HANDLE> waitHandles);
    SerialTransfer write(std::span<const std::uint8_t> bytes, std::span<const HANDLE> waitHandles);
    SerialError purge(bool input, bool output);
    SerialError status(SerialStatus* status);
    SerialError transmitChar(std::uint8_t c);
    SerialError setBreak(bool on);
    SerialError drain();

    std::string path;
    SerialSettings settings;
    SerialTimeouts timeouts;
    bool lineTimedWrites = false;

private:
    Impl() = default;
    int fd_ = -1;
    bool modemLines_ = false;  // false on a pseudo-terminal
    // Line-timed writes on a pseudo-terminal: when the last byte given to
    // the line has left it.
    std::chrono::steady_clock::time_point lineFree_{};
    std::chrono::nanoseconds charTime() const;
    SerialTransfer waitForLine(std::chrono::steady_clock::time_point start, std::size_t count,
                               std::chrono::steady_clock::time_point deadline, std::span<const HANDLE> waitHandles);
    std::uint32_t errorBase_[3] = {0, 0, 0};
};

// Linux custom rates (termios2), kept apart because its header clashes with
// <termios.h>. Give 0 or an errno value.
int serialSetBaud(int fd, std::uint32_t baud);
int serialGetBaud(int fd, std::uint32_t* baud);

SerialError serialErrorFromErrno(SerialErrorKind fallback, int code, const std::string& what);

}  // namespace ombra::platform
