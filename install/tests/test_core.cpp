// The installer's tables and texts, the destination checks, the desktop
// entries and the uninstall script as text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "desktop_files.h"
#include "destination.h"
#include "install_rig.h"
#include "install_table.h"
#include "ombra/platform/messagebox.h"
#include "uninstall_script.h"

namespace ombra::installtest {
namespace {

using namespace ombra::install;

TEST(FileTable, OriginalRowsFirstInTheirOrderThenUnconditionalAdditions)
{
    struct Expected {
        int id;
        const char* name;
        bool conditional;
        int component;
    };
    const Expected original[] = {
        {136, "Ombra", true, 0},        {131, "Tordel", true, 1},   {141, "Quasp", true, 2},
        {133, "Lunet", true, 3},        {134, "Wexom", true, 4},    {138, "Cobalt.so", true, 5},
        {130, "Copper.so", true, 6},    {135, "Nickel.so", true, 7}, {132, "c_bus.txt", false, 0},
        {137, "Ombra_Application_Notes_0_2.html", false, 0}, {139, "Pivra", false, 0},
        {140, "SelkanBoot.so", false, 0},
    };
    auto table = installFileTable();
    ASSERT_GT(table.size(), std::size(original));
    for (std::size_t i = 0; i < std::size(original); ++i) {
        SCOPED_TRACE(original[i].name);
        EXPECT_EQ(table[i].resourceId, original[i].id);
        EXPECT_STREQ(table[i].fileName, original[i].name);
        EXPECT_EQ(table[i].conditional, original[i].conditional);
        if (original[i].conditional) {
            EXPECT_EQ(table[i].component, original[i].component);
        }
    }
    std::set<int> ids;
    std::set<std::string> names;
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_TRUE(ids.insert(table[i].resourceId).second) << table[i].resourceId;
        EXPECT_TRUE(names.insert(table[i].fileName).second) << table[i].fileName;
        const std::string name = table[i].fileName;
        EXPECT_EQ(name.find(".."), std::string::npos);
        EXPECT_NE(name.front(), '/');
        if (i >= std::size(original)) {
            EXPECT_FALSE(table[i].conditional) << name;
        }
    }
    for (const char* needed : {"Burnix.so", "libombra_platform.so", "regsvr", "reg", "ombra-msgbox", "selkan-sim",
                               "Drivers/Common/Burnix.cfg"})
        EXPECT_EQ(names.count(needed), 1u) << needed;
}

// The driver tree the build makes must be carried whole, or the installed
// Burnix misses a driver.
TEST(FileTable, CarriesEveryFileOfTheBuildsDriverTree)
{
    const fs::path drivers = fs::path(runDir()) / "Drivers";
    if (!fs::exists(drivers)) GTEST_SKIP() << "no driver tree in " << runDir();
    std::set<std::string> names;
    for (const InstallFileEntry& row : installFileTable()) names.insert(row.fileName);
    int files = 0;
    for (auto& entry : fs::recursive_directory_iterator(drivers)) {
        if (!entry.is_regular_file()) continue;
        ++files;
        const std::string name = "Drivers/" + fs::relative(entry.path(), drivers).string();
        EXPECT_EQ(names.count(name), 1u) << name << " is built but not installed";
    }
    EXPECT_GT(files, 0);
}

TEST(FileTable, ProgramsAreMarkedExecutableAndLibrariesAreNot)
{
    for (const InstallFileEntry& row : installFileTable()) {
        const std::string name = row.fileName;
        EXPECT_EQ(row.program, name.find('.') == std::string::npos) << name;
    }
}

TEST(Components, ListTextsSummaryLinesAndLookup)
{
    auto components = componentTable();
    ASSERT_EQ(components.size(), 8u);
    EXPECT_STREQ(components[0].listText, "Ombra\t- Application GUI");
    EXPECT_STREQ(components[2].listText, "Quasp - Flash verification component");
    EXPECT_STREQ(components[4].listText, "Wexom - Flash auto detection component");
    EXPECT_STREQ(components[6].listText, "Copper - AMD flash type support");
    EXPECT_STREQ(components[7].summaryLine, "\t+Nickel\r\n");
    EXPECT_EQ(componentFromText("nickel"), kNickel);
    EXPECT_EQ(componentFromText("TORDEL"), kTordel);
    EXPECT_EQ(componentFromText("5"), kCobalt);
    EXPECT_EQ(componentFromText("8"), -1);
    EXPECT_EQ(componentFromText("-1"), -1);
    EXPECT_EQ(componentFromText("Burnix"), -1);
    EXPECT_EQ(componentFromText(""), -1);
    EXPECT_EQ(componentFileName(kCopper), "Copper.so");
    EXPECT_EQ(componentFileName(kWexom), "Wexom");
}

OSVERSIONINFOEXA version(DWORD platform, DWORD major, DWORD minor, const char* servicePack = "")
{
    OSVERSIONINFOEXA info{};
    info.dwPlatformId = platform;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    std::snprintf(info.szCSDVersion, sizeof info.szCSDVersion, "%s", servicePack);
    return info;
}

TEST(WindowsVersion, EveryBranchOfTheClassification)
{
    struct Case {
        OSVERSIONINFOEXA info;
        const char* name;
    };
    const Case cases[] = {
        {version(VER_PLATFORM_WIN32s, 3, 10), "Win32s"},
        {version(VER_PLATFORM_WIN32_WINDOWS, 4, 0), "Windows 95"},
        {version(VER_PLATFORM_WIN32_WINDOWS, 4, 0, " C"), "Windows 95 OSR2"},
        {version(VER_PLATFORM_WIN32_WINDOWS, 4, 0, " B"), "Windows 95 OSR2"},
        {version(VER_PLATFORM_WIN32_WINDOWS, 4, 0, "C"), "Windows 95"},  // the second character counts
        {version(VER_PLATFORM_WIN32_WINDOWS, 4, 10), "Windows 98"},
        {version(VER_PLATFORM_WIN32_WINDOWS, 4, 10, " A"), "Windows 98SE"},
        {version(VER_PLATFORM_WIN32_WINDOWS, 4, 90), "Windows ME"},
        {version(VER_PLATFORM_WIN32_WINDOWS, 4, 20), "Unrecognized Windows version"},
        {version(VER_PLATFORM_WIN32_WINDOWS, 5, 0), "Unrecognized Windows version"},
        {version(VER_PLATFORM_WIN32_NT, 3, 51), "Windows NT"},
        {version(VER_PLATFORM_WIN32_NT, 4, 0), "Windows NT"},
        {version(VER_PLATFORM_WIN32_NT, 5, 0), "Windows 2000"},
        {version(VER_PLATFORM_WIN32_NT, 5, 1), "Windows XP"},
        {version(VER_PLATFORM_WIN32_NT, 5, 2), "Unrecognized NT version"},
        {version(VER_PLATFORM_WIN32_NT, 6, 1), "Unrecognized NT version"},
    };
    for (const Case& c : cases) EXPECT_STREQ(windowsVersionName(windowsVersionIndex(c.info)), c.name) << c.name;
    EXPECT_EQ(windowsVersionIndex(version(7, 1, 0)), -1);
    EXPECT_STREQ(windowsVersionName(-1), "Unknown operating system");
}

TEST(WindowsVersion, ThePlatformReportsTheNtFamilyForBothRecordSizes)
{
    OSVERSIONINFOEXA ex{};
    ex.dwOSVersionInfoSize = sizeof ex;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex)));
    EXPECT_EQ(ex.dwPlatformId, VER_PLATFORM_WIN32_NT);
    EXPECT_GE(windowsVersionIndex(ex), 7);
    OSVERSIONINFOA basic{};
    basic.dwOSVersionInfoSize = sizeof basic;
    ASSERT_TRUE(GetVersionExA(&basic));
    EXPECT_EQ(basic.dwMajorVersion, ex.dwMajorVersion);
    EXPECT_NE(std::string(basic.szCSDVersion), "");
    OSVERSIONINFOA wrong{};
    wrong.dwOSVersionInfoSize = 100;
    EXPECT_FALSE(GetVersionExA(&wrong));
}

