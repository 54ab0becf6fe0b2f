#include "ombra/platform/com.h"
#include "ombra/platform/module.h"
#include "ombra/platform/process.h"
#include "ombra/platform/registry.h"

#include "reg_tool.h"
#include "test_component.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Tools : public ::testing::Test {
protected:
    void SetUp() override
    {
        regsvr_ = OMBRA_REGSVR_PATH;
        std::string self = ombra::platform::modulePathOf(reinterpret_cast<const void*>(&readText));
        component_ = fs::path(self).parent_path() / kTestComponentFile;
        // Test cases run as parallel processes: the folder carries the process id.
        dir_ = fs::temp_directory_path() / ("ombra-tools-" + std::to_string(GetCurrentProcessId()) + "-" +
                                            std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(dir_);
        ::setenv("OMBRA_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs regsvr through the shell; gives its exit status.
    int regsvr(const std::string& args, const std::string& env = "")
    {
        std::string cmd = env + " '" + regsvr_.string() + "' " + args + " >'" + (dir_ / "out").string() + "' 2>'" +
                          (dir_ / "err").string() + "'; echo $? >'" + (dir_ / "rc").string() + "'";
        if (std::system(cmd.c_str()) != 0) return -1;
        out_ = readText(dir_ / "out");
        err_ = readText(dir_ / "err");
        return std::stoi(readText(dir_ / "rc"));
    }

    fs::path regsvr_, component_, dir_;
    std::string out_, err_;
};

TEST_F(Tools, RegsvrRegistersAndUnregisters)
{
    ASSERT_EQ(regsvr("'" + component_.string() + "'"), 0) << err_;
    EXPECT_NE(out_.find("DllRegisterServer"), std::string::npos);
    EXPECT_NE(out_.find("succeeded"), std::string::npos);

    CoInitialize(nullptr);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"Ombra.TestAdder.1", &clsid), S_OK);
    ITestAdder* adder = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ITestAdder, reinterpret_cast<void**>(&adder)),
              S_OK);
    LONG sum = 0;
    adder->Add(-1, 1, &sum);
    EXPECT_EQ(sum, 0);
    adder->Release();

    ASSERT_EQ(regsvr("/u /s '" + component_.string() + "'"), 0) << err_;
    EXPECT_EQ(out_, "");
    EXPECT_EQ(CLSIDFromProgID(L"Ombra.TestAdder.1", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_INPROC_SERVER, IID_ITestAdder,
                               reinterpret_cast<void**>(&adder)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();

    // The dash forms work as well.
    ASSERT_EQ(regsvr("-s '" + component_.string() + "'"), 0) << err_;
    ASSERT_EQ(CLSIDFromProgID(L"Ombra.TestAdder", &clsid), S_OK);
    ASSERT_EQ(regsvr("-U -S '" + component_.string() + "'"), 0) << err_;
    EXPECT_EQ(CLSIDFromProgID(L"Ombra.TestAdder", &clsid), CO_E_CLASSSTRING);
}

TEST_F(Tools, RegsvrFailuresExitNonZeroWithAMessage)
{
    EXPECT_EQ(regsvr("/s '" + (dir_ / "missing.so").string() + "'"), 3);
    EXPECT_NE(err_.find("missing.so"), std::string::npos) << err_;

    std::string platformLibrary = ombra::platform::modulePathOf(reinterpret_cast<const void*>(&RegCloseKey));
    EXPECT_EQ(regsvr("/s '" + platformLibrary + "'"), 4);
    EXPECT_NE(err_.find("DllRegisterServer"), std::string::npos) << err_;

    EXPECT_EQ(regsvr("/s '" + component_.string() + "'", "OMBRA_TEST_COMPONENT_FAIL=1"), 5);
    EXPECT_NE(err_.find("0x80004005"), std::string::npos) << err_;
    EXPECT_FALSE(fs::exists(dir_ / "registry" / "HKEY_CLASSES_ROOT.reg"));

    EXPECT_EQ(regsvr(""), 1);
    EXPECT_EQ(regsvr("/x '" + component_.string() + "'"), 1);
}

TEST_F(Tools, RegToolEditsAndLists)
{
    std::string out, err;
    using ombra::tools::regCommand;
    const std::string key = "HKLM\\Software\\Tarvik\\Ombra\\Debug\\Wexom";
    ASSERT_EQ(regCommand({"add", key, "/v", "fTraceEnabled", "/t", "REG_DWORD", "/d", "0x10"}, out, err), 0) << err;
    ASSERT_EQ(regCommand({"add", key, "/v", "sTraceFile", "/d", "/tmp/w.log"}, out, err), 0) << err;
    ASSERT_EQ(regCommand({"add", key, "/v", "b", "/t", "REG_BINARY", "/d", "00ff"}, out, err), 0) << err;
    EXPECT_EQ(regCommand({"add", key, "/v", "d", "/t", "REG_DWORD", "/d", "4294967296"}, out, err), 1);
    EXPECT_EQ(regCommand({"add", key, "/v", "b", "/t", "REG_BINARY", "/d", "0f0"}, out, err), 1);

    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra\\Debug\\Wexom", 0, KEY_READ, &h),
              ERROR_SUCCESS);
    DWORD v = 0, size = 4, type = 0;
    ASSERT_EQ(RegQueryValueExA(h, "fTraceEnabled", nullptr, &type, reinterpret_cast<BYTE*>(&v), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(v, 16u);
    char text[32];
    size = sizeof text;
    ASSERT_EQ(RegQueryValueExA(h, "sTraceFile", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 11u);  // with its terminator
    RegCloseKey(h);

    out.clear();
    ASSERT_EQ(regCommand({"query", "HKEY_LOCAL_MACHINE\\Software\\Tarvik\\Ombra\\Debug"}, out, err), 0) << err;
    EXPECT_EQ(out, "HKEY_LOCAL_MACHINE\\Software\\Tarvik\\Ombra\\Debug\n\n"
                   "HKEY_LOCAL_MACHINE\\Software\\Tarvik\\Ombra\\Debug\\Wexom\n");
    out.clear();
    ASSERT_EQ(regCommand({"query", key}, out, err), 0) << err;
    EXPECT_NE(out.find("    fTraceEnabled    REG_DWORD    0x10\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    sTraceFile    REG_SZ    /tmp/w.log\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    b    REG_BINARY    00FF\n"), std::string::npos) << out;

    ASSERT_EQ(regCommand({"delete", key, "/v", "b"}, out, err), 0) << err;
    err.clear();
    EXPECT_EQ(regCommand({"query", key, "/v", "b"}, out, err), 1);
    EXPECT_NE(err.find("unable to find"), std::string::npos);
    ASSERT_EQ(regCommand({"delete", "HKLM\\Software\\Tarvik"}, out, err), 0) << err;
    EXPECT_EQ(regCommand({"query", key}, out, err), 1);
    EXPECT_EQ(regCommand({"query", "HKXX\\Software"}, out, err), 1);
    EXPECT_EQ(regCommand({"delete", "HKLM"}, out, err), 1);
}

}  // namespace
