// Ombra: the operator's program.
#include <QApplication>
#include <QThreadPool>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ombra_app.h"

namespace {

constexpr const char* kHelp =
    "Usage: Ombra [-s PORT] [-b BAUD] [-f IMAGE] [-l LOGFILE] [-a | -av]\n"
    "       Ombra UNINSTALL\n"
    "\n"
    "Identifies, burns, verifies and dumps the flash of Selkan K/L boards over a\n"
    "serial line. Without switches the dialog opens with the last settings.\n"
    "\n"
    "  -s PORT     serial port (a device path such as /dev/ttyUSB0)\n"
    "  -b BAUD     19200, 38400, 57600, 115200, 230400 or 460800\n"
    "  -f IMAGE    image file to burn (put at the top of the image history)\n"
    "  -l LOGFILE  report file of an unattended run (a path with spaces in\n"
    "              double quotes)\n"
    "  -a          unattended run: identify the flash, burn, write the report, quit\n"
    "  -av         the same with verification\n"
    "  UNINSTALL   remove the machine-wide settings and the uninstall entry\n"
    "  --help      this text;  --version  the program's version\n"
    "\n"
    "Every switch also takes the form /s, /f, ... An unattended run exits with 1\n"
    "when its report holds a failure, else 0. Without a display the dialog runs\n"
    "offscreen and questions get their safe answer.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("Ombra Version 1.01");
        return 0;
    }
    // Without a display the dialog still runs (an unattended run on a
    // production line or a build machine), just not where anyone sees it.
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0') &&
        std::getenv("QT_QPA_PLATFORM") == nullptr)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt sees only the program name: the command line is the program's own
    // ("-s", "-b", ... must not be taken for Qt's options).
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName("Ombra");
    QApplication::setQuitOnLastWindowClosed(false);
    // The raster engine splits large fills over Qt's global thread pool.
    // Idle pool threads end at once, so none is still ending while the
    // process does (a sanitizer build reports its thread data then).
    QThreadPool::globalInstance()->setExpiryTimeout(0);
    const int exitCode = ombra::frontend::COmbraApp().run(argc, argv);
    // Joined before the process ends, not left to race its exit.
    QThreadPool::globalInstance()->waitForDone();
    return exitCode;
}
