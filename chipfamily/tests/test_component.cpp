// The three chip-family components through their exports: identities, the
// eleven-slot information face called through a plain vtable, the built-in
// tables and programs, server lifetime and registration.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "ombra/chipfamily/chipfamily.h"
#include "ombra/common/registration.h"
#include "ombra/platform/com.h"
#include "ombra/platform/module.h"
#include "ombra/platform/process.h"
#include "ombra/platform/registry.h"
#include "ombra/remote/images.h"

namespace fs = std::filesystem;

namespace {

struct FamilyCase {
    const char* module;
    const CLSID* clsid;
    const char* name;
    const char* description;
    const char* progId;
    ombra::remote::Family programs;
    DWORD loadAddress;
    DWORD devices;
};

const FamilyCase kCases[] = {
    {"Cobalt.so", &CLSID_Cobalt, "SST", "Tarvik Ombra SST Burnix", "Tarvik.SelkanKLCobalt.1", ombra::remote::Family::sst,
     0x300000, 7},
    {"Nickel.so", &CLSID_Nickel, "Intel", "Tarvik Ombra Intel Burnix", "Tarvik.SelkanKLNickel.1",
     ombra::remote::Family::intel, 0x340000, 8},
    {"Copper.so", &CLSID_Copper, "AMD", "Tarvik Ombra AMD Burnix", "Tarvik.SelkanKLCopper.1",
     ombra::remote::Family::amd, 0x340000, 28},
};

struct Server {
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
    DllRegisterServerFn registerServer = nullptr;
    DllUnregisterServerFn unregisterServer = nullptr;
};

std::string runDir() {
    const char* run = std::getenv("OMBRA_RUN_DIR");
    return run ? run : OMBRA_TEST_RUN_DIR;
}

const Server& server(const char* module) {
    static std::map<std::string, Server> servers;
    auto it = servers.find(module);
    if (it != servers.end()) return it->second;
    std::string error;
    auto* handle = ombra::platform::loadModule((runDir() + "/" + module).c_str(), error);
    if (!handle) throw std::runtime_error(error);
    Server s;
    s.getClassObject = reinterpret_cast<DllGetClassObjectFn>(ombra::platform::findSymbol(handle, "DllGetClassObject"));
    s.canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(ombra::platform::findSymbol(handle, "DllCanUnloadNow"));
    s.registerServer = reinterpret_cast<DllRegisterServerFn>(ombra::platform::findSymbol(handle, "DllRegisterServer"));
    s.unregisterServer =
        reinterpret_cast<DllUnregisterServerFn>(ombra::platform::findSymbol(handle, "DllUnregisterServer"));
    if (!s.getClassObject || !s.canUnloadNow || !s.registerServer || !s.unregisterServer)
        throw std::runtime_error(std::string("exports missing in ") + module);
    return servers.emplace(module, s).first->second;
}

fs::path privateRegistry(const std::string& tag) {
    const auto dir = fs::temp_directory_path() / ("chipfamily_" + tag + "_" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    ::setenv("OMBRA_REGISTRY_DIR", dir.c_str(), 1);
    return dir;
}

// Every test of this program writes into a private registry folder.
class RegistryEnvironment : public ::testing::Environment {
public:
    void SetUp() override { dir_ = privateRegistry("component"); }
    void TearDown() override { fs::remove_all(dir_); }
    static inline fs::path dir_;
};
const auto* const g_registry = ::testing::AddGlobalTestEnvironment(new RegistryEnvironment);

class ChipFamilyComponent : public ::testing::TestWithParam<FamilyCase> {
protected:

    template <class T>
    T* create(REFIID iid) {
        const Server& s = server(GetParam().module);
        IClassFactory* factory = nullptr;
        EXPECT_EQ(s.getClassObject(*GetParam().clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        T* object = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object)), S_OK);
        factory->Release();
        return object;
    }
};

template <class T>
T* query(IUnknown* u, REFIID iid) {
    T* p = nullptr;
    EXPECT_EQ(u->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
    return p;
}

void freeInfo(DeviceInfo* d) {
    CoTaskMemFree(d->manufacturerName);
    CoTaskMemFree(d->modelName);
    CoTaskMemFree(d);
}

// The information face as a C client sees it: eleven slots in this order.
struct InformationVtbl {
    HRESULT (*QueryInterface)(void*, REFIID, void**);
    ULONG (*AddRef)(void*);
    ULONG (*Release)(void*);
    HRESULT (*GetProgrammerName)(void*, char**);
    HRESULT (*GetVersionInformation)(void*, VersionInfo**);
    HRESULT (*EnumSupportedDevices)(void*, DWORD, DeviceInfo**);
    HRESULT (*Reserved6)(void*);
    HRESULT (*Reserved7)(void*);
    HRESULT (*Reserved8)(void*);
    HRESULT (*Reserved9)(void*, DWORD);
    HRESULT (*Reserved10)(void*, DWORD);
};

std::map<std::string, std::string> programmersList() {
    std::map<std::string, std::string> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra\\Programmers", 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[256];
        DWORD nameLen = sizeof name, dataLen = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS) break;
        values[name] = reinterpret_cast<char*>(data);
    }
    RegCloseKey(key);
    return values;
}

