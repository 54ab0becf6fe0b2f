#include "ombra/platform/com.h"
#include "ombra/platform/messagebox.h"
#include "ombra/platform/module.h"
#include "ombra/platform/registry.h"
#include "ombra/platform/trace_output.h"

#include "component/test_component.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// {3F77B831-CFAD-449C-89D4-715B3C434117}
constexpr GUID kSample = {0x3F77B831, 0xCFAD, 0x449C, {0x89, 0xD4, 0x71, 0x5B, 0x3C, 0x43, 0x41, 0x17}};

std::string componentPath()
{
    std::string self = ombra::platform::modulePathOf(reinterpret_cast<const void*>(&componentPath));
    return self.substr(0, self.rfind('/') + 1) + kTestComponentFile;
}

TEST(GuidText, BraceFormUpperCaseAndBack)
{
    EXPECT_EQ(ombra::platform::guidToText(kSample), "{3F77B831-CFAD-449C-89D4-715B3C434117}");
    OLECHAR wide[CHARS_IN_GUID];
    EXPECT_EQ(StringFromGUID2(kSample, wide, CHARS_IN_GUID), CHARS_IN_GUID);
    EXPECT_EQ(std::wstring(wide), L"{3F77B831-CFAD-449C-89D4-715B3C434117}");
    EXPECT_EQ(StringFromGUID2(kSample, wide, CHARS_IN_GUID - 1), 0);

    LPOLESTR allocated = nullptr;
    ASSERT_EQ(StringFromCLSID(kSample, &allocated), S_OK);
    CLSID back{};
    EXPECT_EQ(CLSIDFromString(allocated, &back), S_OK);
    EXPECT_EQ(back, kSample);
    CoTaskMemFree(allocated);

    EXPECT_EQ(CLSIDFromString(L"{3f77b831-cfad-449c-89d4-715b3c434117}", &back), S_OK);
    EXPECT_EQ(back, kSample);

    for (const wchar_t* junk : {L"", L"3F77B831-CFAD-449C-89D4-715B3C434117", L"{3F77B831-CFAD-449C-89D4-715B3C434117",
                                L"{3F77B831-CFAD-449C-89D4-715B3C434117}x", L"{3F77B831-CFAD-449C-89D4-715B3C43411G}",
                                L"{3F77B831CFAD-449C-89D4-715B3C434117-}", L"{3F77B831-CFAD-449C-89D4-715B3C43411\u00e9}",
                                L"Tarvik.SelkanBootKL"}) {
        CLSID c = kSample;
        EXPECT_EQ(CLSIDFromString(junk, &c), CO_E_CLASSSTRING) << std::wstring(junk).size();
    }
    GUID g{};
    EXPECT_FALSE(ombra::platform::guidFromText("{3F77B831-CFAD-449C-89D4-715B3C434117} ", g));
}

TEST(Runtime, InitialisationIsCountedPerThread)
{
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();

    void* block = CoTaskMemAlloc(0);
    EXPECT_NE(block, nullptr);
    CoTaskMemFree(block);
    CoTaskMemFree(nullptr);
}

class Components : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ombra-com-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ::setenv("OMBRA_REGISTRY_DIR", dir_.c_str(), 1);
        std::string error;
        module_ = ombra::platform::loadModule(componentPath().c_str(), error);
        ASSERT_NE(module_, nullptr) << error;
        CoInitialize(nullptr);
    }
    void TearDown() override
    {
        CoUninitialize();
        fs::remove_all(dir_);
    }
    HRESULT call(const char* entry)
    {
        auto fn = reinterpret_cast<DllRegisterServerFn>(ombra::platform::findSymbol(module_, entry));
        return fn ? fn() : E_FAIL;
    }
    void setServer(const std::string& path)
    {
        std::string key = "CLSID\\" + ombra::platform::guidToText(CLSID_TestAdder) + "\\InprocServer32";
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>(path.size() + 1));
        RegCloseKey(h);
    }

    std::string dir_;
    ombra::platform::Module* module_ = nullptr;
};

