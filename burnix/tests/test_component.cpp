// CBurnix through its exports, as the component runtime and the clients see
// it: interface identities, the driver tree read from beside the component
// file, enumerations, boot codes, server lifetime and registration.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ombra/burnix/interfaces.h"
#include "ombra/platform/com.h"
#include "ombra/platform/module.h"
#include "ombra/platform/process.h"
#include "ombra/platform/registry.h"

namespace fs = std::filesystem;

namespace {

struct Server {
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
    DllRegisterServerFn registerServer = nullptr;
};

void writeFile(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

// A copy of Burnix.so in a private folder with a driver tree of the test's own.
class ComponentTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("burnix_component_" + std::to_string(GetCurrentProcessId()) +
                                            "_" + std::to_string(reinterpret_cast<std::uintptr_t>(&dir_) & 0xFFFF));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "registry");
        ::setenv("OMBRA_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
        const char* run = std::getenv("OMBRA_RUN_DIR");
        ASSERT_NE(run, nullptr);
        fs::copy_file(fs::path(run) / "Burnix.so", dir_ / "Burnix.so");
        const fs::path d = dir_ / "Drivers";
        writeFile(d / "Common/Burnix.cfg",
                  "[SUPPORTED_PROGRAMMERS]\nNum_Supported_Programmers=5\n"
                  "[PROGRAMMER_0]\nManufacturer=Test\n[PROGRAMMER_2]\nManufacturer=AMD\n"
                  "[PROGRAMMER_3]\nManufacturer=NoBoot\n[PROGRAMMER_4]\nManufacturer=../Outside\n");
        writeFile(d / "Test/Test.cfg",
                  "[CONFIGURATION]\nBoot_Address=0x300000\n"
                  "[SUPPORTED_DEVICES]\nNum_Supported_Devices=3\n"
                  "[DEVICE_0]\nManufacturerID=0xBF\nModelID=0x2782\nManufacturerName=SST\nModelName=SST39LF/VF160\n"
                  "Capacity=2097152\n"
                  "[DEVICE_1]\nModelName=nothing\n"
                  "[DEVICE_2]\nManufacturerID=0x01\nModelID=0x22DA\nManufacturerName=AMD\nModelName=AM29LV800BT\n"
                  "Capacity=1048576\n[DEVICES_2\\GEOMETRY]\nGeometry_00=65536\nGeometry_01=15\n");
        writeFile(d / "Test/RemoteCode/RemoteBurn.bin", std::string(100, '\xEB'));
        writeFile(d / "Test/RemoteCode/RemoteVerify.bin", "");
        writeFile(d / "Test/RemoteCode/RemoteDump.bin", std::string(0x10000, '\x90'));
        writeFile(d / "NoBoot/NoBoot.cfg", "[SUPPORTED_DEVICES]\nNum_Supported_Devices=1\n");
        writeFile(d / "NoBoot/RemoteCode/RemoteBurn.bin", "x");
        // A complete driver outside the tree, where "../Outside" would reach
        // it, and one inside that the common file does not list.
        const std::string config = "[CONFIGURATION]\nBoot_Address=0x300000\n"
                                   "[SUPPORTED_DEVICES]\nNum_Supported_Devices=1\n"
                                   "[DEVICE_0]\nManufacturerID=0xBF\nModelID=0x2782\n";
        writeFile(dir_ / "Outside.cfg", config);
        writeFile(dir_ / "Outside/RemoteCode/RemoteBurn.bin", "outside");
        writeFile(d / "Unlisted/Unlisted.cfg", config);
        writeFile(d / "Unlisted/RemoteCode/RemoteBurn.bin", "unlisted");

        std::string error;
        auto* module = ombra::platform::loadModule((dir_ / "Burnix.so").c_str(), error);
        ASSERT_NE(module, nullptr) << error;
        server_.getClassObject = reinterpret_cast<DllGetClassObjectFn>(ombra::platform::findSymbol(module, "DllGetClassObject"));
        server_.canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(ombra::platform::findSymbol(module, "DllCanUnloadNow"));
        server_.registerServer = reinterpret_cast<DllRegisterServerFn>(ombra::platform::findSymbol(module, "DllRegisterServer"));
        ASSERT_TRUE(server_.getClassObject && server_.canUnloadNow && server_.registerServer);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    template <class T>
    T* create(REFIID iid) {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(server_.getClassObject(CLSID_Burnix, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        T* object = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object)), S_OK);
        factory->Release();
        return object;
    }

