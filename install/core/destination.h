// The destination page's Next: the checks, messages and the one-level
// folder creation, shared by the wizard and the scripted mode.
#pragma once

#include <functional>
#include <string>

#include "ombra/platform/types.h"

namespace ombra::install {

// Shows a message box (MB_ buttons and icon) and gives the answer (IDOK,
// IDYES, IDNO).
using AskFn = std::function<int(const std::string& text, DWORD type)>;

// True when the folder may be stored; then `folder` holds it as an absolute
// path without a trailing separator. False keeps the page.
bool acceptDestination(std::string& folder, const AskFn& ask);

// The stored form of a folder text: "~" expanded, absolute, no trailing
// separator. Back stores this without any check.
std::string storedFolder(const std::string& text);

}  // namespace ombra::install
