// The program as a production line runs it: "Ombra -av -s PORT -f IMAGE -l
// REPORT" with no display, against selkan-sim, its report read line by line.
#include <gtest/gtest.h>

#include <QRegularExpression>

#include "gui_rig.h"
#include "ombra/frontend/profile.h"
#include "ombra/platform/registry.h"
#include "ombra/testsupport/child_process.h"

using namespace ombra;
using namespace ombra::guitest;

namespace {

struct OmbraRun {
    int exitCode = -1;
    std::string report;
    std::string errors;
};

OmbraRun runOmbra(const Rig& rig, const std::vector<std::string>& arguments) {
    testsupport::ChildOptions options;
    options.folder = rig.folder();
    options.environment = {"QT_QPA_PLATFORM=offscreen", "OMBRA_MESSAGEBOX=no",
                           "OMBRA_REGISTRY_DIR=" + rig.folder() + "/registry"};
    options.errors = rig.file("ombra-errors.txt");
    OmbraRun r;
    const DWORD code = testsupport::runChild(runDir() + "/Ombra", arguments, 180000, options);
    if (code == STILL_ACTIVE) {
        ADD_FAILURE() << "Ombra did not end";
        return r;
    }
    // Killed by a signal reads as 128 + its number: not an exit of its own.
    r.exitCode = code < 128 ? static_cast<int>(code) : -1;
    const auto errors = readFile(options.errors);
    r.errors.assign(errors.begin(), errors.end());
    const auto bytes = readFile(rig.file("report.txt"));
    r.report.assign(bytes.begin(), bytes.end());
    return r;
}

std::vector<std::string> unattended(const Rig& rig, const char* mode = "-av") {
    return {"-s", rig.port(), "-f", rig.file("image.bin"), "-l", rig.file("report.txt"), mode};
}

// The report up to the lines the run adds.
std::string header(const Rig& rig, const char* action) {
    return " * Binary image file name : " + rig.file("image.bin") + " \r\n * Com port : " + rig.port() +
           " \r\n * Baud rate : 115200 \r\n * Action : " + action + " \r\n";
}

void expectStartLine(const std::string& report) {
    EXPECT_TRUE(QRegularExpression("^ \\* Burning started on : [^\r\n]+,[^\r\n]+ \r\n")
                    .match(QString::fromStdString(report))
                    .hasMatch())
        << report;
}

std::string afterFirstLine(const std::string& report) {
    const auto at = report.find("\r\n");
    return at == std::string::npos ? std::string() : report.substr(at + 2);
}

}  // namespace

TEST(Unattended, BurnAndVerifyWritesTheReportAndExitsZero) {
    Rig rig;
    rig.addCBusFile();
    const auto image = randomBytes(16384, 21);
    writeFile(rig.file("image.bin"), image);
    const OmbraRun r = runOmbra(rig, unattended(rig));
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    expectStartLine(r.report);
    EXPECT_EQ(afterFirstLine(r.report), header(rig, "burn and verify") +
                                            " * Detected flash type : SST SST39LF/VF160 \n * Result: \n\tOK");
    EXPECT_EQ(rig.stopBoardAndReadFlash(image.size()), image);
    // The run's choices are stored for the next start.
    frontend::AppProfile profile("Tarvik", "Ombra");
    EXPECT_EQ(profile.getString("Settings", "SERIAL_PORT", ""), rig.port());
    EXPECT_EQ(profile.getString("Settings", "MRU_IMAGE_FILE0", ""), rig.file("image.bin"));
    EXPECT_EQ(profile.getString("Settings", "CBUS_PATH", ""), "c_bus.txt");
}

TEST(Unattended, AMissingCBusFileUsesTheDefaultTableEachTime) {
    Rig rig;
    const auto image = randomBytes(4096, 22);
    writeFile(rig.file("image.bin"), image);
    const OmbraRun r = runOmbra(rig, unattended(rig, "-a"));
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    const std::string line = "Could not open cbus file. Using default table.\r\n";
    // Read anew for the identification and for the burn.
    EXPECT_EQ(afterFirstLine(r.report), header(rig, "burn (no verify)") + line +
                                            " * Detected flash type : SST SST39LF/VF160 \n" + line +
                                            " * Result: \n\tOK");
    EXPECT_EQ(rig.stopBoardAndReadFlash(image.size()), image);
}