    static inline fs::path dir_;
    static inline Server server_;
};

template <class T>
T* query(IUnknown* u, REFIID iid) {
    T* p = nullptr;
    EXPECT_EQ(u->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
    return p;
}

}  // namespace

TEST_F(ComponentTest, BurnFaceIsTheIdentity) {
    auto* init = create<IBurnixInitialization>(IID_IBurnixInitialization);
    auto* unknown = query<IUnknown>(init, IID_IUnknown);
    auto* burnix = query<IBurnix>(init, IID_IBurnix);
    auto* burn = query<IBurnixBurn>(init, IID_IBurnixBurn);
    auto* info = query<IBurnixInformation>(init, IID_IBurnixInformation);
    auto* dump = query<IBurnixDump>(info, IID_IBurnixDump);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(burnix));
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(burn));
    EXPECT_NE(static_cast<void*>(unknown), static_cast<void*>(info));
    EXPECT_EQ(static_cast<void*>(query<IUnknown>(dump, IID_IUnknown)), static_cast<void*>(unknown));
    // Unknown IID: null, E_NOINTERFACE, count unchanged.
    void* none = reinterpret_cast<void*>(1);
    const IID other = {0x12345678, 0, 0, {0}};
    EXPECT_EQ(burn->QueryInterface(other, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(burn->AddRef(), 8u);
    EXPECT_EQ(burn->Release(), 7u);
    for (IUnknown* u : std::initializer_list<IUnknown*>{unknown, burnix, burn, info, dump, dump, init}) u->Release();
}

TEST_F(ComponentTest, FreshObjectAnswersWithEmptyName) {
    auto* info = create<IBurnixInformation>(IID_IBurnixInformation);
    char* name = nullptr;
    ASSERT_EQ(info->GetProgrammerName(&name), S_OK);
    EXPECT_STREQ(name, "");
    CoTaskMemFree(name);
    VersionInfo* v = nullptr;
    ASSERT_EQ(info->GetVersionInformation(&v), S_OK);
    EXPECT_STREQ(v->programmerName, "");
    EXPECT_STREQ(v->description, "Tarvik Ombra Burnix");
    EXPECT_EQ(v->version, 1u);
    CoTaskMemFree(v->programmerName);
    CoTaskMemFree(v->description);
    CoTaskMemFree(v->notice);
    CoTaskMemFree(v);
    EXPECT_EQ(info->GetVersionInformation(nullptr), E_FAIL);
    DeviceInfo* d = reinterpret_cast<DeviceInfo*>(1);
    EXPECT_EQ(info->EnumSupportedDevices(0, &d), S_NO_MORE_ITEMS);
    EXPECT_EQ(d, reinterpret_cast<DeviceInfo*>(1));
    info->Release();
}

TEST_F(ComponentTest, DriverListsAndDeviceTable) {
    auto* init = create<IBurnixInitialization>(IID_IBurnixInitialization);
    auto* info = query<IBurnixInformation>(init, IID_IBurnixInformation);
    auto* burnix = query<IBurnix>(init, IID_IBurnix);

    ASSERT_EQ(init->InitializeProgrammers(), S_OK);
    std::vector<std::string> names;
    char* name = nullptr;
    for (DWORD i = 0; info->EnumSupportedProgrammer(i, &name) == S_OK; ++i) {
        names.emplace_back(name);
        CoTaskMemFree(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Test", "", "AMD", "NoBoot", "../Outside"}));

    EXPECT_EQ(init->InitializeDevices("Missing"), E_FAIL);
    ASSERT_EQ(init->InitializeDevices("Test"), S_OK);
    DeviceInfo* d = nullptr;
    ASSERT_EQ(info->EnumSupportedDevices(0x10001, &d), S_OK);  // low 16 bits: entry 1 = DEVICE_2
    EXPECT_STREQ(d->modelName, "AM29LV800BT");
    EXPECT_EQ(d->manufacturerCode, 0x01);
    EXPECT_EQ(d->modelCode, 0x22DA);
    EXPECT_EQ(d->capacity, 1048576u);
    CoTaskMemFree(d->manufacturerName);
    CoTaskMemFree(d->modelName);
    CoTaskMemFree(d);
    EXPECT_EQ(info->EnumSupportedDevices(2, &d), S_NO_MORE_ITEMS);
    ASSERT_EQ(info->GetProgrammerName(&name), S_OK);
    EXPECT_STREQ(name, "Test");
    CoTaskMemFree(name);

    EXPECT_EQ(burnix->SetSelectedDevice(2), E_FAIL);
    EXPECT_EQ(burnix->SetSelectedDevice(1), S_OK);
    for (IUnknown* u : std::initializer_list<IUnknown*>{burnix, info, init}) u->Release();
}

TEST_F(ComponentTest, RemoteCodesPerWorker) {
    auto* init = create<IBurnixInitialization>(IID_IBurnixInitialization);
    auto* burn = query<IBurnixBurn>(init, IID_IBurnixBurn);
    auto* verify = query<IBurnixVerify>(init, IID_IBurnixVerify);

    ASSERT_EQ(init->InitializeRemoteCodes("Test", "Tordel"), S_OK);
    BYTE* code = nullptr;
    DWORD address = 0;
    WORD length = 0;
    ASSERT_EQ(burn->GetBurningBootCode(&code, &address, &length), S_OK);
    EXPECT_EQ(length, 100);
    EXPECT_EQ(address, 0x300000u);
    EXPECT_EQ(code[99], 0xEB);
    CoTaskMemFree(code);
    EXPECT_EQ(burn->GetBurningBootCode(nullptr, &address, &length), E_FAIL);
    EXPECT_EQ(burn->GetBurningBootCode(&code, &address, nullptr), E_FAIL);

    // The verify worker has a program of its own (here an empty one).
    ASSERT_EQ(init->InitializeRemoteCodes("Test", "Quasp"), S_OK);
    ASSERT_EQ(verify->GetVerifyBootCode(&code, &address, &length), S_OK);
    EXPECT_EQ(length, 0);
    CoTaskMemFree(code);
    // Loading another kind leaves the burn code intact.
    ASSERT_EQ(burn->GetBurningBootCode(&code, &address, &length), S_OK);
    EXPECT_EQ(length, 100);
    CoTaskMemFree(code);

    EXPECT_EQ(init->InitializeRemoteCodes("Test", "Lunet"), E_FAIL);   // 65,536 bytes: refused, not cut
    EXPECT_EQ(init->InitializeRemoteCodes("Test", "Wexom"), E_FAIL);   // no file
    EXPECT_EQ(init->InitializeRemoteCodes("Test", "tordel"), E_FAIL);  // case matters
    EXPECT_EQ(init->InitializeRemoteCodes("NoBoot", "Tordel"), E_FAIL);
    for (IUnknown* u : std::initializer_list<IUnknown*>{verify, burn, init}) u->Release();
}

TEST_F(ComponentTest, DriverNamesOutsideTheListOrTheTreeAreRefused) {
    auto* init = create<IBurnixInitialization>(IID_IBurnixInitialization);
    auto* info = query<IBurnixInformation>(init, IID_IBurnixInformation);
    auto* burn = query<IBurnixBurn>(init, IID_IBurnixBurn);
    // Listed but climbing, plain but unlisted, and names no list could hold.
    for (const char* driver : {"../Outside", "Unlisted", "", ".", "..", "Test/../Test", "Test\\..\\Test", "Te..st",
                               "Test\n"}) {
        SCOPED_TRACE(driver);
        ASSERT_EQ(init->InitializeDevices("Test"), S_OK);
        EXPECT_EQ(init->InitializeDevices(driver), E_FAIL);
        DeviceInfo* d = nullptr;
        EXPECT_EQ(info->EnumSupportedDevices(0, &d), S_NO_MORE_ITEMS);
        EXPECT_EQ(init->InitializeRemoteCodes(driver, "Tordel"), E_FAIL);
        BYTE* code = nullptr;
        DWORD address = 0;
        WORD length = 0;
        ASSERT_EQ(burn->GetBurningBootCode(&code, &address, &length), S_OK);
        EXPECT_EQ(length, 0);  // nothing was loaded from anywhere
        CoTaskMemFree(code);
        // The refused name is not kept as the driver's.
        char* name = nullptr;
        ASSERT_EQ(info->GetProgrammerName(&name), S_OK);
        EXPECT_STREQ(name, "");
        CoTaskMemFree(name);
    }
    // A listed plain name still loads.
    ASSERT_EQ(init->InitializeRemoteCodes("Test", "Tordel"), S_OK);
    for (IUnknown* u : std::initializer_list<IUnknown*>{burn, info, init}) u->Release();
}

TEST_F(ComponentTest, RefusalsLeaveATraceLine) {
    // The component's trace opens under "Burnix" with its first Burn.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra\\Debug\\Burnix", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const char* value : {"fTraceEnabled", "dwTraceType"}) {
        const DWORD v = value[0] == 'f' ? 1 : 2;  // on, to the console
        RegSetValueExA(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
    }
    RegCloseKey(key);
    auto* init = create<IBurnixInitialization>(IID_IBurnixInitialization);
    auto* burn = query<IBurnixBurn>(init, IID_IBurnixBurn);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(burn->Burn(), E_FAIL);  // no image: fails at once
    EXPECT_EQ(init->InitializeDevices("../Outside"), E_FAIL);
    EXPECT_EQ(init->InitializeRemoteCodes("Unlisted", "Tordel"), E_FAIL);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("CBurnix::InitializeDevices: driver name refused"), std::string::npos) << err;
    EXPECT_NE(err.find("CBurnix::InitializeRemoteCodes: driver \"Unlisted\" refused"), std::string::npos) << err;
    for (IUnknown* u : std::initializer_list<IUnknown*>{burn, init}) u->Release();
}

TEST_F(ComponentTest, ServerLifetimeAndFactory) {
    EXPECT_EQ(server_.canUnloadNow(), S_OK);
    IClassFactory* factory = nullptr;
    void* none = nullptr;
    EXPECT_EQ(server_.getClassObject(IID_IBurnix, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(server_.getClassObject(CLSID_Burnix, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown, &none), CLASS_E_NOAGGREGATION);
    IUnknown* object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    EXPECT_EQ(server_.canUnloadNow(), S_FALSE);
    factory->LockServer(TRUE);
    object->Release();
    EXPECT_EQ(server_.canUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(server_.canUnloadNow(), S_OK);
    factory->Release();
}

TEST_F(ComponentTest, RegisteredClassIsCreatable) {
    ASSERT_EQ(server_.registerServer(), S_OK);
    CLSID clsid{};
    ASSERT_EQ(ombra::platform::clsidFromProgId("Tarvik.SelkanKLBurnix.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Burnix);
    IBurnixBurn* burn = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_Burnix, nullptr, CLSCTX_INPROC_SERVER, IID_IBurnixBurn, reinterpret_cast<void**>(&burn)), S_OK);
    burn->Release();
}
