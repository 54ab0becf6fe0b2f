// The chip-family programmer class, its class factory and the four server
// exports. Each component file links this with its own family (thisFamily).
#include <atomic>
#include <new>
#include <string>

#include "../src/family.h"
#include "ombra/burnix/programmer.h"
#include "ombra/chipfamily/chipfamily.h"
#include "ombra/common/registration.h"
#include "ombra/common/trace.h"
#include "ombra/platform/com.h"

namespace ombra::chipfamily {
// Defined by each component file.
const Family& thisFamily();
}  // namespace ombra::chipfamily

using namespace ombra::burnix;
using ombra::chipfamily::Family;
using ombra::chipfamily::thisFamily;

namespace {

std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};

HRESULT copyText(std::string& field, const char* text) {
    if (!text) return E_POINTER;
    try {
        field = text;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

class CChipFamily final : public ombra::chipfamily::IBurnixInformation,
                          public IBurnixBurn,
                          public IBurnixDump,
                          public IBurnixVerify {
public:
    explicit CChipFamily(const Family& family) : family_(family) { ++g_objects; }
    CChipFamily(const CChipFamily&) = delete;
    CChipFamily& operator=(const CChipFamily&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        TraceText("CBurnix::QueryInterface()");
        if (!out) return E_POINTER;
        // The burn face is the object's identity.
        IUnknown* face = nullptr;
        if (iid == IID_IUnknown) {
            TraceText("Return pointer to IUnknown.");
            face = static_cast<IBurnixBurn*>(this);
        } else if (iid == IID_IBurnix) {
            TraceText("Return pointer to IBurnix.");
            face = static_cast<IBurnixBurn*>(this);
        } else if (iid == IID_IBurnixInformation) {
            TraceText("Return pointer to IBurnixInformation.");
            face = static_cast<ombra::chipfamily::IBurnixInformation*>(this);
        } else if (iid == IID_IBurnixBurn) {
            TraceText("Return pointer to IBurnixBurn.");
            face = static_cast<IBurnixBurn*>(this);
        } else if (iid == IID_IBurnixDump) {
            TraceText("Return pointer to IBurnixDump.");
            face = static_cast<IBurnixDump*>(this);
        } else if (iid == IID_IBurnixVerify) {
            TraceText("Return pointer to IBurnixVerify.");
            face = static_cast<IBurnixVerify*>(this);
        } else {
            TraceText("Interface not supported.");
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = face;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        TraceText("CBurnix::AddRef()");
        return ++refs_;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        TraceText("CBurnix::Release()");
        const ULONG n = --refs_;
        if (n == 0) {
            TraceText("CBurnix::Release destroying self");
            delete this;
        }
        return n;
    }

    // IBurnix
    HRESULT STDMETHODCALLTYPE SetTerminationFlag(HANDLE event) override {
        core_.terminationEvent = event;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCallbackPipe(HANDLE pipe) override {
        TraceText("CBurnix::SetCallbackPipe");
        core_.callbackPipe = pipe;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCommSettings(const char* port, const DCB* dcb, const COMMTIMEOUTS* t) override {
        TraceText("CBurnix::SetCommSettings");
        return core_.setCommSettings(port, dcb, t);
    }
    HRESULT STDMETHODCALLTYPE SetSelectedDevice(DWORD index) override {
        if (index >= family_.devices.size()) return E_FAIL;
        core_.job.selectedDevice = index;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIdentificationBootCode(BYTE** code, DWORD* address, WORD* length) override {
        TraceText("CBurnix::GetIdentificationBootCode");
        return handOut(ombra::remote::Program::identify, code, address, length);
    }
    HRESULT STDMETHODCALLTYPE IdentifyFlash(LONG* deviceIndex, DeviceInfo** info) override {
        return core_.identifyFlash(family_.variant, family_.name, family_.devices, deviceIndex, info);
    }

    // IBurnixBurn
    HRESULT STDMETHODCALLTYPE SetBurnSource(const char* file) override { return copyText(core_.job.sourceFile, file); }
    HRESULT STDMETHODCALLTYPE SetBurnSpan(DWORD address, DWORD size) override {
        core_.job.burnAddress = address;
        core_.job.burnSize = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBurningBootCode(BYTE** code, DWORD* address, WORD* length) override {
        TraceText("CBurnix::GetBurningBootCode");
        return handOut(ombra::remote::Program::burn, code, address, length);
    }
    HRESULT STDMETHODCALLTYPE SetVerifyFlag(BOOL verify) override {
        core_.job.verifyAfterBurn = verify != 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Burn() override { return core_.burn(family_.variant, family_.name, family_.devices); }

    // IBurnixDump
    HRESULT STDMETHODCALLTYPE SetDumpSpan(DWORD address, DWORD size) override {
        core_.job.dumpAddress = address;
        core_.job.dumpSize = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDumpTarget(const char* file) override { return copyText(core_.job.dumpTarget, file); }
    HRESULT STDMETHODCALLTYPE GetDumpBootCode(BYTE** code, DWORD* address, WORD* length) override {
        TraceText("CBurnix::GetDumpBootCode");
        return handOut(ombra::remote::Program::dump, code, address, length);
    }
    HRESULT STDMETHODCALLTYPE Dump() override { return core_.dump(family_.variant, family_.name, family_.devices); }

    // IBurnixVerify
    HRESULT STDMETHODCALLTYPE SetVerifySpan(DWORD address, DWORD size) override {
        core_.job.verifyAddress = address;
        core_.job.verifySize = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetVerifySource(const char* file) override {
        return copyText(core_.job.sourceFile, file);
    }
    HRESULT STDMETHODCALLTYPE GetVerifyBootCode(BYTE** code, DWORD* address, WORD* length) override {
        TraceText("CBurnix::GetVerifyBootCode");
        return handOut(ombra::remote::Program::verify, code, address, length);
    }
    HRESULT STDMETHODCALLTYPE Verify() override { return core_.verify(family_.variant, family_.name, family_.devices); }

    // IBurnixInformation (eleven slots)
    HRESULT STDMETHODCALLTYPE GetProgrammerName(char** name) override {
        TraceText("CBurnix::GetProgrammerName");
        if (!name) return E_FAIL;
        *name = taskStrDup(family_.name);
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetVersionInformation(VersionInfo** info) override {
        TraceText("CBurnix::GetVersionInformation");
        if (!info) return E_FAIL;
        *info = newVersionInfo(family_.name, family_.versionDescription, kNotice, ombra::chipfamily::kFamilyVersion);
        return *info ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE EnumSupportedDevices(DWORD index, DeviceInfo** info) override {
        const DWORD i = index & 0xFFFF;
        if (i >= family_.devices.size()) return S_NO_MORE_ITEMS;
        if (!info) return E_FAIL;
        const DeviceEntry& e = family_.devices[i];
        *info = newDeviceInfo(e, e.manufacturerId, e.modelId);
        return *info ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE Reserved6() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reserved9(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved10(DWORD) override { return E_NOTIMPL; }

private:
    ~CChipFamily() { --g_objects; }
    HRESULT handOut(ombra::remote::Program program, BYTE** code, DWORD* address, WORD* length) const {
        return handOutCode(ombra::remote::builtinImage(family_.programs, program),
                           ombra::remote::loadAddress(family_.programs), code, address, length);
    }

    const Family& family_;
    std::atomic<ULONG> refs_{1};
    ProgrammerCore core_;
};

class CChipFamilyFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        TraceText("CSelkanBootFactory::CreateInstance");
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) CChipFamily(thisFamily());
        if (!object) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) ++g_locks;
        else --g_locks;
        return S_OK;
    }

private:
    ~CChipFamilyFactory() = default;
    std::atomic<ULONG> refs_{1};
};

__attribute__((constructor)) void processAttach() { TraceText("DllMain: DLL_PROCESS_ATTACH"); }

}  // namespace

OMBRA_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    TraceText("DllGetClassObject\n");
    if (!(clsid == thisFamily().clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    TraceText("DllGetClassObject: creating new class factory\n");
    auto* factory = new (std::nothrow) CChipFamilyFactory;
    if (!factory) return E_OUTOFMEMORY;
    TraceText("DllGetClassObject: querying factory for interface\n");
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

OMBRA_EXPORT HRESULT DllCanUnloadNow() { return (g_objects == 0 && g_locks == 0) ? S_OK : S_FALSE; }

OMBRA_EXPORT HRESULT DllRegisterServer() {
    const Family& f = thisFamily();
    ombra::registerComponent(nullptr, f.clsid, f.registryDescription, f.versionIndependentProgId, f.progId, "Both");
    ombra::addToProgrammersList(f.clsid);
    return S_OK;
}

// The Programmers entry is left in place.
OMBRA_EXPORT HRESULT DllUnregisterServer() {
    const Family& f = thisFamily();
    ombra::unregisterComponent(f.clsid, f.versionIndependentProgId, f.progId);
    return S_OK;
}
