#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "ombra/common/registration.h"
#include "ombra/platform/com.h"
#include "ombra/platform/process.h"
#include "temp_registry.h"

using namespace ombra;

namespace {

// {D9A7D76B-49B7-4EAD-AB9E-34D9862264C4}
constexpr CLSID kCobalt = {0xD9A7D76B, 0x49B7, 0x4EAD, {0xAB, 0x9E, 0x34, 0xD9, 0x86, 0x22, 0x64, 0xC4}};
// {79B937E4-1F15-415E-9117-5F4332F1A327}
constexpr CLSID kNickel = {0x79B937E4, 0x1F15, 0x415E, {0x91, 0x17, 0x5F, 0x43, 0x32, 0xF1, 0xA3, 0x27}};
constexpr const char* kCobaltText = "{D9A7D76B-49B7-4EAD-AB9E-34D9862264C4}";
constexpr const char* kNickelText = "{79B937E4-1F15-415E-9117-5F4332F1A327}";

std::string value(HKEY root, const std::string& path, const char* name, DWORD* typeOut = nullptr) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "<no key>";
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    const LONG r = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(k);
    if (typeOut != nullptr) *typeOut = type;
    return r == ERROR_SUCCESS ? std::string(data) : "<no value>";
}

bool keyExists(HKEY root, const std::string& path) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

std::vector<std::string> subkeys(HKEY root, const std::string& path) {
    std::vector<std::string> out;
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return out;
    for (DWORD i = 0;; ++i) {
        char name[300];
        DWORD n = sizeof name;
        if (RegEnumKeyExA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        out.emplace_back(name);
    }
    RegCloseKey(k);
    return out;
}

// The Programmers key as "name=data" pairs in enumeration order.
std::vector<std::string> programmers() {
    std::vector<std::string> out;
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProgrammersKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return out;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD n = sizeof name;
        char data[256] = {};
        DWORD d = sizeof data - 1;
        DWORD type = 0;
        if (RegEnumValueA(k, i, name, &n, nullptr, &type, reinterpret_cast<BYTE*>(data), &d) != ERROR_SUCCESS) break;
        out.push_back(std::string(name) + "=" + data);
    }
    RegCloseKey(k);
    return out;
}

void setProgrammer(const char* name, DWORD type, const std::string& data) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProgrammersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size() + 1));
    RegCloseKey(k);
}

void deleteProgrammer(const char* name) {
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProgrammersKey, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    RegDeleteValueA(k, name);
    RegCloseKey(k);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct RegistrationTest : ::testing::Test {
    TempRegistry reg;
    const std::string classKey = std::string("CLSID\\") + kCobaltText;

    void registerCobalt(const char* threading = "Both") {
        registerComponent(nullptr, kCobalt, "Tarvik Selkan K/L SST Burnix", "Tarvik.SelkanKLCobalt",
                          "Tarvik.SelkanKLCobalt.1", threading);
    }
};

}  // namespace

TEST_F(RegistrationTest, WritesEveryClassAndProgIdKey) {
    registerCobalt();
    DWORD type = 0;
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, classKey, nullptr, &type), "Tarvik Selkan K/L SST Burnix");
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", nullptr), GetProgramPath())
        << "the module this code is linked into";
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "ThreadingModel"), "Both");
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, classKey + "\\ProgID", nullptr), "Tarvik.SelkanKLCobalt.1");
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, classKey + "\\VersionIndependentProgID", nullptr), "Tarvik.SelkanKLCobalt");
    EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT, classKey),
              (std::vector<std::string>{"InprocServer32", "ProgID", "VersionIndependentProgID"}));
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, "Tarvik.SelkanKLCobalt", nullptr), "Tarvik Selkan K/L SST Burnix");
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, "Tarvik.SelkanKLCobalt\\CLSID", nullptr), kCobaltText);
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, "Tarvik.SelkanKLCobalt\\CurVer", nullptr), "Tarvik.SelkanKLCobalt.1");
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, "Tarvik.SelkanKLCobalt.1", nullptr), "Tarvik Selkan K/L SST Burnix");
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, "Tarvik.SelkanKLCobalt.1\\CLSID", nullptr), kCobaltText);

    CLSID found{};
    ASSERT_EQ(platform::clsidFromProgId("Tarvik.SelkanKLCobalt", &found), S_OK);
    EXPECT_EQ(found, kCobalt);

    // Again: the same values, nothing doubled.
    const std::string before = readFile(reg.file("HKEY_CLASSES_ROOT.reg"));
    registerCobalt();
    EXPECT_EQ(readFile(reg.file("HKEY_CLASSES_ROOT.reg")), before);
}

