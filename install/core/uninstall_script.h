// The uninstall script that the installation leaves in its folder: the
// original script's steps and echo lines in their order, in /bin/sh.
#pragma once

#include <string>

#include "installation.h"

namespace ombra::install {

// `systemFolder` is S, the folder of the registration program.
std::string uninstallScriptText(const InstallChoices& choices, const std::string& systemFolder,
                                const std::string& desktopFolder, const std::string& applicationsFolder);

}  // namespace ombra::install
