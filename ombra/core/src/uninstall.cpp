#include "ombra/frontend/uninstall.h"

#include "ombra/common/trace.h"
#include "ombra/platform/messagebox.h"
#include "ombra/platform/registry.h"

namespace ombra::frontend {

using platform::RegKey;

namespace {

const char* const kEntryValues[] = {"DisplayName", "DisplayVersion", "InstallLocation", "UninstallPath",
                                    "UninstallString"};

// True when the entry was there.
bool removeEntry(const char* name)
{
    const std::string path = std::string(kUninstallKeyPath) + "\\" + name;
    RegKey entry;
    if (entry.open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return false;
    for (const char* value : kEntryValues)
        RegDeleteValueA(entry.get(), value);
    entry.reset();
    RegKey list;
    if (list.open(HKEY_LOCAL_MACHINE, kUninstallKeyPath, KEY_ALL_ACCESS) == ERROR_SUCCESS)
        RegDeleteKeyA(list.get(), name);
    return true;
}

}  // namespace

void runUninstall(const MessageBoxFn& messageBox)
{
    TraceText("runUninstall");
    bool found = false;
    for (const char* name : kUninstallEntryNames)
        found = removeEntry(name) || found;
    if (!found && messageBox)
        messageBox("Can't open uninstall key", "Error", MB_OK | MB_ICONEXCLAMATION);

    RegKey parent;
    if (parent.open(HKEY_LOCAL_MACHINE, kMachineKeyParent, KEY_ALL_ACCESS) == ERROR_SUCCESS)
        RegDeleteTreeA(parent.get(), kMachineKeyName);
}

}  // namespace ombra::frontend
