// The installer program itself, in its scripted mode (with the pauses it
// takes as the wizard does): install, burn with the installed Ombra -av on
// the installed simulator, uninstall, and nothing is left.
#include <gtest/gtest.h>

#include "installed_rig.h"

namespace ombra::installtest {
namespace {

TEST(ScriptedInstaller, InstallsAWorkingSystemAndItsUninstallLeavesNothing)
{
    Scratch scratch;
    const fs::path d = scratch.destination();
    std::string output;
    const int status = runShell(std::string("'") + OMBRA_INSTALLER_PATH + "' --unattended --dest '" + d.string() + "'",
                                &output);
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(output.rfind("Ombra Installation Log \n ---------------------------\nBeginning installation:\n", 0), 0u)
        << output;
    EXPECT_NE(output.find("\n\tExtracting file Ombra : "), std::string::npos) << output;
    EXPECT_NE(output.find("\nInstallation complete.\n"), std::string::npos) << output;
    EXPECT_TRUE(fs::exists(scratch.desktop() / "Ombra v0.37.desktop"));

    burnWithInstalledOmbra(scratch, d);

    std::string uninstall;
    EXPECT_EQ(runUninstall(d, uninstall), 0) << uninstall;
    EXPECT_EQ(leftovers(scratch, d), std::vector<std::string>{}) << uninstall;
}

}  // namespace
}  // namespace ombra::installtest
