// gang_bench [boards] [KiB] [baud] [selkan-sim]: ombra-cli burns and verifies an image
// into one board of a paced selkan-sim, then into all of its boards in
// parallel (default 8 boards, 1 MiB, 460,800 baud), then into one board at
// the other of 115,200 and 460,800 baud. Prints the wall time, the
// aggregate throughput as a multiple of one board's, the CPU time per MiB
// of the simulator, of ombra-cli itself (the launcher's record pump and the
// display), of the workers, and of all of them together, and the
// simulator's CPU per MiB for one board at both rates. A selkan-sim of
// another build may be named, to compare.
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_rig.h"
#include "ombra/platform/clock.h"
#include "ombra/testsupport/cpu_time.h"

using namespace ombra;
using namespace ombra::e2e;
using testsupport::childrenCpuSeconds;
using testsupport::processCpuSeconds;

namespace {

struct Phase {
    std::size_t boards = 0;
    double wall = 0, sim = 0, cli = 0, children = 0;
    bool ok = false;
    std::string output;
};

Phase runPhase(const Registry& registry, const SimProcess& sim, std::size_t boards, const std::string& image,
               unsigned baud) {
    std::vector<std::string> args = {"burn", "--image", image, "--verify", "--baud", std::to_string(baud), "--plain"};
    for (std::size_t i = 0; i < boards; ++i) args.insert(args.end(), {"--port", sim.ports()[i]});
    Phase p;
    p.boards = boards;
    const double sim0 = processCpuSeconds(sim.pid());
    const double children0 = childrenCpuSeconds();
    const std::uint64_t started = GetTickCount64();
    CliProcess cli(registry, args);
    // ombra-cli's own time, read while it runs (its children are counted
    // when it reaps them, and it when this process reaps it).
    while (cli.running()) {
        p.cli = std::max(p.cli, processCpuSeconds(cli.pid()));
        if (cli.waitForOutput({"\nReport\n"}, 100)) break;
    }
    const double last = processCpuSeconds(cli.pid());
    if (last > p.cli) p.cli = last;
    const Finished f = cli.finish();
    p.wall = static_cast<double>(GetTickCount64() - started) / 1000.0;
    p.sim = processCpuSeconds(sim.pid()) - sim0;
    p.children = childrenCpuSeconds() - children0;
    p.ok = f.exitCode == 0;
    p.output = f.output;
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t boards = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 8;
    const std::size_t kib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    const unsigned baud = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 460800;
    const std::string simProgram = argc > 4 ? argv[4] : "";
    if (boards < 1 || boards > 32 || kib < 1 || kib > 2048 || baud == 0) {
        std::fprintf(stderr, "usage: gang_bench [boards 1-32] [KiB 1-2048] [baud] [selkan-sim]\n");
        return 2;
    }
    const std::size_t size = kib * 1024;
    const double mib = static_cast<double>(size) / (1024.0 * 1024.0);

    Registry registry;
    SimProcess sim(registry, {}, static_cast<int>(boards), true, simProgram);
    if (!sim.waitUntilUp()) {
        std::fprintf(stderr, "gang_bench: selkan-sim did not start\n");
        return 1;
    }
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(size, 7));

    std::printf("ombra-cli burn --verify of %zu KiB per board, paced selkan-sim (SST39LF/VF160, flash times as the "
                "part's), %u baud\n",
                kib, baud);
    std::printf("(the image alone on the wire: %.1f s a board)\n", static_cast<double>(size) * 10.0 / baud);
    std::printf("%7s %8s %11s %5s %14s %14s %14s %14s\n", "boards", "wall s", "MiB/s", "ok", "sim CPU/MiB",
                "cli CPU/MiB", "workers/MiB", "all CPU/MiB");
    std::vector<Phase> phases;
    for (std::size_t n : {std::size_t{1}, boards}) {
        if (n == 1 && boards == 1 && !phases.empty()) break;
        Phase p = runPhase(registry, sim, n, image, baud);
        const double burned = mib * static_cast<double>(n);
        const double workers = p.children - p.cli;
        std::printf("%7zu %8.1f %11.3f %5s %12.2f s %12.2f s %12.2f s %12.2f s\n", n, p.wall, burned / p.wall,
                    p.ok ? "yes" : "NO", p.sim / burned, p.cli / burned, workers / burned,
                    (p.sim + p.children) / burned);
        if (!p.ok) {
            // The failing run's texts but the long lists of verified ranges.
            std::size_t start = 0;
            for (std::size_t end; (end = p.output.find('\n', start)) != std::string::npos; start = end + 1) {
                const std::string line = p.output.substr(start, end - start);
                if (line.find("Verifying addresses") == std::string::npos) std::printf("  | %s\n", line.c_str());
            }
        }
        phases.push_back(std::move(p));
    }
    if (phases.size() == 2) {
        const double multiple = (static_cast<double>(boards) / phases[1].wall) / (1.0 / phases[0].wall);
        std::printf("aggregate throughput of %zu boards: %.2f x one board's (aim: at least %.1f)\n", boards, multiple,
                    0.9375 * static_cast<double>(boards));
    }
    // One board at the other common rate too: waiting costs per second and
    // the work per byte, so the slower line shows what waiting costs.
    const unsigned other = baud == 115200 ? 460800 : 115200;
    Phase single = runPhase(registry, sim, 1, image, other);
    std::printf("simulator CPU per MiB, one board: %.2f s at %u baud, %.2f s at %u baud%s (aim: below 1 s)\n",
                phases.front().sim / mib, baud, single.sim / mib, other, single.ok ? "" : " (that run FAILED)");
    std::printf("CPU columns: seconds per MiB burned (and verified); \"all\" = simulator + ombra-cli + workers.\n");
    return phases.back().ok && single.ok ? 0 : 1;
}
