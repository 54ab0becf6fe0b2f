// ombra_bench [KiB] [baud]: what the dialog costs while a burn streams. One
// burn and verify of the image (default 1 MiB at 460,800 baud, paced board)
// through the dialog, and the same through ombra-cli, each on a fresh
// board: wall time, the front end's CPU seconds per MiB, and the longest
// time the dialog's event loop was kept from running.
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "gui_rig.h"
#include "ombra/testsupport/cpu_time.h"
#include "ombra_dlg.h"

using namespace ombra;
using namespace ombra::frontend;
using namespace ombra::guitest;

namespace {

using testsupport::childrenCpuSeconds;
using testsupport::selfCpuSeconds;

}  // namespace

int main(int argc, char** argv) {
    const std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    const int baud = argc > 2 ? std::atoi(argv[2]) : 460800;
    const std::size_t size = kib * 1024;
    const double mib = static_cast<double>(size) / (1024.0 * 1024.0);
    const auto image = randomBytes(size, 1);
    // The part must hold the image; the 2 MiB SST part holds 1 MiB and more.
    const std::vector<std::string> board = {"--flash", "SST39LF/VF160", "--flash-time-scale", "0"};

    double dialogWall = 0, dialogSelf = 0, dialogWorker = 0;
    qint64 longestBlockMs = 0;
    bool dialogOk = false;
    {
        Rig rig(board);
        rig.addCBusFile();
        writeFile(rig.file("image.bin"), image);
        AppProfile profile("Tarvik", "Ombra");
        DialogSettings s;
        s.portName = rig.port();
        s.imagePath = rig.file("image.bin");
        s.commandLineBaud = baud;
        COmbraDlg dlg(profile, s);
        dlg.show();
        // A 5 ms tick: the longest gap between two ticks, less the period,
        // is the longest the loop was blocked.
        QElapsedTimer sinceTick;
        QTimer tick;
        sinceTick.start();
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestBlockMs = std::max(longestBlockMs, sinceTick.restart() - 5);
        });
        const double self0 = selfCpuSeconds(), child0 = childrenCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        tick.start(5);
        dlg.OnBtnBurnVerify();
        waitFor([&] { return dlg.mode() == Mode::ready && !dlg.hasWorkerThread(); }, 600000);
        tick.stop();
        dialogWall = wall.elapsed() / 1000.0;
        dialogSelf = selfCpuSeconds() - self0;
        dialogWorker = childrenCpuSeconds() - child0;
        dialogOk = dlg.resultDetail().empty() && rig.stopBoardAndReadFlash(size) == image;
        dlg.OnBtnClose();
    }

    double cliWall = 0, cliCpu = 0;
    bool cliOk = false;
    {
        Rig rig(board);
        writeFile(rig.file("image.bin"), image);
        const double child0 = childrenCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QProcess cli;
        cli.start(QString::fromStdString(runDir() + "/ombra-cli"),
                  {"burn", "--port", QString::fromStdString(rig.port()), "--image",
                   QString::fromStdString(rig.file("image.bin")), "--verify", "--device", "0", "--baud",
                   QString::number(baud)});
        cli.waitForFinished(600000);
        cliWall = wall.elapsed() / 1000.0;
        cliCpu = childrenCpuSeconds() - child0;
        cliOk = cli.exitCode() == 0 && rig.stopBoardAndReadFlash(size) == image;
    }

    const double line = static_cast<double>(size) * 10.0 / baud;
    std::printf("burn and verify of %zu KiB at %d baud, paced board (bytes alone on the wire: %.1f s)\n", kib, baud,
                line);
    std::printf("%-10s %8s %6s %24s %26s %22s\n", "front end", "wall s", "ok", "front-end CPU s/MiB",
                "front end + worker s/MiB", "longest loop block ms");
    std::printf("%-10s %8.1f %6s %24.3f %26.3f %22lld\n", "Ombra", dialogWall, dialogOk ? "yes" : "NO",
                dialogSelf / mib, (dialogSelf + dialogWorker) / mib, static_cast<long long>(longestBlockMs));
    std::printf("%-10s %8.1f %6s %24s %26.3f %22s\n", "ombra-cli", cliWall, cliOk ? "yes" : "NO", "-", cliCpu / mib,
                "-");
    std::printf("The dialog's own CPU includes its operation thread; the simulator's is not counted.\n");
    return dialogOk && cliOk ? 0 : 1;
}