TEST(Unattended, AnUnrecognisedFlashIsReportedAndTheRunFails) {
    Rig rig;
    rig.addCBusFile();
    rig.registerProgrammerWithDrivers({"Intel", "AMD"});
    writeFile(rig.file("image.bin"), randomBytes(4096, 23));
    const OmbraRun r = runOmbra(rig, unattended(rig));
    EXPECT_EQ(r.exitCode, 1) << r.errors;
    const std::string expected =
        header(rig, "burn and verify") + " * Result: \n\t WARNING : Flash device unrecognized, using default driver\n";
    EXPECT_EQ(afterFirstLine(r.report).rfind(expected, 0), 0u) << r.report << r.errors;
}

TEST(Unattended, AFailedVerificationIsTheResult) {
    // One byte of the image stream corrupted on its way to the board: the
    // flash holds a wrong byte, which only the verification can find.
    Rig rig({"--flash-time-scale", "0", "--fault", "in:corrupt:at=20000"});
    rig.addCBusFile();
    writeFile(rig.file("image.bin"), randomBytes(32768, 24));
    const OmbraRun r = runOmbra(rig, unattended(rig));
    EXPECT_EQ(r.exitCode, 1) << r.errors;
    const std::string expected = header(rig, "burn and verify") +
                                 " * Detected flash type : SST SST39LF/VF160 \n * Result: \n *\t";
    EXPECT_EQ(afterFirstLine(r.report).rfind(expected, 0), 0u) << r.report << r.errors;
    EXPECT_NE(r.report.find("Verification failed"), std::string::npos) << r.report << r.errors;
    EXPECT_EQ(r.report.find("\tOK"), std::string::npos);
}

TEST(Program, UninstallRemovesTheMachineKeyAndEitherUninstallEntry) {
    for (const char* entry : {"Ombra 0.34", "Ombra 1.01"}) {
        SCOPED_TRACE(entry);
        Rig rig({}, false);
        const std::string uninstall = std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + entry;
        {
            platform::RegKey key;
            ASSERT_EQ(key.create(HKEY_LOCAL_MACHINE, uninstall.c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
            const char name[] = "Ombra";
            RegSetValueExA(key.get(), "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name);
        }
        frontend::AppProfile profile("Tarvik", "Ombra");
        profile.writeString("Settings", "SERIAL_PORT", "/dev/ttyS0");
        const OmbraRun r = runOmbra(rig, {"UNINSTALL"});
        EXPECT_EQ(r.exitCode, 0) << r.errors;
        EXPECT_EQ(r.errors.find("Can't open uninstall key"), std::string::npos) << r.errors;
        platform::RegKey probe;
        EXPECT_NE(probe.open(HKEY_LOCAL_MACHINE, uninstall.c_str(), KEY_READ), ERROR_SUCCESS);
        EXPECT_NE(probe.open(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra", KEY_READ), ERROR_SUCCESS);
        EXPECT_EQ(profile.getString("Settings", "SERIAL_PORT", ""), "/dev/ttyS0");  // the user's own, kept
    }
}

TEST(Program, HelpAndVersion) {
    Rig rig({}, false);
    testsupport::ChildOptions options;
    options.output = rig.file("out.txt");
    auto output = [&] {
        const auto bytes = readFile(options.output);
        return std::string(bytes.begin(), bytes.end());
    };
    ASSERT_EQ(testsupport::runChild(runDir() + "/Ombra", {"--version"}, 20000, options), 0u);
    EXPECT_EQ(QString::fromStdString(output()).trimmed().toStdString(), "Ombra Version 1.01");
    ASSERT_EQ(testsupport::runChild(runDir() + "/Ombra", {"--help"}, 20000, options), 0u);
    EXPECT_NE(output().find("-av"), std::string::npos);
}