TEST_F(Components, CreatedThroughProgIdAndGoneAfterUnregistering)
{
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(L"Ombra.TestAdder", &clsid), CO_E_CLASSSTRING);
    ITestAdder* adder = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_INPROC_SERVER, IID_ITestAdder,
                               reinterpret_cast<void**>(&adder)),
              REGDB_E_CLASSNOTREG);

    ASSERT_EQ(call("DllRegisterServer"), S_OK);
    // The component names its own file, resolved.
    char resolved[PATH_MAX];
    ASSERT_NE(::realpath(componentPath().c_str(), resolved), nullptr);
    std::string key = "CLSID\\" + ombra::platform::guidToText(CLSID_TestAdder) + "\\InprocServer32";
    char path[PATH_MAX];
    DWORD size = sizeof path;
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h), ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueExA(h, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size), ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_STREQ(path, resolved);

    ASSERT_EQ(CLSIDFromProgID(L"Ombra.TestAdder", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TestAdder);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_ITestAdder, reinterpret_cast<void**>(&adder)), S_OK);
    LONG sum = 0;
    EXPECT_EQ(adder->Add(40, 2, &sum), S_OK);
    EXPECT_EQ(sum, 42);
    EXPECT_EQ(adder->Release(), 0u);

    IUnknown* unknown = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory,
                               reinterpret_cast<void**>(&unknown)),
              E_NOINTERFACE);
    EXPECT_EQ(unknown, nullptr);
    EXPECT_EQ(CoCreateInstance(clsid, adder, CLSCTX_INPROC_SERVER, IID_ITestAdder, reinterpret_cast<void**>(&unknown)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_ITestAdder, reinterpret_cast<void**>(&unknown)),
              REGDB_E_CLASSNOTREG);

    ASSERT_EQ(call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(CLSIDFromProgID(L"Ombra.TestAdder", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_INPROC_SERVER, IID_ITestAdder,
                               reinterpret_cast<void**>(&adder)),
              REGDB_E_CLASSNOTREG);
}

TEST_F(Components, BadRegistrationsFailCleanly)
{
    ITestAdder* adder = nullptr;
    setServer(dir_ + "/missing.so");
    EXPECT_EQ(CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_INPROC_SERVER, IID_ITestAdder,
                               reinterpret_cast<void**>(&adder)),
              CO_E_DLLNOTFOUND);
    // A library that is not a component.
    setServer(ombra::platform::modulePathOf(reinterpret_cast<const void*>(&CoCreateInstance)));
    EXPECT_EQ(CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_INPROC_SERVER, IID_ITestAdder,
                               reinterpret_cast<void**>(&adder)),
              CO_E_ERRORINDLL);
    EXPECT_EQ(adder, nullptr);

    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Broken.ProgId\\CLSID", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("not a guid"), 11);
    RegCloseKey(h);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(L"Broken.ProgId", &clsid), CO_E_CLASSSTRING);
}

// The class factory as a C caller sees it: a table of plain functions in
// slot order, each taking the object first.
struct CClassFactoryVtbl {
    HRESULT (*QueryInterface)(void* self, const IID* iid, void** ppv);
    ULONG (*AddRef)(void* self);
    ULONG (*Release)(void* self);
    HRESULT (*CreateInstance)(void* self, void* outer, const IID* iid, void** ppv);
    HRESULT (*LockServer)(void* self, BOOL lock);
};
struct CTestAdderVtbl {
    HRESULT (*QueryInterface)(void* self, const IID* iid, void** ppv);
    ULONG (*AddRef)(void* self);
    ULONG (*Release)(void* self);
    HRESULT (*Add)(void* self, LONG a, LONG b, LONG* sum);
    LONG (*ServerLocks)(void* self);
};
struct CObject {
    const void* vtbl;
};

