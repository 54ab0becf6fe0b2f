// OmbraInstall: the installation wizard, or with --unattended the same
// installation without a window (packaging, tests).
#include <QApplication>

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
    return app.exec();
}
