// The UNINSTALL command against the registry.
#include <gtest/gtest.h>

#include "ombra/frontend/profile.h"
#include "ombra/frontend/uninstall.h"
#include "scratch.h"

using namespace ombra::frontend;
using namespace ombra::frontend::test;

namespace {

const std::string kList = kUninstallKeyPath;
const std::string kMachine = "Software\\Tarvik\\Ombra";

struct Shown {
    std::string text, caption;
    DWORD type = 0;
};

void installEntry(const std::string& name)
{
    const std::string key = kList + "\\" + name;
    for (const char* v : {"DisplayName", "DisplayVersion", "InstallLocation", "UninstallPath", "UninstallString"})
        setText(HKEY_LOCAL_MACHINE, key, v, "x");
}

void installMachineKey()
{
    setText(HKEY_LOCAL_MACHINE, kMachine + "\\Locations", "Tordel", "/opt/Tordel");
    setDword(HKEY_LOCAL_MACHINE, kMachine + "\\Comm\\COM1", "BaudRate", 115200);
    setDword(HKEY_LOCAL_MACHINE, kMachine + "\\Debug\\Ombra", "fTraceEnabled", 0);
    setText(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Other", "Keep", "me");
    setText(HKEY_LOCAL_MACHINE, kList + "\\Another Program", "DisplayName", "other");
}

std::vector<Shown> uninstall()
{
    std::vector<Shown> shown;
    runUninstall([&](const std::string& text, const std::string& caption, DWORD type) {
        shown.push_back({text, caption, type});
        return IDOK;
    });
    return shown;
}

void expectMachineKeyGoneAndTheRestKept()
{
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kMachine));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Other"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kList + "\\Another Program"));
}

}  // namespace

TEST(Uninstall, RemovesTheEntryTheInstallerWrote)
{
    for (const char* name : {"Ombra 0.34", "Ombra 1.01"}) {
        SCOPED_TRACE(name);
        Scratch scratch;
        installEntry(name);
        installMachineKey();
        EXPECT_TRUE(uninstall().empty());
        EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kList + "\\" + name));
        expectMachineKeyGoneAndTheRestKept();
    }
}

TEST(Uninstall, RemovesBothEntriesWhenBothExist)
{
    Scratch scratch;
    installEntry("Ombra 0.34");
    installEntry("Ombra 1.01");
    EXPECT_TRUE(uninstall().empty());
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kList + "\\Ombra 0.34"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kList + "\\Ombra 1.01"));
}

TEST(Uninstall, WithoutAnEntryTellsAndStillRemovesTheMachineKey)
{
    Scratch scratch;
    installMachineKey();
    const auto shown = uninstall();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Can't open uninstall key");
    EXPECT_EQ(shown[0].caption, "Error");
    EXPECT_EQ(shown[0].type, MB_OK | MB_ICONEXCLAMATION);
    expectMachineKeyGoneAndTheRestKept();

    // A second run has nothing left and only tells again.
    EXPECT_EQ(uninstall().size(), 1u);
}

TEST(Uninstall, LeavesTheUserProfile)
{
    Scratch scratch;
    installEntry("Ombra 0.34");
    installMachineKey();
    AppProfile profile("Tarvik", "Ombra");
    ASSERT_TRUE(profile.writeString("Settings", "SERIAL_PORT", "COM1"));
    uninstall();
    EXPECT_EQ(profile.getString("Settings", "SERIAL_PORT", ""), "COM1");
}
