// The boot ROM protocol: frames, the boot steps, and the two thread
// procedures that upload and start a program.
#include <cstring>
#include <vector>

#include "ombra/common/frame.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/handle.h"
#include "selkanboot.h"

namespace ombra::selkanboot {

namespace {

constexpr BYTE kTypeVersionQuery = 0x0C;
constexpr BYTE kTypeCBusTable = 0x03;
constexpr BYTE kTypeLoad = 0x05;
constexpr BYTE kTypeExecute = 0x09;
constexpr BYTE kTypeAck = 0x10;
constexpr BYTE kTypeVersion = 0x15;

constexpr int kPingFrames = 15;
constexpr DWORD kRomBaudRate = 19200;
// The load frame carries the 4 address bytes in a 16-bit length.
constexpr DWORD kMaxImage = 0xFFFF - 4;

// Closes the waitable timer of readFrame on every way out.
struct TimerGuard {
    HANDLE h;
    ~TimerGuard() { CloseHandle(h); }
};

DWORD elapsedSince(DWORD start) { return GetTickCount() - start; }

// Time left of a limit that started at `start`.
DWORD remaining(DWORD start, DWORD limitMs)
{
    DWORD used = elapsedSince(start);
    return used >= limitMs ? 0 : limitMs - used;
}

}  // namespace

WORD baudDivisor(DWORD baudRate, BYTE romMajor)
{
    if (baudRate == 0)
        return 0;
    // ROM major 0x64 identifies the 67.5 MHz part; others run at 55 MHz.
    const DWORD clock = romMajor == 0x64 ? 67500000 : 55000000;
    return WORD((clock / 16) / baudRate);
}

StepOutcome CSelkanBoot::sendFrame(SerialPort& port, BYTE type, const BYTE* payload, DWORD length, DWORD limitMs)
{
    std::vector<BYTE> frame =
        frame::encode(type, std::span<const BYTE>(payload, payload ? length : 0));
    switch (writeSerial(port, frame.data(), DWORD(frame.size()), limitMs)) {
    case IoOutcome::done: return StepOutcome::ok;
    case IoOutcome::timedOut: return StepOutcome::timeout;
    case IoOutcome::interrupted: return StepOutcome::cancelled;
    case IoOutcome::failed: break;
    }
    return StepOutcome::failed;
}

StepOutcome receiveFrame(FrameReader& in, ReceivedFrame& frame)
{
    for (;;) {
        TraceText("waiting for hdr");
        BYTE sync = 0;
        switch (in.read(&sync, 1, 1000)) {
        case IoOutcome::failed: return StepOutcome::failed;
        case IoOutcome::interrupted: return in.interrupted(false);
        case IoOutcome::timedOut:
            if (in.limitReached())
                return StepOutcome::timeout;
            continue;
        case IoOutcome::done: break;
        }
        TraceFormat("got %X", unsigned(sync));
        if (sync != frame::kSync)
            continue;

        TraceText("got boot hdr");
        // Steps after the start byte: a read that times out drops the partial
        // frame and the hunt starts again.
        auto bodyOutcome = [&](IoOutcome o) {
            return o == IoOutcome::failed ? StepOutcome::failed : in.interrupted(true);
        };
        BYTE header[3];
        IoOutcome o = in.read(header, 3, 1000);
        if (o == IoOutcome::timedOut)
            continue;
        if (o != IoOutcome::done)
            return bodyOutcome(o);
        const WORD length = WORD((header[1] << 8) | header[2]);
        std::unique_ptr<BYTE[]> payload;
        if (length != 0) {
            payload.reset(new (std::nothrow) BYTE[length]);
            if (!payload)
                return StepOutcome::failed;
            o = in.read(payload.get(), length, DWORD(length) * 1000);
            if (o == IoOutcome::timedOut)
                continue;
            if (o != IoOutcome::done)
                return bodyOutcome(o);
        }
        BYTE sumBytes[2];
        o = in.read(sumBytes, 2, 1000);
        if (o == IoOutcome::timedOut)
            continue;
        if (o != IoOutcome::done)
            return bodyOutcome(o);

        std::uint16_t sum = frame::sum(std::span<const BYTE>(&sync, 1));
        sum = frame::sum(header, sum);
        if (length)
            sum = frame::sum(std::span<const BYTE>(payload.get(), length), sum);
        if (sum != WORD((sumBytes[0] << 8) | sumBytes[1]))
            return StepOutcome::badChecksum;
        frame.type = header[0];
        frame.length = length;
        frame.payload = std::move(payload);
        return StepOutcome::ok;
    }
}

StepOutcome CSelkanBoot::readFrame(SerialPort& port, DWORD deadlineMs, ReceivedFrame& frame)
{
    const DWORD start = GetTickCount();
    HANDLE timer = CreateWaitableTimer(TRUE);
    if (!timer) {
        TraceFormat("Cannot create waitable timer, error code %d", int(GetLastError()));
        return StepOutcome::failed;
    }
    TimerGuard guard {timer};
    SetWaitableTimer(timer, deadlineMs);

    // The port under the step's timer and the cancel event.
    class PortReader final : public FrameReader {
    public:
        PortReader(CSelkanBoot& boot, SerialPort& port, HANDLE timer, DWORD start, DWORD deadlineMs)
            : boot_(boot), port_(port), timer_(timer), start_(start), deadlineMs_(deadlineMs) {}
        IoOutcome read(BYTE* buffer, DWORD count, DWORD timeoutMs) override
        {
            return boot_.readSerial(port_, buffer, count, timeoutMs, boot_.cancelEvent_, timer_);
        }
        bool limitReached() override { return elapsedSince(start_) >= deadlineMs_; }
        StepOutcome interrupted(bool afterSync) override
        {
            if (afterSync)
                return WaitForSingleObject(timer_, 0) == WAIT_OBJECT_0 ? StepOutcome::timeout : StepOutcome::cancelled;
            return boot_.isCancelled() ? StepOutcome::cancelled : StepOutcome::timeout;
        }

    private:
        CSelkanBoot& boot_;
        SerialPort& port_;
        HANDLE timer_;
        DWORD start_, deadlineMs_;
    };
    PortReader in(*this, port, timer, start, deadlineMs);
    return receiveFrame(in, frame);
}

StepOutcome CSelkanBoot::waitForRomPing(SerialPort& port, DWORD limitMs)
{
    const DWORD start = GetTickCount();
    const platform::SerialTimeouts saved = port.timeouts();
    platform::SerialTimeouts ping = saved;
    ping.readInterval = 100;
    ping.readTotalMultiplier = 10;
    ping.readTotalConstant = 10;
    port.setTimeouts(ping);
    port.clearErrors();

    int frames = 0;
    while (frames < kPingFrames) {
        if (elapsedSince(start) >= limitMs)
            return StepOutcome::timeout;
        if (isCancelled())
            return StepOutcome::cancelled;
        ReceivedFrame frame;
        StepOutcome o = readFrame(port, remaining(start, limitMs), frame);
        if (o == StepOutcome::ok)
            ++frames;
        else if (o != StepOutcome::badChecksum)
            return o;
    }
    port.setTimeouts(saved);
    return StepOutcome::ok;
}

StepOutcome CSelkanBoot::queryRomVersion(SerialPort& port, DWORD limitMs, BYTE& major, BYTE& minor)
{
    const DWORD start = GetTickCount();
    while (elapsedSince(start) < limitMs) {
        purgeAll(port);
        sendFrame(port, kTypeVersionQuery, nullptr, 0, limitMs);
        port.drain();
        Sleep(100);
        ReceivedFrame frame;
        StepOutcome o = readFrame(port, remaining(start, limitMs), frame);
        if (o == StepOutcome::ok && frame.type == kTypeVersion) {
            // A short answer leaves the missing bytes 0.
            major = frame.length > 0 ? frame.payload[0] : 0;
            minor = frame.length > 1 ? frame.payload[1] : 0;
            return StepOutcome::ok;
        }
        if (o != StepOutcome::ok && o != StepOutcome::badChecksum)
            return o;
    }
    return StepOutcome::timeout;
}

StepOutcome CSelkanBoot::sendCBusTable(SerialPort& port, DWORD limitMs)
{
    const DWORD start = GetTickCount();
    while (elapsedSince(start) < limitMs) {
        purgeAll(port);
        sendFrame(port, kTypeCBusTable, cbusTable_, cbusTableSize_, limitMs);
        ReceivedFrame frame;
        StepOutcome o = readFrame(port, remaining(start, limitMs), frame);
        if (o == StepOutcome::ok && frame.type == kTypeAck)
            return StepOutcome::ok;
        if (o != StepOutcome::ok && o != StepOutcome::badChecksum)
            return o;
    }
    return StepOutcome::timeout;
}

StepOutcome CSelkanBoot::switchBaudRate(Port& port, DWORD limitMs, BYTE romMajor)
{
    const DWORD start = GetTickCount();
    if (dcb_.BaudRate == 0)
        return StepOutcome::failed;
    const WORD divisor = baudDivisor(dcb_.BaudRate, romMajor);
    // A rate above the UART's reach would leave it with divisor 0: dead.
    if (divisor == 0)
        return StepOutcome::failed;
    const BYTE stub[12] = {0x00, 0x07, 0x00, 0x00, 0xBA, 0x88, 0xFF, 0xB8,
                           BYTE(divisor & 0xFF), BYTE(divisor >> 8), 0xEF, 0xCB};
    const BYTE execute[4] = {0x00, 0x07, 0x00, 0x00};

    for (;;) {
        if (elapsedSince(start) >= limitMs)
            return StepOutcome::timeout;
        StepOutcome o = sendFrame(*port, kTypeLoad, stub, sizeof stub, 1000);
        if (o == StepOutcome::ok)
            break;
        if (o != StepOutcome::timeout)
            return o;
    }
    for (;;) {
        if (elapsedSince(start) >= limitMs)
            return StepOutcome::timeout;
        StepOutcome o = sendFrame(*port, kTypeExecute, execute, sizeof execute, 1000);
        if (o == StepOutcome::ok)
            break;
        if (o != StepOutcome::timeout)
            return o;
    }
    port.reset();
    Sleep(150);
    port = openBootPort(dcb_.BaudRate);
    return port ? StepOutcome::ok : StepOutcome::failed;
}

StepOutcome CSelkanBoot::uploadImage(SerialPort& port, DWORD limitMs)
{
    const DWORD start = GetTickCount();
    // A bigger image would wrap the frame's 16-bit length and corrupt the load.
    if (imageSize_ > kMaxImage)
        return StepOutcome::failed;
    std::vector<BYTE> payload(4 + imageSize_);
    payload[0] = BYTE(uploadSegment_ >> 8);
    payload[1] = BYTE(uploadSegment_);
    payload[2] = BYTE(uploadOffset_ >> 8);
    payload[3] = BYTE(uploadOffset_);
    if (imageSize_)
        std::memcpy(payload.data() + 4, image_, imageSize_);

    while (elapsedSince(start) < limitMs) {
        purgeAll(port);
        sendFrame(port, kTypeLoad, payload.data(), DWORD(payload.size()), limitMs);
        ReceivedFrame frame;
        // The step's limit covers the write too: an image that needs longer
        // on the wire than the limit allows is a time-out.
        StepOutcome o = readFrame(port, remaining(start, limitMs), frame);
        if (o == StepOutcome::ok && frame.type == kTypeAck)
            return StepOutcome::ok;
        if (o != StepOutcome::ok && o != StepOutcome::badChecksum)
            return o;
    }
    return StepOutcome::timeout;
}

void CSelkanBoot::reportStep(StepOutcome outcome, int step, WORD cancelLevel)
{
    switch (outcome) {
    case StepOutcome::timeout: error("SelkanBoot: ERROR 7 : Timeout expired"); break;
    case StepOutcome::cancelled: info(cancelLevel, "SelkanBoot: cancelling operation..."); break;
    default: error("SelkanBoot: ERROR 1 (l%d): Cannot open port", step); break;
    }
}

DWORD CSelkanBoot::runUpload()
{
    Port port = openBootPort(kRomBaudRate);
    if (!port) {
        error("SelkanBoot: ERROR 1 (l%d): Cannot open port", 924);
        return 0;
    }
    if (port->setQueueSizes(2048, 512)) {
        error("SelkanBoot: ERROR 1 (l%d): Cannot open port", 930);
        return 0;
    }
    port->clearErrors();
    info(1, "SelkanBoot: Waiting for ping");

    int attempts = 0;
    BYTE major = 0;
    BYTE minor = 0;
    for (;;) {
        StepOutcome o = waitForRomPing(*port, 25000);
        if (o != StepOutcome::ok) {
            reportStep(o, 955, 3);
            return 0;
        }
        info(2, "SelkanBoot: ping received");
        info(3, "SelkanBoot: querying ROM version");
        static const BYTE hello[6] = {0xAA, 0x00, 0x00, 0x00, 0x00, 0xAA};
        writeSerial(*port, hello, sizeof hello, 1000);
        purgeAll(*port);
        o = queryRomVersion(*port, 5000, major, minor);
        if (o == StepOutcome::ok)
            break;
        if (o != StepOutcome::timeout) {
            reportStep(o, 980, 3);
            return 0;
        }
        ++attempts;
        error("SelkanBoot: ERROR 7 : Timeout expired");
        if (attempts >= 3) {
            error("SelkanBoot: ERROR 7 : Timeout expired");
            return 0;
        }
    }

    port->purge(platform::kPurgeRxClear);
    info(2, "SelkanBoot: ROM version is %X.%X", unsigned(major), unsigned(minor));
    info(3, "SelkanBoot: sending cbus table");
    if (StepOutcome o = sendCBusTable(*port, 2000); o != StepOutcome::ok) {
        reportStep(o, 1015, 3);
        return 0;
    }
    if (StepOutcome o = switchBaudRate(port, 2000, major); o != StepOutcome::ok) {
        reportStep(o, 1036, 3);
        return 0;
    }
    port->purge(platform::kPurgeRxClear);
    info(2, "SelkanBoot: uploading");
    TraceFormat("Uploading %d bytes to address %X:%X", int(imageSize_), unsigned(uploadSegment_),
                unsigned(uploadOffset_));
    if (StepOutcome o = uploadImage(*port, 5000); o != StepOutcome::ok) {
        reportStep(o, 1067, 3);
        return 0;
    }
    info(3, "SelkanBoot: upload complete");
    port.reset();
    notifyDone();
    return 1;
}

DWORD CSelkanBoot::runExecute()
{
    const DWORD start = GetTickCount();
    Port port = openBootPort(dcb_.BaudRate);
    if (!port) {
        error("SelkanBoot: ERROR 1 (l%d): Cannot open port", 291);
        return 0;
    }
    TraceFormat("executing address %X:%X", unsigned(executeSegment_), unsigned(executeOffset_));
    const BYTE address[4] = {BYTE(executeSegment_ >> 8), BYTE(executeSegment_), BYTE(executeOffset_ >> 8),
                             BYTE(executeOffset_)};
    for (;;) {
        if (elapsedSince(start) >= 3000) {
            error("SelkanBoot: ERROR 7 : Timeout expired");
            return 0;
        }
        StepOutcome o = sendFrame(*port, kTypeExecute, address, sizeof address, 3000);
        if (o == StepOutcome::ok)
            break;
        if (o == StepOutcome::cancelled) {
            info(2, "SelkanBoot: cancelling operation...");
            return 0;
        }
        if (o == StepOutcome::failed) {
            error("SelkanBoot: ERROR 1 (l%d): Cannot open port", 321);
            return 0;
        }
    }
    if (elapsedSince(start) >= 3000) {
        error("SelkanBoot: ERROR 7 : Timeout expired");
        return 0;
    }
    // The program's first answer, whatever it is, ends the step.
    ReceivedFrame frame;
    readFrame(*port, 3000, frame);
    return 1;
}

}  // namespace ombra::selkanboot