TEST_F(Components, ClassFactorySlotsAreInComOrder)
{
    ASSERT_EQ(call("DllRegisterServer"), S_OK);
    void* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_TestAdder, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &factory), S_OK);
    auto* fv = static_cast<const CClassFactoryVtbl*>(static_cast<CObject*>(factory)->vtbl);

    EXPECT_EQ(fv->LockServer(factory, TRUE), S_OK);
    void* adder = nullptr;
    ASSERT_EQ(fv->CreateInstance(factory, nullptr, &IID_ITestAdder, &adder), S_OK);
    auto* av = static_cast<const CTestAdderVtbl*>(static_cast<CObject*>(adder)->vtbl);
    LONG sum = 0;
    EXPECT_EQ(av->Add(adder, 2, 3, &sum), S_OK);
    EXPECT_EQ(sum, 5);
    EXPECT_EQ(av->ServerLocks(adder), 1);  // slot 4 of the factory was LockServer
    EXPECT_EQ(fv->LockServer(factory, FALSE), S_OK);
    EXPECT_EQ(av->ServerLocks(adder), 0);

    void* again = nullptr;
    EXPECT_EQ(fv->QueryInterface(factory, &IID_IUnknown, &again), S_OK);
    EXPECT_EQ(again, factory);
    EXPECT_EQ(fv->AddRef(factory), 3u);
    EXPECT_EQ(fv->Release(factory), 2u);
    EXPECT_EQ(fv->Release(factory), 1u);
    EXPECT_EQ(fv->Release(factory), 0u);
    EXPECT_EQ(av->Release(adder), 0u);
}

TEST(MessageBox, AnswersWithoutAskingWhenScriptedOrWithoutDisplay)
{
    struct Env {
        const char* name;
        std::string old;
        bool had;
        explicit Env(const char* n) : name(n), had(std::getenv(n) != nullptr) { old = had ? std::getenv(n) : ""; }
        ~Env() { had ? ::setenv(name, old.c_str(), 1) : ::unsetenv(name); }
    } scripted("OMBRA_MESSAGEBOX"), display("DISPLAY"), wayland("WAYLAND_DISPLAY"), path("PATH");

    ::setenv("OMBRA_MESSAGEBOX", "yes", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ombra::platform::messageBox("Overwrite?", "Warning", MB_YESNO | MB_ICONWARNING), IDYES);
    EXPECT_EQ(ombra::platform::messageBox("Done", "Info", MB_OK), IDOK);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Overwrite?"), std::string::npos);
    EXPECT_NE(err.find("Warning"), std::string::npos);

    ::setenv("OMBRA_MESSAGEBOX", "no", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ombra::platform::messageBox("Overwrite?", "Warning", MB_YESNO), IDNO);
    EXPECT_EQ(ombra::platform::messageBox("Go on?", "Q", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(ombra::platform::messageBox(nullptr, nullptr, MB_OK), IDOK);
    ::testing::internal::GetCapturedStderr();

    // No script, no display: the safe answer.
    ::unsetenv("OMBRA_MESSAGEBOX");
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ombra::platform::messageBox("Overwrite?", "Warning", MB_YESNO), IDNO);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("Overwrite?"), std::string::npos);

    // A display but no helper program anywhere: still the safe answer.
    if (!fs::exists(fs::path(componentPath()).parent_path().parent_path() / "run" / "ombra-msgbox")) {
        ::setenv("DISPLAY", ":99", 1);
        ::setenv("PATH", "/nonexistent", 1);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(ombra::platform::messageBox("Overwrite?", "Warning", MB_YESNOCANCEL), IDCANCEL);
        EXPECT_NE(::testing::internal::GetCapturedStderr().find("Overwrite?"), std::string::npos);
    }
}

TEST(TraceOutput, ConsoleGetsTheBytesAsTheyAre)
{
    ::testing::internal::CaptureStderr();
    const char line[] = "123 : CSelkanBoot::Upload\r\n";
    ombra::platform::traceToConsole(line, sizeof line - 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), line);
}

}  // namespace
