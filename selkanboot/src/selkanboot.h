// The boot-loader object, its class factory and the boot procedures that
// run on its worker threads.
#pragma once

#include <atomic>
#include <cstdarg>
#include <memory>
#include <string>

#include "ombra/common/trace.h"
#include "ombra/platform/serial.h"
#include "ombra/selkanboot/iselkanboot.h"

namespace ombra::selkanboot {

using platform::SerialPort;
using Port = std::unique_ptr<SerialPort>;

// Outcomes of the serial layer (readSerial, writeSerial).
enum class IoOutcome { done, timedOut, interrupted, failed };
// Outcomes of readFrame; the boot steps use ok, timeout, cancelled, failed.
enum class StepOutcome { ok, timeout, cancelled, badChecksum, failed };

struct ReceivedFrame {
    BYTE type = 0;
    std::unique_ptr<BYTE[]> payload;
    WORD length = 0;
};

// The byte reads of the frame hunt: the port under a step's limits in the
// component, any byte source elsewhere.
class FrameReader {
public:
    virtual IoOutcome read(BYTE* buffer, DWORD count, DWORD timeoutMs) = 0;
    // Asked after a start-byte read timed out: the step's whole limit is used up.
    virtual bool limitReached() = 0;
    // What an interrupted read means, before or after the start byte.
    virtual StepOutcome interrupted(bool afterSync) = 0;

protected:
    ~FrameReader() = default;
};

// Hunts the start byte and reads one frame: ok, badChecksum, or how the
// reads ended. A frame that breaks off by a time-out is dropped and the hunt
// goes on.
StepOutcome receiveFrame(FrameReader& in, ReceivedFrame& frame);

class CSelkanBoot final : public ISelkanBoot {
public:
    CSelkanBoot();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    void STDMETHODCALLTYPE SetTerminationFlag(HANDLE cancelEvent) override;
    void STDMETHODCALLTYPE SetCallbackFn(BootCallbackFn callback, void* user) override;
    void STDMETHODCALLTYPE SetCommDeviceName(const char* name) override;
    void STDMETHODCALLTYPE SetDCB(const DCB* dcb) override;
    void STDMETHODCALLTYPE SetCommTimeouts(const COMMTIMEOUTS* timeouts) override;
    void STDMETHODCALLTYPE SetCBusTable(const BYTE* table, WORD size) override;
    void STDMETHODCALLTYPE SetUploadImage(const BYTE* image, WORD size) override;
    void STDMETHODCALLTYPE SetUploadAddress(WORD segment, WORD offset) override;
    void STDMETHODCALLTYPE SetExecuteAddress(WORD segment, WORD offset) override;
    void STDMETHODCALLTYPE SetDebugLevel(WORD level) override;
    DWORD STDMETHODCALLTYPE GetVersion() override;
    HRESULT STDMETHODCALLTYPE Upload(HANDLE* thread) override;
    HRESULT STDMETHODCALLTYPE Execute(HANDLE* thread) override;

    // Thread procedures: 1 on success, 0 on failure or cancel.
    static DWORD UploadProc(void* object);
    static DWORD ExecProc(void* object);

private:
    ~CSelkanBoot();
    HRESULT startThread(DWORD (*proc)(void*), HANDLE* thread, const char* name, int line);

    // Messages to the callback.
    void info(WORD level, const char* format, ...) OMBRA_PRINTF_LIKE(3, 4);
    void error(const char* format, ...) OMBRA_PRINTF_LIKE(2, 3);
    void notifyDone();
    void deliver(LONG code, const char* text);
    // Reports a boot step that did not succeed; "what" names the procedure.
    void reportStep(StepOutcome outcome, int step, WORD cancelLevel);

    // Serial access.
    Port openBootPort(DWORD baudRate);
    IoOutcome readSerial(SerialPort& port, BYTE* buffer, DWORD count, DWORD timeoutMs, HANDLE h1 = nullptr,
                         HANDLE h2 = nullptr);
    IoOutcome writeSerial(SerialPort& port, const BYTE* bytes, DWORD count, DWORD timeoutMs);
    bool isCancelled() const;
    void purgeAll(SerialPort& port);

    // Boot ROM protocol.
    StepOutcome sendFrame(SerialPort& port, BYTE type, const BYTE* payload, DWORD length, DWORD limitMs);
    StepOutcome readFrame(SerialPort& port, DWORD deadlineMs, ReceivedFrame& frame);
    StepOutcome waitForRomPing(SerialPort& port, DWORD limitMs);
    StepOutcome queryRomVersion(SerialPort& port, DWORD limitMs, BYTE& major, BYTE& minor);
    StepOutcome sendCBusTable(SerialPort& port, DWORD limitMs);
    StepOutcome switchBaudRate(Port& port, DWORD limitMs, BYTE romMajor);
    StepOutcome uploadImage(SerialPort& port, DWORD limitMs);
    DWORD runUpload();
    DWORD runExecute();

    std::atomic<LONG> refs_ {1};
    HANDLE cancelEvent_ = INVALID_HANDLE_VALUE;
    BootCallbackFn callback_ = nullptr;
    void* user_ = nullptr;
    char deviceName_[128] = {};
    DCB dcb_ {};
    COMMTIMEOUTS timeouts_ {};
    BYTE* cbusTable_ = nullptr;
    WORD cbusTableSize_ = 0;
    WORD uploadSegment_ = 0;
    WORD uploadOffset_ = 0;
    BYTE* image_ = nullptr;
    WORD imageSize_ = 0;
    WORD executeSegment_ = 0;
    WORD executeOffset_ = 0;
    WORD level_ = 3;
    char infoText_[256] = {};
    char errorText_[256] = {};
};

class CSelkanBootFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~CSelkanBootFactory() = default;
    std::atomic<LONG> refs_ {1};
};

// Module counts.
extern std::atomic<LONG> g_liveObjects;
extern std::atomic<LONG> g_serverLocks;

// The boot-ROM divisor for `baudRate`; 0 when the rate cannot be reached.
WORD baudDivisor(DWORD baudRate, BYTE romMajor);
// Line settings of a DCB; false (with a reason) for what no port here can do.
bool settingsFromDcb(const DCB& dcb, platform::SerialSettings& settings, std::string& reason);

}  // namespace ombra::selkanboot
