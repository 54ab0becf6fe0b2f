// Serial port on POSIX termios. Time-outs follow COMMTIMEOUTS and are kept
// with poll() (the port is non-blocking; VMIN/VTIME are never used).
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "handle_object.h"
#include "serial_os.h"

namespace ombra::platform {

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// Clock::time_point::max() stands for "no limit".
constexpr Clock::time_point kNever = Clock::time_point::max();

Clock::time_point after(Clock::time_point start, std::uint64_t ms)
{
    if (ms > std::uint64_t(365) * 24 * 3600 * 1000)
        return kNever;
    return start + Ms(ms);
}

// Milliseconds until `deadline`, rounded up so a poll never ends early; -1 = no limit.
int pollTimeout(Clock::time_point deadline, Clock::time_point now)
{
    if (deadline == kNever)
        return -1;
    if (deadline <= now)
        return 0;
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
    auto ms = (us + 999) / 1000;
    return int(std::min<long long>(ms, INT_MAX));
}

// One poll over the port and the wait handles.
detail::PollResult waitPort(int fd, short events, std::span<const HANDLE> handles, int timeoutMs)
{
    return detail::pollWithHandles(fd, events, handles.data(), DWORD(handles.size()), timeoutMs);
}

SerialError errnoError(SerialErrorKind kind, const std::string& what)
{
    return serialErrorFromErrno(kind, errno, what);
}

speed_t standardSpeed(std::uint32_t baud)
{
    switch (baud) {
    case 50: return B50; case 75: return B75; case 110: return B110; case 134: return B134;
    case 150: return B150; case 200: return B200; case 300: return B300; case 600: return B600;
    case 1200: return B1200; case 1800: return B1800; case 2400: return B2400; case 4800: return B4800;
    case 9600: return B9600; case 19200: return B19200; case 38400: return B38400;
    case 57600: return B57600; case 115200: return B115200; case 230400: return B230400;
    case 460800: return B460800; case 500000: return B500000; case 576000: return B576000;
    case 921600: return B921600; case 1000000: return B1000000; case 1152000: return B1152000;
    case 1500000: return B1500000; case 2000000: return B2000000;
    default: return B0;
    }
}

tcflag_t sizeFlag(std::uint8_t bits)
{
    switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

SerialError unsupported(const std::string& what)
{
    return {SerialErrorKind::unsupported, 0, what};
}

}  // namespace

SerialError serialErrorFromErrno(SerialErrorKind fallback, int code, const std::string& what)
{
    SerialErrorKind kind = fallback;
    switch (code) {
    case ENOENT: case ENODEV: case ENXIO: kind = SerialErrorKind::notFound; break;
    case EACCES: case EPERM: kind = SerialErrorKind::accessDenied; break;
    case EBUSY: case EWOULDBLOCK: kind = SerialErrorKind::busy; break;
    case EIO: kind = fallback == SerialErrorKind::io ? SerialErrorKind::hungUp : fallback; break;
    default: break;
    }
    return {kind, code, what + ": " + std::strerror(code)};
}

std::unique_ptr<SerialPort::Impl> SerialPort::Impl::open(const std::string& path, bool exclusive,
                                                          SerialError* error)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errnoError(SerialErrorKind::io, "open " + path);
        return nullptr;
    }
    std::unique_ptr<Impl> impl(new Impl);
    impl->fd_ = fd;
    impl->path = path;
    if (!isatty(fd)) {
        *error = {SerialErrorKind::unsupported, ENOTTY, path + " is not a serial device"};
        return nullptr;
    }
    // An advisory lock: another process using this port gets "busy" without
    // the port being locked against root or a hung-up holder (TIOCEXCL).
    if (exclusive && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int code = errno;
        *error = code == EWOULDBLOCK ? SerialError{SerialErrorKind::busy, code, path + " is in use"}
                                     : serialErrorFromErrno(SerialErrorKind::io, code, "lock " + path);
        return nullptr;
    }
    // A COM port opens with an empty receive queue; a tty keeps what came
    // while nobody had it open (a pseudo-terminal's peer writes on), which
    // is not this session's and may have gone out at another rate.
    tcflush(fd, TCIFLUSH);
    int lines = 0;
    impl->modemLines_ = ioctl(fd, TIOCMGET, &lines) == 0;
    SerialStatus ignored;
    impl->status(&ignored);  // start the error counters from now
    return impl;
}

std::unique_ptr<SerialPort::Impl> SerialPort::Impl::openPseudoTerminal(std::string& peerPath, SerialError* error)
{
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = errnoError(SerialErrorKind::unsupported, "posix_openpt");
        return nullptr;
    }
    std::unique_ptr<Impl> impl(new Impl);
    impl->fd_ = fd;
    char name[128] = {};
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
        *error = errnoError(SerialErrorKind::io, "pseudo-terminal");
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = errnoError(SerialErrorKind::io, "pseudo-terminal");
        return nullptr;
    }
    impl->path = "/dev/ptmx";
    peerPath = name;
    return impl;
}

