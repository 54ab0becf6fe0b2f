// sim-bench: emulated instructions per second of the core on two workloads,
// beside Unicorn running the same code in its 16-bit mode with I/O hooks.
#include <unicorn/unicorn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ombra/sim/cpu.h"
#include "workloads.h"

using namespace ombra::sim;
using namespace ombra::sim::bench;

namespace {

struct Result {
    double seconds = 0;
    std::uint64_t instructions = 0;  // HLT excluded
    std::uint16_t ax = 0, bx = 0;
    Uart uart;
};

struct BenchBus final : Bus {
    std::vector<std::uint8_t>& mem;
    Uart uart;
    explicit BenchBus(std::vector<std::uint8_t>& m) : mem(m) {}
    std::uint8_t read8(std::uint32_t p) override { return p < mem.size() ? mem[p] : 0xFF; }
    void write8(std::uint32_t p, std::uint8_t v) override
    {
        if (p < mem.size())
            mem[p] = v;
    }
    std::uint8_t in8(std::uint16_t port) override { return std::uint8_t(uart.in(port)); }
    void out8(std::uint16_t port, std::uint8_t v) override { uart.out(port, v); }
    std::uint16_t in16(std::uint16_t port) override { return uart.in(port); }
    void out16(std::uint16_t port, std::uint16_t v) override { uart.out(port, v); }
};

Result runOurs(const Workload& w)
{
    std::vector<std::uint8_t> mem(1u << 20, 0);
    std::memcpy(mem.data() + kCodeAt, w.code.data(), w.code.size());
    BenchBus bus(mem);
    Cpu cpu(bus, Model::i80186, 4);
    cpu.mapRam(mem.data(), std::uint32_t(mem.size()));
    cpu.reset(0, kCodeAt);
    cpu.regs().sp = 0xFFF0;
    const auto t0 = std::chrono::steady_clock::now();
    while (!cpu.halted())
        cpu.run(1u << 20);
    const auto t1 = std::chrono::steady_clock::now();
    Result r;
    r.seconds = std::chrono::duration<double>(t1 - t0).count();
    r.instructions = cpu.instructions() - 1;
    r.ax = cpu.regs().ax;
    r.bx = cpu.regs().bx;
    r.uart = bus.uart;
    return r;
}

std::uint32_t ucIn(uc_engine*, std::uint32_t port, int, void* user)
{
    return static_cast<Uart*>(user)->in(std::uint16_t(port));
}

void ucOut(uc_engine*, std::uint32_t port, int, std::uint32_t value, void* user)
{
    static_cast<Uart*>(user)->out(std::uint16_t(port), std::uint16_t(value));
}

bool runUnicorn(const Workload& w, std::uint64_t instructions, Result& r)
{
    uc_engine* uc = nullptr;
    if (uc_open(UC_ARCH_X86, UC_MODE_16, &uc) != UC_ERR_OK)
        return false;
    uc_mem_map(uc, 0, 1u << 20, UC_PROT_ALL);
    uc_mem_write(uc, kCodeAt, w.code.data(), w.code.size());
    int zero = 0, sp = 0xFFF0;
    for (int reg : {UC_X86_REG_CS, UC_X86_REG_DS, UC_X86_REG_ES, UC_X86_REG_SS})
        uc_reg_write(uc, reg, &zero);
    uc_reg_write(uc, UC_X86_REG_SP, &sp);
    uc_hook hin, hout;
    uc_hook_add(uc, &hin, UC_HOOK_INSN, reinterpret_cast<void*>(ucIn), &r.uart, 1, 0, UC_X86_INS_IN);
    uc_hook_add(uc, &hout, UC_HOOK_INSN, reinterpret_cast<void*>(ucOut), &r.uart, 1, 0, UC_X86_INS_OUT);
    const auto t0 = std::chrono::steady_clock::now();
    const uc_err err = uc_emu_start(uc, kCodeAt, kCodeAt + w.hltOffset, 0, 0);
    const auto t1 = std::chrono::steady_clock::now();
    int ax = 0, bx = 0;
    uc_reg_read(uc, UC_X86_REG_AX, &ax);
    uc_reg_read(uc, UC_X86_REG_BX, &bx);
    uc_close(uc);
    r.seconds = std::chrono::duration<double>(t1 - t0).count();
    r.instructions = instructions;
    r.ax = std::uint16_t(ax);
    r.bx = std::uint16_t(bx);
    return err == UC_ERR_OK;
}

} // namespace

int main(int argc, char** argv)
{
    unsigned outer = 5000;
    bool coreOnly = false;
    const char* only = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--outer") && i + 1 < argc) {
            outer = unsigned(std::strtoul(argv[++i], nullptr, 10));
        } else if (!std::strcmp(argv[i], "--workload") && i + 1 < argc &&
                   (!std::strcmp(argv[i + 1], "alu") || !std::strcmp(argv[i + 1], "uart"))) {
            only = argv[++i];
        } else if (!std::strcmp(argv[i], "--core-only")) {
            coreOnly = true;
        } else {
            std::printf("usage: sim-bench [--outer N] [--workload alu|uart] [--core-only]\n"
                        "  N: outer loop count of each workload (1..65535, default 5000;\n"
                        "     each outer pass runs 1000 inner iterations)\n"
                        "  --workload: run only that workload\n"
                        "  --core-only: skip Unicorn (for instruction counts under callgrind)\n");
            return !std::strcmp(argv[i], "--help") ? 0 : 2;
        }
    }
    if (outer < 1 || outer > 65535) {
        std::fprintf(stderr, "sim-bench: --outer must be 1..65535\n");
        return 2;
    }
    std::printf("%-20s %14s %12s %12s %8s  %s\n", "workload", "instructions", "core MIPS",
                "Unicorn MIPS", "ratio", "results");
    int status = 0;
    for (const Workload& w : {aluMemoryLoop(std::uint16_t(outer)), uartPollingLoop(std::uint16_t(outer))}) {
        if (only && (std::strcmp(only, "alu") == 0) != (w.name[0] == 'A'))
            continue;
        const Result ours = runOurs(w);
        if (coreOnly) {
            std::printf("%-20s %14llu %12.1f %12s %8s  %s\n", w.name,
                        static_cast<unsigned long long>(ours.instructions),
                        ours.instructions / ours.seconds / 1e6, "-", "-", "core only");
            continue;
        }
        Result uni;
        if (!runUnicorn(w, ours.instructions, uni)) {
            std::fprintf(stderr, "sim-bench: Unicorn failed on %s\n", w.name);
            return 1;
        }
        const double a = ours.instructions / ours.seconds / 1e6;
        const double b = uni.instructions / uni.seconds / 1e6;
        const bool same = ours.ax == uni.ax && ours.bx == uni.bx && ours.uart.echoed == uni.uart.echoed &&
                          ours.uart.checksum == uni.uart.checksum;
        if (!same)
            status = 1;
        std::printf("%-20s %14llu %12.1f %12.1f %8.2f  %s\n", w.name,
                    static_cast<unsigned long long>(ours.instructions), a, b, a / b,
                    same ? "agree" : "DIFFER");
    }
    std::printf("ratio = core MIPS / Unicorn MIPS, measured in the same run\n");
    return status;
}