TEST(Summary, TextInSelectionOrderWithTheFlagsThatAreSet)
{
    InstallChoices choices;
    choices.destination = "/opt/x";
    choices.components = {kOmbra, kLunet, kNickel};
    EXPECT_EQ(summaryText(choices),
              "\r\n Destination folder : /opt/x \r\n Installed components: \r\n\t+Ombra\r\n\t+Lunet\r\n\t+Nickel\r\n"
              "A desktop shortcut will be created.\r\nA start-menu shortcut will be created.\r\n");
    choices.components.clear();
    choices.desktopShortcut = false;
    EXPECT_EQ(summaryText(choices), "\r\n Destination folder : /opt/x \r\n Installed components: \r\n"
                                    "A start-menu shortcut will be created.\r\n");
}

// --- the uninstall script as text ---

std::vector<std::string> scriptLines(const InstallChoices& choices)
{
    std::string text = uninstallScriptText(choices, choices.destination, "/home/u/Desktop", "/home/u/apps");
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the script ends with a line break";
    return lines;
}

std::vector<std::string> echoes(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const std::string& line : lines)
        if (line.rfind("echo ", 0) == 0) out.push_back(line.substr(5));
    return out;
}

TEST(UninstallScript, EverythingSelectedGivesTheOriginalStepsInOrder)
{
    InstallChoices choices;
    choices.destination = "/opt/ombra";
    for (int i = 0; i < kComponentCount; ++i) choices.components.push_back(i);
    auto lines = scriptLines(choices);
    ASSERT_GT(lines.size(), 30u);
    EXPECT_EQ(lines[0], "#!/bin/sh");
    const std::vector<std::string> head = {
        "echo Uninstalling Ombra...",
        "echo Uninstalling Ombra...",
        "'/opt/ombra/Ombra' UNINSTALL",
        "echo deleting Ombra...",
        "rm -f '/opt/ombra/Ombra'",
        "echo Uninstalling Tordel...",
        "'/opt/ombra/Tordel' UNREGISTER",
        "echo deleting TORDEL...",
        "rm -f '/opt/ombra/Tordel'",
        "echo Uninstalling Lunet...",
        "'/opt/ombra/Lunet' UNREGISTER",
        "echo deleting LUNET...",
        "rm -f '/opt/ombra/Lunet'",
        "echo Uninstalling Wexom...",
        "'/opt/ombra/Wexom' UNREGISTER",
        "echo deleting WEXOM...",
        "rm -f '/opt/ombra/Wexom'",
        "echo Uninstalling Quasp...",
        "'/opt/ombra/Quasp' UNREGISTER",
        "echo deleting QUASP...",
        "rm -f '/opt/ombra/Quasp'",
        "echo Uninstalling Cobalt...",
        "'/opt/ombra/regsvr' /u /s '/opt/ombra/Cobalt.so'",
        "echo deleting Cobalt.so...",
        "rm -f '/opt/ombra/Cobalt.so'",
        "echo Uninstalling Copper...",
        "'/opt/ombra/regsvr' /u /s '/opt/ombra/Copper.so'",
        "echo deleting Copper.so...",
        "rm -f '/opt/ombra/Copper.so'",
        "echo Uninstalling Nickel...",
        "'/opt/ombra/regsvr' /u /s '/opt/ombra/Nickel.so'",
        "echo deleting Nickel.so...",
        "rm -f '/opt/ombra/Nickel.so'",
        "echo Uninstalling SelkanBoot...",
        "'/opt/ombra/regsvr' /u /s '/opt/ombra/SelkanBoot.so'",
        "rm -f '/opt/ombra/SelkanBoot.so'",
        "rm -f '/opt/ombra/Pivra'",
        "rm -f '/opt/ombra/Ombra_Application_Notes_0_2.html'",
        "rm -f '/opt/ombra/c_bus.txt'",
    };
    for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(lines[i + 1], head[i]) << "line " << i + 1;
    auto e = echoes(lines);
    EXPECT_EQ(std::count(e.begin(), e.end(), "Uninstalling Ombra..."), 2);
    // The shortcuts, then the script itself, then the folder when empty.
    const std::size_t n = lines.size();
    EXPECT_EQ(lines[n - 5], "rm -f '/home/u/Desktop/Ombra v0.37.desktop'");
    EXPECT_EQ(lines[n - 4], "rm -f '/home/u/apps/Tarvik Ombra v0.37'/*");
    EXPECT_EQ(lines[n - 3], "rmdir '/home/u/apps/Tarvik Ombra v0.37'");
    EXPECT_EQ(lines[n - 2], "rm -f '/opt/ombra/uninstall.sh'");
    EXPECT_EQ(lines[n - 1], "rmdir '/opt/ombra' 2>/dev/null");
}