SerialPort::Impl::~Impl()
{
    if (fd_ >= 0)
        ::close(fd_);
}

SerialError SerialPort::Impl::apply(const SerialSettings& s)
{
    if (s.stopBits == SerialStopBits::oneAndHalf)
        return unsupported("1.5 stop bits");
    if (s.dsrOutputFlow || s.dsrSensitivity || s.dtr == SerialLine::flowControl)
        return unsupported("DSR/DTR flow control");
    if (s.discardNul)
        return unsupported("discarding NUL characters");
    if (s.ctsOutputFlow != (s.rts == SerialLine::flowControl))
        return unsupported("RTS/CTS flow control in one direction only");

    termios t {};
    if (tcgetattr(fd_, &t) != 0)
        return errnoError(SerialErrorKind::io, "tcgetattr " + path);
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | sizeFlag(s.dataBits);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR);
    switch (s.parity) {
    case SerialParity::none: break;
    case SerialParity::odd: t.c_cflag |= PARENB | PARODD; break;
    case SerialParity::even: t.c_cflag |= PARENB; break;
    case SerialParity::mark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case SerialParity::space: t.c_cflag |= PARENB | CMSPAR; break;
    }
    if (s.parity != SerialParity::none)
        t.c_iflag |= INPCK;
    if (s.stopBits == SerialStopBits::two)
        t.c_cflag |= CSTOPB;
    if (s.ctsOutputFlow)
        t.c_cflag |= CRTSCTS;
    if (s.xonXoffOutput)
        t.c_iflag |= IXON;
    if (s.xonXoffInput)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t speed = standardSpeed(s.baudRate);
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    if (tcsetattr(fd_, TCSANOW, &t) != 0)
        return errnoError(SerialErrorKind::io, "tcsetattr " + path);
    if (speed == B0) {
        if (int code = serialSetBaud(fd_, s.baudRate))
            return serialErrorFromErrno(SerialErrorKind::unsupported, code,
                                        "baud rate " + std::to_string(s.baudRate));
    }

    // A device keeps only what it can do (a pseudo-terminal always runs 8
    // data bits without parity): read the settings back and say what failed.
    termios held {};
    if (tcgetattr(fd_, &held) != 0)
        return errnoError(SerialErrorKind::io, "tcgetattr " + path);
    const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    if ((held.c_cflag & mask) != (t.c_cflag & mask))
        return unsupported(path + " cannot take " + std::to_string(s.dataBits) +
                           " data bits with this parity, stop bits and flow control");
    std::uint32_t baud = 0;
    if (serialGetBaud(fd_, &baud) == 0 && baud != s.baudRate)
        return unsupported(path + " cannot run at " + std::to_string(s.baudRate) + " baud (holds " +
                           std::to_string(baud) + ")");

    // Without modem lines (a pseudo-terminal) there is nothing to drive.
    if (modemLines_) {
        int dtr = TIOCM_DTR;
        if (ioctl(fd_, s.dtr == SerialLine::on ? TIOCMBIS : TIOCMBIC, &dtr) != 0)
            return errnoError(SerialErrorKind::io, "DTR on " + path);
        if (s.rts != SerialLine::flowControl) {
            int rts = TIOCM_RTS;
            if (ioctl(fd_, s.rts == SerialLine::on ? TIOCMBIS : TIOCMBIC, &rts) != 0)
                return errnoError(SerialErrorKind::io, "RTS on " + path);
        }
    }
    return {};
}

