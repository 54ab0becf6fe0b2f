// A stand-in boot loader registered under the real ProgID, so the workers'
// upload can be driven through the paths the board cannot show. Its steps
// come from OMBRA_FAKE_BOOT="<upload>,<execute>", each one of:
//   done     the thread reports an info text and "done", exit code 1
//   none     the thread ends without a word
//   error    the thread reports an error text and ends
//   refuse   the call itself fails and starts no thread
//   stubborn the thread ignores the cancel event for 20 s, then reports done
//   heed     the thread says so, waits for the cancel event (up to 20 s) and
//            ends on it without success; the call returns once it has ended
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

#include "ombra/common/registration.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/thread.h"
#include "ombra/selkanboot/iselkanboot.h"

namespace {

// {6D1C2B0E-3F4A-4C52-9A1E-0B7D5E4F3A21}
constexpr CLSID CLSID_FakeBoot = {0x6D1C2B0E, 0x3F4A, 0x4C52, {0x9A, 0x1E, 0x0B, 0x7D, 0x5E, 0x4F, 0x3A, 0x21}};

std::string step(bool execute) {
    const char* script = std::getenv("OMBRA_FAKE_BOOT");
    const std::string s = script != nullptr ? script : "done,done";
    const auto comma = s.find(',');
    return execute ? (comma == std::string::npos ? "done" : s.substr(comma + 1)) : s.substr(0, comma);
}

class FakeBoot final : public ISelkanBoot {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ISelkanBoot) {
            *out = static_cast<ISelkanBoot*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    void STDMETHODCALLTYPE SetTerminationFlag(HANDLE cancel) override { cancel_ = cancel; }
    void STDMETHODCALLTYPE SetCallbackFn(BootCallbackFn callback, void* user) override {
        callback_ = callback;
        user_ = user;
    }
    void STDMETHODCALLTYPE SetCommDeviceName(const char*) override {}
    void STDMETHODCALLTYPE SetDCB(const DCB*) override {}
    void STDMETHODCALLTYPE SetCommTimeouts(const COMMTIMEOUTS*) override {}
    void STDMETHODCALLTYPE SetCBusTable(const BYTE*, WORD) override {}
    void STDMETHODCALLTYPE SetUploadImage(const BYTE*, WORD) override {}
    void STDMETHODCALLTYPE SetUploadAddress(WORD, WORD) override {}
    void STDMETHODCALLTYPE SetExecuteAddress(WORD, WORD) override {}
    void STDMETHODCALLTYPE SetDebugLevel(WORD) override {}
    DWORD STDMETHODCALLTYPE GetVersion() override { return 0x00010000; }
    HRESULT STDMETHODCALLTYPE Upload(HANDLE* thread) override { return start(step(false), "upload", thread); }
    HRESULT STDMETHODCALLTYPE Execute(HANDLE* thread) override { return start(step(true), "execute", thread); }

private:
    HRESULT start(const std::string& how, const std::string& what, HANDLE* thread) {
        if (how == "refuse") return E_FAIL;
        AddRef();  // the thread's own reference
        const HANDLE h = StartThread(
            [this, how, what]() -> DWORD {
                DWORD result = 0;
                if (how == "stubborn") {
                    tell(BOOT_MSG_INFO, ("fake boot: " + what + " ignores the cancel").c_str());
                    std::this_thread::sleep_for(std::chrono::seconds(20));
                }
                if (how == "heed") {
                    tell(BOOT_MSG_INFO, ("fake boot: " + what + " waits for the cancel").c_str());
                    WaitForSingleObject(cancel_, 20000);
                    tell(BOOT_MSG_INFO, ("fake boot: " + what + " cancelled").c_str());
                }
                if (how == "done" || how == "stubborn") {
                    tell(BOOT_MSG_INFO, ("fake boot: " + what + " step").c_str());
                    tell(BOOT_MSG_DONE, nullptr);
                    result = 1;
                } else if (how == "error") {
                    tell(BOOT_MSG_ERROR, ("fake boot: " + what + " broke").c_str());
                }
                Release();
                return result;
            },
            nullptr);
        // The worker then finds the thread already ended when it starts to wait.
        if (how == "heed") WaitForSingleObject(h, 30000);
        if (thread != nullptr) *thread = h;
        return S_OK;
    }
    void tell(LONG code, const char* text) {
        BootMessage m{code, text};
        if (callback_ != nullptr) callback_(&m, user_);
    }

    std::atomic<ULONG> refs_{1};
    HANDLE cancel_ = nullptr;
    BootCallbackFn callback_ = nullptr;
    void* user_ = nullptr;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) FakeBoot;
        if (object == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

OMBRA_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!(clsid == CLSID_FakeBoot)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

OMBRA_EXPORT HRESULT DllCanUnloadNow() { return S_FALSE; }

OMBRA_EXPORT HRESULT DllRegisterServer() {
    ombra::registerComponent(nullptr, CLSID_FakeBoot, "Stand-in boot loader for tests", kSelkanBootVersionIndependentProgId,
                             kSelkanBootProgId, nullptr);
    return S_OK;
}

OMBRA_EXPORT HRESULT DllUnregisterServer() {
    ombra::unregisterComponent(CLSID_FakeBoot, kSelkanBootVersionIndependentProgId, kSelkanBootProgId);
    return S_OK;
}
