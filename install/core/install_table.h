// What the installer carries and offers: the file table in the order of
// extraction, the eight components of the selection page, and the fixed
// names of the installation (shortcuts, uninstall entry).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace ombra::install {

// Component numbers are the positions on the selection page.
enum Component : int {
    kOmbra = 0,
    kTordel = 1,
    kQuasp = 2,
    kLunet = 3,
    kWexom = 4,
    kCobalt = 5,
    kCopper = 6,
    kNickel = 7,
    kComponentCount = 8,
};

struct InstallFileEntry {
    int resourceId;
    const char* fileName;  // relative to the destination, '/' between folders
    bool conditional;      // written only when `component` is selected
    int component;         // meaningful for conditional rows only
    bool program;          // gets the executable bits
};

// Every row, in the order of extraction: the twelve of the original
// product first, then what makes the installation work on its own.
std::span<const InstallFileEntry> installFileTable();

struct ComponentEntry {
    const char* name;         // "Tordel"
    const char* listText;     // text on the selection page
    const char* summaryLine;  // line of the summary page
};
std::span<const ComponentEntry> componentTable();

// Looks a component up by its number or its name (any case); -1 if none.
int componentFromText(std::string_view text);

// Names shared by the installation steps and the uninstall script.
inline constexpr const char* kDisplayName = "Tarvik Ombra v0.37";
inline constexpr const char* kDisplayVersion = "0.37";
inline constexpr const char* kShortcutName = "Ombra v0.37";
inline constexpr const char* kMenuFolderName = "Tarvik Ombra v0.37";
inline constexpr const char* kUninstallParentKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr const char* kUninstallKeyName = "Ombra 0.34";
inline constexpr const char* kVendorKey = "Software\\Tarvik";
inline constexpr const char* kProductKeyName = "Ombra";
inline constexpr const char* kSettingsKey = "Software\\Tarvik\\Ombra\\Settings";
inline constexpr const char* kCBusFileName = "c_bus.txt";
inline constexpr const char* kUninstallScriptName = "uninstall.sh";
inline constexpr const char* kRegsvrName = "regsvr";
inline constexpr const char* kRegToolName = "reg";
inline constexpr const char* kFrontEndName = "Ombra";
inline constexpr const char* kShortcutSuffix = ".desktop";
inline constexpr const char* kMenuDirectorySuffix = ".directory";

// The file name of a component's file in the table ("Cobalt.so").
std::string componentFileName(int component);

}  // namespace ombra::install
