// The serial port against a pseudo-terminal pair made here: opening and
// line settings, the COMMTIMEOUTS rules, wait handles, purge and hang-up.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "ombra/platform/event.h"
#include "ombra/platform/serial.h"

using namespace ombra::platform;
using Clock = std::chrono::steady_clock;

namespace {

struct Pty {
    int master = -1;
    std::string path;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(master);
        unlockpt(master);
        path = ptsname(master);
        termios t {};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    ~Pty()
    {
        if (master >= 0)
            close(master);
    }
    void send(std::string_view bytes) { ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    std::string receive()
    {
        std::string out;
        char buf[4096];
        fcntl(master, F_SETFL, O_NONBLOCK);
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            out.append(buf, std::size_t(n));
        return out;
    }
};

std::unique_ptr<SerialPort> openPort(const Pty& pty, SerialSettings s = {})
{
    SerialError e;
    auto port = SerialPort::open(pty.path, s, &e);
    EXPECT_TRUE(port) << e.message;
    return port;
}

long msSince(Clock::time_point t)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Until the port holds `count` received bytes; the limit only guards a
// broken port, so it is generous for a loaded machine.
bool waitForInput(SerialPort& port, std::size_t count)
{
    const auto end = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        SerialStatus st;
        if (!port.clearErrors(&st) && st.inQueue >= count)
            return true;
        if (Clock::now() > end)
            return false;
        usleep(1000);
    }
}

// Upper bounds on a time-out's length are there to catch a wait that never
// ends or uses the wrong unit, not to measure: they leave a loaded machine
// plenty of room.
constexpr long kSlack = 2000;

TEST(SerialOpen, ReportsWhatFailed)
{
    SerialError e;
    EXPECT_FALSE(SerialPort::open("/dev/ombra-no-such-port", {}, &e));
    EXPECT_EQ(e.kind, SerialErrorKind::notFound);
    EXPECT_EQ(e.osCode, ENOENT);
    EXPECT_FALSE(e.message.empty());

    EXPECT_FALSE(SerialPort::open("/dev/null", {}, &e));
    EXPECT_EQ(e.kind, SerialErrorKind::unsupported);

    Pty pty;
    SerialSettings zero;
    zero.baudRate = 0;
    EXPECT_FALSE(SerialPort::open(pty.path, zero, &e));
    EXPECT_EQ(e.kind, SerialErrorKind::invalidArgument);
    SerialSettings nine;
    nine.dataBits = 9;
    EXPECT_FALSE(SerialPort::open(pty.path, nine, &e));
    EXPECT_EQ(e.kind, SerialErrorKind::invalidArgument);
}

TEST(SerialOpen, ExclusiveOpenIsAdvisoryLock)
{
    Pty pty;
    auto first = openPort(pty);
    SerialError e;
    EXPECT_FALSE(SerialPort::open(pty.path, {}, &e));
    EXPECT_EQ(e.kind, SerialErrorKind::busy);
    EXPECT_TRUE(SerialPort::open(pty.path, {}, &e, {.exclusive = false})) << e.message;
    first.reset();
    EXPECT_TRUE(SerialPort::open(pty.path, {}, &e)) << e.message;
}

TEST(SerialSettings, RatesReachTheOtherSideAndLimitsAreReported)
{
    Pty pty;
    SerialSettings s;
    s.baudRate = 460800;
    auto port = openPort(pty, s);
    ASSERT_TRUE(port);
    termios t {};
    tcgetattr(pty.master, &t);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B460800));

    s.baudRate = 250000;  // not a termios constant
    EXPECT_FALSE(port->configure(s)) << port->configure(s).message;
    EXPECT_EQ(port->settings().baudRate, 250000u);

    // A pseudo-terminal keeps 8 data bits and no parity: said, not ignored.
    SerialSettings seven = s;
    seven.dataBits = 7;
    seven.parity = SerialParity::even;
    EXPECT_EQ(port->configure(seven).kind, SerialErrorKind::unsupported);
    SerialSettings dsr = s;
    dsr.dsrOutputFlow = true;
    EXPECT_EQ(port->configure(dsr).kind, SerialErrorKind::unsupported);
    SerialSettings half = s;
    half.stopBits = SerialStopBits::oneAndHalf;
    EXPECT_EQ(port->configure(half).kind, SerialErrorKind::unsupported);
    // DTR and RTS have no lines to drive on a pseudo-terminal.
    SerialSettings lines = s;
    lines.dtr = SerialLine::off;
    lines.rts = SerialLine::off;
    EXPECT_FALSE(port->configure(lines));
}