TEST(UninstallScript, EmptySelectionKeepsTheSelkanBootBlockAndTheAdditions)
{
    InstallChoices choices;
    choices.destination = "/d";
    choices.desktopShortcut = false;
    choices.startMenuShortcut = false;
    auto lines = scriptLines(choices);
    EXPECT_EQ(lines[1], "echo Uninstalling Ombra...");
    EXPECT_EQ(lines[2], "echo Uninstalling SelkanBoot...");
    EXPECT_EQ(lines[3], "'/d/regsvr' /u /s '/d/SelkanBoot.so'");
    auto e = echoes(lines);
    EXPECT_EQ(std::count(e.begin(), e.end(), "Uninstalling Ombra..."), 1);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("UNREGISTER"), std::string::npos) << line;
        EXPECT_EQ(line.find("Desktop"), std::string::npos) << line;
        EXPECT_EQ(line.find("UNINSTALL"), std::string::npos) << line;
    }
    // The registry entries go even without the front end, whose own
    // uninstall would otherwise remove them; each tool goes after its last use.
    auto at = [&](const std::string& text) {
        return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), text) - lines.begin());
    };
    EXPECT_LT(at("'/d/reg' delete 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ombra 0.34' /f "
                 ">/dev/null 2>&1"),
              lines.size());
    EXPECT_LT(at("'/d/reg' delete 'HKLM\\Software\\Tarvik\\Ombra' /f >/dev/null 2>&1"), lines.size());
    // After a tool is gone nothing runs it; after the platform library is
    // gone no installed program runs at all.
    for (const char* tool : {"reg", "regsvr", "libombra_platform.so"}) {
        const std::size_t removed = at(std::string("rm -f '/d/") + tool + "'");
        ASSERT_LT(removed, lines.size()) << tool;
        const std::string run = tool == std::string("libombra_platform.so") ? "'/d/" : std::string("'/d/") + tool + "'";
        for (std::size_t i = removed + 1; i < lines.size(); ++i) {
            EXPECT_NE(lines[i].rfind(run, 0), 0u) << tool << " used after removal: " << lines[i];
            EXPECT_EQ(lines[i].find("$(" + run), std::string::npos) << lines[i];
        }
    }
}