bool classesRootHas(const std::string& key) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

}  // namespace

TEST_P(ChipFamilyComponent, FacesAndIdentityWithoutInitialization) {
    auto* burn = create<IBurnixBurn>(IID_IBurnixBurn);
    auto* unknown = query<IUnknown>(burn, IID_IUnknown);
    auto* burnix = query<IBurnix>(burn, IID_IBurnix);
    auto* info = query<ombra::chipfamily::IBurnixInformation>(burn, IID_IBurnixInformation);
    auto* dump = query<IBurnixDump>(info, IID_IBurnixDump);
    auto* verify = query<IBurnixVerify>(dump, IID_IBurnixVerify);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(burn));
    EXPECT_EQ(static_cast<void*>(burnix), static_cast<void*>(burn));
    EXPECT_NE(static_cast<void*>(info), static_cast<void*>(burn));
    EXPECT_EQ(static_cast<void*>(query<IUnknown>(verify, IID_IUnknown)), static_cast<void*>(burn));

    // Ready at creation: no initialization face.
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(burn->QueryInterface(IID_IBurnixInitialization, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(burn->AddRef(), 8u);
    EXPECT_EQ(burn->Release(), 7u);
    for (IUnknown* u : std::initializer_list<IUnknown*>{unknown, burnix, info, dump, verify, verify, burn})
        u->Release();
    EXPECT_EQ(server(GetParam().module).canUnloadNow(), S_OK);
}

TEST_P(ChipFamilyComponent, InformationSlotsInOrder) {
    const FamilyCase& c = GetParam();
    auto* info = create<ombra::chipfamily::IBurnixInformation>(IID_IBurnixInformation);
    void* self = info;
    const InformationVtbl& v = **static_cast<InformationVtbl**>(self);

    char* name = nullptr;
    ASSERT_EQ(v.GetProgrammerName(self, &name), S_OK);
    EXPECT_STREQ(name, c.name);
    CoTaskMemFree(name);

    VersionInfo* version = nullptr;
    ASSERT_EQ(v.GetVersionInformation(self, &version), S_OK);
    EXPECT_STREQ(version->programmerName, c.name);
    EXPECT_STREQ(version->description, c.description);
    EXPECT_NE(std::string(version->notice), "");
    EXPECT_EQ(version->version, 55u);
    CoTaskMemFree(version->programmerName);
    CoTaskMemFree(version->description);
    CoTaskMemFree(version->notice);
    CoTaskMemFree(version);
    EXPECT_EQ(v.GetVersionInformation(self, nullptr), E_FAIL);

    // Only the low 16 bits of the index count.
    DeviceInfo* d = nullptr;
    ASSERT_EQ(v.EnumSupportedDevices(self, 0x10000, &d), S_OK);
    EXPECT_STREQ(d->manufacturerName, c.name);  // entry 0 is a part of the family's own maker
    freeInfo(d);
    ASSERT_EQ(v.EnumSupportedDevices(self, c.devices - 1, &d), S_OK);
    freeInfo(d);
    d = reinterpret_cast<DeviceInfo*>(1);
    EXPECT_EQ(v.EnumSupportedDevices(self, c.devices, &d), S_NO_MORE_ITEMS);
    EXPECT_EQ(d, reinterpret_cast<DeviceInfo*>(1));

    EXPECT_EQ(v.Reserved6(self), S_OK);
    EXPECT_EQ(v.Reserved7(self), E_NOTIMPL);
    EXPECT_EQ(v.Reserved8(self), S_OK);
    EXPECT_EQ(v.Reserved9(self, 1), E_NOTIMPL);
    EXPECT_EQ(v.Reserved10(self, 1), E_NOTIMPL);

    IUnknown* burn = nullptr;
    ASSERT_EQ(v.QueryInterface(self, IID_IBurnixBurn, reinterpret_cast<void**>(&burn)), S_OK);
    EXPECT_EQ(v.AddRef(self), 3u);
    EXPECT_EQ(v.Release(self), 2u);
    burn->Release();
    EXPECT_EQ(v.Release(self), 0u);
}

TEST_P(ChipFamilyComponent, BootCodesAreTheBuiltInPrograms) {
    const FamilyCase& c = GetParam();
    auto* burn = create<IBurnixBurn>(IID_IBurnixBurn);
    auto* dump = query<IBurnixDump>(burn, IID_IBurnixDump);
    auto* verify = query<IBurnixVerify>(burn, IID_IBurnixVerify);
    using Getter = std::function<HRESULT(BYTE**, DWORD*, WORD*)>;
    const std::pair<ombra::remote::Program, Getter> getters[] = {
        {ombra::remote::Program::identify, [&](BYTE** p, DWORD* a, WORD* n) { return burn->GetIdentificationBootCode(p, a, n); }},
        {ombra::remote::Program::burn, [&](BYTE** p, DWORD* a, WORD* n) { return burn->GetBurningBootCode(p, a, n); }},
        {ombra::remote::Program::dump, [&](BYTE** p, DWORD* a, WORD* n) { return dump->GetDumpBootCode(p, a, n); }},
        {ombra::remote::Program::verify, [&](BYTE** p, DWORD* a, WORD* n) { return verify->GetVerifyBootCode(p, a, n); }},
    };
    for (const auto& [program, get] : getters) {
        const auto expected = ombra::remote::builtinImage(c.programs, program);
        ASSERT_FALSE(expected.empty());
        BYTE* code = nullptr;
        DWORD address = 0;
        WORD length = 0;
        ASSERT_EQ(get(&code, &address, &length), S_OK);
        EXPECT_EQ(address, c.loadAddress);
        EXPECT_EQ(std::vector<std::uint8_t>(code, code + length),
                  std::vector<std::uint8_t>(expected.begin(), expected.end()));
        CoTaskMemFree(code);
        EXPECT_EQ(get(nullptr, &address, &length), E_FAIL);
        EXPECT_EQ(get(&code, &address, nullptr), E_FAIL);
    }
    verify->Release();
    dump->Release();
    burn->Release();
}

TEST_P(ChipFamilyComponent, RegistrationListsTheProgrammerOnce) {
    const FamilyCase& c = GetParam();
    const Server& s = server(c.module);
    char clsid[CLSID_STRING_SIZE];
    ASSERT_TRUE(ombra::clsidToText(*c.clsid, clsid, sizeof clsid));
    for (int i = 0; i < 2; ++i) ASSERT_EQ(s.registerServer(), S_OK);
    int listed = 0;
    for (const auto& [name, value] : programmersList()) listed += value == clsid;
    EXPECT_EQ(listed, 1);

    CLSID fromProgId{};
    ASSERT_EQ(ombra::platform::clsidFromProgId(c.progId, &fromProgId), S_OK);
    EXPECT_EQ(fromProgId, *c.clsid);
    IBurnixVerify* created = nullptr;
    ASSERT_EQ(CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBurnixVerify,
                               reinterpret_cast<void**>(&created)),
              S_OK);
    created->Release();

    ASSERT_EQ(s.unregisterServer(), S_OK);
    EXPECT_FALSE(classesRootHas(std::string("CLSID\\") + clsid));
    EXPECT_FALSE(classesRootHas(c.progId));
    listed = 0;
    for (const auto& [name, value] : programmersList()) listed += value == clsid;
    EXPECT_EQ(listed, 1);
}

