// worker_bench [KiB]: a whole burn and verify through the burn worker on the
// paced simulator at 115,200 and 460,800 baud. Prints the total time beside
// the line's minimum for the image, the streaming phase as a fraction of the
// line rate, and the CPU time the host processes used per MiB.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "e2e_rig.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"
#include "ombra/testsupport/cpu_time.h"

using namespace ombra;
using namespace ombra::e2e;

using testsupport::childrenCpuSeconds;

int main(int argc, char** argv) {
    const std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    const std::size_t size = kib * 1024;
    const double mib = static_cast<double>(size) / (1024.0 * 1024.0);
    Registry registry;
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(size));
    const HANDLE cancel = CreateEvent(TRUE, FALSE);

    std::printf("burn and verify of %zu KiB through Tordel, paced simulator, %s\n", kib, kProgrammers[0].part);
    std::printf("%8s %9s %9s %7s %10s %10s %12s %12s\n", "baud", "total s", "line s", "ratio", "stream B/s", "of line",
                "worker CPU", "host+sim CPU");
    for (DWORD baud : {115200u, 460800u}) {
        sim::BoardOptions o = fastBoard(kProgrammers[0].part);
        o.paced = true;
        o.flashTimeScale = 1.0;
        sim::Board board(o);
        Job job;
        job.kind = launcher::JobKind::burn;
        job.programmer = &kProgrammers[0];
        job.port = board.portPath();
        job.baud = baud;
        job.path = image;
        job.verify = 1;

        std::uint64_t firstAt = 0, lastAt = 0;
        DWORD firstDone = 0, lastDone = 0;
        const double childBefore = childrenCpuSeconds();
        const std::clock_t selfBefore = std::clock();
        const std::uint64_t started = GetTickCount64();
        const Outcome run = runJob(job, cancel, [&](const launcher::ServiceRecord& r, launcher::WorkerLauncher&) {
            if (r.kind != launcher::ServiceKind::SERVICE_PROGRESS) return;
            const std::uint64_t now = GetTickCount64();
            if (firstAt == 0) {
                firstAt = now;
                firstDone = r.first;
            }
            lastAt = now;
            lastDone = r.first;
        });
        const double total = static_cast<double>(GetTickCount64() - started) / 1000.0;
        const double selfCpu = static_cast<double>(std::clock() - selfBefore) / CLOCKS_PER_SEC;
        const double childCpu = childrenCpuSeconds() - childBefore;

        const bool ok = run.completions() == std::vector<DWORD>{pipe::E_STATUS_SUCCESS} &&
                        board.readFlash(0, static_cast<std::uint32_t>(size)) == readBytes(image);
        const double line = static_cast<double>(size) * 10.0 / baud;  // 8N1: ten bits a byte
        const double streamSeconds = static_cast<double>(lastAt - firstAt) / 1000.0;
        const double streamRate = streamSeconds > 0 ? (lastDone - firstDone) / streamSeconds : 0;
        std::printf("%8u %9.2f %9.2f %7.2f %10.0f %9.0f%% %10.3f s %10.3f s%s\n", unsigned(baud), total, line,
                    total / line, streamRate, 100.0 * streamRate / (baud / 10.0), childCpu / mib, selfCpu / mib,
                    ok ? "" : "  (run failed)");
        if (!ok)
            for (const auto& t : run.texts()) std::printf("    %s\n", t.c_str());
    }
    std::printf("CPU columns are seconds per MiB: the worker process, and this process (launcher and simulator).\n");
    CloseHandle(cancel);
    return 0;
}