SerialTransfer SerialPort::Impl::read(std::span<std::uint8_t> buffer, std::span<const HANDLE> waitHandles)
{
    SerialTransfer r;
    const SerialTimeouts& to = timeouts;
    const Clock::time_point start = Clock::now();
    const bool atOnce = to.readInterval == kSerialMaxWait && to.readTotalMultiplier == 0 &&
                        to.readTotalConstant == 0;
    // MAXDWORD, MAXDWORD, constant: return as soon as anything has come.
    const bool anyByte = to.readInterval == kSerialMaxWait && to.readTotalMultiplier == kSerialMaxWait &&
                         to.readTotalConstant != 0 && to.readTotalConstant != kSerialMaxWait;
    Clock::time_point total = kNever;
    if (anyByte)
        total = after(start, to.readTotalConstant);
    else if (!atOnce && (to.readTotalMultiplier != 0 || to.readTotalConstant != 0))
        total = after(start, std::uint64_t(to.readTotalMultiplier) * buffer.size() + to.readTotalConstant);
    const bool useInterval = to.readInterval != 0 && to.readInterval != kSerialMaxWait;
    Clock::time_point lastByte {};
    bool hangUp = false;

    for (;;) {
        ssize_t n = ::read(fd_, buffer.data() + r.count, buffer.size() - r.count);
        if (n > 0) {
            r.count += std::size_t(n);
            lastByte = Clock::now();
            if (r.count == buffer.size() || anyByte)
                return r;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            r.end = SerialTransfer::End::failed;
            r.error = errnoError(SerialErrorKind::io, "read " + path);
            return r;
        }
        if (n == 0 && hangUp) {
            r.end = SerialTransfer::End::failed;
            r.error = {SerialErrorKind::hungUp, EIO, path + ": the other end hung up"};
            return r;
        }
        if (atOnce)
            return r;
        Clock::time_point now = Clock::now();
        Clock::time_point deadline = total;
        if (useInterval && r.count > 0)
            deadline = std::min(deadline, after(lastByte, to.readInterval));
        if (deadline != kNever && deadline <= now) {
            r.end = SerialTransfer::End::timedOut;
            return r;
        }
        detail::PollResult p = waitPort(fd_, POLLIN, waitHandles, pollTimeout(deadline, now));
        if (p.outcome == detail::PollOutcome::Failed) {
            r.end = SerialTransfer::End::failed;
            r.error = errnoError(SerialErrorKind::io, "poll " + path);
            return r;
        }
        if (p.outcome == detail::PollOutcome::Handle) {
            r.end = SerialTransfer::End::interrupted;
            r.handleIndex = p.handleIndex;
            return r;
        }
        // Readable with nothing to read: the next read tells a hang-up apart.
        if (p.outcome == detail::PollOutcome::Descriptor && (p.revents & (POLLHUP | POLLERR)))
            hangUp = true;
    }
}

SerialTransfer SerialPort::Impl::write(std::span<const std::uint8_t> bytes, std::span<const HANDLE> waitHandles)
{
    SerialTransfer r;
    const SerialTimeouts& to = timeouts;
    const Clock::time_point start = Clock::now();
    Clock::time_point deadline = kNever;
    if (to.writeTotalMultiplier != 0 || to.writeTotalConstant != 0)
        deadline = after(start, std::uint64_t(to.writeTotalMultiplier) * bytes.size() + to.writeTotalConstant);

    std::size_t queued = 0;
    auto finish = [&](SerialTransfer::End end) {
        // Bytes still in the output queue have not been sent.
        int pending = 0;
        if (ioctl(fd_, TIOCOUTQ, &pending) != 0 || pending < 0)
            pending = 0;
        r.count = queued - std::min<std::size_t>(queued, std::size_t(pending));
        r.end = end;
        return r;
    };

    while (queued < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + queued, bytes.size() - queued);
        if (n > 0) {
            queued += std::size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            int code = errno;
            finish(SerialTransfer::End::failed);
            r.error = serialErrorFromErrno(SerialErrorKind::io, code, "write " + path);
            return r;
        }
        Clock::time_point now = Clock::now();
        if (deadline != kNever && deadline <= now)
            return finish(SerialTransfer::End::timedOut);
        detail::PollResult p = waitPort(fd_, POLLOUT, waitHandles, pollTimeout(deadline, now));
        if (p.outcome == detail::PollOutcome::Failed) {
            int code = errno;
            finish(SerialTransfer::End::failed);
            r.error = serialErrorFromErrno(SerialErrorKind::io, code, "poll " + path);
            return r;
        }
        if (p.outcome == detail::PollOutcome::Handle) {
            r.handleIndex = p.handleIndex;
            return finish(SerialTransfer::End::interrupted);
        }
        if (p.outcome == detail::PollOutcome::Descriptor && (p.revents & (POLLHUP | POLLERR)) &&
            !(p.revents & POLLOUT)) {
            finish(SerialTransfer::End::failed);
            r.error = {SerialErrorKind::hungUp, EIO, path + ": the other end hung up"};
            return r;
        }
    }

    // Complete only once the bytes have left: wait for the output queue to
    // empty (a pseudo-terminal stops here), then for the UART to send it.
    for (;;) {
        int pending = 0;
        if (ioctl(fd_, TIOCOUTQ, &pending) != 0 || pending <= 0)
            break;
        Clock::time_point now = Clock::now();
        if (deadline != kNever && deadline <= now)
            return finish(SerialTransfer::End::timedOut);
        int left = pollTimeout(deadline, now);
        detail::PollResult p = waitPort(-1, 0, waitHandles, left < 0 ? 2 : std::min(2, left));
        if (p.outcome == detail::PollOutcome::Handle) {
            r.handleIndex = p.handleIndex;
            return finish(SerialTransfer::End::interrupted);
        }
    }
    if (modemLines_)
        tcdrain(fd_);
    else if (lineTimedWrites)
        return waitForLine(start, bytes.size(), deadline, waitHandles);
    return finish(SerialTransfer::End::complete);
}

