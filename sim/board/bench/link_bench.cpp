// sim-link-bench: how fast bytes cross the simulated cable. A target program
// echoes every byte; the host streams a block through it and reads it back.
// Prints bytes per second, unpaced and paced (as a share of the line rate).
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <thread>

#include "../tests/host_port.h"
#include "ombra/sim/board.h"

using namespace ombra::sim;
using namespace std::chrono_literals;

namespace {

struct Result {
    std::size_t bytes = 0;
    double seconds = 0;
    bool intact = false;
    std::uint64_t instructions = 0;
};

Result echo(std::vector<std::uint8_t> image, bool paced, std::uint16_t divisor, speed_t hostRate,
            std::size_t size) {
    BoardOptions o;
    o.paced = paced;
    Board board(o);
    image[2] = static_cast<std::uint8_t>(divisor);
    image[3] = static_cast<std::uint8_t>(divisor >> 8);
    test::HostPort port(board.portPath(), hostRate);
    board.loadAndStart(0x00300000, image);
    std::this_thread::sleep_for(50ms);
    port.purge();

    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>('a' + i % 26);
    Result r;
    r.intact = true;
    const auto start = std::chrono::steady_clock::now();
    std::thread writer([&] { port.write(data); });
    while (r.bytes < size) {
        const auto b = port.readByte(3000ms);
        if (!b)
            break;
        r.intact = r.intact && *b == data[r.bytes];
        ++r.bytes;
    }
    writer.join();
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.intact = r.intact && r.bytes == size;
    r.instructions = board.stats().instructions;
    return r;
}

} // namespace

int main() {
    std::ifstream in(SIM_BENCH_ECHO, std::ios::binary);
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), {}};
    if (image.size() < 4) {
        std::fprintf(stderr, "sim-link-bench: cannot read %s\n", SIM_BENCH_ECHO);
        return 1;
    }
    const double cpu0 = double(std::clock()) / CLOCKS_PER_SEC;
    const Result u = echo(image, false, 0, B19200, 1 << 18);
    std::printf("unpaced echo     %7zu bytes in %6.2f s: %9.0f bytes/s each way, %5.1f M instructions/s%s\n",
                u.bytes, u.seconds, u.bytes / u.seconds, u.instructions / u.seconds / 1e6,
                u.intact ? "" : "  (DATA LOST)");

    struct Paced {
        std::uint16_t divisor;
        speed_t host;
        std::size_t bytes;
    };
    for (const Paced p : {Paced{219, B19200, 12000}, Paced{36, B115200, 48000}}) {
        const double line = 4218750.0 / p.divisor / 10;  // bytes per second on the wire
        const Result r = echo(image, true, p.divisor, p.host, p.bytes);
        std::printf("paced, divisor %3u %6zu bytes in %6.2f s: %9.0f bytes/s = %5.1f %% of the line rate%s\n",
                    p.divisor, r.bytes, r.seconds, r.bytes / r.seconds, 100 * r.bytes / r.seconds / line,
                    r.intact ? "" : "  (DATA LOST)");
    }
    std::printf("host CPU time of the whole run: %.2f s\n", double(std::clock()) / CLOCKS_PER_SEC - cpu0);
    return 0;
}
