// The programmer's surroundings on the platform: the serial port (reads and
// writes that the termination event interrupts), mapped files, the status
// pipe and the module's trace log.
#pragma once

#include <array>
#include <memory>

#include "ombra/burnix/host.h"
#include "ombra/common/comm_records.h"
#include "ombra/platform/serial.h"

namespace ombra::burnix {

class ProgrammerCore;

// Applies a DCB to port settings; false (with a reason) for what a port
// here cannot do.
bool serialSettingsFromDcb(const DCB& dcb, platform::SerialSettings& settings, std::string& reason);

// Transport over an open serial port. Reads are served from a small buffer
// that is refilled with whatever the port holds, so a byte-at-a-time
// receiver costs no system call per byte. Every transfer is synchronous, so
// nothing is left pending when a wait is abandoned.
class SerialTransport final : public Transport {
public:
    SerialTransport(std::unique_ptr<platform::SerialPort> port, HANDLE terminationEvent,
                    const platform::SerialTimeouts& timeouts);
    Io read(std::span<std::uint8_t> bytes, std::size_t& got) override;
    Io readByteWithin(std::uint8_t& byte, DWORD ms) override;
    Io write(std::span<const std::uint8_t> bytes) override;
    void flush() override;
    void purge(unsigned flags) override;
    void clearError() override;
    void setQueues(DWORD in, DWORD out) override;
    bool cancelled() override;

private:
    Io transfer(const platform::SerialTransfer& t) const;
    void useTimeouts(const platform::SerialTimeouts& t);
    std::size_t takeBuffered(std::span<std::uint8_t> bytes);
    // Pulls whatever has arrived into the buffer without waiting.
    Io refill();

    std::unique_ptr<platform::SerialPort> port_;
    HANDLE event_;
    platform::SerialTimeouts stored_;
    platform::SerialTimeouts active_;
    std::array<std::uint8_t, 4096> buffer_{};
    std::size_t head_ = 0, tail_ = 0;
};

class PlatformHost final : public Host {
public:
    explicit PlatformHost(const ProgrammerCore& core) : core_(core) {}
    std::unique_ptr<Transport> openPort(DWORD baudRate) override;
    std::unique_ptr<ImageFile> openImage(const std::string& path, std::string& error) override;
    std::unique_ptr<DumpFile> createDumpFile(const std::string& path, std::string& error) override;
    void sleepMs(DWORD ms) override;
    void raisePriority(bool high) override;

private:
    const ProgrammerCore& core_;
};

class PipeSink final : public RecordSink {
public:
    explicit PipeSink(HANDLE pipe) : pipe_(pipe) {}
    void text(std::string_view text, DWORD messageClass) override;
    void status(DWORD code, DWORD value) override;
    void progress(DWORD done, DWORD total) override;

private:
    HANDLE pipe_;
};

class ModuleTrace final : public Trace {
public:
    void open(std::string_view name) override;
    void line(std::string_view text) override;
};

}  // namespace ombra::burnix
