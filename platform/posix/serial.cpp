// The portable half of the serial port: argument checks and the settings and
// time-outs the port holds. Operating-system work is in SerialPort::Impl.
#include <utility>

#include "serial_os.h"

namespace ombra::platform {

namespace {

SerialError invalid(std::string message)
{
    return {SerialErrorKind::invalidArgument, 0, std::move(message)};
}

}  // namespace

const char* serialErrorKindName(SerialErrorKind kind)
{
    switch (kind) {
    case SerialErrorKind::none: return "none";
    case SerialErrorKind::invalidArgument: return "invalid argument";
    case SerialErrorKind::notFound: return "not found";
    case SerialErrorKind::accessDenied: return "access denied";
    case SerialErrorKind::busy: return "busy";
    case SerialErrorKind::unsupported: return "unsupported";
    case SerialErrorKind::io: return "i/o error";
    case SerialErrorKind::hungUp: return "hung up";
    }
    return "unknown";
}

SerialError validateSerialSettings(const SerialSettings& s)
{
    if (s.baudRate == 0)
        return invalid("baud rate 0");
    if (s.dataBits < 5 || s.dataBits > 8)
        return invalid("data bits must be 5 to 8, not " + std::to_string(s.dataBits));
    if (s.parity > SerialParity::space)
        return invalid("unknown parity");
    if (s.stopBits > SerialStopBits::two)
        return invalid("unknown stop bits");
    if (s.dtr > SerialLine::flowControl || s.rts > SerialLine::flowControl)
        return invalid("unknown modem line control");
    if ((s.xonXoffInput || s.xonXoffOutput) && s.xonChar == s.xoffChar)
        return invalid("XON and XOFF characters are the same");
    return {};
}

std::unique_ptr<SerialPort> SerialPort::open(std::string_view path, const SerialSettings& settings,
                                             SerialError* error, SerialOpenOptions options)
{
    SerialError local;
    SerialError& err = error ? *error : local;
    err = {};
    if (path.empty()) {
        err = invalid("empty device path");
        return nullptr;
    }
    if (path.find('\0') != std::string_view::npos) {
        err = invalid("device path holds a NUL");
        return nullptr;
    }
    if (SerialError e = validateSerialSettings(settings)) {
        err = std::move(e);
        return nullptr;
    }
    std::unique_ptr<Impl> impl = Impl::open(std::string(path), options.exclusive, &err);
    if (!impl)
        return nullptr;
    if (SerialError e = impl->apply(settings)) {
        err = std::move(e);
        return nullptr;
    }
    impl->settings = settings;
    impl->lineTimedWrites = options.lineTimedWrites;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(impl)));
}

std::unique_ptr<SerialPort> SerialPort::openVirtualPair(std::string& peerPath, SerialError* error)
{
    SerialError local;
    SerialError& err = error ? *error : local;
    err = {};
    std::unique_ptr<Impl> impl = Impl::openPseudoTerminal(peerPath, &err);
    if (!impl)
        return nullptr;
    SerialSettings settings;
    if (SerialError e = impl->apply(settings)) {
        err = std::move(e);
        return nullptr;
    }
    impl->settings = settings;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(impl)));
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SerialPort::~SerialPort() = default;

SerialError SerialPort::configure(const SerialSettings& settings)
{
    if (SerialError e = validateSerialSettings(settings))
        return e;
    SerialError e = impl_->apply(settings);
    if (!e)
        impl_->settings = settings;
    return e;
}

SerialSettings SerialPort::settings() const { return impl_->settings; }

SerialError SerialPort::setTimeouts(const SerialTimeouts& timeouts)
{
    impl_->timeouts = timeouts;
    return {};
}

SerialTimeouts SerialPort::timeouts() const { return impl_->timeouts; }

SerialTransfer SerialPort::read(std::span<std::uint8_t> buffer, std::span<const HANDLE> waitHandles)
{
    if (buffer.empty())
        return {};
    return impl_->read(buffer, waitHandles);
}

SerialTransfer SerialPort::write(std::span<const std::uint8_t> bytes, std::span<const HANDLE> waitHandles)
{
    if (bytes.empty())
        return {};
    return impl_->write(bytes, waitHandles);
}

SerialError SerialPort::purge(unsigned flags)
{
    if (flags & ~unsigned(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear))
        return invalid("unknown purge flags");
    // Nothing is ever pending in the background (reads and writes return
    // only when done), so an abort is a clear.
    bool input = flags & (kPurgeRxAbort | kPurgeRxClear);
    bool output = flags & (kPurgeTxAbort | kPurgeTxClear);
    if (!input && !output)
        return {};
    return impl_->purge(input, output);
}

SerialError SerialPort::clearErrors(SerialStatus* status)
{
    SerialStatus local;
    return impl_->status(status ? status : &local);
}

SerialError SerialPort::transmitChar(std::uint8_t c) { return impl_->transmitChar(c); }
SerialError SerialPort::setBreak(bool on) { return impl_->setBreak(on); }
SerialError SerialPort::drain() { return impl_->drain(); }

SerialError SerialPort::setQueueSizes(std::size_t input, std::size_t output)
{
    if (input == 0 || output == 0)
        return invalid("queue size 0");
    return {};
}

const std::string& SerialPort::path() const { return impl_->path; }

}  // namespace ombra::platform
