// ISelkanBoot: the boot-loader component's interface. A client sets what the
// boot needs, then Upload (wait for the ROM, C-bus table, baud-rate switch,
// load the image) and, once that succeeded, Execute. Each returns at once with
// the handle of a worker thread that reports through the callback and ends
// with exit code 1 on success, 0 otherwise.
#pragma once

#include "ombra/common/comm_records.h"
#include "ombra/platform/types.h"
#include "ombra/platform/unknown.h"

// {3F77B831-CFAD-449C-89D4-715B3C434117}
inline constexpr CLSID CLSID_SelkanBoot = {0x3F77B831, 0xCFAD, 0x449C, {0x89, 0xD4, 0x71, 0x5B, 0x3C, 0x43, 0x41, 0x17}};
// {170D3E27-D221-4D69-8F85-48E05EFD8B4B}
inline constexpr IID IID_ISelkanBoot = {0x170D3E27, 0xD221, 0x4D69, {0x8F, 0x85, 0x48, 0xE0, 0x5E, 0xFD, 0x8B, 0x4B}};

inline constexpr const char* kSelkanBootProgId = "Tarvik.SelkanBootKL.1";
inline constexpr const char* kSelkanBootVersionIndependentProgId = "Tarvik.SelkanBootKL";
inline constexpr const char* kSelkanBootDescription = "Tarvik Selkan K/L UART Boot component";

inline constexpr LONG BOOT_MSG_INFO = 1;
inline constexpr LONG BOOT_MSG_ERROR = 4;
inline constexpr LONG BOOT_MSG_DONE = 5;

// `text` is valid only during the callback (null with BOOT_MSG_DONE).
struct BootMessage {
    LONG code;
    const char* text;
};

// Called on the component's worker thread; its result is ignored.
extern "C" {
using BootCallbackFn = LONG (*)(BootMessage* message, void* user);
}

struct ISelkanBoot : IUnknown {
    virtual void STDMETHODCALLTYPE SetTerminationFlag(HANDLE cancelEvent) = 0;
    virtual void STDMETHODCALLTYPE SetCallbackFn(BootCallbackFn callback, void* user) = 0;
    virtual void STDMETHODCALLTYPE SetCommDeviceName(const char* name) = 0;
    virtual void STDMETHODCALLTYPE SetDCB(const DCB* dcb) = 0;
    virtual void STDMETHODCALLTYPE SetCommTimeouts(const COMMTIMEOUTS* timeouts) = 0;
    virtual void STDMETHODCALLTYPE SetCBusTable(const BYTE* table, WORD size) = 0;
    virtual void STDMETHODCALLTYPE SetUploadImage(const BYTE* image, WORD size) = 0;
    virtual void STDMETHODCALLTYPE SetUploadAddress(WORD segment, WORD offset) = 0;
    virtual void STDMETHODCALLTYPE SetExecuteAddress(WORD segment, WORD offset) = 0;
    virtual void STDMETHODCALLTYPE SetDebugLevel(WORD level) = 0;
    // Major version in the high 16 bits, minor in the low 16 bits.
    virtual DWORD STDMETHODCALLTYPE GetVersion() = 0;
    // `thread` may be null; otherwise the caller owns the handle stored there.
    virtual HRESULT STDMETHODCALLTYPE Upload(HANDLE* thread) = 0;
    virtual HRESULT STDMETHODCALLTYPE Execute(HANDLE* thread) = 0;

protected:
    ~ISelkanBoot() = default;
};
