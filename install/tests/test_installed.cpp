// This build's deliverables installed by the installation core (no pauses),
// then used as installed: registrations, a burn through the installed
// ombra-cli and the installed Ombra -av on the installed simulator, a
// reinstall, and the installed uninstall.sh, which leaves nothing.
#include <gtest/gtest.h>

#include "install_table.h"
#include "installed_rig.h"

namespace ombra::installtest {
namespace {

using namespace ombra::install;

class Installed : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!payload.carries(140) || !payload.carries(131)) GTEST_SKIP() << "no deliverables in " << runDir();
    }
    bool install()
    {
        RecordingObserver observer;
        Installation installation(allChoices(scratch), testEnvironment(scratch, payload), observer);
        bool complete = installation.runInstallation();
        log = observer.log();
        return complete;
    }
    fs::path d() const { return scratch.destination(); }

    Scratch scratch;
    MemoryPayload payload = buildPayload();
    std::string log;
};

TEST_F(Installed, RegistersBurnsAndUninstallsWithoutATrace)
{
    ASSERT_TRUE(install()) << log;
    const std::string machine = scratch.hive("HKEY_LOCAL_MACHINE");
    for (const char* worker : {"Wexom", "Tordel", "Quasp", "Lunet"})
        EXPECT_NE(machine.find("\"" + std::string(worker) + "\"=\"" + (d() / worker).string() + "\""),
                  std::string::npos)
            << worker << "\n" << machine;
    const std::string classes = scratch.hive("HKEY_CLASSES_ROOT");
    for (const char* component : {"SelkanBoot.so", "Burnix.so", "Cobalt.so", "Copper.so", "Nickel.so"})
        EXPECT_NE(classes.find("@=\"" + (d() / component).string() + "\""), std::string::npos) << component;
    EXPECT_NE(machine.find("\"0\"=\"{D9A7D76B-49B7-4EAD-AB9E-34D9862264C4}\""), std::string::npos) << machine;

    burnWithInstalledCli(scratch, d());
    if (payload.carries(136)) {
        burnWithInstalledOmbra(scratch, d());
    } else {
        ADD_FAILURE() << "this build has no Ombra: the installed front end's run is not tested";
    }

    std::string output;
    EXPECT_EQ(runUninstall(d(), output), 0) << output;
    auto lines = outputLines(output);
    auto first = std::find(lines.begin(), lines.end(), "Uninstalling Ombra...");
    ASSERT_NE(first, lines.end()) << output;
    EXPECT_EQ(*(first + 1), "Uninstalling Ombra...");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Uninstalling SelkanBoot..."), lines.end());
    EXPECT_EQ(leftovers(scratch, d()), std::vector<std::string>{}) << output;
}

TEST_F(Installed, AReinstallWritesLocationsAndProgrammersAgainAndDropsTheTraceSettings)
{
    ASSERT_TRUE(install()) << log;
    {
        std::string output;
        ASSERT_EQ(runShell("'" + (d() / "reg").string() +
                               "' add 'HKLM\\Software\\Tarvik\\Ombra\\Debug\\Wexom' /v fTraceEnabled /t REG_DWORD /d 1",
                           &output),
                  0)
            << output;
    }
    ASSERT_NE(scratch.hive("HKEY_LOCAL_MACHINE").find("fTraceEnabled"), std::string::npos);
    ASSERT_TRUE(install()) << log;
    EXPECT_NE(log.find("\nError creating start menu folder\nError: File exists\nStart menu shortcut not created."),
              std::string::npos)
        << log;
    const std::string machine = scratch.hive("HKEY_LOCAL_MACHINE");
    EXPECT_EQ(machine.find("fTraceEnabled"), std::string::npos);
    EXPECT_NE(machine.find("\"Tordel\"=\"" + (d() / "Tordel").string() + "\""), std::string::npos);
    EXPECT_NE(machine.find("\"2\"=\"{79B937E4-1F15-415E-9117-5F4332F1A327}\""), std::string::npos) << machine;
    std::string output;
    EXPECT_EQ(runUninstall(d(), output), 0) << output;
    EXPECT_EQ(leftovers(scratch, d()), std::vector<std::string>{}) << output;
}

TEST_F(Installed, AnUninstallKeepsWhatTheUserPutIntoTheFolder)
{
    InstallChoices choices = allChoices(scratch);
    choices.components = {kTordel, kCobalt};
    RecordingObserver observer;
    Installation installation(choices, testEnvironment(scratch, payload), observer);
    ASSERT_TRUE(installation.runInstallation()) << observer.log();
    writeText(d() / "my-image.bin", "mine");
    writeText(d() / "Drivers/Custom/Custom.cfg", "mine");
    std::string output;
    runUninstall(d(), output);
    EXPECT_EQ(listTree(d()), (std::vector<std::string>{"Drivers", "Drivers/Custom", "Drivers/Custom/Custom.cfg",
                                                       "my-image.bin"}))
        << output;
    fs::remove_all(d());
    EXPECT_EQ(leftovers(scratch, d()), std::vector<std::string>{}) << output;
}

}  // namespace
}  // namespace ombra::installtest
