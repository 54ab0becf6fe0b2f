#include "ombra/platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ombra-reg-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ::setenv("OMBRA_REGISTRY_DIR", dir_.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir_); }

    HKEY create(HKEY root, const char* path, REGSAM sam = KEY_ALL_ACCESS)
    {
        HKEY h = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        return h;
    }
    std::string file(const char* hive) const
    {
        std::ifstream in(dir_ + "/" + hive + ".reg", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void writeFile(const char* hive, const std::string& text) const
    {
        std::ofstream(dir_ + "/" + hive + ".reg", std::ios::binary) << text;
    }

    static std::vector<BYTE> bytes(std::string_view s) { return {s.begin(), s.end()}; }

    static LONG set(HKEY h, const char* name, DWORD type, const std::vector<BYTE>& data)
    {
        return RegSetValueExA(h, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    }
    static std::vector<BYTE> get(HKEY h, const char* name, DWORD* type = nullptr)
    {
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(h, name, nullptr, type, nullptr, &size), ERROR_SUCCESS) << name;
        std::vector<BYTE> data(size);
        EXPECT_EQ(RegQueryValueExA(h, name, nullptr, type, data.data(), &size), ERROR_SUCCESS) << name;
        data.resize(size);
        return data;
    }

    std::string dir_;
};

TEST_F(Registry, ValuesOfEveryTypeRoundTripByteForByte)
{
    std::vector<BYTE> big(1000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
    struct Case {
        const char* name;
        DWORD type;
        std::vector<BYTE> data;
    };
    const std::vector<Case> cases = {
        {"plain", REG_SZ, bytes(std::string_view("C:\\Ombra \"x\"\0", 13))},
        {"", REG_SZ, bytes(std::string_view("default\0", 8))},
        {"empty text", REG_SZ, bytes(std::string_view("\0", 1))},
        {"no terminator", REG_SZ, bytes("abc")},
        {"zero size", REG_SZ, {}},
        {"inner zero", REG_SZ, bytes(std::string_view("a\0b\0", 4))},
        {"line break", REG_SZ, bytes(std::string_view("a\r\nb\0", 5))},
        {"high bytes", REG_SZ, bytes(std::string_view("\xE9t\xE9\0", 4))},
        {"expand", REG_EXPAND_SZ, bytes(std::string_view("%HOME%\0", 7))},
        {"dword", REG_DWORD, {0x0a, 0, 0, 0x80}},
        {"short dword", REG_DWORD, {1, 2, 3}},
        {"binary", REG_BINARY, big},
        {"no bytes", REG_BINARY, {}},
        {"multi", REG_MULTI_SZ, bytes(std::string_view("a\0bc\0\0", 6))},
        {"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"odd \"name\" \\ here", 0x12345, {0xde, 0xad}},
    };
    HKEY h = create(HKEY_CURRENT_USER, "Software\\Tarvik\\Ombra\\Settings");
    for (const Case& c : cases) ASSERT_EQ(set(h, c.name, c.type, c.data), ERROR_SUCCESS) << c.name;
    std::string first = file("HKEY_CURRENT_USER");
    RegCloseKey(h);

    // Every read parses the file again, so this is the round trip.
    h = create(HKEY_CURRENT_USER, "Software\\Tarvik\\Ombra\\Settings", KEY_READ);
    for (const Case& c : cases) {
        DWORD type = 0;
        EXPECT_EQ(get(h, c.name, &type), c.data) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
    }
    RegCloseKey(h);

    // Readable forms where the data allows them, hex where it does not.
    EXPECT_NE(first.find("Windows Registry Editor Version 5.00\r\n"), std::string::npos);
    EXPECT_NE(first.find("[HKEY_CURRENT_USER\\Software\\Tarvik\\Ombra\\Settings]\r\n"), std::string::npos);
    EXPECT_NE(first.find("\"plain\"=\"C:\\\\Ombra \\\"x\\\"\"\r\n"), std::string::npos);
    EXPECT_NE(first.find("@=\"default\"\r\n"), std::string::npos);
    EXPECT_NE(first.find("\"dword\"=dword:8000000a\r\n"), std::string::npos);
    EXPECT_NE(first.find("\"no terminator\"=hex(1):61,62,63\r\n"), std::string::npos);
    EXPECT_NE(first.find("\"odd \\\"name\\\" \\\\ here\"=hex(12345):de,ad\r\n"), std::string::npos);

    // Writing again from what was read gives the same file.
    h = create(HKEY_CURRENT_USER, "Software\\Tarvik\\Ombra\\Settings");
    ASSERT_EQ(set(h, "plain", REG_SZ, cases[0].data), ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_EQ(file("HKEY_CURRENT_USER"), first);
}

TEST_F(Registry, NamesMatchWhateverTheCaseAndKeepTheirs)
{
    HKEY a = create(HKEY_LOCAL_MACHINE, "Software\\Tarvik");
    ASSERT_EQ(set(a, "sTraceFile", REG_SZ, bytes(std::string_view("x\0", 2))), ERROR_SUCCESS);
    HKEY b = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\tarvik", 0, KEY_ALL_ACCESS, &b), ERROR_SUCCESS);
    ASSERT_EQ(set(b, "STRACEFILE", REG_SZ, bytes(std::string_view("y\0", 2))), ERROR_SUCCESS);
    EXPECT_EQ(get(a, "stracefile"), bytes(std::string_view("y\0", 2)));

    DWORD disposition = 0;
    HKEY c = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\TARVIK", 0, nullptr, 0, KEY_READ, nullptr, &c,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

    char name[64];
    DWORD len = sizeof name;
    ASSERT_EQ(RegEnumValueA(a, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "sTraceFile");
    EXPECT_EQ(len, 10u);
    len = sizeof name;
    EXPECT_EQ(RegEnumValueA(a, 1, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    len = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Software");
    for (HKEY h : {a, b, c}) RegCloseKey(h);
}

TEST_F(Registry, EnumerationFollowsCreationOrder)
{
    HKEY h = create(HKEY_LOCAL_MACHINE, "Order");
    for (const char* k : {"Zeta", "alpha", "Mid"}) RegCloseKey(create(h, k));
    for (const char* v : {"9", "1", "5"}) ASSERT_EQ(set(h, v, REG_BINARY, {1}), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(h, "1"), ERROR_SUCCESS);
    ASSERT_EQ(set(h, "1", REG_BINARY, {1}), ERROR_SUCCESS);  // back at the end

    std::vector<std::string> keys, values;
    char name[32];
    DWORD len = sizeof name;
    for (DWORD i = 0; RegEnumKeyExA(h, i, name, &len, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, len = sizeof name)
        keys.emplace_back(name);
    len = sizeof name;
    for (DWORD i = 0; RegEnumValueA(h, i, name, &len, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, len = sizeof name)
        values.emplace_back(name);
    EXPECT_EQ(keys, (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
    EXPECT_EQ(values, (std::vector<std::string>{"9", "5", "1"}));
    RegCloseKey(h);
}

TEST_F(Registry, ShortBuffersReportTheSizeNeeded)
{
    HKEY h = create(HKEY_LOCAL_MACHINE, "Sizes");
    ASSERT_EQ(set(h, "longer-name", REG_SZ, bytes(std::string_view("0123456789\0", 11))), ERROR_SUCCESS);
    RegCloseKey(create(h, "SubKeyName"));

    BYTE buf[64];
    DWORD size = 4, type = 0;
    EXPECT_EQ(RegQueryValueExA(h, "longer-name", nullptr, &type, buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(type, REG_SZ);
    size = 0;
    EXPECT_EQ(RegQueryValueExA(h, "longer-name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 11u);
    size = sizeof buf;
    EXPECT_EQ(RegQueryValueExA(h, "missing", nullptr, nullptr, buf, &size), ERROR_FILE_NOT_FOUND);

    // A name needs room for its terminator.
    char name[11];
    DWORD nameLen = sizeof name, dataLen = sizeof buf;
    EXPECT_EQ(RegEnumValueA(h, 0, name, &nameLen, nullptr, &type, buf, &dataLen), ERROR_MORE_DATA);
    EXPECT_EQ(nameLen, 11u);
    nameLen = 12;
    char bigger[12];
    dataLen = 10;
    EXPECT_EQ(RegEnumValueA(h, 0, bigger, &nameLen, nullptr, &type, buf, &dataLen), ERROR_MORE_DATA);
    EXPECT_EQ(dataLen, 11u);
    EXPECT_STREQ(bigger, "longer-name");
    nameLen = 10;
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &nameLen, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(nameLen, 10u);
    nameLen = 11;
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &nameLen, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "SubKeyName");

    DWORD subKeys = 9, values = 9, maxKey = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &subKeys, &maxKey, nullptr, &values, &maxName, &maxData,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 1u);
    EXPECT_EQ(values, 1u);
    EXPECT_EQ(maxKey, 10u);
    EXPECT_EQ(maxName, 11u);
    EXPECT_EQ(maxData, 11u);
    RegCloseKey(h);
}

TEST_F(Registry, KeysAreDeletedOnlyWhenEmptyOfSubkeys)
{
    RegCloseKey(create(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32"));
    HKEY held = create(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32");
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExA(held, "v", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}"), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(held), ERROR_SUCCESS);

    RegCloseKey(create(HKEY_CLASSES_ROOT, "Tree\\A\\B\\C"));
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "tree"), ERROR_SUCCESS);
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Tree", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
}

TEST_F(Registry, HandlesAndArgumentsAreChecked)
{
    HKEY h = create(HKEY_LOCAL_MACHINE, "Checked", KEY_READ);
    EXPECT_EQ(set(h, "v", REG_DWORD, {1, 0, 0, 0}), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);

    HKEY out = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "A\\\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, std::string(256, 'k').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &out, nullptr),
              ERROR_INVALID_PARAMETER);
    h = create(HKEY_LOCAL_MACHINE, "Checked");
    EXPECT_EQ(set(h, "two\nlines", REG_SZ, {0}), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(h, "v", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    RegCloseKey(h);
    // Nothing of the refused calls reached the file.
    EXPECT_EQ(file("HKEY_LOCAL_MACHINE").find("two"), std::string::npos);
}

TEST_F(Registry, HandEditedFileIsRead)
{
    writeFile("HKEY_LOCAL_MACHINE",
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
              "; edited by hand\n"
              "[hkey_local_machine\\Software\\Tarvik\\Ombra\\Debug\\Wexom]\n"
              "\"fTraceEnabled\" = dword:1\n"
              "\"blob\"=hex:01,02,\\\n"
              "   03,04\n"
              "@=\"d\"\n");
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra\\Debug\\Wexom", 0, KEY_READ, &h),
              ERROR_SUCCESS);
    EXPECT_EQ(get(h, "fTraceEnabled"), (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(get(h, "blob"), (std::vector<BYTE>{1, 2, 3, 4}));
    EXPECT_EQ(get(h, nullptr), bytes(std::string_view("d\0", 2)));
    RegCloseKey(h);
}

TEST_F(Registry, BrokenHiveIsReportedAndNeverOverwritten)
{
    const std::string broken = "Windows Registry Editor Version 5.00\r\n"
                               "\r\n"
                               "[HKEY_LOCAL_MACHINE\\Software]\r\n"
                               "\"path\"=\"C:\\Ombra\"\r\n";  // single backslash
    writeFile("HKEY_LOCAL_MACHINE", broken);
    ::testing::internal::CaptureStderr();
    HKEY h = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                              nullptr),
              ERROR_BADDB);
    EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_BINARY, nullptr, 0), ERROR_BADDB);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software"), ERROR_BADDB);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(file("HKEY_LOCAL_MACHINE"), broken);
    EXPECT_NE(err.find(dir_ + "/HKEY_LOCAL_MACHINE.reg"), std::string::npos) << err;
    EXPECT_NE(err.find("line 4"), std::string::npos) << err;
    // Once per file, not once per call.
    EXPECT_EQ(err.find("line 4"), err.rfind("line 4")) << err;

    // Other hives are unaffected.
    HKEY u = create(HKEY_CURRENT_USER, "Software");
    EXPECT_NE(u, nullptr);
    RegCloseKey(u);
}

TEST_F(Registry, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int kEach = 200;
    RegCloseKey(create(HKEY_LOCAL_MACHINE, "Shared"));
    auto writeAll = [](const char* prefix) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Shared", 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS) return false;
        bool ok = true;
        for (int i = 0; i < kEach; ++i) {
            std::string name = prefix + std::to_string(i);
            DWORD v = static_cast<DWORD>(i);
            ok = RegSetValueExA(h, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) == ERROR_SUCCESS && ok;
        }
        RegCloseKey(h);
        return ok;
    };
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(writeAll("child") ? 0 : 1);
    bool parentOk = writeAll("parent");
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(parentOk);

    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Shared", 0, KEY_READ, &h), ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 2u * kEach);
    for (const char* prefix : {"child", "parent"}) {
        for (int i = 0; i < kEach; ++i) {
            std::string name = prefix + std::to_string(i);
            EXPECT_EQ(get(h, name.c_str()), (std::vector<BYTE>{static_cast<BYTE>(i), 0, 0, 0})) << name;
        }
    }
    RegCloseKey(h);
}

TEST_F(Registry, ThreadsWritingAtOnceLoseNothing)
{
    constexpr int kThreads = 4, kEach = 40;
    HKEY h = create(HKEY_CURRENT_USER, "Threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([h, t] {
            for (int i = 0; i < kEach; ++i) {
                std::string name = std::to_string(t) + "-" + std::to_string(i);
                RegSetValueExA(h, name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(&t), 1);
            }
        });
    }
    for (auto& th : threads) th.join();
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(kThreads * kEach));
    RegCloseKey(h);
}

}  // namespace