std::chrono::nanoseconds SerialPort::Impl::charTime() const
{
    // Start bit, data bits, parity, stop bits; in half bits for 1.5 stop bits.
    const SerialSettings& s = settings;
    unsigned halfBits = 2 * (1u + s.dataBits) + (s.parity == SerialParity::none ? 0 : 2);
    halfBits += s.stopBits == SerialStopBits::one ? 2 : s.stopBits == SerialStopBits::oneAndHalf ? 3 : 4;
    const std::uint64_t baud = std::max<std::uint32_t>(s.baudRate, 1);
    return std::chrono::nanoseconds(std::uint64_t(halfBits) * 500'000'000u / baud);
}

// A pseudo-terminal takes the bytes at once; they leave at the line rate,
// after whatever was given to the line before them.
SerialTransfer SerialPort::Impl::waitForLine(Clock::time_point start, std::size_t count, Clock::time_point deadline,
                                             std::span<const HANDLE> waitHandles)
{
    SerialTransfer r;
    const auto each = charTime();
    const Clock::time_point first = std::max(start, lineFree_);
    lineFree_ = first + each * count;
    auto sent = [&](Clock::time_point now) {
        return now <= first ? 0 : std::min<std::size_t>(count, std::size_t((now - first) / each));
    };
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= lineFree_) {
            r.count = count;
            r.end = SerialTransfer::End::complete;
            return r;
        }
        if (deadline != kNever && deadline <= now) {
            r.count = sent(now);
            r.end = SerialTransfer::End::timedOut;
            return r;
        }
        const int left = pollTimeout(std::min(deadline, lineFree_), now);
        detail::PollResult p = waitPort(-1, 0, waitHandles, left);
        if (p.outcome == detail::PollOutcome::Handle) {
            r.handleIndex = p.handleIndex;
            r.count = sent(Clock::now());
            r.end = SerialTransfer::End::interrupted;
            return r;
        }
    }
}

SerialError SerialPort::Impl::purge(bool input, bool output)
{
    // Written bytes have left by the time a write returns. A pseudo-terminal
    // has no transmit queue of its own: flushing its output would reach into
    // the other side's input and drop bytes that were already sent.
    if (!modemLines_)
        output = false;
    if (!input && !output)
        return {};
    int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    if (tcflush(fd_, which) != 0)
        return errnoError(SerialErrorKind::io, "tcflush " + path);
    return {};
}

SerialError SerialPort::Impl::status(SerialStatus* st)
{
    *st = {};
    int in = 0;
    int out = 0;
    if (ioctl(fd_, FIONREAD, &in) != 0)
        return errnoError(SerialErrorKind::io, "FIONREAD " + path);
    if (ioctl(fd_, TIOCOUTQ, &out) != 0)
        return errnoError(SerialErrorKind::io, "TIOCOUTQ " + path);
    st->inQueue = std::size_t(std::max(in, 0));
    st->outQueue = std::size_t(std::max(out, 0));
    // Line errors are counted by UART drivers only; a counter that moved since
    // the last call is an error seen.
    serial_icounter_struct c {};
    if (ioctl(fd_, TIOCGICOUNT, &c) == 0) {
        std::uint32_t now[3] = {std::uint32_t(c.frame), std::uint32_t(c.parity),
                                std::uint32_t(c.overrun) + std::uint32_t(c.buf_overrun)};
        for (int i = 0; i < 3; ++i) {
            if (now[i] != errorBase_[i])
                st->errors |= 1u << i;
            errorBase_[i] = now[i];
        }
    }
    return {};
}

SerialError SerialPort::Impl::transmitChar(std::uint8_t c)
{
    // Writes return only once sent, so nothing is queued ahead of this.
    for (int attempt = 0; attempt < 100; ++attempt) {
        ssize_t n = ::write(fd_, &c, 1);
        if (n == 1) {
            if (lineTimedWrites && !modemLines_)
                lineFree_ = std::max(Clock::now(), lineFree_) + charTime();
            return {};
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return errnoError(SerialErrorKind::io, "write " + path);
        pollfd p {fd_, POLLOUT, 0};
        ::poll(&p, 1, 1);
    }
    return {SerialErrorKind::io, EAGAIN, path + ": output queue full"};
}

SerialError SerialPort::Impl::setBreak(bool on)
{
    if (!modemLines_) {
        if (!on)
            return {};  // nothing to clear on a pseudo-terminal
        return unsupported(path + " cannot send a break");
    }
    if (ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0)
        return errnoError(SerialErrorKind::io, "break on " + path);
    return {};
}

SerialError SerialPort::Impl::drain()
{
    if (tcdrain(fd_) != 0)
        return errnoError(SerialErrorKind::io, "tcdrain " + path);
    return {};
}

}  // namespace ombra::platform
