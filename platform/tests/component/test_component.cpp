// The test component registers itself the way product components do and
// hands out a small adder object. OMBRA_TEST_COMPONENT_FAIL=1 makes its
// registration exports fail, for the registration tool's error path.
#include "test_component.h"

#include "ombra/platform/com.h"
#include "ombra/platform/module.h"
#include "ombra/platform/registry.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<LONG> objects{0};
std::atomic<LONG> locks{0};

bool failRequested()
{
    const char* f = std::getenv("OMBRA_TEST_COMPONENT_FAIL");
    return f && std::strcmp(f, "1") == 0;
}

class Adder final : public ITestAdder {
public:
    Adder() { ++objects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_ITestAdder) {
            *ppv = static_cast<ITestAdder*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG n = --refs_;
        if (n == 0) {
            --objects;
            delete this;
        }
        return n;
    }
    HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* sum) override
    {
        if (!sum) return E_POINTER;
        *sum = a + b;
        return S_OK;
    }
    LONG STDMETHODCALLTYPE ServerLocks() override { return locks; }

private:
    std::atomic<ULONG> refs_{1};
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* a = new Adder;
        HRESULT hr = a->QueryInterface(iid, ppv);
        a->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        locks += lock ? 1 : -1;
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
};

void setDefault(const std::string& key, const std::string& text)
{
    HKEY h = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &h, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(h);
}

}  // namespace

OMBRA_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(clsid == CLSID_TestAdder)) return CLASS_E_CLASSNOTAVAILABLE;
    auto* f = new Factory;
    HRESULT hr = f->QueryInterface(iid, ppv);
    f->Release();
    return hr;
}

OMBRA_EXPORT HRESULT DllCanUnloadNow() { return (objects == 0 && locks == 0) ? S_OK : S_FALSE; }

OMBRA_EXPORT HRESULT DllRegisterServer()
{
    if (failRequested()) return E_FAIL;
    std::string clsid = ombra::platform::guidToText(CLSID_TestAdder);
    std::string path = ombra::platform::modulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
    if (path.empty()) return E_FAIL;
    setDefault("CLSID\\" + clsid, kTestAdderDescription);
    setDefault("CLSID\\" + clsid + "\\InprocServer32", path);
    setDefault("CLSID\\" + clsid + "\\ProgID", kTestAdderProgId);
    setDefault("CLSID\\" + clsid + "\\VersionIndependentProgID", kTestAdderIndependentProgId);
    setDefault(kTestAdderIndependentProgId, kTestAdderDescription);
    setDefault(std::string(kTestAdderIndependentProgId) + "\\CLSID", clsid);
    setDefault(std::string(kTestAdderIndependentProgId) + "\\CurVer", kTestAdderProgId);
    setDefault(kTestAdderProgId, kTestAdderDescription);
    setDefault(std::string(kTestAdderProgId) + "\\CLSID", clsid);
    return S_OK;
}

OMBRA_EXPORT HRESULT DllUnregisterServer()
{
    if (failRequested()) return E_FAIL;
    std::string clsid = ombra::platform::guidToText(CLSID_TestAdder);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + clsid).c_str());
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kTestAdderIndependentProgId);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kTestAdderProgId);
    return S_OK;
}
