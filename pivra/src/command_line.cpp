#include "command_line.h"

#ifndef PIVRA_VERSION
#define PIVRA_VERSION "0.0"
#endif

namespace ombra::pivra {

Command parseCommandLine(std::span<const std::string> arguments) {
    if (arguments.empty()) return Command::dialog;
    if (arguments.size() == 1) {
        if (arguments[0] == "--help" || arguments[0] == "-h") return Command::help;
        if (arguments[0] == "--version") return Command::version;
    }
    return Command::bad;
}

std::string usageText() {
    return "Usage: Pivra [--help | --version]\n"
           "\n"
           "Opens the dialog \"Ombra trace control\", which switches the trace log\n"
           "on or off for one component at a time and chooses its outputs (console,\n"
           "file) and its trace file. The settings are kept in the registry under\n"
           "HKEY_LOCAL_MACHINE\\Software\\Tarvik\\Ombra\\Debug; a component takes them\n"
           "the next time it starts.\n"
           "\n"
           "  --help     print this text and exit\n"
           "  --version  print the version and exit\n";
}

std::string versionText() { return std::string("Pivra ") + PIVRA_VERSION + "\n"; }

}  // namespace ombra::pivra
