#pragma once
// Memory and I/O as the CPU core sees them. The board implements this; the
// core calls it for every access outside the RAM span given to Cpu::mapRam.
#include <cstdint>

namespace ombra::sim {

struct Bus {
    // Physical addresses are already wrapped to the core's address width.
    virtual std::uint8_t read8(std::uint32_t phys) = 0;
    virtual void write8(std::uint32_t phys, std::uint8_t v) = 0;
    virtual std::uint8_t in8(std::uint16_t port) = 0;
    virtual void out8(std::uint16_t port, std::uint8_t v) = 0;
    // Word ports: the default splits into two byte accesses, low byte first.
    virtual std::uint16_t in16(std::uint16_t port);
    virtual void out16(std::uint16_t port, std::uint16_t v);
    // Word memory accesses in one bus cycle: phys holds the low byte and
    // phys + 1 the high byte (never wrapped). Words that wrap at the end of
    // their segment or of the address space arrive as two byte accesses.
    // The default splits, low byte first.
    virtual std::uint16_t read16(std::uint32_t phys);
    virtual void write16(std::uint32_t phys, std::uint16_t v);

protected:
    ~Bus() = default;
};

} // namespace ombra::sim
