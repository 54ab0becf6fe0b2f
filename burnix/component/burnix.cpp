// Burnix.so: the configurable programmer CBurnix, its class factory and the
// four server exports. The driver tree is read from beside this file.
#include <atomic>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "ombra/burnix/drivers.h"
#include "ombra/burnix/ini.h"
#include "ombra/burnix/interfaces.h"
#include "ombra/burnix/programmer.h"
#include "ombra/common/registration.h"
#include "ombra/common/trace.h"
#include "ombra/platform/com.h"
#include "ombra/platform/file.h"
#include "ombra/platform/module.h"

using namespace ombra::burnix;

namespace {

std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};

constexpr const char* kDescription = "Tarvik Selkan K/L Burnix";
constexpr const char* kProgId = "Tarvik.SelkanKLBurnix.1";
constexpr const char* kVersionIndependentProgId = "Tarvik.SelkanKLBurnix";

std::string installFolder() {
    static const char anchor = 0;
    return ombra::platform::folderOfPath(ombra::platform::modulePathOf(&anchor));
}

const Variant& burnixVariant() {
    static const Variant v{};
    return v;
}

class CBurnix final : public IBurnixInformation,
                      public IBurnixBurn,
                      public IBurnixDump,
                      public IBurnixVerify,
                      public IBurnixInitialization {
public:
    CBurnix() { ++g_objects; }
    CBurnix(const CBurnix&) = delete;
    CBurnix& operator=(const CBurnix&) = delete;

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
            face = static_cast<IBurnixInformation*>(this);
        } else if (iid == IID_IBurnixBurn) {
            TraceText("Return pointer to IBurnixBurn.");
            face = static_cast<IBurnixBurn*>(this);
        } else if (iid == IID_IBurnixDump) {
            TraceText("Return pointer to IBurnixDump.");
            face = static_cast<IBurnixDump*>(this);
        } else if (iid == IID_IBurnixVerify) {
            TraceText("Return pointer to IBurnixVerify.");
            face = static_cast<IBurnixVerify*>(this);
        } else if (iid == IID_IBurnixInitialization) {
            TraceText("Return pointer to IBurnixInitialization.");
            face = static_cast<IBurnixInitialization*>(this);
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
        if (index >= devices_.size()) return E_FAIL;
        core_.job.selectedDevice = index;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIdentificationBootCode(BYTE** code, DWORD* address, WORD* length) override {
        TraceText("CBurnix::GetIdentificationBootCode");
        return handOutCode(codes_[static_cast<int>(CodeKind::identify)], bootAddress_, code, address, length);
    }
    HRESULT STDMETHODCALLTYPE IdentifyFlash(LONG* deviceIndex, DeviceInfo** info) override {
        return core_.identifyFlash(burnixVariant(), driver_, devices_, deviceIndex, info);
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
        return handOutCode(codes_[static_cast<int>(CodeKind::burn)], bootAddress_, code, address, length);
    }
    HRESULT STDMETHODCALLTYPE SetVerifyFlag(BOOL verify) override {
        core_.job.verifyAfterBurn = verify != 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Burn() override { return core_.burn(burnixVariant(), driver_, devices_); }

    // IBurnixDump
    HRESULT STDMETHODCALLTYPE SetDumpSpan(DWORD address, DWORD size) override {
        core_.job.dumpAddress = address;
        core_.job.dumpSize = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDumpTarget(const char* file) override { return copyText(core_.job.dumpTarget, file); }
    HRESULT STDMETHODCALLTYPE GetDumpBootCode(BYTE** code, DWORD* address, WORD* length) override {
        TraceText("CBurnix::GetDumpBootCode");
        return handOutCode(codes_[static_cast<int>(CodeKind::dump)], bootAddress_, code, address, length);
    }
    HRESULT STDMETHODCALLTYPE Dump() override { return core_.dump(burnixVariant(), driver_, devices_); }

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
        return handOutCode(codes_[static_cast<int>(CodeKind::verify)], bootAddress_, code, address, length);
    }
    HRESULT STDMETHODCALLTYPE Verify() override { return core_.verify(burnixVariant(), driver_, devices_); }

    // IBurnixInformation
    HRESULT STDMETHODCALLTYPE GetProgrammerName(char** name) override {
        TraceText("CBurnix::GetProgrammerName");
        if (!name) return E_FAIL;
        *name = taskStrDup(driver_);
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetVersionInformation(VersionInfo** info) override {
        TraceText("CBurnix::GetVersionInformation");
        if (!info) return E_FAIL;
        *info = newVersionInfo(driver_, "Tarvik Ombra Burnix", kNotice, 1);
        return *info ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE EnumSupportedDevices(DWORD index, DeviceInfo** info) override {
        const DWORD i = index & 0xFFFF;
        if (i >= devices_.size()) return S_NO_MORE_ITEMS;
        if (!info) return E_FAIL;
        const DeviceEntry& e = devices_[i];
        *info = newDeviceInfo(e, e.manufacturerId, e.modelId);
        return *info ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE EnumSupportedProgrammer(DWORD index, char** name) override {
        TraceText("CBurnix::EnumSupportedProgrammer");
        const DWORD i = index & 0xFFFF;
        if (i >= programmers_.size()) return S_NO_MORE_ITEMS;
        if (!name) return E_FAIL;
        *name = taskStrDup(programmers_[i]);
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE Reserved7() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved9() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reserved10(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved11(DWORD) override { return E_NOTIMPL; }

    // IBurnixInitialization
    HRESULT STDMETHODCALLTYPE InitializeProgrammers() override {
        TraceText("CBurnix::InitializeProgrammer");
        programmers_.clear();
        auto names = readProgrammers(IniFile::load(tree().commonFile()));
        if (!names) return E_FAIL;
        programmers_ = std::move(*names);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InitializeDevices(const char* driver) override {
        TraceText("CBurnix::InitializeProgrammer");
        devices_.clear();
        if (!driver) return E_FAIL;
        const auto file = acceptedDriverFile("CBurnix::InitializeDevices", driver);
        if (!file) return E_FAIL;
        auto table = readDevices(IniFile::load(*file));
        if (!table) return E_FAIL;
        devices_ = std::move(*table);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InitializeRemoteCodes(const char* driver, const char* worker) override {
        if (!driver || !worker) return E_FAIL;
        const auto file = acceptedDriverFile("CBurnix::InitializeRemoteCodes", driver);
        if (!file) return E_FAIL;
        const auto ini = IniFile::load(*file);
        const std::int32_t address = ini.getInt("CONFIGURATION", "Boot_Address", kNoBootAddress);
        if (address == kNoBootAddress) return E_FAIL;
        bootAddress_ = static_cast<DWORD>(address);
        const auto kind = codeKindForWorker(worker);
        if (!kind) return E_FAIL;
        // Each kind keeps its own copy, so loading one never invalidates another.
        auto& slot = codes_[static_cast<int>(*kind)];
        const auto program = tree().remoteCodeFile(driver_, *kind);
        if (!program) return E_FAIL;
        switch (loadRemoteCode(*program, slot)) {
        case CodeLoad::ok: break;
        case CodeLoad::missing:
            TraceText("CBurnix::CreateFile failed");
            return E_FAIL;
        default: return E_FAIL;
        }
        TraceText("CBurnix::ReadFile successed");
        return S_OK;
    }

private:
    ~CBurnix() { --g_objects; }
    static HRESULT copyText(std::string& field, const char* text) {
        if (!text) return E_POINTER;
        try {
            field = text;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    static DriverTree tree() { return DriverTree(installFolder()); }

    // The name becomes folders and files below Drivers, so it must be plain
    // and listed in the common file; a refused name is not remembered.
    std::optional<std::string> acceptedDriverFile(const char* method, const char* driver) {
        const DriverTree drivers = tree();
        switch (checkDriverName(IniFile::load(drivers.commonFile()), driver)) {
        case DriverCheck::ok: break;
        case DriverCheck::notPlain:
            TraceFormat("%s: driver name refused (empty, a separator, \"..\" or a control character)", method);
            driver_.clear();
            return std::nullopt;
        case DriverCheck::notListed:
            TraceFormat("%s: driver \"%s\" refused (not listed in the common driver file)", method, driver);
            driver_.clear();
            return std::nullopt;
        }
        driver_ = driver;
        return drivers.driverFile(driver_);
    }

    std::atomic<ULONG> refs_{1};
    ProgrammerCore core_;
    std::vector<DeviceEntry> devices_;
    std::vector<std::string> programmers_;
    std::string driver_;
    DWORD bootAddress_ = 0;
    std::vector<std::uint8_t> codes_[4];
};

class CBurnixFactory final : public IClassFactory {
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
        auto* object = new (std::nothrow) CBurnix;
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
    ~CBurnixFactory() = default;
    std::atomic<ULONG> refs_{1};
};

__attribute__((constructor)) void processAttach() { TraceText("DllMain: DLL_PROCESS_ATTACH"); }

}  // namespace

OMBRA_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    TraceText("DllGetClassObject\n");
    if (!(clsid == CLSID_Burnix)) return CLASS_E_CLASSNOTAVAILABLE;
    TraceText("DllGetClassObject: creating new class factory\n");
    auto* factory = new (std::nothrow) CBurnixFactory;
    if (!factory) return E_OUTOFMEMORY;
    TraceText("DllGetClassObject: querying factory for interface\n");
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

OMBRA_EXPORT HRESULT DllCanUnloadNow() { return (g_objects == 0 && g_locks == 0) ? S_OK : S_FALSE; }

OMBRA_EXPORT HRESULT DllRegisterServer() {
    ombra::registerComponent(nullptr, CLSID_Burnix, kDescription, kVersionIndependentProgId, kProgId, "Both");
    return S_OK;
}

OMBRA_EXPORT HRESULT DllUnregisterServer() {
    ombra::unregisterComponent(CLSID_Burnix, kVersionIndependentProgId, kProgId);
    return S_OK;
}
