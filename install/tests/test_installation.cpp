// runInstallation and its steps with stand-in programs: every log line,
// progress value and outcome, the payload's decompression, the registry
// and the files it leaves; the scripted mode's command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "install_rig.h"
#include "install_table.h"
#include "ombra/platform/registry.h"
#include "scripted.h"

namespace ombra::installtest {
namespace {

using namespace ombra::install;

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::size_t indexOf(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

std::string registryText(HKEY root, const char* key, const char* name)
{
    ombra::platform::RegKey k;
    if (k.open(root, key, KEY_READ) != ERROR_SUCCESS) return "<no key>";
    char data[1024] = {};
    DWORD size = sizeof data, type = 0;
    if (RegQueryValueExA(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return "<no value>";
    EXPECT_EQ(type, REG_SZ);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(data[size - 1], '\0') << name << " is written with its terminating zero";
    return data;
}

bool keyExists(HKEY root, const char* key)
{
    ombra::platform::RegKey k;
    return k.open(root, key, KEY_READ) == ERROR_SUCCESS;
}

class Install : public ::testing::Test {
protected:
    bool run(const InstallChoices& choices)
    {
        Installation installation(choices, testEnvironment(scratch, payload, &pauses), observer);
        return installation.runInstallation();
    }
    std::vector<std::string> calls() const
    {
        std::vector<std::string> out;
        std::string text = readText(scratch.root() / "calls.txt");
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            out.push_back(text.substr(start, end - start));
        return out;
    }
    std::string d() const { return scratch.destination().string(); }

    Scratch scratch;
    MemoryPayload payload = standInPayload();
    RecordingObserver observer;
    int pauses = 0;
};

TEST_F(Install, EverythingSelectedRunsEveryStepInOrder)
{
    fs::create_directory(scratch.destination());
    ASSERT_TRUE(run(allChoices(scratch)));
    auto lines = observer.lines();
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Beginning installation:");
    EXPECT_EQ(lines[1], "Determining Windows version...");
    EXPECT_EQ(lines[2].rfind("Operating system is: ", 0), 0u);
    EXPECT_EQ(lines[3], "\tExtracting file Ombra : *OK");
    EXPECT_EQ(lines[4], "\tExtracting file Tordel : *OK");
    const std::size_t extracted = installFileTable().size();
    EXPECT_EQ(lines[3 + extracted - 1], "\tExtracting file Drivers/AMD/RemoteCode/RemoteDump.bin : *OK");
    const std::vector<std::string> rest = {
        "Finished decompressing files.",
        "Registering components...",
        "Registering service processes...",
        "\tTordel REGISTER",
        "\tLunet REGISTER",
        "\tWexom REGISTER",
        "\tQuasp REGISTER",
        "Retrieving system directory...",
        "System directory is " + d(),
        "Registering libraries",
        "\tSelkanBoot.so",
        "\tBurnix.so",
        "Registering flash drivers...",
        "\tCobalt.so",
        "\tCopper.so",
        "\tNickel.so",
        "Creating desktop shortcut...",
        "Creating desktop shortcut " + scratch.desktop().string() + "/Ombra v0.37.desktop",
        "Desktop shortcut created.",
        "Creating start menu shortcut...",
        "Creating system folder " + scratch.applications().string() + "/Tarvik Ombra v0.37",
        "Creating shourtcut " + scratch.applications().string() + "/Tarvik Ombra v0.37/Ombra v0.37.desktop",
        "Start menu shortcut created.",
        "Creating registry entries",
        "Creating uninstall script and system entry",
        "Installation complete.",
    };
    ASSERT_EQ(lines.size(), 3 + extracted + rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) EXPECT_EQ(lines[3 + extracted + i], rest[i]);

    EXPECT_EQ(observer.progress(), (std::vector<int>{10, 20, 60, 70, 80, 100}));
    EXPECT_EQ(observer.finishedCalls(), 1);
    EXPECT_TRUE(observer.complete());
    // One pause after each progress change and after each chunk.
    EXPECT_EQ(pauses, 6 + static_cast<int>(extracted));

    const std::vector<std::string> expectedCalls = {
        "Tordel REGISTER",
        "Lunet REGISTER",
        "Wexom REGISTER",
        "Quasp REGISTER",
        "regsvr /s " + d() + "/SelkanBoot.so",
        "regsvr /s " + d() + "/Burnix.so",
        "regsvr /s " + d() + "/Cobalt.so",
        "regsvr /s " + d() + "/Copper.so",
        "regsvr /s " + d() + "/Nickel.so",
    };
    EXPECT_EQ(calls(), expectedCalls);

    for (const InstallFileEntry& row : installFileTable()) {
        const fs::path file = scratch.destination() / row.fileName;
        ASSERT_TRUE(fs::exists(file)) << row.fileName;
        const bool executable = (fs::status(file).permissions() & fs::perms::owner_exec) != fs::perms::none;
        EXPECT_EQ(executable, row.program) << row.fileName;
    }
    EXPECT_EQ(readText(scratch.destination() / "c_bus.txt"), "contents of c_bus.txt\n");
    EXPECT_TRUE(listTree(scratch.temp()).empty()) << "the OmbraTMP files are removed";

    EXPECT_EQ(registryText(HKEY_CURRENT_USER, "Software\\Tarvik\\Ombra\\Settings", "CBUS_PATH"), d() + "/c_bus.txt");
    EXPECT_EQ(registryText(HKEY_CURRENT_USER, "Software\\Tarvik\\Ombra\\Settings", "MRU_C_BUS_FILE0"),
              d() + "/c_bus.txt");
    const char* entry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ombra 0.34";
    EXPECT_EQ(registryText(HKEY_LOCAL_MACHINE, entry, "DisplayName"), "Tarvik Ombra v0.37");
    EXPECT_EQ(registryText(HKEY_LOCAL_MACHINE, entry, "DisplayVersion"), "0.37");
    EXPECT_EQ(registryText(HKEY_LOCAL_MACHINE, entry, "InstallPath"), d());
    EXPECT_EQ(registryText(HKEY_LOCAL_MACHINE, entry, "UninstallPath"), d());
    EXPECT_EQ(registryText(HKEY_LOCAL_MACHINE, entry, "UninstallString"), d() + "/uninstall.sh");

    const fs::path script = scratch.destination() / "uninstall.sh";
    ASSERT_TRUE(fs::exists(script));
    EXPECT_NE(fs::status(script).permissions() & fs::perms::owner_exec, fs::perms::none);
    const std::string desktopEntry = readText(scratch.desktop() / "Ombra v0.37.desktop");
    EXPECT_NE(desktopEntry.find("Exec=\"" + d() + "/Ombra\"\n"), std::string::npos);
    EXPECT_NE(desktopEntry.find("Path=" + d() + "\n"), std::string::npos);
    const fs::path menu = scratch.applications() / "Tarvik Ombra v0.37";
    EXPECT_EQ(listTree(menu), (std::vector<std::string>{"Ombra v0.37.desktop", "Tarvik Ombra v0.37.directory"}));
}

TEST_F(Install, EmptySelectionInstallsTheUnconditionalFilesAndRegistersSelkanBoot)
{
    InstallChoices choices = allChoices(scratch);
    choices.components.clear();
    ASSERT_TRUE(run(choices));
    auto lines = observer.lines();
    for (const InstallFileEntry& row : installFileTable())
        EXPECT_EQ(fs::exists(scratch.destination() / row.fileName), !row.conditional) << row.fileName;
    for (const char* original : {"c_bus.txt", "Ombra_Application_Notes_0_2.html", "Pivra", "SelkanBoot.so"})
        EXPECT_TRUE(fs::exists(scratch.destination() / original)) << original;
    const std::size_t service = indexOf(lines, "Registering service processes...");
    ASSERT_LT(service + 1, lines.size());
    EXPECT_EQ(lines[service + 1], "Retrieving system directory...");
    const std::size_t flash = indexOf(lines, "Registering flash drivers...");
    ASSERT_LT(flash + 1, lines.size());
    EXPECT_EQ(lines[flash + 1], "Creating desktop shortcut...");
    EXPECT_TRUE(contains(lines, "\tSelkanBoot.so"));
    EXPECT_EQ(calls(), (std::vector<std::string>{"regsvr /s " + d() + "/SelkanBoot.so",
                                                 "regsvr /s " + d() + "/Burnix.so"}));
    const std::string script = readText(scratch.destination() / "uninstall.sh");
    EXPECT_NE(script.find("echo Uninstalling SelkanBoot...\n'" + d() + "/regsvr' /u /s '" + d() + "/SelkanBoot.so'\n"),
              std::string::npos);
    // The shortcut is made even without the front end.
    EXPECT_TRUE(fs::exists(scratch.desktop() / "Ombra v0.37.desktop"));
}

TEST_F(Install, ChunksOfAtMost8192BytesOneStarEach)
{
    struct Case {
        std::size_t size;
        const char* stars;
    };
    const Case cases[] = {{20000, "***OK"}, {8192, "*OK"}, {8193, "**OK"}, {0, "OK"}, {1, "*OK"}};
    for (const Case& c : cases) {
        Scratch fresh;
        MemoryPayload one;
        std::vector<std::uint8_t> data(c.size);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        one.add(132, gzipBytes(data));
        RecordingObserver log;
        int count = 0;
        InstallChoices choices = allChoices(fresh);
        fs::create_directory(choices.destination);
        Installation installation(choices, testEnvironment(fresh, one, &count), log);
        ASSERT_TRUE(installation.extractFiles()) << c.size;
        EXPECT_EQ(log.lines(), (std::vector<std::string>{std::string("\tExtracting file c_bus.txt : ") + c.stars}));
        EXPECT_EQ(readBytes(fresh.destination() / "c_bus.txt"), data) << c.size;
        EXPECT_EQ(count, static_cast<int>(std::string(c.stars).size()) - 2);
    }
}

MemoryPayload withResource(int id, std::vector<std::uint8_t> bytes)
{
    MemoryPayload payload = standInPayload();
    payload.add(id, std::move(bytes));
    return payload;
}

TEST_F(Install, DamagedResourcesFailTheDecompressionAndStopTheInstallation)
{
    std::vector<std::uint8_t> data(30000, 0x5A);
    std::vector<std::uint8_t> whole = gzipBytes(data);
    std::vector<std::uint8_t> truncated(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
    std::vector<std::uint8_t> badCrc = whole;
    badCrc[badCrc.size() - 6] ^= 0xFF;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {{"truncated", truncated}, {"wrong checksum", badCrc},
                          {"not gzip", bytesOf("plain text, no gzip header")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch fresh;
        payload = withResource(131, c.bytes);  // Tordel, the second row
        RecordingObserver log;
        InstallChoices choices = allChoices(fresh);
        Installation installation(choices, testEnvironment(fresh, payload), log);
        EXPECT_FALSE(installation.runInstallation());
        auto lines = log.lines();
        const std::size_t at = indexOf(lines, "File decompression failed.");
        ASSERT_LT(at, lines.size());
        ASSERT_GE(at, 2u);
        EXPECT_EQ(lines[at - 2].rfind("\tExtracting file Tordel : ", 0), 0u);
        const std::string error = lines[at - 1];
        EXPECT_EQ(error.rfind("Error decompressing file " + fresh.temp().string() + "/OmbraTMP", 0), 0u) << error;
        EXPECT_NE(error.find(" into file " + fresh.destination().string() + "/Tordel"), std::string::npos) << error;
        EXPECT_EQ(at + 1, lines.size()) << "nothing runs after a stop";
        EXPECT_FALSE(log.complete());
        EXPECT_EQ(log.finishedCalls(), 1);
        EXPECT_EQ(log.progress(), (std::vector<int>{10, 20}));
        // Files already written stay; the temporary copy does not.
        EXPECT_TRUE(fs::exists(fresh.destination() / "Ombra"));
        EXPECT_TRUE(listTree(fresh.temp()).empty());
    }
}

TEST_F(Install, AnEmptyResourceIsAFailureWithTheSystemsText)
{
    payload = withResource(140, {});
    EXPECT_FALSE(run(allChoices(scratch)));
    auto lines = observer.lines();
    const std::size_t at = indexOf(lines, "\tExtracting file SelkanBoot.so : ");
    ASSERT_LT(at + 2, lines.size());
    EXPECT_EQ(lines[at + 1], "Error: The specified resource name cannot be found in the image file.");
    EXPECT_EQ(lines[at + 2], "File decompression failed.");
}

TEST_F(Install, RowsTheBuildDidNotPackAreLeftOut)
{
    MemoryPayload partial;
    for (const InstallFileEntry& row : installFileTable()) {
        if (row.resourceId == 139 || row.resourceId == 136) continue;
        auto bytes = payload.resource(row.resourceId);
        partial.add(row.resourceId, {bytes.begin(), bytes.end()});
    }
    payload = std::move(partial);
    EXPECT_TRUE(run(allChoices(scratch)));
    EXPECT_FALSE(fs::exists(scratch.destination() / "Pivra"));
    EXPECT_FALSE(fs::exists(scratch.destination() / "Ombra"));
    EXPECT_FALSE(contains(observer.lines(), "\tExtracting file Pivra : *OK"));
}

TEST_F(Install, ReinstallDeletesTheMachineKeyAndLogsTheExistingMenuFolder)
{
    {
        ombra::platform::RegKey k;
        for (const char* key : {"Software\\Tarvik\\Ombra\\Locations", "Software\\Tarvik\\Ombra\\Programmers",
                                "Software\\Tarvik\\Ombra\\Debug\\Wexom"})
            ASSERT_EQ(k.create(HKEY_LOCAL_MACHINE, key, KEY_ALL_ACCESS), ERROR_SUCCESS);
        ASSERT_EQ(k.create(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Other", KEY_ALL_ACCESS), ERROR_SUCCESS);
    }
    fs::create_directories(scratch.applications() / "Tarvik Ombra v0.37");
    ASSERT_TRUE(run(allChoices(scratch)));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Other")) << "only the product's key goes";
    auto lines = observer.lines();
    const std::size_t at = indexOf(lines, "Error creating start menu folder");
    ASSERT_LT(at + 2, lines.size());
    EXPECT_EQ(lines[at + 1], "Error: File exists");
    EXPECT_EQ(lines[at + 2], "Start menu shortcut not created.");
    EXPECT_EQ(lines.back(), "Installation complete.");
    EXPECT_TRUE(observer.complete());
}

TEST_F(Install, AnUnreadableRegistryStopsBeforeAnyFileIsWritten)
{
    {
        ombra::platform::RegKey k;
        ASSERT_EQ(k.create(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra", KEY_ALL_ACCESS), ERROR_SUCCESS);
    }
    writeText(scratch.registry() / "HKEY_LOCAL_MACHINE.reg", "this is no registry file\n[broken\n");
    EXPECT_FALSE(run(allChoices(scratch)));
    auto lines = observer.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Error: The configuration registry database is corrupt.");
    EXPECT_EQ(lines.back(), "Error: Failed to access system registry.");
    EXPECT_EQ(observer.progress(), (std::vector<int>{10}));
    EXPECT_FALSE(fs::exists(scratch.destination() / "Ombra"));
}

TEST_F(Install, AFailedLibraryRegistrationStopsTheInstallation)
{
    ::setenv("OMBRA_TEST_REGSVR_STATUS", "3", 1);
    EXPECT_FALSE(run(allChoices(scratch)));
    auto lines = observer.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "\tSelkanBoot.so");
    EXPECT_EQ(lines[lines.size() - 2], "Error: " + d() + "/regsvr ended with status 3");
    EXPECT_EQ(lines.back(), "Component registration failed.");
    EXPECT_EQ(observer.progress(), (std::vector<int>{10, 20, 60}));
    EXPECT_FALSE(fs::exists(scratch.destination() / "uninstall.sh"));
}

TEST_F(Install, AWorkerThatCannotStartStopsTheInstallation)
{
    payload = withResource(131, gzipBytes(bytesOf("not a program")));
    EXPECT_FALSE(run(allChoices(scratch)));
    auto lines = observer.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "\tTordel REGISTER");
    EXPECT_EQ(lines[lines.size() - 2].rfind("Error: ", 0), 0u);
    EXPECT_EQ(lines.back(), "Component registration failed.");
}

TEST_F(Install, AMissingVersionIsLoggedAndTheInstallationGoesOn)
{
    InstallEnvironment env = testEnvironment(scratch, payload);
    std::vector<DWORD> sizes;
    env.getVersion = [&sizes](OSVERSIONINFOA* info) -> BOOL {
        sizes.push_back(info->dwOSVersionInfoSize);
        return FALSE;
    };
    Installation installation(allChoices(scratch), env, observer);
    EXPECT_TRUE(installation.runInstallation());
    EXPECT_EQ(sizes, (std::vector<DWORD>{156, 148}));
    auto lines = observer.lines();
    EXPECT_EQ(lines[2], "Cannot retrieve Windows version.");
    EXPECT_EQ(lines[3], "Operating system is: Unknown operating system");

    // The basic record answers when the extended one is refused.
    RecordingObserver second;
    env.getVersion = [](OSVERSIONINFOA* info) -> BOOL {
        if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return FALSE;
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
        info->dwMajorVersion = 5;
        info->dwMinorVersion = 1;
        return TRUE;
    };
    Installation again(allChoices(scratch), env, second);
    int index = -1;
    EXPECT_TRUE(again.detectWindowsVersion(index));
    EXPECT_STREQ(windowsVersionName(index), "Windows XP");
}

TEST_F(Install, AMissingDesktopFolderOnlyCostsTheDesktopShortcut)
{
    fs::remove(scratch.desktop());
    ASSERT_TRUE(run(allChoices(scratch)));
    auto lines = observer.lines();
    const std::size_t at = indexOf(lines, "Creating desktop shortcut " + scratch.desktop().string() + "/Ombra v0.37.desktop");
    ASSERT_LT(at + 2, lines.size());
    EXPECT_EQ(lines[at + 1], "Error creating shortcut");
    EXPECT_EQ(lines[at + 2], "Desktop shortcut not created.");
    EXPECT_EQ(lines[at + 3], "Creating start menu shortcut...");
}

TEST_F(Install, NoShortcutsWhenTheFlagsAreOff)
{
    InstallChoices choices = allChoices(scratch);
    choices.desktopShortcut = false;
    choices.startMenuShortcut = false;
    ASSERT_TRUE(run(choices));
    for (const std::string& line : observer.lines()) EXPECT_EQ(line.find("shortcut"), std::string::npos) << line;
    EXPECT_TRUE(listTree(scratch.desktop()).empty());
    EXPECT_FALSE(fs::exists(scratch.applications() / "Tarvik Ombra v0.37"));
}

TEST_F(Install, TheUsersOwnCBusHistoryIsKept)
{
    {
        ombra::platform::RegKey k;
        ASSERT_EQ(k.create(HKEY_CURRENT_USER, "Software\\Tarvik\\Ombra\\Settings", KEY_ALL_ACCESS), ERROR_SUCCESS);
        const char mine[] = "/mine/board.txt";
        ASSERT_EQ(RegSetValueExA(k.get(), "MRU_C_BUS_FILE0", 0, REG_SZ, reinterpret_cast<const BYTE*>(mine),
                                 sizeof mine),
                  ERROR_SUCCESS);
    }
    ASSERT_TRUE(run(allChoices(scratch)));
    EXPECT_EQ(registryText(HKEY_CURRENT_USER, "Software\\Tarvik\\Ombra\\Settings", "MRU_C_BUS_FILE0"),
              "/mine/board.txt");
    EXPECT_EQ(registryText(HKEY_CURRENT_USER, "Software\\Tarvik\\Ombra\\Settings", "CBUS_PATH"), d() + "/c_bus.txt");
}

// --- the scripted mode ---

class Scripted : public ::testing::Test {
protected:
    int run(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "OmbraInstall");
        std::vector<char*> argv;
        for (std::string& a : arguments) argv.push_back(a.data());
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        int status = runUnattended(argv, testEnvironment(scratch, payload), out, err);
        output = readAll(out);
        errors = readAll(err);
        std::fclose(out);
        std::fclose(err);
        return status;
    }
    static std::string readAll(std::FILE* file)
    {
        std::rewind(file);
        std::string text;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
        return text;
    }
    Scratch scratch;
    MemoryPayload payload = standInPayload();
    std::string output, errors;
};

TEST_F(Scripted, PrintsTheLogAndInstallsTheChosenComponents)
{
    const std::string dest = scratch.destination().string();
    EXPECT_EQ(run({"--unattended", "--dest", dest, "--components", "Tordel,7", "--no-desktop"}), 0) << errors;
    EXPECT_EQ(output.rfind("Ombra Installation Log \n ---------------------------\nBeginning installation:\n", 0), 0u)
        << output;
    EXPECT_NE(output.find("\n\tExtracting file Tordel : *OK\n"), std::string::npos);
    EXPECT_NE(output.find("\nInstallation complete.\n"), std::string::npos);
    EXPECT_EQ(output.find('\r'), std::string::npos);
    EXPECT_TRUE(fs::exists(scratch.destination() / "Tordel"));
    EXPECT_TRUE(fs::exists(scratch.destination() / "Nickel.so"));
    EXPECT_FALSE(fs::exists(scratch.destination() / "Ombra"));
    EXPECT_FALSE(fs::exists(scratch.destination() / "Quasp"));
    EXPECT_FALSE(fs::exists(scratch.desktop() / "Ombra v0.37.desktop"));
    EXPECT_TRUE(fs::exists(scratch.applications() / "Tarvik Ombra v0.37/Ombra v0.37.desktop"));
}

TEST_F(Scripted, AnEmptyListSelectsNothingAndNoMenuLeavesTheMenuAlone)
{
    EXPECT_EQ(run({"--unattended", "--dest", scratch.destination().string(), "--components", "", "--no-menu"}), 0);
    EXPECT_FALSE(fs::exists(scratch.destination() / "Tordel"));
    EXPECT_TRUE(fs::exists(scratch.destination() / "SelkanBoot.so"));
    EXPECT_FALSE(fs::exists(scratch.applications() / "Tarvik Ombra v0.37"));
}

TEST_F(Scripted, BadCommandLinesAndDestinationsAreRefused)
{
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(output.rfind("usage: OmbraInstall", 0), 0u);
    EXPECT_EQ(run({"--unattended"}), 2);
    EXPECT_NE(errors.find("usage: OmbraInstall"), std::string::npos);
    EXPECT_EQ(run({"--unattended", "--dest"}), 2);
    EXPECT_EQ(run({"--unattended", "--dest", "/x", "--bogus"}), 2);
    EXPECT_EQ(run({"--unattended", "--dest", scratch.destination().string(), "--components", "Tordel,Burnix"}), 2);
    EXPECT_NE(errors.find("unknown component"), std::string::npos);
    EXPECT_EQ(run({"--unattended", "--dest", (scratch.root() / "a/b/c").string()}), 2);
    EXPECT_NE(errors.find("Unable to create a directory named"), std::string::npos);
    EXPECT_EQ(run({"--unattended", "--dest", ""}), 2);
    EXPECT_NE(errors.find("You must select a destination folder to continue"), std::string::npos);
    EXPECT_TRUE(output.empty());
    EXPECT_FALSE(fs::exists(scratch.destination()));
}

TEST_F(Scripted, AStoppedInstallationExitsWithOne)
{
    ::setenv("OMBRA_TEST_REGSVR_STATUS", "5", 1);
    EXPECT_EQ(run({"--unattended", "--dest", scratch.destination().string()}), 1);
    EXPECT_NE(output.find("\nComponent registration failed.\n"), std::string::npos);
}

}  // namespace
}  // namespace ombra::installtest
