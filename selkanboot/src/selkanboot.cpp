// CSelkanBoot, its class factory and the four exports of the component.
#include "selkanboot.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "ombra/common/registration.h"
#include "ombra/platform/com.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/thread.h"

namespace ombra::selkanboot {

std::atomic<LONG> g_liveObjects {0};
std::atomic<LONG> g_serverLocks {0};

CSelkanBoot::CSelkanBoot()
{
    TraceOpen("SelkanBoot");
    TraceText("CSelkanBoot::CSelkanBoot()");
    ++g_liveObjects;
}

CSelkanBoot::~CSelkanBoot()
{
    TraceText("CSelkanBoot::~CSelkanBoot()");
    CoTaskMemFree(cbusTable_);
    CoTaskMemFree(image_);
    --g_liveObjects;
}

HRESULT CSelkanBoot::QueryInterface(REFIID riid, void** ppv)
{
    TraceText("CSelkanBoot::QueryInterface()");
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown) {
        TraceText("Return pointer to IUnknown.");
    } else if (riid == IID_ISelkanBoot) {
        TraceText("Return pointer to ISelkanBoot.");
    } else {
        TraceText("Interface not supported.");
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    *ppv = static_cast<ISelkanBoot*>(this);
    AddRef();
    return S_OK;
}

ULONG CSelkanBoot::AddRef()
{
    TraceText("CSelkanBoot::AddRef()");
    return ULONG(++refs_);
}

ULONG CSelkanBoot::Release()
{
    TraceText("CSelkanBoot::Release()");
    LONG count = --refs_;
    if (count == 0) {
        TraceText("CSelkanBoot::Release destroying self");
        delete this;
    }
    return ULONG(count);
}

void CSelkanBoot::SetTerminationFlag(HANDLE cancelEvent)
{
    TraceText("CSelkanBoot::SetTerminationFlag");
    cancelEvent_ = cancelEvent;
}

void CSelkanBoot::SetCallbackFn(BootCallbackFn callback, void* user)
{
    TraceText("CSelkanBoot::SetCallbackFn");
    callback_ = callback;
    user_ = user;
}

void CSelkanBoot::SetCommDeviceName(const char* name)
{
    TraceText("CSelkanBoot::SetCommDeviceName");
    // A null name is an empty one (the open then fails and says so).
    std::snprintf(deviceName_, sizeof deviceName_, "%s", name ? name : "");
}

void CSelkanBoot::SetDCB(const DCB* dcb)
{
    TraceText("CSelkanBoot::SetDCB");
    if (dcb)
        dcb_ = *dcb;
}

void CSelkanBoot::SetCommTimeouts(const COMMTIMEOUTS* timeouts)
{
    TraceText("CSelkanBoot::SetCommTimeouts");
    if (timeouts)
        timeouts_ = *timeouts;
}

void CSelkanBoot::SetCBusTable(const BYTE* table, WORD size)
{
    TraceText("CSelkanBoot::SetCBusTable");
    if (!table)
        size = 0;
    auto* copy = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (!copy) {
        TraceFormat("memory allocation failed, line: %d", 167);
        return;
    }
    if (size)
        std::memcpy(copy, table, size);
    TraceText("copy succeeded");
    CoTaskMemFree(cbusTable_);
    cbusTable_ = copy;
    cbusTableSize_ = size;
}

void CSelkanBoot::SetUploadImage(const BYTE* image, WORD size)
{
    TraceText("CSelkanBoot::SetUploadImage");
    if (!image)
        size = 0;
    auto* copy = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (!copy)
        return;
    if (size)
        std::memcpy(copy, image, size);
    CoTaskMemFree(image_);
    image_ = copy;
    imageSize_ = size;
}

void CSelkanBoot::SetUploadAddress(WORD segment, WORD offset)
{
    TraceText("CSelkanBoot::SetUploadAddress");
    uploadSegment_ = segment;
    uploadOffset_ = offset;
}

void CSelkanBoot::SetExecuteAddress(WORD segment, WORD offset)
{
    TraceText("CSelkanBoot::SetExecuteAddress");
    executeSegment_ = segment;
    executeOffset_ = offset;
}

void CSelkanBoot::SetDebugLevel(WORD level) { level_ = level; }

DWORD CSelkanBoot::GetVersion() { return 0x38; }

HRESULT CSelkanBoot::Upload(HANDLE* thread)
{
    TraceText("CSelkanBoot::Upload");
    return startThread(&CSelkanBoot::UploadProc, thread, "Upload", 223);
}

HRESULT CSelkanBoot::Execute(HANDLE* thread)
{
    TraceText("CSelkanBoot::Execute");
    return startThread(&CSelkanBoot::ExecProc, thread, "Execute", 259);
}

HRESULT CSelkanBoot::startThread(DWORD (*proc)(void*), HANDLE* thread, const char*, int line)
{
    // The thread holds its own reference, so a client that lets go early
    // (or never got the handle) cannot pull the object from under it.
    AddRef();
    HANDLE h = CreateThread(proc, this, nullptr);
    if (!h) {
        DWORD code = GetLastError();
        std::string text = GetErrorText(code);
        error("SelkanBoot: ERROR 4 (l%d): System error: %s", line, text.c_str());
        Release();
        return E_FAIL;
    }
    SetThreadPriority(h, THREAD_PRIORITY_BELOW_NORMAL);
    if (thread)
        *thread = h;
    else
        CloseHandle(h);
    return S_OK;
}

DWORD CSelkanBoot::UploadProc(void* object)
{
    auto* self = static_cast<CSelkanBoot*>(object);
    DWORD result = self->runUpload();
    self->Release();
    return result;
}

DWORD CSelkanBoot::ExecProc(void* object)
{
    auto* self = static_cast<CSelkanBoot*>(object);
    DWORD result = self->runExecute();
    self->Release();
    return result;
}

void CSelkanBoot::deliver(LONG code, const char* text)
{
    if (!callback_)
        return;
    BootMessage message {code, text};
    callback_(&message, user_);
}

void CSelkanBoot::info(WORD level, const char* format, ...)
{
    if (level > level_)
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(infoText_, sizeof infoText_, format, args);
    va_end(args);
    deliver(BOOT_MSG_INFO, infoText_);
}

void CSelkanBoot::error(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(errorText_, sizeof errorText_, format, args);
    va_end(args);
    deliver(BOOT_MSG_ERROR, errorText_);
}

void CSelkanBoot::notifyDone() { deliver(BOOT_MSG_DONE, nullptr); }

// ---- class factory

HRESULT CSelkanBootFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CSelkanBootFactory::AddRef() { return ULONG(++refs_); }

ULONG CSelkanBootFactory::Release()
{
    LONG count = --refs_;
    if (count == 0)
        delete this;
    return ULONG(count);
}

HRESULT CSelkanBootFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    TraceText("CSelkanBootFactory::CreateInstance");
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) CSelkanBoot;
    if (!object)
        return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT CSelkanBootFactory::LockServer(BOOL lock)
{
    if (lock)
        ++g_serverLocks;
    else
        --g_serverLocks;
    return S_OK;
}

