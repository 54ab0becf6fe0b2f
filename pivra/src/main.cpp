// Pivra: the trace settings utility.
#include <QThreadPool>

#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "pivra_app.h"

namespace {

std::vector<std::string> argumentsOf(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

int answer(ombra::pivra::Command command, const std::vector<std::string>& args) {
    using ombra::pivra::Command;
    switch (command) {
    case Command::help:
        std::fputs(ombra::pivra::usageText().c_str(), stdout);
        return 0;
    case Command::version:
        std::fputs(ombra::pivra::versionText().c_str(), stdout);
        return 0;
    case Command::bad:
        std::fprintf(stderr, "Pivra: unexpected argument \"%s\"\n", args.empty() ? "" : args.front().c_str());
        std::fputs(ombra::pivra::usageText().c_str(), stderr);
        return 2;
    case Command::dialog:
        break;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    // Help and version need no display; anything else may still be one of
    // Qt's own options, which the application takes out first.
    const auto raw = argumentsOf(argc, argv);
    const auto early = ombra::pivra::parseCommandLine(raw);
    if (early == ombra::pivra::Command::help || early == ombra::pivra::Command::version) return answer(early, raw);

    ombra::pivra::CPivraApp app(argc, argv);
    const auto ours = argumentsOf(argc, argv);
    const int status = answer(ombra::pivra::parseCommandLine(ours), ours);
    if (status >= 0) return status;
    app.InitInstance();
    // The raster engine paints on Qt's global thread pool: its threads are
    // joined before the process ends rather than left to race its exit.
    QThreadPool::globalInstance()->waitForDone();
    return 0;
}