TEST(SerialRead, TotalTimeoutsAndTheReturnAtOnceCase)
{
    Pty pty;
    auto port = openPort(pty);
    std::uint8_t buf[16];

    // Open profile: one byte gives up after 10 x 1 + 100 ms.
    port->setTimeouts({0, 10, 100, 0, 0});
    auto t0 = Clock::now();
    SerialTransfer r = port->read({buf, 1});
    EXPECT_EQ(r.end, SerialTransfer::End::timedOut);
    EXPECT_EQ(r.count, 0u);
    EXPECT_GE(msSince(t0), 110);
    EXPECT_LT(msSince(t0), 110 + kSlack);

    // Ping profile: 20 ms for one byte.
    port->setTimeouts({100, 10, 10, 0, 0});
    t0 = Clock::now();
    r = port->read({buf, 1});
    EXPECT_EQ(r.end, SerialTransfer::End::timedOut);
    EXPECT_GE(msSince(t0), 20);
    EXPECT_LT(msSince(t0), 20 + kSlack);

    // MAXDWORD, 0, 0: whatever is there, at once.
    port->setTimeouts({kSerialMaxWait, 0, 0, 0, 0});
    t0 = Clock::now();
    r = port->read({buf, sizeof buf});
    EXPECT_EQ(r.end, SerialTransfer::End::complete);
    EXPECT_EQ(r.count, 0u);
    pty.send("abc");
    ASSERT_TRUE(waitForInput(*port, 3));
    r = port->read({buf, sizeof buf});
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
}

TEST(SerialRead, IntervalCountsFromTheFirstByte)
{
    Pty pty;
    auto port = openPort(pty);
    std::uint8_t buf[16];
    port->setTimeouts({50, 0, 0, 0, 0});
    std::thread peer([&] {
        usleep(150000);  // longer than the interval: nothing has come yet
        pty.send("xy");
    });
    SerialTransfer r = port->read({buf, sizeof buf});
    peer.join();
    EXPECT_EQ(r.end, SerialTransfer::End::timedOut);
    EXPECT_EQ(r.count, 2u);
}

TEST(SerialRead, AllZeroWaitsForEveryByteOrAHandle)
{
    Pty pty;
    auto port = openPort(pty);
    port->setTimeouts({});
    std::uint8_t buf[4];
    std::thread peer([&] {
        pty.send("12");
        usleep(100000);
        pty.send("34");
    });
    SerialTransfer r = port->read({buf, 4});
    peer.join();
    EXPECT_EQ(r.end, SerialTransfer::End::complete);
    EXPECT_EQ(r.count, 4u);

    HANDLE event = CreateEvent(TRUE, FALSE);
    HANDLE list[3] = {INVALID_HANDLE_VALUE, nullptr, event};
    std::thread setter([&] {
        usleep(100000);
        SetEvent(event);
    });
    r = port->read({buf, 4}, list);
    setter.join();
    EXPECT_EQ(r.end, SerialTransfer::End::interrupted);
    EXPECT_EQ(r.handleIndex, 2u);
    CloseHandle(event);
}

TEST(SerialWrite, CompletesAndPurgeDropsNothingSent)
{
    Pty pty;
    auto port = openPort(pty);
    port->setTimeouts({0, 10, 10, 10, 10});
    std::string text = "hello board";
    SerialTransfer w = port->write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    EXPECT_EQ(w.end, SerialTransfer::End::complete);
    EXPECT_EQ(w.count, text.size());
    EXPECT_FALSE(port->purge(kPurgeTxAbort | kPurgeTxClear | kPurgeRxAbort | kPurgeRxClear));
    EXPECT_FALSE(port->transmitChar(0));
    EXPECT_EQ(pty.receive(), text + std::string(1, '\0'));

    // Input purge drops what was received and not read.
    pty.send("stale");
    ASSERT_TRUE(waitForInput(*port, 5));
    SerialStatus st;
    EXPECT_FALSE(port->clearErrors(&st));
    EXPECT_EQ(st.inQueue, 5u);
    port->purge(kPurgeRxClear);
    port->setTimeouts({kSerialMaxWait, 0, 0, 0, 0});
    std::uint8_t buf[8];
    EXPECT_EQ(port->read({buf, sizeof buf}).count, 0u);
}

TEST(SerialWrite, TimesOutWhenNobodyReads)
{
    Pty pty;
    auto port = openPort(pty);
    port->setTimeouts({0, 0, 0, 0, 100});
    std::vector<std::uint8_t> lots(1 << 20, 0x55);
    auto t0 = Clock::now();
    SerialTransfer w = port->write(lots);
    EXPECT_EQ(w.end, SerialTransfer::End::timedOut);
    EXPECT_LT(w.count, lots.size());
    EXPECT_GE(msSince(t0), 100);
}

