#include "destination.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "ombra/platform/messagebox.h"

namespace fs = std::filesystem;

namespace ombra::install {
namespace {

std::string expandHome(const std::string& text)
{
    if (text.empty() || text[0] != '~' || (text.size() > 1 && text[1] != '/')) return text;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + text.substr(1);
}

// Names that a desktop entry, the uninstall script or a registry value
// could not carry as one line.
bool hasControlCharacter(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

}  // namespace

std::string storedFolder(const std::string& text)
{
    std::string expanded = expandHome(text);
    if (expanded.empty()) return expanded;
    std::error_code ec;
    fs::path path = fs::absolute(fs::path(expanded), ec);
    if (ec) path = fs::path(expanded);
    std::string out = path.lexically_normal().string();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

bool acceptDestination(std::string& folder, const AskFn& ask)
{
    const std::string text = folder;
    if (text.empty()) {
        ask("You must select a destination folder to continue", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    const std::string illegal = text + " is an illegal directory name";
    if (hasControlCharacter(text)) {
        ask(illegal, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    const fs::path path(expandHome(text));
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (fs::exists(status)) {
        if (!fs::is_directory(status)) {
            ask(illegal, MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
    } else {
        // A case-insensitive system lowers an all-capitals path for looks;
        // here that would name another folder, so the text stays as typed.
        if (text.find('/') == std::string::npos) {
            ask(illegal, MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
        fs::create_directory(path, ec);
        if (!fs::is_directory(path, ec)) {
            ask("Unable to create a directory named " + text + " ", MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
        // Asked after the fact: No keeps the folder just made.
        if (ask("Directory " + text + " doesn't exist. Do you want to create it ?", MB_YESNO | MB_ICONQUESTION) !=
            IDYES)
            return false;
    }
    folder = storedFolder(text);
    return true;
}

}  // namespace ombra::install
