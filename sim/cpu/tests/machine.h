#pragma once
// A small board for core tests: flat memory of the model's address width,
// ports that echo into a log, and helpers to place code and vectors.
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "ombra/sim/cpu.h"

namespace ombra::sim::test {

struct TestBus final : Bus {
    std::vector<std::uint8_t> mem;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> outs;
    std::uint8_t nextIn = 0x10;  // in8 returns 0x10, 0x11, ...
    std::vector<std::uint32_t> wordReads, wordWrites;  // read16 / write16 calls
    explicit TestBus(std::size_t size) : mem(size, 0) {}
    std::uint8_t read8(std::uint32_t p) override { return mem.at(p); }
    void write8(std::uint32_t p, std::uint8_t v) override { mem.at(p) = v; }
    std::uint8_t in8(std::uint16_t) override { return nextIn++; }
    void out8(std::uint16_t port, std::uint8_t v) override { outs.emplace_back(port, v); }
    std::uint16_t read16(std::uint32_t p) override
    {
        wordReads.push_back(p);
        return Bus::read16(p);
    }
    void write16(std::uint32_t p, std::uint16_t v) override
    {
        wordWrites.push_back(p);
        Bus::write16(p, v);
    }
};

struct Machine {
    TestBus bus;
    Cpu cpu;
    explicit Machine(Model model = Model::i80186, unsigned shift = 4, std::uint16_t ip = 0)
        : bus(shift == 8 ? (1u << 24) : (1u << 20)), cpu(bus, model, shift)
    {
        cpu.reset(0x0100, ip);
        Registers& r = cpu.regs();
        r.ss = 0x0200;
        r.sp = 0x0100;
        r.ds = 0x0300;
        r.es = 0x0400;
        // Every vector points at its own HLT so a trap is easy to see.
        for (unsigned v = 0; v < 256; ++v) {
            setVector(std::uint8_t(v), 0x0F00, std::uint16_t(v));
            bus.mem.at(cpu.physical(0x0F00, std::uint16_t(v))) = 0xF4;
        }
    }
    void setVector(std::uint8_t v, std::uint16_t seg, std::uint16_t off)
    {
        poke16(v * 4u, off);
        poke16(v * 4u + 2, seg);
    }
    void poke16(std::uint32_t phys, std::uint16_t v)
    {
        bus.mem.at(phys) = std::uint8_t(v);
        bus.mem.at(phys + 1) = std::uint8_t(v >> 8);
    }
    std::uint16_t peek16(std::uint32_t phys) const
    {
        return std::uint16_t(bus.mem.at(phys) | bus.mem.at(phys + 1) << 8);
    }
    // Places code at CS:IP.
    void code(std::initializer_list<std::uint8_t> bytes)
    {
        std::uint16_t ip = cpu.regs().ip;
        for (std::uint8_t b : bytes)
            bus.mem.at(cpu.physical(cpu.regs().cs, ip++)) = b;
    }
    std::uint16_t stackWord(unsigned index) const
    {
        const Registers& r = cpu.regs();
        return peek16(cpu.physical(r.ss, std::uint16_t(r.sp + 2 * index)));
    }
    // True when the core sits in the handler of vector v.
    bool trapped(std::uint8_t v) const { return cpu.regs().cs == 0x0F00 && cpu.regs().ip == v + 1u; }
};

} // namespace ombra::sim::test
