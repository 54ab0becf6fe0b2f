// OmbraInstall: the installation wizard, or with --unattended the same
// installation without a window (packaging, tests).
#include <QApplication>
#include <QThreadPool>

#include <cstdio>
#include <span>

#include "payload.h"
#include "scripted.h"
#include "wizard.h"

int main(int argc, char** argv)
{
    using namespace ombra::install;
    std::span<char* const> arguments(argv, static_cast<std::size_t>(argc));
    if (wantsUnattended(arguments))
        return runUnattended(arguments, defaultEnvironment(embeddedPayload()), stdout, stderr);
    if (argc > 1) {
        // Anything else is a mistyped scripted run; never start the wizard on it.
        return runUnattended(arguments, defaultEnvironment(embeddedPayload()), stdout, stderr);
    }
    QApplication app(argc, argv);
    COmbraInstallPropertySheet sheet(defaultEnvironment(embeddedPayload()));
    sheet.show();
    const int exitCode = app.exec();
    // The raster engine paints on Qt's global thread pool: its threads are
    // joined before the process ends rather than left to race its exit.
    QThreadPool::globalInstance()->waitForDone();
    return exitCode;
}