TEST_F(RegistrationTest, NoThreadingModelWhenNotMarked) {
    registerCobalt(nullptr);
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "ThreadingModel"), "<no value>");
    EXPECT_NE(value(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", nullptr), "<no value>");
}

TEST_F(RegistrationTest, UnregisterRemovesTheKeysAndLeavesTheProgrammersList) {
    registerCobalt();
    addToProgrammersList(kCobalt);
    ::testing::internal::CaptureStderr();
    unregisterComponent(kCobalt, "Tarvik.SelkanKLCobalt", "Tarvik.SelkanKLCobalt.1");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, classKey));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, "Tarvik.SelkanKLCobalt"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, "Tarvik.SelkanKLCobalt.1"));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, "CLSID"));
    EXPECT_EQ(programmers(), (std::vector<std::string>{std::string("0=") + kCobaltText}));
}

TEST_F(RegistrationTest, UnregisteringWhatWasNeverRegisteredChangesNothing) {
    registerComponent(nullptr, kNickel, "other", "Tarvik.Other", "Tarvik.Other.1", "Both");
    const std::string before = readFile(reg.file("HKEY_CLASSES_ROOT.reg"));
    ::testing::internal::CaptureStderr();
    unregisterComponent(kCobalt, "Tarvik.SelkanKLCobalt", "Tarvik.SelkanKLCobalt.1");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "missing keys are no failed check";
    EXPECT_EQ(readFile(reg.file("HKEY_CLASSES_ROOT.reg")), before);
}

TEST_F(RegistrationTest, WithALocalServerOnlyTheInprocServerGoes) {
    registerCobalt();
    ASSERT_TRUE(writeClassesRootValue(classKey.c_str(), "LocalServer32", "/usr/bin/server", nullptr));
    EXPECT_TRUE(classesRootKeyExists(classKey.c_str(), "LocalServer32"));
    unregisterComponent(kCobalt, "Tarvik.SelkanKLCobalt", "Tarvik.SelkanKLCobalt.1");
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32"));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, classKey + "\\LocalServer32"));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, classKey + "\\ProgID"));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, "Tarvik.SelkanKLCobalt.1"));
}

TEST_F(RegistrationTest, DeleteKeyTreeTakesEverythingBelow) {
    for (const char* sub : {"a\\b\\c", "a\\b\\d", "a\\e", "keep"}) ASSERT_TRUE(writeClassesRootValue("T", sub, "v", nullptr));
    EXPECT_EQ(deleteKeyTree(HKEY_CLASSES_ROOT, "T\\a"), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT, "T"), (std::vector<std::string>{"keep"}));
    EXPECT_EQ(deleteKeyTree(HKEY_CLASSES_ROOT, "T\\a"), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(classesRootKeyExists("T", "a"));
}

TEST_F(RegistrationTest, ProgrammersListTakesEachClassOnce) {
    addToProgrammersList(kCobalt);
    addToProgrammersList(kCobalt);
    EXPECT_EQ(programmers(), (std::vector<std::string>{std::string("0=") + kCobaltText}));
    addToProgrammersList(kNickel);
    EXPECT_EQ(programmers(), (std::vector<std::string>{std::string("0=") + kCobaltText, std::string("1=") + kNickelText}));

    // Listed in another spelling, beside values that are not class ids.
    deleteProgrammer("0");
    deleteProgrammer("1");
    setProgrammer("x", REG_SZ, "not a guid");
    setProgrammer("y", REG_BINARY, kCobaltText);
    setProgrammer("z", REG_SZ, "{d9a7d76b-49b7-4ead-ab9e-34d9862264c4}");
    addToProgrammersList(kCobalt);
    EXPECT_EQ(programmers().size(), 3u);
}

TEST_F(RegistrationTest, ProgrammersListNeverOverwritesAnEntry) {
    setProgrammer("0", REG_SZ, kNickelText);
    setProgrammer("1", REG_SZ, "{C23AA42F-1789-4D22-9BD1-2B5F4D8985AE}");
    deleteProgrammer("0");  // by hand: one value "1" left
    addToProgrammersList(kCobalt);
    EXPECT_EQ(programmers(), (std::vector<std::string>{"1={C23AA42F-1789-4D22-9BD1-2B5F4D8985AE}",
                                                        std::string("2=") + kCobaltText}));
}

TEST_F(RegistrationTest, ClsidTextAndTheBufferCheck) {
    char text[CLSID_STRING_SIZE];
    ASSERT_TRUE(clsidToText(kCobalt, text, sizeof text));
    EXPECT_STREQ(text, kCobaltText);

    char small[12];
    std::memset(small, '#', sizeof small);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(clsidToText(kCobalt, small, sizeof small));
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string(small), std::string(kCobaltText).substr(0, sizeof small - 1)) << "cut, never overrun";
#ifndef NDEBUG
    EXPECT_NE(report.find("registry("), std::string::npos) << report;
    EXPECT_NE(report.find("length >= CLSID_STRING_SIZE"), std::string::npos) << report;
#else
    EXPECT_EQ(report, "");
#endif
}
