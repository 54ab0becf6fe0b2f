#include "ombra/burnix/platform_host.h"

#include <cstring>

#include "ombra/burnix/programmer.h"
#include "ombra/common/pipe_protocol.h"
#include "ombra/common/trace.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/file.h"
#include "ombra/platform/filemap.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/messagebox.h"
#include "ombra/platform/thread.h"

namespace ombra::burnix {

using platform::SerialLine;
using platform::SerialParity;
using platform::SerialStopBits;
using platform::SerialTimeouts;
using platform::SerialTransfer;

bool serialSettingsFromDcb(const DCB& dcb, platform::SerialSettings& s, std::string& reason) {
    s = {};
    s.baudRate = dcb.BaudRate;
    s.dataBits = dcb.ByteSize;
    static const SerialParity parities[] = {SerialParity::none, SerialParity::odd, SerialParity::even,
                                            SerialParity::mark, SerialParity::space};
    static const SerialStopBits stops[] = {SerialStopBits::one, SerialStopBits::oneAndHalf, SerialStopBits::two};
    if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) {
        reason = "unknown parity or stop bits";
        return false;
    }
    s.parity = parities[dcb.Parity];
    s.stopBits = stops[dcb.StopBits];
    s.ctsOutputFlow = dcb.flag(DCB::kOutxCtsFlow);
    s.dsrOutputFlow = dcb.flag(DCB::kOutxDsrFlow);
    s.dsrSensitivity = dcb.flag(DCB::kDsrSensitivity);
    s.xonXoffOutput = dcb.flag(DCB::kOutX);
    s.xonXoffInput = dcb.flag(DCB::kInX);
    s.xonChar = static_cast<std::uint8_t>(dcb.XonChar);
    s.xoffChar = static_cast<std::uint8_t>(dcb.XoffChar);
    s.discardNul = dcb.flag(DCB::kNull);
    static const SerialLine lines[] = {SerialLine::off, SerialLine::on, SerialLine::flowControl, SerialLine::flowControl};
    s.dtr = lines[dcb.dtrControl()];
    s.rts = lines[dcb.rtsControl()];
    return true;
}

// ---- serial transport ------------------------------------------------------

SerialTransport::SerialTransport(std::unique_ptr<platform::SerialPort> port, HANDLE terminationEvent,
                                 const SerialTimeouts& timeouts)
    : port_(std::move(port)), event_(terminationEvent), stored_(timeouts), active_(timeouts) {}

Io SerialTransport::transfer(const SerialTransfer& t) const {
    switch (t.end) {
    case SerialTransfer::End::complete: return Io::ok;
    case SerialTransfer::End::timedOut: return Io::timeout;
    case SerialTransfer::End::interrupted: return Io::cancelled;
    case SerialTransfer::End::failed: return Io::failed;
    }
    return Io::failed;
}

void SerialTransport::useTimeouts(const SerialTimeouts& t) {
    if (t == active_) return;
    port_->setTimeouts(t);
    active_ = t;
}

std::size_t SerialTransport::takeBuffered(std::span<std::uint8_t> bytes) {
    const std::size_t n = std::min(bytes.size(), tail_ - head_);
    std::memcpy(bytes.data(), buffer_.data() + head_, n);
    head_ += n;
    if (head_ == tail_) head_ = tail_ = 0;
    return n;
}

Io SerialTransport::refill() {
    // Interval MAXDWORD with no totals: return at once with what is queued.
    useTimeouts({platform::kSerialMaxWait, 0, 0, stored_.writeTotalMultiplier, stored_.writeTotalConstant});
    const HANDLE wait[1] = {event_};
    const SerialTransfer t = port_->read(std::span(buffer_.data() + tail_, buffer_.size() - tail_), wait);
    tail_ += t.count;
    return t.end == SerialTransfer::End::timedOut ? Io::ok : transfer(t);
}

Io SerialTransport::read(std::span<std::uint8_t> bytes, std::size_t& got) {
    got = takeBuffered(bytes);
    if (got == bytes.size()) return cancelled() ? Io::cancelled : Io::ok;
    useTimeouts(stored_);
    const HANDLE wait[1] = {event_};
    const SerialTransfer t = port_->read(bytes.subspan(got), wait);
    got += t.count;
    return transfer(t);
}

Io SerialTransport::readByteWithin(std::uint8_t& byte, DWORD ms) {
    if (head_ == tail_) {
        const Io r = refill();
        if (r == Io::cancelled || r == Io::failed) return r;
    }
    if (takeBuffered(std::span(&byte, 1)) == 1) return Io::ok;
    useTimeouts({0, 0, ms, stored_.writeTotalMultiplier, stored_.writeTotalConstant});
    const HANDLE wait[1] = {event_};
    const SerialTransfer t = port_->read(std::span(&byte, 1), wait);
    return transfer(t);
}