TEST(UninstallScript, FoldersWithQuotesAndBlanksStayOneWord)
{
    InstallChoices choices;
    choices.destination = "/tmp/it's a $(dir)";
    auto lines = scriptLines(choices);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "rm -f '/tmp/it'\\''s a $(dir)/Pivra'"), lines.end());
}

TEST(DesktopEntry, ExecAndPathAreEscaped)
{
    std::string text = desktopEntryText("Ombra v0.37", "Ombra v0.37", "/a b/\"q\"$x\\100%/Ombra", "/a b");
    EXPECT_NE(text.find("[Desktop Entry]\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("Name=Ombra v0.37\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=\"/a b/\\\\\"q\\\\\"\\\\$x\\\\\\\\100%%/Ombra\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Path=/a b\n"), std::string::npos);
    EXPECT_NE(directoryEntryText("Tarvik Ombra v0.37").find("Type=Directory\nVersion=1.0\nName=Tarvik Ombra v0.37\n"),
              std::string::npos);
}

TEST(XdgFolders, UserDirsAndBaseDirectories)
{
    Scratch scratch;
    EXPECT_EQ(xdgDesktopFolder(), scratch.home().string() + "/Desktop");
    EXPECT_EQ(xdgApplicationsFolder(), scratch.home().string() + "/.local/share/applications");
    EXPECT_EQ(defaultDestination(), scratch.home().string() + "/Ombra");
    writeText(scratch.home() / ".config/user-dirs.dirs",
              "# comment\nXDG_DOWNLOAD_DIR=\"$HOME/dl\"\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(xdgDesktopFolder(), scratch.home().string() + "/Schreibtisch");
    writeText(scratch.root() / "cfg/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/srv/desk\"\n");
    ::setenv("XDG_CONFIG_HOME", (scratch.root() / "cfg").c_str(), 1);
    ::setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(xdgDesktopFolder(), "/srv/desk");
    EXPECT_EQ(xdgApplicationsFolder(), "/data/applications");
    // Relative values are ignored, as the base directory rules say.
    ::setenv("XDG_DATA_HOME", "data", 1);
    EXPECT_EQ(xdgApplicationsFolder(), scratch.home().string() + "/.local/share/applications");
    writeText(scratch.root() / "cfg/user-dirs.dirs", "XDG_DESKTOP_DIR=relative\n");
    EXPECT_EQ(xdgDesktopFolder(), scratch.home().string() + "/Desktop");
}

// --- the destination page's checks ---

struct Asked {
    std::string text;
    DWORD type;
};

class Destination : public ::testing::Test {
protected:
    bool accept(std::string& folder, int answer = IDYES)
    {
        return acceptDestination(folder, [&, answer](const std::string& text, DWORD type) {
            asked.push_back({text, type});
            return (type & 0xF) == MB_YESNO ? answer : IDOK;
        });
    }
    Scratch scratch;
    std::vector<Asked> asked;
};

TEST_F(Destination, EmptyTextIsRefused)
{
    std::string folder;
    EXPECT_FALSE(accept(folder));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "You must select a destination folder to continue");
}