INSTANTIATE_TEST_SUITE_P(Families, ChipFamilyComponent, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ChipFamilyServer, EachServesOnlyItsOwnClass) {
    void* none = nullptr;
    EXPECT_EQ(server("Cobalt.so").getClassObject(CLSID_Nickel, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(server("Copper.so").getClassObject(CLSID_Burnix, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
}

TEST(ChipFamilyServer, SelectionAndEnumerationLimitsDifferPerFamily) {
    auto make = [](const char* module, const CLSID& clsid) {
        IClassFactory* factory = nullptr;
        server(module).getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        ombra::chipfamily::IBurnixInformation* info = nullptr;
        factory->CreateInstance(nullptr, IID_IBurnixInformation, reinterpret_cast<void**>(&info));
        factory->Release();
        return info;
    };
    auto* cobalt = make("Cobalt.so", CLSID_Cobalt);
    auto* nickel = make("Nickel.so", CLSID_Nickel);
    auto* copper = make("Copper.so", CLSID_Copper);
    auto* cobaltBurn = query<IBurnix>(cobalt, IID_IBurnix);
    auto* nickelBurn = query<IBurnix>(nickel, IID_IBurnix);
    auto* copperBurn = query<IBurnix>(copper, IID_IBurnix);
    EXPECT_EQ(cobaltBurn->SetSelectedDevice(6), S_OK);
    EXPECT_EQ(cobaltBurn->SetSelectedDevice(7), E_FAIL);
    EXPECT_EQ(nickelBurn->SetSelectedDevice(7), S_OK);
    EXPECT_EQ(nickelBurn->SetSelectedDevice(8), E_FAIL);
    EXPECT_EQ(copperBurn->SetSelectedDevice(27), S_OK);
    EXPECT_EQ(copperBurn->SetSelectedDevice(28), E_FAIL);

    DeviceInfo* d = nullptr;
    EXPECT_EQ(copper->EnumSupportedDevices(28, &d), S_NO_MORE_ITEMS);
    // Codes that recur under several makers: maker and model together decide.
    const std::tuple<DWORD, WORD, WORD, const char*, const char*> entries[] = {
        {3, 0x52, 0x22DA, "Allience", "AS29LV800BT"},
        {19, 0xAD, 0x22DA, "Hynix", "HY29LV800T"},
        {22, 0x04, 0x22DA, "Fujitsu", "MBM29LV800TA"},
        {27, 0x04, 0x2239, "Fujitsu", "MBM29DL161BD"},
    };
    for (const auto& [index, maker, model, manufacturer, name] : entries) {
        ASSERT_EQ(copper->EnumSupportedDevices(index, &d), S_OK);
        EXPECT_EQ(d->manufacturerCode, maker);
        EXPECT_EQ(d->modelCode, model);
        EXPECT_STREQ(d->manufacturerName, manufacturer);
        EXPECT_STREQ(d->modelName, name);
        freeInfo(d);
    }
    for (IUnknown* u : std::initializer_list<IUnknown*>{cobaltBurn, nickelBurn, copperBurn, cobalt, nickel, copper}) u->Release();
}
