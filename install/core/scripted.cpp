#include "scripted.h"

#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

#include "destination.h"
#include "install_table.h"
#include "ombra/platform/messagebox.h"

namespace ombra::install {
namespace {

constexpr const char* kUsage =
    "usage: OmbraInstall                 the installation wizard\n"
    "       OmbraInstall --unattended --dest DIR [--components LIST] [--no-desktop] [--no-menu]\n"
    "LIST: comma-separated component names or numbers (Ombra 0, Tordel 1, Quasp 2,\n"
    "      Lunet 3, Wexom 4, Cobalt 5, Copper 6, Nickel 7); empty for none; default all\n";

// The log as the page shows it, line ends made native.
std::string printable(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

class PrintingObserver final : public InstallObserver {
public:
    explicit PrintingObserver(std::FILE* out) : out_(out) {}
    void logLine(const std::string& text) override { print("\n" + text); }
    void logAppend(const std::string& text) override { print(text); }
    void setProgress(int) override {}
    void finished(bool) override { print("\n"); }

private:
    void print(const std::string& text)
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::fputs(printable(text).c_str(), out_);
        std::fflush(out_);
    }
    std::FILE* out_;
    std::mutex lock_;
};

bool parseComponents(std::string_view list, std::vector<int>& components)
{
    bool chosen[kComponentCount] = {};
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (item.empty()) continue;
        int number = componentFromText(item);
        if (number < 0) return false;
        chosen[number] = true;
    }
    // In list order, as the selection page gives them.
    components.clear();
    for (int i = 0; i < kComponentCount; ++i)
        if (chosen[i]) components.push_back(i);
    return true;
}

}  // namespace

bool wantsUnattended(std::span<char* const> arguments)
{
    for (std::size_t i = 1; i < arguments.size(); ++i)
        if (std::strcmp(arguments[i], "--unattended") == 0) return true;
    return false;
}

int runUnattended(std::span<char* const> arguments, InstallEnvironment env, std::FILE* out, std::FILE* err)
{
    InstallChoices choices;
    for (int i = 0; i < kComponentCount; ++i) choices.components.push_back(i);
    bool haveDest = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string_view a = arguments[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= arguments.size()) return false;
            target = arguments[++i];
            return true;
        };
        std::string text;
        if (a == "--unattended") {
        } else if (a == "--help") {
            std::fputs(kUsage, out);
            return 0;
        } else if (a == "--dest" && value(choices.destination)) {
            haveDest = true;
        } else if (a == "--components" && value(text)) {
            if (!parseComponents(text, choices.components)) {
                std::fprintf(err, "OmbraInstall: unknown component in \"%s\"\n", text.c_str());
                return 2;
            }
        } else if (a == "--no-desktop") {
            choices.desktopShortcut = false;
        } else if (a == "--no-menu") {
            choices.startMenuShortcut = false;
        } else {
            std::fputs(kUsage, err);
            return 2;
        }
    }
    if (!haveDest) {
        std::fputs(kUsage, err);
        return 2;
    }
    // The page's checks; giving the folder on the command line answers the
    // question whether to create it.
    bool accepted = acceptDestination(choices.destination, [err](const std::string& text, DWORD type) {
        if ((type & 0xF) == MB_YESNO) return IDYES;
        std::fprintf(err, "OmbraInstall: %s\n", text.c_str());
        return IDOK;
    });
    if (!accepted) return 2;

    PrintingObserver observer(out);
    std::fputs(printable(kLogHeader).c_str(), out);
    bool complete = false;
    // Its own thread, as under the wizard.
    std::thread worker([&] {
        Installation installation(choices, std::move(env), observer);
        complete = installation.runInstallation();
    });
    worker.join();
    return complete ? 0 : 1;
}

}  // namespace ombra::install
