#include "workloads.h"

namespace ombra::sim::bench {

namespace {

void word(std::vector<std::uint8_t>& c, std::uint16_t v)
{
    c.push_back(std::uint8_t(v));
    c.push_back(std::uint8_t(v >> 8));
}

// Backward short jump from the byte after the displacement to target.
std::uint8_t back(const std::vector<std::uint8_t>& c, std::size_t target)
{
    return std::uint8_t(std::int8_t(std::int32_t(target) - std::int32_t(c.size() + 1)));
}

} // namespace

Workload aluMemoryLoop(std::uint16_t outer)
{
    std::vector<std::uint8_t> c;
    c.push_back(0xBD); word(c, outer);            // mov bp, outer
    const std::size_t outerTop = c.size();
    c.push_back(0xB9); word(c, 1000);             // mov cx, 1000
    c.push_back(0xBE); word(c, kDataAt);          // mov si, data
    const std::size_t inner = c.size();
    c.insert(c.end(), {0x8B, 0x1C});              // mov bx, [si]
    c.insert(c.end(), {0x01, 0xCB});              // add bx, cx
    c.insert(c.end(), {0x81, 0xF3}); word(c, 0x5555);  // xor bx, 0x5555
    c.insert(c.end(), {0x89, 0x5C, 0x02});        // mov [si+2], bx
    c.insert(c.end(), {0xFF, 0x44, 0x04});        // inc word [si+4]
    c.insert(c.end(), {0xD1, 0xE0});             // shl ax, 1
    c.insert(c.end(), {0x11, 0xD8});              // adc ax, bx
    c.insert(c.end(), {0x83, 0xC6, 0x02});        // add si, 2
    c.insert(c.end(), {0x81, 0xE6}); word(c, 0x80FE);  // and si, 0x80FE (stay in 256 bytes)
    c.push_back(0xE2); c.push_back(back(c, inner));     // loop inner
    c.push_back(0x4D);                            // dec bp
    c.push_back(0x75); c.push_back(back(c, outerTop));  // jnz outer
    const auto hlt = std::uint16_t(c.size());
    c.push_back(0xF4);
    return {"ALU/memory loop", c, hlt};
}

Workload uartPollingLoop(std::uint16_t outer)
{
    std::vector<std::uint8_t> c;
    c.push_back(0xBD); word(c, outer);            // mov bp, outer
    const std::size_t outerTop = c.size();
    c.push_back(0xB9); word(c, 1000);             // mov cx, 1000
    const std::size_t poll = c.size();
    c.push_back(0xBA); word(c, kStatusPort);      // mov dx, status
    c.push_back(0xED);                            // in ax, dx
    c.insert(c.end(), {0xA8, 0x80});              // test al, 0x80
    c.insert(c.end(), {0x74, 0x00});              // jz next (patched)
    const std::size_t jz = c.size() - 1;
    c.push_back(0xBA); word(c, kReceivePort);     // mov dx, receive
    c.push_back(0xED);                            // in ax, dx
    c.push_back(0xBA); word(c, kTransmitPort);    // mov dx, transmit
    c.push_back(0xEF);                            // out dx, ax
    c[jz] = std::uint8_t(c.size() - (jz + 1));
    c.push_back(0xE2); c.push_back(back(c, poll));      // loop poll
    c.push_back(0x4D);                            // dec bp
    c.push_back(0x75); c.push_back(back(c, outerTop));  // jnz outer
    const auto hlt = std::uint16_t(c.size());
    c.push_back(0xF4);
    return {"UART polling loop", c, hlt};
}

} // namespace ombra::sim::bench
