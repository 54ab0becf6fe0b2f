// Where the hives live: the machine and classes hives in the machine folder
// when it exists (a machine-wide installation), the user's hive always in
// the user's folder, and OMBRA_REGISTRY_DIR over all three.
#include "ombra/platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class RegistryFolders : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device seed;
        root_ = fs::temp_directory_path() / ("ombra-regdirs-" + std::to_string(seed()) + std::to_string(seed()));
        fs::create_directories(root_ / "home");
        ::unsetenv("OMBRA_REGISTRY_DIR");
        ::unsetenv("XDG_DATA_HOME");
        ::setenv("HOME", (root_ / "home").c_str(), 1);
        ::setenv("OMBRA_MACHINE_REGISTRY_DIR", machine().c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("OMBRA_MACHINE_REGISTRY_DIR");
        fs::remove_all(root_);
    }
    fs::path machine() const { return root_ / "machine"; }
    fs::path user() const { return root_ / "home/.local/share/ombra/registry"; }

    static void set(HKEY hive, const char* value)
    {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExA(hive, "Software\\Folders", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(k, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), 2), ERROR_SUCCESS);
        RegCloseKey(k);
    }
    static std::string get(HKEY hive)
    {
        HKEY k = nullptr;
        if (RegOpenKeyExA(hive, "Software\\Folders", 0, KEY_READ, &k) != ERROR_SUCCESS) return "<none>";
        char data[8] = {};
        DWORD size = sizeof data;
        LONG r = RegQueryValueExA(k, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(k);
        return r == ERROR_SUCCESS ? data : "<none>";
    }
    void writeAll()
    {
        set(HKEY_LOCAL_MACHINE, "m");
        set(HKEY_CLASSES_ROOT, "c");
        set(HKEY_CURRENT_USER, "u");
    }
    fs::path root_;
};

TEST_F(RegistryFolders, AnExistingMachineFolderHoldsTheMachineAndClassesHives)
{
    fs::create_directories(machine());
    writeAll();
    EXPECT_TRUE(fs::exists(machine() / "HKEY_LOCAL_MACHINE.reg"));
    EXPECT_TRUE(fs::exists(machine() / "HKEY_CLASSES_ROOT.reg"));
    EXPECT_FALSE(fs::exists(machine() / "HKEY_CURRENT_USER.reg"));
    EXPECT_TRUE(fs::exists(user() / "HKEY_CURRENT_USER.reg"));
    EXPECT_FALSE(fs::exists(user() / "HKEY_LOCAL_MACHINE.reg"));

    // Another user: another home, the same machine hives, a hive of his own.
    fs::create_directories(root_ / "other");
    ::setenv("HOME", (root_ / "other").c_str(), 1);
    EXPECT_EQ(get(HKEY_LOCAL_MACHINE), "m");
    EXPECT_EQ(get(HKEY_CLASSES_ROOT), "c");
    EXPECT_EQ(get(HKEY_CURRENT_USER), "<none>");
}

TEST_F(RegistryFolders, WithoutTheMachineFolderEveryHiveIsTheUsers)
{
    writeAll();
    EXPECT_FALSE(fs::exists(machine())) << "the folder is never made by the store";
    for (const char* hive : {"HKEY_LOCAL_MACHINE.reg", "HKEY_CLASSES_ROOT.reg", "HKEY_CURRENT_USER.reg"})
        EXPECT_TRUE(fs::exists(user() / hive)) << hive;
}

TEST_F(RegistryFolders, TheRegistryVariableOverridesAllThree)
{
    fs::create_directories(machine());
    ::setenv("OMBRA_REGISTRY_DIR", (root_ / "tests").c_str(), 1);
    writeAll();
    ::unsetenv("OMBRA_REGISTRY_DIR");
    for (const char* hive : {"HKEY_LOCAL_MACHINE.reg", "HKEY_CLASSES_ROOT.reg", "HKEY_CURRENT_USER.reg"})
        EXPECT_TRUE(fs::exists(root_ / "tests" / hive)) << hive;
    EXPECT_TRUE(fs::is_empty(machine()));
}

TEST_F(RegistryFolders, AMachineFolderNameThatIsAFileIsNotUsed)
{
    std::ofstream(machine()) << "not a folder";
    writeAll();
    EXPECT_TRUE(fs::exists(user() / "HKEY_LOCAL_MACHINE.reg"));
    EXPECT_EQ(get(HKEY_LOCAL_MACHINE), "m");
}

}  // namespace
