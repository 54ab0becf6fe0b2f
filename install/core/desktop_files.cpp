#include "desktop_files.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace ombra::install {
namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string homeFolder()
{
    std::string home = environment("HOME");
    return home.empty() ? std::string("/") : home;
}

std::string configHome()
{
    std::string config = environment("XDG_CONFIG_HOME");
    // XDG base directories ignore relative values.
    if (config.empty() || config[0] != '/') config = homeFolder() + "/.config";
    return config;
}

std::string dataHome()
{
    std::string data = environment("XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') data = homeFolder() + "/.local/share";
    return data;
}

// XDG_DESKTOP_DIR="$HOME/Desktop" (or an absolute path) in user-dirs.dirs.
std::string desktopFromUserDirs()
{
    std::ifstream in(configHome() + "/user-dirs.dirs");
    if (!in) return {};
    constexpr std::string_view key = "XDG_DESKTOP_DIR=";
    std::string line;
    // The file is a few lines; a bound keeps a stray huge file harmless.
    for (int count = 0; count < 1000 && std::getline(in, line); ++count) {
        if (line.size() > 4096 || line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
        value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0) value = homeFolder() + value.substr(5);
        if (value.empty() || value[0] != '/') continue;
        return value;
    }
    return {};
}

// Desktop entry string values escape the backslash. Exec arguments are
// quoted, with ", `, $ and \ escaped inside the quotes, and that escaping
// backslash is escaped once more as part of the string value; % is %%.
std::string entryValue(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string execArgument(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$') {
            out += "\\\\";
        } else if (c == '\\') {
            out += "\\\\\\";
        } else if (c == '%') {
            out += '%';
        }
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string xdgDesktopFolder()
{
    std::string desktop = desktopFromUserDirs();
    return desktop.empty() ? homeFolder() + "/Desktop" : desktop;
}

std::string xdgApplicationsFolder() { return dataHome() + "/applications"; }

std::string defaultDestination()
{
    std::string home = homeFolder();
    return home == "/" ? std::string("/Ombra") : home + "/Ombra";
}

std::string desktopEntryText(std::string_view name, std::string_view comment, std::string_view program,
                             std::string_view workFolder)
{
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Version=1.0\n";
    text += "Name=" + entryValue(name) + "\n";
    text += "Comment=" + entryValue(comment) + "\n";
    text += "Exec=" + execArgument(program) + "\n";
    text += "Path=" + entryValue(workFolder) + "\n";
    text += "Terminal=false\n"
            "Categories=Development;Electronics;\n";
    return text;
}

std::string directoryEntryText(std::string_view name)
{
    return "[Desktop Entry]\n"
           "Type=Directory\n"
           "Version=1.0\n"
           "Name=" +
           entryValue(name) + "\n";
}

std::string shellQuote(std::string_view text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

}  // namespace ombra::install