TEST_F(Destination, AnExistingFileIsAnIllegalDirectoryName)
{
    writeText(scratch.root() / "file", "x");
    std::string folder = (scratch.root() / "file").string();
    EXPECT_FALSE(accept(folder));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, folder + " is an illegal directory name");
    EXPECT_EQ(asked[0].type, MB_OK | MB_ICONEXCLAMATION);
}

TEST_F(Destination, TwoLevelsDeepCannotBeCreatedInOneStep)
{
    std::string folder = (scratch.root() / "a/b").string();
    EXPECT_FALSE(accept(folder));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "Unable to create a directory named " + folder + " ");
    EXPECT_EQ(asked[0].type, MB_OK | MB_ICONEXCLAMATION);
    EXPECT_FALSE(fs::exists(scratch.root() / "a"));
}

TEST_F(Destination, ANewFolderIsMadeBeforeTheQuestionAndStaysAfterNo)
{
    std::string folder = (scratch.root() / "new").string();
    EXPECT_FALSE(accept(folder, IDNO));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "Directory " + folder + " doesn't exist. Do you want to create it ?");
    EXPECT_EQ(asked[0].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_TRUE(fs::is_directory(folder));
    // Next again: the folder exists now, so no question.
    asked.clear();
    EXPECT_TRUE(accept(folder));
    EXPECT_TRUE(asked.empty());
}

TEST_F(Destination, YesStoresTheFolderWithoutATrailingSeparator)
{
    std::string folder = (scratch.root() / "yes").string() + "/";
    EXPECT_TRUE(accept(folder, IDYES));
    EXPECT_EQ(folder, (scratch.root() / "yes").string());
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(Destination, BareNamesAndControlCharactersAreIllegal)
{
    std::string folder = "OMBRA";
    EXPECT_FALSE(accept(folder));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "OMBRA is an illegal directory name");
    folder = (scratch.root() / "line\nbreak").string();
    EXPECT_FALSE(accept(folder));
    EXPECT_FALSE(fs::exists(scratch.root() / "line\nbreak"));
}

TEST_F(Destination, AnAllCapitalsPathKeepsItsCase)
{
    std::string folder = (scratch.root() / "OMBRA").string();
    EXPECT_TRUE(accept(folder));
    EXPECT_TRUE(fs::is_directory(scratch.root() / "OMBRA"));
    EXPECT_FALSE(fs::exists(scratch.root() / "ombra"));
}

TEST_F(Destination, HomeAndRelativePathsAreStoredAbsolute)
{
    std::string folder = "~/Ombra";
    EXPECT_TRUE(accept(folder));
    EXPECT_EQ(folder, scratch.destination().string());
    EXPECT_EQ(storedFolder("/x/./y//"), "/x/y");
    EXPECT_EQ(storedFolder("/"), "/");
    EXPECT_EQ(storedFolder("rel/dir"), (fs::current_path() / "rel/dir").string());
}

}  // namespace
}  // namespace ombra::installtest
