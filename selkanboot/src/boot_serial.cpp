// The raw serial layer under the boot ROM protocol: opening the port with
// the client's line settings, reads and writes with a time limit, and the
// three time-out profiles.
#include <vector>

#include "ombra/platform/clock.h"
#include "ombra/platform/handle.h"
#include "selkanboot.h"

namespace ombra::selkanboot {

using platform::SerialError;
using platform::SerialLine;
using platform::SerialOpenOptions;
using platform::SerialParity;
using platform::SerialSettings;
using platform::SerialStopBits;
using platform::SerialTimeouts;
using platform::SerialTransfer;

namespace {

constexpr const char* kSource = "boot_serial.cpp";

// Line settings every open starts from before the client's are applied.
SerialSettings neutralSettings()
{
    return SerialSettings {};
}

}  // namespace

bool settingsFromDcb(const DCB& dcb, SerialSettings& s, std::string& reason)
{
    s = {};
    s.baudRate = dcb.BaudRate;
    s.dataBits = dcb.ByteSize;
    switch (dcb.Parity) {
    case NOPARITY: s.parity = SerialParity::none; break;
    case ODDPARITY: s.parity = SerialParity::odd; break;
    case EVENPARITY: s.parity = SerialParity::even; break;
    case MARKPARITY: s.parity = SerialParity::mark; break;
    case SPACEPARITY: s.parity = SerialParity::space; break;
    default: reason = "unknown parity " + std::to_string(dcb.Parity); return false;
    }
    switch (dcb.StopBits) {
    case ONESTOPBIT: s.stopBits = SerialStopBits::one; break;
    case ONE5STOPBITS: s.stopBits = SerialStopBits::oneAndHalf; break;
    case TWOSTOPBITS: s.stopBits = SerialStopBits::two; break;
    default: reason = "unknown stop bits " + std::to_string(dcb.StopBits); return false;
    }
    s.ctsOutputFlow = dcb.flag(DCB::kOutxCtsFlow);
    s.dsrOutputFlow = dcb.flag(DCB::kOutxDsrFlow);
    s.dsrSensitivity = dcb.flag(DCB::kDsrSensitivity);
    s.xonXoffOutput = dcb.flag(DCB::kOutX);
    s.xonXoffInput = dcb.flag(DCB::kInX);
    s.xonChar = BYTE(dcb.XonChar);
    s.xoffChar = BYTE(dcb.XoffChar);
    s.discardNul = dcb.flag(DCB::kNull);
    if (dcb.flag(DCB::kErrorChar)) {
        reason = "replacing bytes with parity errors";
        return false;
    }
    switch (dcb.dtrControl()) {
    case DTR_CONTROL_DISABLE: s.dtr = SerialLine::off; break;
    case DTR_CONTROL_ENABLE: s.dtr = SerialLine::on; break;
    default: s.dtr = SerialLine::flowControl; break;
    }
    switch (dcb.rtsControl()) {
    case RTS_CONTROL_DISABLE: s.rts = SerialLine::off; break;
    case RTS_CONTROL_ENABLE: s.rts = SerialLine::on; break;
    case RTS_CONTROL_HANDSHAKE: s.rts = SerialLine::flowControl; break;
    default: reason = "RTS toggling"; return false;
    }
    return true;
}

Port CSelkanBoot::openBootPort(DWORD baudRate)
{
    DCB dcb = dcb_;
    dcb.DCBlength = DCB::kSize;
    dcb.BaudRate = baudRate;

    SerialError error;
    // A synchronous write on a serial port returns once its bytes have left;
    // the answer's time limits start there, also on a virtual port.
    SerialOpenOptions options;
    options.lineTimedWrites = true;
    Port port = SerialPort::open(deviceName_, neutralSettings(), &error, options);
    if (!port) {
        TraceFormat("System error %d,line %d", error.osCode, 1579);
        TraceText(error.message.c_str());
        return nullptr;
    }
    SerialSettings settings;
    std::string reason;
    if (!settingsFromDcb(dcb, settings, reason)) {
        TraceFormat("System error %d,line %d", 22, 1586);
        TraceText(reason.c_str());
        return nullptr;
    }
    if (SerialError e = port->configure(settings)) {
        TraceFormat("System error %d,line %d", e.osCode, 1586);
        TraceText(e.message.c_str());
        return nullptr;
    }
    SerialTimeouts t = port->timeouts();
    t.readInterval = 0;
    t.readTotalMultiplier = 10;
    t.readTotalConstant = 100;
    port->setTimeouts(t);
    return port;
}

bool CSelkanBoot::isCancelled() const
{
    return WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0;
}

void CSelkanBoot::purgeAll(SerialPort& port)
{
    port.purge(platform::kPurgeTxAbort | platform::kPurgeRxAbort | platform::kPurgeTxClear |
               platform::kPurgeRxClear);
}

IoOutcome CSelkanBoot::readSerial(SerialPort& port, BYTE* buffer, DWORD count, DWORD timeoutMs, HANDLE h1,
                                  HANDLE h2)
{
    TraceText("CSelkanBoot::readSerial");
    port.clearErrors();

    HANDLE list[3] = {h1, h1 ? h2 : nullptr, nullptr};
    DWORD waits = 0;
    for (HANDLE h : list) {
        TraceFormat("wait event handle = %d", h ? int(HandleToNumber(h)) : 0);
        if (!h)
            break;
        ++waits;
    }
    TraceFormat("Number of wait events = %d", int(waits));

    const DWORD start = GetTickCount();
    DWORD total = 0;
    while (total < count) {
        if (isCancelled())
            return IoOutcome::interrupted;
        SerialTransfer t = port.read({buffer + total, count - total});
        if (t.end == SerialTransfer::End::failed) {
            TraceFormat("%s:l%d - ReadFile failed", kSource, __LINE__);
            return IoOutcome::failed;
        }
        TraceFormat("%s:l%d - got %d bytes", kSource, __LINE__, int(t.count));
        if (t.count == 0) {
            // A silent board gets one NUL per empty read.
            port.transmitChar(0);
            port.setBreak(false);
        }
        total += DWORD(t.count);
        if (GetTickCount() - start >= timeoutMs) {
            TraceFormat("%s:l%d - Read timed out", kSource, __LINE__);
            return IoOutcome::timedOut;
        }
        if (waits > 0) {
            DWORD w = WaitForMultipleObjects(waits, list, FALSE, 10);
            if (w < WAIT_OBJECT_0 + waits) {
                TraceFormat("%s:l%d - Detected cancel", kSource, __LINE__);
                return IoOutcome::interrupted;
            }
        }
    }
    return IoOutcome::done;
}

IoOutcome CSelkanBoot::writeSerial(SerialPort& port, const BYTE* bytes, DWORD count, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    const SerialTimeouts saved = port.timeouts();
    SerialTimeouts t = saved;
    t.readInterval = 0;
    t.readTotalMultiplier = 10;
    t.readTotalConstant = 10;
    t.writeTotalMultiplier = 10;
    t.writeTotalConstant = 10;
    port.setTimeouts(t);

    IoOutcome outcome = IoOutcome::done;
    DWORD written = 0;
    while (written < count) {
        SerialTransfer r = port.write({bytes + written, count - written});
        if (r.end == SerialTransfer::End::failed) {
            outcome = IoOutcome::failed;
            break;
        }
        written += DWORD(r.count);
        if (GetTickCount() - start >= timeoutMs) {
            outcome = IoOutcome::timedOut;
            break;
        }
    }
    port.setTimeouts(saved);
    return outcome;
}

}  // namespace ombra::selkanboot
