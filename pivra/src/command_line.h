// Pivra's command line: none for the dialog, or one of the two options
// every program answers without a window.
#pragma once

#include <span>
#include <string>

namespace ombra::pivra {

enum class Command { dialog, help, version, bad };

// The arguments after the program name.
Command parseCommandLine(std::span<const std::string> arguments);

std::string usageText();
std::string versionText();

}  // namespace ombra::pivra
