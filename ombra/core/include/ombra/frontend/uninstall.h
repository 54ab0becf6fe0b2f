// The "UNINSTALL" command: removes the product's entry from the system's
// list of installed programs and its machine-wide key. The per-user profile
// is left alone.
#pragma once

#include <functional>
#include <string>

#include "ombra/platform/messagebox.h"  // the MB_ and ID values of `type` and the answer

namespace ombra::frontend {

inline constexpr const char* kUninstallKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// The installer writes the first; earlier front ends removed the second.
inline constexpr const char* kUninstallEntryNames[] = {"Ombra 0.34", "Ombra 1.01"};
inline constexpr const char* kMachineKeyParent = "Software\\Tarvik";
inline constexpr const char* kMachineKeyName = "Ombra";

using MessageBoxFn = std::function<int(const std::string& text, const std::string& caption, DWORD type)>;

// Deletes each uninstall entry that exists (its five values, then the key);
// shows "Can't open uninstall key" ("Error", exclamation) only when none
// does; then, in every case, deletes HKLM "Software\Tarvik\Ombra" with all
// it holds.
void runUninstall(const MessageBoxFn& messageBox);

}  // namespace ombra::frontend
