// The front end's command line: "-s PORT", "-f IMAGE", "-l LOG", "-b BAUD",
// "-a", "-av" (and the "/" forms), and the "UNINSTALL" command.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ombra::frontend {

// The checks of the port and image switches, replaceable in tests; an empty
// function means the default.
struct CommandLineChecks {
    std::function<bool(const std::string&)> portExists;  // default serialDeviceExists
    std::function<bool(const std::string&)> fileExists;  // default: the path exists
};

struct CommandLine {
    std::string imagePath, portName, logPath;
    int baud = -1;
    bool unattended = false, verify = false;
    bool imageGiven = false, portGiven = false, logGiven = false;
    std::optional<std::string> message;  // the failed check's text, "%1" replaced by the value
};

// The messages of the failed checks ("%1" is the value).
inline constexpr const char* kIllegalImageMessage = "Illegal image file name :%1. ";  // 111
inline constexpr const char* kIllegalFileMessage = "Illegal file name %1.";  // 112
inline constexpr const char* kBaudMessage =
    "Baud rate %1 is not supported. Supported baud rates are: 19200, 38400, 57600, 115200, 230400, 460800.";  // 113
inline constexpr const char* kPortMessage = "Serial port %1 does not exist.";  // 114

// Tokens end at a space or newline and match the switches exactly; a
// switch's value is the text after it up to a space or newline, or for
// "-f" and "-l" the text between double quotes. An unquoted value is then
// met again as a token that matches nothing; a quoted one is skipped
// whole, so words inside the quotes are never taken for switches. Parsing
// ends at the first failed check (with its message) and at an empty value
// of "-s" or "-b"; what was read before keeps its effect. A baud value must
// be decimal digits only.
CommandLine parseCommandLine(std::string_view commandLine, const CommandLineChecks& checks = {});

// The whole line is "UNINSTALL" (case-sensitive).
bool isUninstallCommand(std::string_view commandLine);

// The program's command line text: the arguments after argv[0] joined with
// single blanks. An argument holding a blank or a newline is put in double
// quotes, as it would stand on a Windows command line, so a path with
// spaces survives the shell's quote removal.
std::string commandLineFromArguments(int argc, char** argv);

}  // namespace ombra::frontend
