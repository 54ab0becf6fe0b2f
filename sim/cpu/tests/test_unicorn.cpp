// Differential test of the 80186 additions against Unicorn in 16-bit mode on
// random operands. Unicorn behaves like a later part in places, so only what
// the 80186 defines is compared: flags left undefined are masked, and a trap
// is compared as "trapped with this vector" (Unicorn reports interrupts
// through a hook instead of the vector table).
#include <gtest/gtest.h>
#include <unicorn/unicorn.h>

#include <cstring>
#include <random>
#include <sstream>
#include <vector>

#include "machine.h"

using namespace ombra::sim;
using ombra::sim::test::Machine;

namespace {

constexpr std::uint16_t kCs = 0x6000, kSs = 0x0200, kDs = 0x0300, kEs = 0x0400;
constexpr std::uint32_t kDataLo = 0x2000, kDataHi = 0x5000;  // stack, DS and ES pages
constexpr std::uint16_t kAllFlags = CF | PF | AF | ZF | SF | TF | IF | DF | OF;

struct Io {
    std::uint8_t next = 0x10;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> outs;
    int trap = -1;
};

std::uint32_t ucIn(uc_engine*, std::uint32_t, int size, void* user)
{
    Io& io = *static_cast<Io*>(user);
    std::uint32_t v = io.next++;
    if (size == 2)
        v |= std::uint32_t(io.next++) << 8;
    return v;
}

void ucOut(uc_engine*, std::uint32_t port, int size, std::uint32_t value, void* user)
{
    Io& io = *static_cast<Io*>(user);
    io.outs.emplace_back(std::uint16_t(port), std::uint8_t(value));
    if (size == 2)
        io.outs.emplace_back(std::uint16_t(port + 1), std::uint8_t(value >> 8));
}

void ucIntr(uc_engine* uc, std::uint32_t intno, void* user)
{
    static_cast<Io*>(user)->trap = int(intno);
    uc_emu_stop(uc);
}

struct Case {
    std::vector<std::uint8_t> code;
    Registers regs;
    std::vector<std::uint8_t> data;  // kDataLo..kDataHi
    std::uint16_t flagMask = kAllFlags;
};

struct Outcome {
    Registers regs;
    std::vector<std::uint8_t> data;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> outs;
    int trap = -1;
};

class Unicorn : public ::testing::Test {
protected:
    uc_engine* uc = nullptr;
    Io io;
    unsigned slot = 0;

    void SetUp() override
    {
        ASSERT_EQ(uc_open(UC_ARCH_X86, UC_MODE_16, &uc), UC_ERR_OK);
        ASSERT_EQ(uc_mem_map(uc, 0, 1u << 20, UC_PROT_ALL), UC_ERR_OK);
        uc_hook h;
        uc_hook_add(uc, &h, UC_HOOK_INSN, reinterpret_cast<void*>(ucIn), &io, 1, 0, UC_X86_INS_IN);
        uc_hook_add(uc, &h, UC_HOOK_INSN, reinterpret_cast<void*>(ucOut), &io, 1, 0, UC_X86_INS_OUT);
        uc_hook_add(uc, &h, UC_HOOK_INTR, reinterpret_cast<void*>(ucIntr), &io, 1, 0);
    }
    void TearDown() override
    {
        if (uc)
            uc_close(uc);
    }