namespace {

// Process attach: the module is identified by an address inside it.
__attribute__((constructor)) void processAttach()
{
    TraceText("DllMain: DLL_PROCESS_ATTACH");
}

}  // namespace

}  // namespace ombra::selkanboot

using namespace ombra::selkanboot;

OMBRA_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    TraceText("DllGetClassObject\n");
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!(clsid == CLSID_SelkanBoot))
        return CLASS_E_CLASSNOTAVAILABLE;
    TraceText("DllGetClassObject: creating new class factory\n");
    auto* factory = new (std::nothrow) CSelkanBootFactory;
    if (!factory)
        return E_OUTOFMEMORY;
    TraceText("DllGetClassObject: querying factory for interface\n");
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

OMBRA_EXPORT HRESULT DllCanUnloadNow()
{
    return g_liveObjects.load() == 0 && g_serverLocks.load() == 0 ? S_OK : S_FALSE;
}

OMBRA_EXPORT HRESULT DllRegisterServer()
{
    ombra::registerComponent(nullptr, CLSID_SelkanBoot, kSelkanBootDescription, kSelkanBootVersionIndependentProgId,
                             kSelkanBootProgId, nullptr);
    return S_OK;
}

OMBRA_EXPORT HRESULT DllUnregisterServer()
{
    ombra::unregisterComponent(CLSID_SelkanBoot, kSelkanBootVersionIndependentProgId, kSelkanBootProgId);
    return S_OK;
}