// A pseudo-terminal takes bytes at once; a line-timed port still holds its
// writer for the bytes' time on the line, one after another, and a time-out
// or a handle counts only what had left by then.
TEST(SerialWrite, LineTimedWritesLastTheLineTime)
{
    Pty pty;
    SerialSettings s;
    s.baudRate = 9600;  // 1.04 ms a byte (8N1)
    s.stopBits = SerialStopBits::two;
    SerialError e;
    SerialOpenOptions o;
    o.lineTimedWrites = true;
    auto port = SerialPort::open(pty.path, s, &e, o);
    ASSERT_TRUE(port) << e.message;
    port->setTimeouts({0, 10, 10, 10, 10});

    std::vector<std::uint8_t> bytes(200, 0x5A);  // 229 ms at 11 bits a byte
    auto t0 = Clock::now();
    SerialTransfer w = port->write(bytes);
    EXPECT_EQ(w.end, SerialTransfer::End::complete);
    EXPECT_EQ(w.count, bytes.size());
    EXPECT_GE(msSince(t0), 229);
    // Two writes back to back queue on the line: the second's bytes follow
    // the first's, and a character sent in between takes its slot too.
    t0 = Clock::now();
    port->write({bytes.data(), 100});
    EXPECT_FALSE(port->transmitChar(0));
    port->write({bytes.data(), 100});
    EXPECT_GE(msSince(t0), 230);
    EXPECT_EQ(pty.receive().size(), 200u + 1u + 200u);

    // A total time-out shorter than the line time: the write ends then, with
    // the bytes that had left.
    port->setTimeouts({0, 0, 0, 0, 100});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the line is free again
    t0 = Clock::now();
    w = port->write(bytes);
    const long took = msSince(t0);
    EXPECT_EQ(w.end, SerialTransfer::End::timedOut);
    EXPECT_GE(took, 100);
    EXPECT_GT(w.count, 0u);
    EXPECT_LT(w.count, bytes.size());

    // A signaled handle ends the wait too.
    port->setTimeouts({0, 0, 0, 0, 0});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    HANDLE event = CreateEvent(TRUE, TRUE);
    HANDLE handles[] = {event};
    w = port->write(bytes, handles);
    EXPECT_EQ(w.end, SerialTransfer::End::interrupted);
    EXPECT_LT(w.count, bytes.size());
    CloseHandle(event);
}

TEST(SerialRead, HangUpIsAFailureNotASpin)
{
    auto pty = std::make_unique<Pty>();
    auto port = openPort(*pty);
    // A limit far above the check below: only a read that waits it out fails.
    port->setTimeouts({0, 0, 20000, 0, 0});
    pty.reset();
    std::uint8_t b;
    auto t0 = Clock::now();
    SerialTransfer r = port->read({&b, 1});
    EXPECT_EQ(r.end, SerialTransfer::End::failed);
    EXPECT_EQ(r.error.kind, SerialErrorKind::hungUp);
    EXPECT_LT(msSince(t0), 10000);
}

}  // namespace

namespace {

TEST(SerialVirtualPair, CarriesBytesBothWays)
{
    std::string peer;
    SerialError e;
    auto board = SerialPort::openVirtualPair(peer, &e);
    ASSERT_TRUE(board) << e.message;
    auto host = SerialPort::open(peer, {}, &e);
    ASSERT_TRUE(host) << e.message;
    // The reads end with their bytes; the limit only guards a lost byte.
    board->setTimeouts({0, 0, 10000, 0, 0});
    host->setTimeouts({0, 0, 10000, 0, 0});
    const std::uint8_t ping[] = {0xAA, 0x01};
    EXPECT_EQ(host->write(ping).end, SerialTransfer::End::complete);
    std::uint8_t got[2] = {};
    EXPECT_EQ(board->read(got).count, 2u);
    EXPECT_EQ(got[1], 0x01);
    EXPECT_EQ(board->write(ping).end, SerialTransfer::End::complete);
    EXPECT_EQ(host->read(got).count, 2u);
}

// A port opens with an empty receive queue, as a COM port does: what the
// other end sent while nobody had it open (a pseudo-terminal keeps it) is
// not this session's, and may have gone out at another rate.
TEST(SerialVirtualPair, BytesSentBeforeTheOpenAreNotReceived)
{
    std::string peer;
    SerialError e;
    auto board = SerialPort::openVirtualPair(peer, &e);
    ASSERT_TRUE(board) << e.message;
    board->setTimeouts({0, 0, 10000, 0, 0});
    for (int session = 0; session < 2; ++session) {
        SCOPED_TRACE(session);
        const std::uint8_t stale[] = {0xAA, 0x13, 0x37, 0xAA};
        ASSERT_EQ(board->write(stale).end, SerialTransfer::End::complete);
        auto host = SerialPort::open(peer, {}, &e);
        ASSERT_TRUE(host) << e.message;
        host->setTimeouts({0, 0, 300, 0, 0});
        const std::uint8_t fresh[] = {0x01};
        ASSERT_EQ(board->write(fresh).end, SerialTransfer::End::complete);
        std::uint8_t got[4] = {};
        const auto r = host->read(got);
        ASSERT_EQ(r.count, 1u);
        EXPECT_EQ(got[0], 0x01);
    }
}

}  // namespace