    Outcome runUnicorn(const Case& c)
    {
        io = Io{};
        const std::uint32_t base = std::uint32_t(kCs) << 4;
        const std::uint32_t begin = base + c.regs.ip;
        uc_mem_write(uc, begin, c.code.data(), c.code.size());
        uc_ctl_remove_cache(uc, begin, begin + 32);
        uc_mem_write(uc, kDataLo, c.data.data(), c.data.size());
        const std::pair<int, std::uint16_t> regs[] = {
            {UC_X86_REG_AX, c.regs.ax}, {UC_X86_REG_BX, c.regs.bx}, {UC_X86_REG_CX, c.regs.cx},
            {UC_X86_REG_DX, c.regs.dx}, {UC_X86_REG_SI, c.regs.si}, {UC_X86_REG_DI, c.regs.di},
            {UC_X86_REG_BP, c.regs.bp}, {UC_X86_REG_SP, c.regs.sp}, {UC_X86_REG_CS, kCs},
            {UC_X86_REG_DS, kDs}, {UC_X86_REG_ES, kEs}, {UC_X86_REG_SS, kSs},
            {UC_X86_REG_FLAGS, std::uint16_t(c.regs.flags & 0x0FFF)}};
        for (const auto& [id, v] : regs) {
            int x = v;
            uc_reg_write(uc, id, &x);
        }
        uc_emu_start(uc, begin, begin + c.code.size(), 0, 0);
        Outcome o;
        std::uint16_t Registers::*fields[] = {&Registers::ax, &Registers::bx, &Registers::cx, &Registers::dx,
                                              &Registers::si, &Registers::di, &Registers::bp, &Registers::sp,
                                              &Registers::flags};
        const int ids[] = {UC_X86_REG_AX, UC_X86_REG_BX, UC_X86_REG_CX, UC_X86_REG_DX, UC_X86_REG_SI,
                           UC_X86_REG_DI, UC_X86_REG_BP, UC_X86_REG_SP, UC_X86_REG_FLAGS};
        for (std::size_t i = 0; i < std::size(ids); ++i) {
            int x = 0;
            uc_reg_read(uc, ids[i], &x);
            o.regs.*fields[i] = std::uint16_t(x);
        }
        o.data.resize(kDataHi - kDataLo);
        uc_mem_read(uc, kDataLo, o.data.data(), o.data.size());
        o.outs = io.outs;
        o.trap = io.trap;
        return o;
    }

    static Outcome runOurs(const Case& c)
    {
        Machine m(Model::i80186, 4, c.regs.ip);
        Registers& r = m.cpu.regs();
        const std::uint16_t ip = r.ip;
        r = c.regs;
        r.cs = kCs; r.ds = kDs; r.es = kEs; r.ss = kSs; r.ip = ip;
        std::memcpy(&m.bus.mem[kDataLo], c.data.data(), c.data.size());
        m.code({});
        for (std::size_t i = 0; i < c.code.size(); ++i)
            m.bus.mem.at(m.cpu.physical(kCs, std::uint16_t(ip + i))) = c.code[i];
        const std::uint16_t end = std::uint16_t(ip + c.code.size());
        for (int i = 0; i < 0x20000 && !(r.cs == kCs && r.ip == end) && r.cs != 0x0F00; ++i)
            m.cpu.step();
        Outcome o;
        o.regs = r;
        o.data.assign(m.bus.mem.begin() + kDataLo, m.bus.mem.begin() + kDataHi);
        o.outs = m.bus.outs;
        if (r.cs == 0x0F00)
            o.trap = r.ip;
        return o;
    }

    // Compares one case; returns a description of the differences.
    std::string compare(const Case& c)
    {
        const Outcome a = runOurs(c), b = runUnicorn(c);
        std::ostringstream why;
        if (a.trap != b.trap) {
            why << " trap " << a.trap << " vs " << b.trap;
            return why.str();
        }
        if (a.trap >= 0)
            return {};
        const char* names[] = {"ax", "bx", "cx", "dx", "si", "di", "bp", "sp"};
        std::uint16_t Registers::*fields[] = {&Registers::ax, &Registers::bx, &Registers::cx, &Registers::dx,
                                              &Registers::si, &Registers::di, &Registers::bp, &Registers::sp};
        for (std::size_t i = 0; i < 8; ++i)
            if (a.regs.*fields[i] != b.regs.*fields[i])
                why << " " << names[i] << " " << std::hex << a.regs.*fields[i] << " vs " << b.regs.*fields[i];
        if ((a.regs.flags & c.flagMask) != (b.regs.flags & c.flagMask))
            why << " flags " << std::hex << (a.regs.flags & c.flagMask) << " vs " << (b.regs.flags & c.flagMask);
        for (std::size_t i = 0; i < a.data.size(); ++i)
            if (a.data[i] != b.data[i]) {
                why << " mem[" << std::hex << kDataLo + i << "] " << int(a.data[i]) << " vs " << int(b.data[i]);
                break;
            }
        if (a.outs != b.outs)
            why << " port writes differ";
        return why.str();
    }