Io SerialTransport::write(std::span<const std::uint8_t> bytes) {
    const HANDLE wait[1] = {event_};
    const SerialTransfer t = port_->write(bytes, wait);
    if (t.end == SerialTransfer::End::interrupted) TraceText("write cancelled");
    return transfer(t);
}

void SerialTransport::flush() { port_->drain(); }

void SerialTransport::purge(unsigned flags) {
    if (flags & (kPurgeRxClear | kPurgeRxAbort)) head_ = tail_ = 0;
    port_->purge(flags);
}

void SerialTransport::clearError() { port_->clearErrors(); }

void SerialTransport::setQueues(DWORD in, DWORD out) { port_->setQueueSizes(in, out); }

bool SerialTransport::cancelled() {
    return event_ != INVALID_HANDLE_VALUE && event_ != nullptr && WaitForSingleObject(event_, 0) == WAIT_OBJECT_0;
}

// ---- files -----------------------------------------------------------------

namespace {

class MappedImage final : public ImageFile {
public:
    explicit MappedImage(platform::MappedView view) : view_(std::move(view)) {}
    std::span<const std::uint8_t> bytes() const override { return {view_.data(), view_.size()}; }

private:
    platform::MappedView view_;
};

class PlatformDumpFile final : public DumpFile {
public:
    explicit PlatformDumpFile(HANDLE file) : file_(file) {}
    ~PlatformDumpFile() override {
        if (view_) UnmapViewOfFile(view_);
        if (mapping_) CloseHandle(mapping_);
        CloseHandle(file_);
    }
    std::span<std::uint8_t> map(std::size_t size, std::string& error) override {
        // The mapping sets the size and reserves the space first.
        mapping_ = CreateFileMappingA(file_, PAGE_READWRITE, size);
        if (!mapping_) {
            error = GetErrorText(GetLastError());
            return {};
        }
        view_ = MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, size);
        if (!view_) {
            TraceText("failed to map file");
            error = GetErrorText(GetLastError());
            return {};
        }
        return {static_cast<std::uint8_t*>(view_), size};
    }

private:
    HANDLE file_;
    HANDLE mapping_ = nullptr;
    void* view_ = nullptr;
};

}  // namespace

std::unique_ptr<Transport> PlatformHost::openPort(DWORD baudRate) {
    DCB dcb = core_.dcb;
    dcb.DCBlength = DCB::kSize;
    dcb.BaudRate = baudRate;
    platform::SerialSettings settings;
    std::string reason;
    if (!serialSettingsFromDcb(dcb, settings, reason)) return nullptr;
    platform::SerialError error;
    auto port = platform::SerialPort::open(core_.portName, settings, &error);
    if (!port) {
        platform::messageBox(error.message.c_str(), "Error", MB_OK | MB_ICONINFORMATION);
        return nullptr;
    }
    const SerialTimeouts t{core_.timeouts.ReadIntervalTimeout, core_.timeouts.ReadTotalTimeoutMultiplier,
                           core_.timeouts.ReadTotalTimeoutConstant, core_.timeouts.WriteTotalTimeoutMultiplier,
                           core_.timeouts.WriteTotalTimeoutConstant};
    if (port->setTimeouts(t)) return nullptr;
    return std::make_unique<SerialTransport>(std::move(port), core_.terminationEvent, t);
}

std::unique_ptr<ImageFile> PlatformHost::openImage(const std::string& path, std::string& error) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetErrorText(GetLastError());
        return nullptr;
    }
    CloseHandle(file);
    TraceText("Creating file mapping");
    platform::MappedView view = platform::MappedView::openReadOnly(path.c_str());
    if (!view.valid()) {
        TraceText("failed to create file mapping");
        error = GetErrorText(GetLastError());
        return nullptr;
    }
    return std::make_unique<MappedImage>(std::move(view));
}

std::unique_ptr<DumpFile> PlatformHost::createDumpFile(const std::string& path, std::string& error) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetErrorText(GetLastError());
        return nullptr;
    }
    return std::make_unique<PlatformDumpFile>(file);
}

void PlatformHost::sleepMs(DWORD ms) {
    if (ms) Sleep(ms);
}

void PlatformHost::raisePriority(bool high) {
    SetThreadPriority(GetCurrentThread(), high ? THREAD_PRIORITY_HIGHEST : THREAD_PRIORITY_NORMAL);
}

// ---- records and trace -----------------------------------------------------

void PipeSink::text(std::string_view text, DWORD messageClass) { pipe::TextRecord(text, messageClass).Write(pipe_); }
void PipeSink::status(DWORD code, DWORD value) { pipe::StatusRecord(code, value).Write(pipe_); }
void PipeSink::progress(DWORD done, DWORD total) { pipe::ProgressRecord(done, total).Write(pipe_); }

void ModuleTrace::open(std::string_view name) { TraceOpen(std::string(name).c_str()); }
void ModuleTrace::line(std::string_view text) { TraceText(std::string(text).c_str()); }

}  // namespace ombra::burnix
