// Cost of one worker run as the front end sees it: pipes, mutex, process
// start, block, status record, terminate message and the worker's exit.
// Prints the mean and the slowest run; no assertion.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ombra/launcher/launcher.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s WORKER [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 50;
    HANDLE cancel = CreateEvent(TRUE, FALSE);
    using Clock = std::chrono::steady_clock;
    double total = 0, slowest = 0;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        ombra::launcher::WorkerJob job;
        job.kind = ombra::launcher::JobKind::identify;
        job.workerName = "worker";
        job.workerPath = argv[1];
        job.block.commDeviceName = "/dev/null";
        job.block.cbusTable.assign(64, 0xFF);
        job.block.programmerName = "return:success:0";
        job.cancelEvent = cancel;
        bool completed = false;
        ombra::launcher::WorkerLauncher launcher(job, [&](ombra::launcher::ServiceRecord r) {
            completed = r.kind == ombra::launcher::ServiceKind::SERVICE_COMPLETION;
        });
        const auto t0 = Clock::now();
        launcher.run();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        total += ms;
        if (ms > slowest) slowest = ms;
        if (!completed || launcher.workerTerminated()) ++failed;
    }
    CloseHandle(cancel);
    std::printf("worker runs: %d, mean %.2f ms, slowest %.2f ms, runs not ending cleanly: %d\n", runs,
                total / runs, slowest, failed);
    return failed == 0 ? 0 : 1;
}
