// Burn throughput of the driver-file burn programs: a 64 KiB PROGRAM stream
// over a paced link (115,200 and 460,800 baud, or the rates given) into a
// flash with its typical busy times, from the PROGRAM frame to the
// program's DONE. Prints bytes per second and the share of the line rate
// (the UART's own rate / 10 bytes per second, as its divisor makes it), and
// what the simulated board spent on it: instructions run and skipped (idle
// loops) a byte, its wakes, and the CPU time of the board's thread a MiB
// (the host side of this process not included).
//   remote-burn-bench [BAUD...]
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../tests/host_link.h"
#include "ombra/remote/images.h"
#include "ombra/sim/board.h"

using namespace std::chrono_literals;
using ombra::remote::test::HostLink;

namespace {

constexpr std::size_t kBytes = 65536;

struct Case {
    const char* driver;
    const char* part;
    ombra::remote::Family family;
};

bool waitFor(HostLink& link, std::uint8_t type) { return link.waitFor(type, 60s).has_value(); }

int run(const Case& c, unsigned baud) {
    std::ifstream in(std::string(OMBRA_DRIVER_TREE) + "/" + c.driver + "/RemoteCode/RemoteBurn.bin",
                     std::ios::binary);
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    ombra::sim::BoardOptions o;
    o.flashModel = c.part;
    o.paced = true;
    // The programs' SETBAUDRATE divisors suit a 55 MHz chip up to 57,600
    // baud and a 67.5 MHz one above; either chip's line is then within 1 %.
    o.identity = baud <= 57600 ? 0x49 : 0x64;
    ombra::sim::Board board(o);
    HostLink link(board.portPath(), 19200);
    board.loadAndStart(ombra::remote::loadAddress(c.family), image);
    if (!waitFor(link, 0x01)) return std::printf("%s: no PING\n", c.driver), 1;
    link.sendFrame(0x0A, ombra::remote::test::be32(baud));
    if (!waitFor(link, 0x18)) return std::printf("%s: no SETBAUDRATE_RES\n", c.driver), 1;
    // The program sets the divisor after its answer has left (19,200 baud
    // keeps the boot ROM's 179).
    const auto asked = std::chrono::steady_clock::now();
    while (board.ioRegister(0xFF88) == 179 && std::chrono::steady_clock::now() - asked < 500ms)
        std::this_thread::sleep_for(1ms);
    link.setBaud(baud);
    std::this_thread::sleep_for(100ms);

    std::mt19937 gen(1);
    std::vector<std::uint8_t> data(kBytes);
    for (auto& b : data) b = static_cast<std::uint8_t>(gen());
    auto payload = ombra::remote::test::be32(0);
    const auto count = ombra::remote::test::be32(kBytes);
    payload.insert(payload.end(), count.begin(), count.end());
    const auto start = std::chrono::steady_clock::now();
    const auto before = board.stats();
    link.sendFrame(0x05, payload);
    for (std::size_t sent = 0; sent < data.size(); sent += 4096)
        link.send(std::span(data).subspan(sent, 4096));
    const auto reply = link.readFrame(120s);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!reply || reply->type != 0x10)
        return std::printf("%s: stream answered with %d, not DONE\n%s\n", c.driver,
                           reply ? reply->type : -1, board.debugLog().c_str()), 1;
    const auto after = board.stats();
    const double rate = kBytes / seconds;
    const double run = static_cast<double>((after.instructions - after.skipped) - (before.instructions - before.skipped));
    const double counted = static_cast<double>(after.instructions - before.instructions);
    const double cpu = static_cast<double>(after.threadCpuNs - before.threadCpuNs) / 1e9;
    std::printf("%-6s %-14s %zu bytes in %.2f s: %.0f bytes/s, %.1f %% of the line rate\n", c.driver, c.part, kBytes,
                seconds, rate, 100.0 * rate / (board.linkBaud() / 10.0));
    std::printf("       instructions a byte: %.0f run, %.0f skipped; %.2f wakes a KiB; %.2f s board CPU a MiB\n",
                run / kBytes, (counted - run) / kBytes, static_cast<double>(after.sleeps - before.sleeps) * 1024 / kBytes,
                cpu * 1048576 / kBytes);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<unsigned> rates;
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
        const unsigned long baud = std::strtoul(argv[i], &end, 10);
        if (*end != '\0' || baud < 1200 || baud > 921600) {
            std::fprintf(stderr, "usage: remote-burn-bench [BAUD...] (1200 to 921600)\n");
            return 2;
        }
        rates.push_back(static_cast<unsigned>(baud));
    }
    if (rates.empty())
        rates = {115200, 460800};
    const Case cases[] = {
        {"SST", "SST39LF/VF160", ombra::remote::Family::sst},
        {"Intel", "28F160B3T", ombra::remote::Family::intel},
        {"AMD", "AM29LV800BT", ombra::remote::Family::amd},
    };
    int failed = 0;
    for (const unsigned baud : rates) {
        std::printf("%u baud\n", baud);
        for (const auto& c : cases)
            failed += run(c, baud);
    }
    return failed;
}
