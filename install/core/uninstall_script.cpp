#include "uninstall_script.h"

#include <set>
#include <string_view>
#include <vector>

#include "desktop_files.h"
#include "install_table.h"

namespace ombra::install {
namespace {

constexpr int kWorkerOrder[] = {kTordel, kLunet, kWexom, kQuasp};
constexpr int kProgrammerOrder[] = {kCobalt, kCopper, kNickel};

// Rows the script removes itself in the blocks after the original ones.
bool isOriginalRow(int resourceId) { return resourceId >= 130 && resourceId <= 141; }

std::string upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

class Script {
public:
    void line(const std::string& text) { text_ += text + "\n"; }
    void echo(const std::string& text) { line("echo " + text); }
    void remove(const std::string& path) { line("rm -f " + shellQuote(path)); }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
};

}  // namespace

std::string uninstallScriptText(const InstallChoices& choices, const std::string& systemFolder,
                                const std::string& desktopFolder, const std::string& applicationsFolder)
{
    const std::string& d = choices.destination;
    auto inD = [&d](std::string_view name) { return d + "/" + std::string(name); };
    const std::string regsvr = shellQuote(systemFolder + "/" + kRegsvrName);
    Script s;
    // "@echo off": sh does not echo its commands.
    s.line("#!/bin/sh");
    s.echo("Uninstalling Ombra...");
    if (choices.selected(kOmbra)) {
        s.echo("Uninstalling Ombra...");
        s.line(shellQuote(inD(kFrontEndName)) + " UNINSTALL");
        s.echo("deleting Ombra...");
        s.remove(inD(kFrontEndName));
    }
    for (int worker : kWorkerOrder) {
        if (!choices.selected(worker)) continue;
        const std::string name = componentTable()[worker].name;
        s.echo("Uninstalling " + name + "...");
        s.line(shellQuote(inD(name)) + " UNREGISTER");
        s.echo("deleting " + upper(name) + "...");
        s.remove(inD(name));
    }
    for (int programmer : kProgrammerOrder) {
        if (!choices.selected(programmer)) continue;
        const std::string name = componentTable()[programmer].name;
        const std::string file = componentFileName(programmer);
        s.echo("Uninstalling " + name + "...");
        s.line(regsvr + " /u /s " + shellQuote(inD(file)));
        s.echo("deleting " + file + "...");
        s.remove(inD(file));
    }
    s.echo("Uninstalling SelkanBoot...");
    s.line(regsvr + " /u /s " + shellQuote(inD("SelkanBoot.so")));
    s.remove(inD("SelkanBoot.so"));
    s.remove(inD("Pivra"));
    s.remove(inD("Ombra_Application_Notes_0_2.html"));
    s.remove(inD(kCBusFileName));

    // What this installation adds to the original one: Burnix, its driver
    // tree, the registry entries the front end's own uninstall may have left
    // (it is not always installed), and the tools, which go last because
    // the lines above run them.
    s.echo("Uninstalling Burnix...");
    s.line(regsvr + " /u /s " + shellQuote(inD("Burnix.so")));
    s.echo("deleting Burnix.so...");
    s.remove(inD("Burnix.so"));
    s.echo("deleting the driver tree...");
    std::set<std::string, std::greater<>> folders;  // deepest first
    std::vector<std::string> tools;
    for (const InstallFileEntry& row : installFileTable()) {
        if (isOriginalRow(row.resourceId) || row.resourceId == 142) continue;
        std::string name = row.fileName;
        if (name.find('/') == std::string::npos) {
            tools.push_back(name);
            continue;
        }
        s.remove(inD(name));
        for (auto slash = name.rfind('/'); slash != std::string::npos; slash = name.rfind('/', slash - 1)) {
            folders.insert(name.substr(0, slash));
            if (slash == 0) break;
        }
    }
    for (const std::string& folder : folders) s.line("rmdir " + shellQuote(inD(folder)) + " 2>/dev/null");
    s.echo("removing the registry entries...");
    const std::string reg = shellQuote(inD(kRegToolName));
    const std::string quiet = " /f >/dev/null 2>&1";
    s.line(reg + " delete " + shellQuote(std::string("HKLM\\") + kUninstallParentKey + "\\" + kUninstallKeyName) +
           quiet);
    s.line(reg + " delete " + shellQuote(std::string("HKLM\\") + kVendorKey + "\\" + kProductKeyName) + quiet);
    s.line(reg + " delete " + shellQuote(std::string("HKCU\\") + kVendorKey + "\\" + kProductKeyName) + quiet);
    // The vendor keys go too when nothing else of the vendor is left in them.
    for (const char* hive : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"}) {
        const std::string key = std::string(hive) + "\\" + kVendorKey;
        s.line("[ \"$(" + reg + " query " + shellQuote(key) + " /s 2>/dev/null)\" = " + shellQuote(key) + " ] && " +
               reg + " delete " + shellQuote(key) + quiet);
    }
    s.echo("deleting the tools...");
    for (const std::string& tool : tools) s.remove(inD(tool));

    if (choices.desktopShortcut) s.remove(desktopFolder + "/" + kShortcutName + kShortcutSuffix);
    if (choices.startMenuShortcut) {
        const std::string folder = applicationsFolder + "/" + kMenuFolderName;
        s.line("rm -f " + shellQuote(folder) + "/*");
        s.line("rmdir " + shellQuote(folder));
    }
    s.remove(inD(kUninstallScriptName));
    // The folder itself, when the user has left nothing of his in it.
    s.line("rmdir " + shellQuote(d) + " 2>/dev/null");
    return s.take();
}

}  // namespace ombra::install
