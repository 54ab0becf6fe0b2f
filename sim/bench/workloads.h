#pragma once
// The benchmark's target code, hand-assembled 16-bit real-mode programs that
// end at a HLT, and the UART model both engines answer port reads with.
#include <cstdint>
#include <vector>

namespace ombra::sim::bench {

struct Workload {
    const char* name;
    std::vector<std::uint8_t> code;  // loaded at kCodeAt, entered at its first byte
    std::uint16_t hltOffset;         // offset of the final HLT inside code
};

constexpr std::uint16_t kCodeAt = 0x1000;   // CS = DS = SS = 0
constexpr std::uint16_t kDataAt = 0x8000;
constexpr std::uint16_t kStatusPort = 0xFF82, kReceivePort = 0xFF86, kTransmitPort = 0xFF84;

Workload aluMemoryLoop(std::uint16_t outer);
Workload uartPollingLoop(std::uint16_t outer);

// A link UART whose receiver has a byte waiting on every third status poll.
struct Uart {
    std::uint32_t polls = 0;
    std::uint32_t received = 0;
    std::uint32_t echoed = 0;
    std::uint32_t checksum = 0;
    std::uint16_t in(std::uint16_t port)
    {
        if (port == kStatusPort)
            return (++polls % 3 == 0) ? 0xC0 : 0x40;
        if (port == kReceivePort)
            return std::uint16_t(++received & 0xFF);
        return 0xFFFF;
    }
    void out(std::uint16_t port, std::uint16_t v)
    {
        if (port == kTransmitPort) {
            ++echoed;
            checksum = checksum * 31 + v;
        }
    }
};

} // namespace ombra::sim::bench