    Case randomCase(std::mt19937& rng, std::vector<std::uint8_t> code)
    {
        auto u16 = [&](unsigned lo, unsigned hi) { return std::uint16_t(std::uniform_int_distribution<unsigned>(lo, hi)(rng)); };
        Case c;
        c.code = std::move(code);
        Registers& r = c.regs;
        r.ax = u16(0, 0xFFFF); r.cx = u16(0, 0xFFFF); r.dx = u16(0, 0xFFFF);
        r.bx = u16(0, 0xF00); r.si = u16(0, 0xF00); r.di = u16(0, 0xF00);
        r.bp = u16(0x200, 0xF00); r.sp = u16(0x200, 0xF00) & 0xFFFE;
        r.flags = std::uint16_t(0xF002 | (u16(0, 0xFFFF) & (CF | PF | AF | ZF | SF | OF | DF)));
        r.ip = std::uint16_t(0x10 + 0x20 * (slot++ % 0x700));
        c.data.resize(kDataHi - kDataLo);
        for (auto& b : c.data)
            b = std::uint8_t(rng());
        return c;
    }

    // Runs n random cases of code produced by make; stops at 3 reported differences.
    template <typename Make>
    void check(const char* what, int n, Make make)
    {
        std::mt19937 rng(1234);
        int bad = 0;
        for (int i = 0; i < n && bad < 3; ++i) {
            Case c = make(rng);
            const std::string why = compare(c);
            if (!why.empty()) {
                ++bad;
                std::ostringstream bytes;
                for (std::uint8_t b : c.code)
                    bytes << std::hex << int(b) << " ";
                ADD_FAILURE() << what << " [" << bytes.str() << "]" << why;
            }
        }
    }
};

// A ModR/M byte with the given reg field: a register, or a memory form
// whose address stays inside the compared pages.
std::vector<std::uint8_t> modrm(std::mt19937& rng, unsigned reg)
{
    const unsigned pick = rng() % 5;
    const std::uint8_t disp = std::uint8_t(rng());
    switch (pick) {
    case 0: return {std::uint8_t(0xC0 | reg << 3 | (rng() % 8))};
    case 1: return {std::uint8_t(0x00 | reg << 3 | 7)};        // [bx]
    case 2: return {std::uint8_t(0x40 | reg << 3 | 4), disp};  // [si+d8]
    case 3: return {std::uint8_t(0x40 | reg << 3 | 6), disp};  // [bp+d8]
    default: return {std::uint8_t(0x00 | reg << 3 | 5)};       // [di]
    }
}

std::vector<std::uint8_t> cat(std::initializer_list<std::vector<std::uint8_t>> parts)
{
    std::vector<std::uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(Unicorn, PushaPopaAndPushImmediate)
{
    check("pusha", 200, [&](std::mt19937& g) { return randomCase(g, {0x60}); });
    check("popa", 200, [&](std::mt19937& g) { return randomCase(g, {0x61}); });
    check("push imm16", 200, [&](std::mt19937& g) { return randomCase(g, {0x68, std::uint8_t(g()), std::uint8_t(g())}); });
    check("push imm8", 200, [&](std::mt19937& g) { return randomCase(g, {0x6A, std::uint8_t(g())}); });
}

TEST_F(Unicorn, ImulImmediate)
{
    auto make = [&](std::mt19937& g, bool wide) {
        std::vector<std::uint8_t> imm = {std::uint8_t(g())};
        if (wide)
            imm.push_back(std::uint8_t(g()));
        Case c = randomCase(g, cat({{std::uint8_t(wide ? 0x69 : 0x6B)}, modrm(g, g() % 8), imm}));
        c.flagMask = CF | OF;  // the rest are undefined after IMUL
        return c;
    };
    check("imul r, r/m, imm16", 500, [&](std::mt19937& g) { return make(g, true); });
    check("imul r, r/m, imm8", 500, [&](std::mt19937& g) { return make(g, false); });
}

TEST_F(Unicorn, ShiftsAndRotatesByImmediate)
{
    for (unsigned op : {0u, 1u, 2u, 3u, 4u, 5u, 7u}) {
        for (bool wide : {false, true}) {
            check(wide ? "shift word" : "shift byte", 300, [&](std::mt19937& g) {
                const std::uint8_t count = std::uint8_t(g() % 4 == 0 ? g() % 3 : g());
                Case c = randomCase(g, cat({{std::uint8_t(wide ? 0xC1 : 0xC0)}, modrm(g, op), {count}}));
                const unsigned n = count & 0x1F, width = wide ? 16 : 8;
                if (n == 0)
                    return c;  // nothing changes, flags included
                std::uint16_t mask = DF;
                if (op >= 4) {
                    mask |= SF | ZF | PF;
                    if (n <= width)
                        mask |= CF;
                } else {
                    mask |= CF;
                }
                if (n == 1)
                    mask |= OF;
                c.flagMask = mask;
                return c;
            });
        }
    }
}

TEST_F(Unicorn, InsAndOutsWithAndWithoutRep)
{
    for (std::uint8_t op : {0x6C, 0x6D, 0x6E, 0x6F}) {
        check("ins/outs", 150, [&](std::mt19937& g) {
            std::vector<std::uint8_t> code;
            if (g() % 2)
                code.push_back(0xF3);
            if (op >= 0x6E && g() % 2)
                code.push_back(0x26);  // es: source for OUTS
            code.push_back(op);
            Case c = randomCase(g, code);
            c.regs.cx = std::uint16_t(g() % 20);
            return c;
        });
    }
}

TEST_F(Unicorn, EnterAndLeave)
{
    check("enter", 400, [&](std::mt19937& g) {
        Case c = randomCase(g, {0xC8, std::uint8_t(g()), std::uint8_t(g() % 4), std::uint8_t(g() % 40)});
        c.regs.sp = std::uint16_t(0x800 + (g() % 0x700)) & 0xFFFE;
        c.regs.bp = std::uint16_t(0x100 + (g() % 0xE00));
        return c;
    });
    check("leave", 200, [&](std::mt19937& g) {
        Case c = randomCase(g, {0xC9});
        c.regs.bp = std::uint16_t(0x100 + (g() % 0xE00));
        return c;
    });
}

TEST_F(Unicorn, BoundInAndOutOfRange)
{
    check("bound", 400, [&](std::mt19937& g) {
        Case c = randomCase(g, cat({{0x62}, {std::uint8_t(0x00 | (g() % 8) << 3 | 7)}}));  // [bx]
        // Bounds near the index so both outcomes occur.
        const std::uint16_t lo = std::uint16_t(g()), hi = std::uint16_t(lo + g() % 64);
        const std::uint32_t at = (std::uint32_t(kDs) << 4) + c.regs.bx - kDataLo;
        c.data[at] = std::uint8_t(lo); c.data[at + 1] = std::uint8_t(lo >> 8);
        c.data[at + 2] = std::uint8_t(hi); c.data[at + 3] = std::uint8_t(hi >> 8);
        c.regs.ax = c.regs.cx = c.regs.dx = std::uint16_t(lo + int(g() % 96) - 16);
        c.regs.si = c.regs.di = c.regs.sp = c.regs.bp = c.regs.ax;
        c.regs.sp = 0x800;
        return c;
    });
}

} // namespace
