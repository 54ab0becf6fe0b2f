// The Linux forms of the shell's places and links: the XDG desktop and
// applications folders, desktop entries for the shortcuts, and shell quoting
// for the uninstall script.
#pragma once

#include <string>
#include <string_view>

namespace ombra::install {

// $XDG_DESKTOP_DIR from user-dirs.dirs, else $HOME/Desktop.
std::string xdgDesktopFolder();
// $XDG_DATA_HOME/applications, else $HOME/.local/share/applications.
std::string xdgApplicationsFolder();
// The wizard's default destination: $HOME/Ombra.
std::string defaultDestination();

// A desktop entry that starts `program` in `workFolder`.
std::string desktopEntryText(std::string_view name, std::string_view comment, std::string_view program,
                             std::string_view workFolder);
// The description of a menu folder.
std::string directoryEntryText(std::string_view name);

// `text` as one word for /bin/sh (single quotes; a quote inside as '\'').
std::string shellQuote(std::string_view text);

}  // namespace ombra::install
