#include "ombra/frontend/command_line.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "ombra/frontend/comm_settings.h"
#include "ombra/frontend/serial_ports.h"

namespace ombra::frontend {

namespace {

std::size_t tokenEnd(std::string_view s) { return std::min(s.find(' '), s.find('\n')); }

void skipWhiteSpace(std::string_view& s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s[0])))
        s.remove_prefix(1);
}

std::string withValue(const char* message, const std::string& value)
{
    std::string text = message;
    if (const auto at = text.find("%1"); at != std::string::npos)
        text.replace(at, 2, value);
    return text;
}

bool pathExists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(path, ec);
}

// Decimal digits only, one of the supported rates.
bool supportedBaud(const std::string& text, int& baud)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int n = std::stoi(text);
    if (std::find(kSupportedBaudRates.begin(), kSupportedBaudRates.end(), static_cast<DWORD>(n)) ==
        kSupportedBaudRates.end())
        return false;
    baud = n;
    return true;
}

bool isSwitch(std::string_view token, const char* name)
{
    return token.size() >= 2 && (token[0] == '-' || token[0] == '/') && token.substr(1) == name;
}

}  // namespace

CommandLine parseCommandLine(std::string_view commandLine, const CommandLineChecks& checks)
{
    CommandLine out;
    const auto portExists = checks.portExists ? checks.portExists : serialDeviceExists;
    const auto fileExists = checks.fileExists ? checks.fileExists : pathExists;
    std::string_view rest = commandLine;

    // The value at the start of the rest, left there to be met as a token;
    // a quoted one (paths only) is taken out with its quotes.
    auto value = [&rest](bool quotesAllowed) {
        if (quotesAllowed && !rest.empty() && rest[0] == '"') {
            const auto close = rest.find('"', 1);
            std::string v(rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            rest.remove_prefix(close == std::string_view::npos ? rest.size() : close + 1);
            skipWhiteSpace(rest);
            return v;
        }
        return std::string(rest.substr(0, tokenEnd(rest)));
    };

    while (!rest.empty()) {
        const std::size_t end = tokenEnd(rest);
        const std::string_view token = rest.substr(0, end);
        if (token.empty())
            break;
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        skipWhiteSpace(rest);

        if (isSwitch(token, "s")) {
            const std::string port = value(false);
            if (port.empty())
                break;
            if (!portExists(port)) {
                out.message = withValue(kPortMessage, port);
                break;
            }
            out.portName = port;
            out.portGiven = true;
        } else if (isSwitch(token, "f")) {
            const std::string image = value(true);
            if (!fileExists(image)) {
                out.message = withValue(kIllegalImageMessage, image);
                break;
            }
            out.imagePath = image;
            out.imageGiven = true;
        } else if (isSwitch(token, "l")) {
            const std::string log = value(true);
            if (log.empty()) {
                out.message = withValue(kIllegalFileMessage, log);
                break;
            }
            out.logPath = log;
            out.logGiven = true;
        } else if (isSwitch(token, "b")) {
            const std::string text = value(false);
            if (text.empty())
                break;
            int baud = -1;
            if (!supportedBaud(text, baud)) {
                out.message = withValue(kBaudMessage, text);
                break;
            }
            out.baud = baud;
        } else if (isSwitch(token, "a")) {
            out.unattended = true;
            out.verify = false;
        } else if (isSwitch(token, "av")) {
            out.unattended = true;
            out.verify = true;
        }
    }
    return out;
}

bool isUninstallCommand(std::string_view commandLine) { return commandLine == "UNINSTALL"; }

std::string commandLineFromArguments(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc && argv != nullptr && argv[i] != nullptr; ++i) {
        const std::string_view arg = argv[i];
        if (i > 1)
            line += ' ';
        if (arg.find_first_of(" \n") != std::string_view::npos) {
            line += '"';
            line += arg;
            line += '"';
        } else {
            line += arg;
        }
    }
    return line;
}

}  // namespace ombra::frontend
