// Burn throughput of the driver-file burn programs: a 64 KiB PROGRAM stream
// over a paced 115,200-baud link into a flash with its typical busy times,
// from the PROGRAM frame to the program's DONE. Prints bytes per second and
// the share of the line rate (baud / 10 bytes per second).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "../tests/host_link.h"
#include "ombra/remote/images.h"
#include "ombra/sim/board.h"

using namespace std::chrono_literals;
using ombra::remote::test::HostLink;

namespace {

constexpr unsigned kBaud = 115200;
constexpr std::size_t kBytes = 65536;

struct Case {
    const char* driver;
    const char* part;
    ombra::remote::Family family;
};

bool waitFor(HostLink& link, std::uint8_t type) { return link.waitFor(type, 60s).has_value(); }

int run(const Case& c) {
    std::ifstream in(std::string(OMBRA_DRIVER_TREE) + "/" + c.driver + "/RemoteCode/RemoteBurn.bin",
                     std::ios::binary);
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    ombra::sim::BoardOptions o;
    o.flashModel = c.part;
    o.paced = true;
    ombra::sim::Board board(o);
    HostLink link(board.portPath(), 19200);
    board.loadAndStart(ombra::remote::loadAddress(c.family), image);
    if (!waitFor(link, 0x01)) return std::printf("%s: no PING\n", c.driver), 1;
    link.sendFrame(0x0A, ombra::remote::test::be32(kBaud));
    if (!waitFor(link, 0x18)) return std::printf("%s: no SETBAUDRATE_RES\n", c.driver), 1;
    while (board.ioRegister(0xFF88) == 179) std::this_thread::sleep_for(1ms);
    link.setBaud(kBaud);
    std::this_thread::sleep_for(100ms);

    std::mt19937 gen(1);
    std::vector<std::uint8_t> data(kBytes);
    for (auto& b : data) b = static_cast<std::uint8_t>(gen());
    auto payload = ombra::remote::test::be32(0);
    const auto count = ombra::remote::test::be32(kBytes);
    payload.insert(payload.end(), count.begin(), count.end());
    const auto start = std::chrono::steady_clock::now();
    link.sendFrame(0x05, payload);
    for (std::size_t sent = 0; sent < data.size(); sent += 4096)
        link.send(std::span(data).subspan(sent, 4096));
    const auto reply = link.readFrame(120s);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!reply || reply->type != 0x10)
        return std::printf("%s: stream answered with %d, not DONE\n%s\n", c.driver,
                           reply ? reply->type : -1, board.debugLog().c_str()), 1;
    const double rate = kBytes / seconds;
    std::printf("%-6s %-14s %zu bytes in %.2f s: %.0f bytes/s, %.1f %% of the line rate\n",
                c.driver, c.part, kBytes, seconds, rate, 100.0 * rate / (kBaud / 10.0));
    return 0;
}

}  // namespace

int main() {
    const Case cases[] = {
        {"SST", "SST39LF/VF160", ombra::remote::Family::sst},
        {"Intel", "28F160B3T", ombra::remote::Family::intel},
        {"AMD", "AM29LV800BT", ombra::remote::Family::amd},
    };
    int failed = 0;
    for (const auto& c : cases) failed += run(c);
    return failed;
}
