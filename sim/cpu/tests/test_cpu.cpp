// The 80186 additions and traps, checked against the 80186 documentation,
// and the core's interface to the board: addressing, HLT, interrupts, REP
// resumption, the RAM fast path, trace and disassembly.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "machine.h"

using namespace ombra::sim;
using ombra::sim::test::Machine;

namespace {

constexpr std::uint16_t kStart = 0x20;  // code starts here so return addresses mean something

Machine at(Model m = Model::i80186, unsigned shift = 4)
{
    return Machine(m, shift, kStart);
}

TEST(Cpu186, PushaStoresOriginalSpAndPopaSkipsIt)
{
    Machine m = at();
    Registers& r = m.cpu.regs();
    r.ax = 1; r.cx = 2; r.dx = 3; r.bx = 4; r.bp = 6; r.si = 7; r.di = 8;
    m.code({0x60, 0x61, 0xF4});
    m.cpu.run(1);
    EXPECT_EQ(r.sp, 0x00F0);
    const std::uint16_t want[] = {8, 7, 6, 0x0100, 4, 3, 2, 1};  // DI first
    for (unsigned i = 0; i < 8; ++i)
        EXPECT_EQ(m.stackWord(i), want[i]) << i;
    m.poke16(m.cpu.physical(r.ss, r.sp + 6), 0x1234);  // the stored SP slot
    r.ax = r.cx = r.dx = r.bx = r.bp = r.si = r.di = 0;
    m.cpu.run(1);
    EXPECT_EQ(r.sp, 0x0100);
    EXPECT_EQ(r.ax, 1); EXPECT_EQ(r.cx, 2); EXPECT_EQ(r.dx, 3); EXPECT_EQ(r.bx, 4);
    EXPECT_EQ(r.bp, 6); EXPECT_EQ(r.si, 7); EXPECT_EQ(r.di, 8);
}

TEST(Cpu186, PushImmediateSignExtendsTheShortForm)
{
    Machine m = at();
    m.code({0x68, 0x34, 0x12, 0x6A, 0x80, 0x6A, 0x7F, 0xF4});
    m.cpu.run(3);
    EXPECT_EQ(m.stackWord(0), 0x007F);
    EXPECT_EQ(m.stackWord(1), 0xFF80);
    EXPECT_EQ(m.stackWord(2), 0x1234);
}

TEST(Cpu186, ImulImmediateKeepsLowWordAndFlagsTruncation)
{
    Machine m = at();
    Registers& r = m.cpu.regs();
    r.bx = 300;
    r.si = 0x10;
    m.poke16(m.cpu.physical(r.ds, 0x12), 0x4000);
    // imul ax, bx, -2 ; imul cx, [si+2], 4 ; imul dx, bx, 0x0100
    m.code({0x69, 0xC3, 0xFE, 0xFF, 0x6B, 0x4C, 0x02, 0x04, 0x69, 0xD3, 0x00, 0x01, 0xF4});
    m.cpu.run(1);
    EXPECT_EQ(r.ax, 0xFDA8);  // -600
    EXPECT_FALSE(r.flags & (CF | OF));
    m.cpu.run(1);
    EXPECT_EQ(r.cx, 0x0000);  // 0x10000 truncated
    EXPECT_EQ(r.flags & (CF | OF), CF | OF);
    m.cpu.run(1);
    EXPECT_EQ(r.dx, 0x2C00);  // 300 * 256 = 0x12C00
    EXPECT_EQ(r.flags & (CF | OF), CF | OF);
}

TEST(Cpu186, ShiftCountsAreMaskedToFiveBits)
{
    for (Model model : {Model::i80186, Model::i8086}) {
        Machine m = at(model);
        Registers& r = m.cpu.regs();
        r.ax = 1;
        r.bx = 1;
        r.cx = 0x21;
        m.code({0xD3, 0xE3, 0xF4});  // shl bx, cl
        m.cpu.run(1);
        EXPECT_EQ(r.bx, model == Model::i80186 ? 2 : 0);
    }
    Machine m = at();
    Registers& r = m.cpu.regs();
    r.ax = 0x0081;
    // shl ax, 0x21 ; ror al, 3 ; shr ax, 0x20 (masked to zero: no change, flags kept)
    m.code({0xC1, 0xE0, 0x21, 0xC0, 0xC8, 0x03, 0xC1, 0xE8, 0x20, 0xF4});
    m.cpu.run(1);
    EXPECT_EQ(r.ax, 0x0102);
    m.cpu.run(1);
    EXPECT_EQ(r.ax, 0x0140);
    r.flags |= CF | ZF;
    m.cpu.run(1);
    EXPECT_EQ(r.ax, 0x0140);
    EXPECT_EQ(r.flags & (CF | ZF), CF | ZF);
}

TEST(Cpu186, InsAndOutsWithRepDirectionAndOverride)
{
    Machine m = at();
    Registers& r = m.cpu.regs();
    r.dx = 0x50;
    r.cx = 3;
    r.di = 0x10;
    m.code({0xF3, 0x6C, 0xF4});  // rep insb
    m.cpu.run(10);
    EXPECT_TRUE(m.cpu.halted());
    EXPECT_EQ(r.cx, 0);
    EXPECT_EQ(r.di, 0x13);
    for (unsigned i = 0; i < 3; ++i)
        EXPECT_EQ(m.bus.mem.at(m.cpu.physical(r.es, std::uint16_t(0x10 + i))), 0x10 + i);

    Machine o = at();
    Registers& q = o.cpu.regs();
    q.dx = 0x60;
    q.cx = 2;
    q.si = 0x22;
    q.flags |= DF;
    o.poke16(o.cpu.physical(q.es, 0x20), 0xBBAA);
    o.poke16(o.cpu.physical(q.es, 0x22), 0xDDCC);
    o.code({0x26, 0xF3, 0x6F, 0xF4});  // es: rep outsw, downwards
    o.cpu.run(10);
    EXPECT_EQ(q.si, 0x1E);
    const std::vector<std::pair<std::uint16_t, std::uint8_t>> want = {
        {0x60, 0xCC}, {0x61, 0xDD}, {0x60, 0xAA}, {0x61, 0xBB}};
    EXPECT_EQ(o.bus.outs, want);
}

TEST(Cpu186, EnterBuildsNestedFramesAndLeaveUndoesThem)
{
    Machine m = at();
    Registers& r = m.cpu.regs();
    r.bp = 0x00F8;
    m.poke16(m.cpu.physical(r.ss, 0x00F6), 0xAAAA);  // outer frames' display
    m.poke16(m.cpu.physical(r.ss, 0x00F4), 0xBBBB);
    m.code({0xC8, 0x08, 0x00, 0x03, 0xC9, 0xC8, 0x10, 0x00, 0x00, 0xF4});  // enter 8,3 ; leave ; enter 16,0
    m.cpu.run(1);
    // push bp (at FE), two copied display entries, then the new frame pointer.
    EXPECT_EQ(r.bp, 0x00FE);
    EXPECT_EQ(m.peek16(m.cpu.physical(r.ss, 0xFE)), 0x00F8);
    EXPECT_EQ(m.peek16(m.cpu.physical(r.ss, 0xFC)), 0xAAAA);
    EXPECT_EQ(m.peek16(m.cpu.physical(r.ss, 0xFA)), 0xBBBB);
    EXPECT_EQ(m.peek16(m.cpu.physical(r.ss, 0xF8)), 0x00FE);
    EXPECT_EQ(r.sp, 0x00F8 - 8);
    m.cpu.run(1);
    EXPECT_EQ(r.sp, 0x0100);
    EXPECT_EQ(r.bp, 0x00F8);
    m.cpu.run(1);
    EXPECT_EQ(r.bp, 0x00FE);
    EXPECT_EQ(r.sp, 0x00FE - 16);
}

TEST(Cpu186, BoundTrapsOutsideTheSignedRange)
{
    for (std::uint16_t index : {std::uint16_t(0xFFFB), std::uint16_t(10), std::uint16_t(3)}) {
        Machine m = at();
        Registers& r = m.cpu.regs();
        r.bx = 0x10;
        r.ax = index;
        m.poke16(m.cpu.physical(r.ds, 0x10), 0xFFFB);  // -5
        m.poke16(m.cpu.physical(r.ds, 0x12), 10);
        m.code({0x62, 0x07, 0xF4});
        m.cpu.run(5);
        EXPECT_EQ(r.ip, kStart + 3) << index;
        EXPECT_FALSE(m.trapped(5));
    }
    for (std::uint16_t index : {std::uint16_t(0xFFFA), std::uint16_t(11)}) {
        Machine m = at();
        Registers& r = m.cpu.regs();
        r.bx = 0x10;
        r.ax = index;
        m.poke16(m.cpu.physical(r.ds, 0x10), 0xFFFB);
        m.poke16(m.cpu.physical(r.ds, 0x12), 10);
        m.code({0x3E, 0x62, 0x07, 0xF4});
        m.cpu.run(5);
        EXPECT_TRUE(m.trapped(5)) << index;
        EXPECT_EQ(m.stackWord(0), kStart) << "returns to the prefix of BOUND";
    }
}

struct InvalidCase {
    std::vector<std::uint8_t> bytes;
    const char* what;
};

TEST(Cpu186, UndefinedOpcodesAndFormsRaiseInt6AtTheInstruction)
{
    const InvalidCase cases[] = {
        {{0x0F}, "0F"}, {{0x63}, "63"}, {{0x66}, "66"}, {{0xF1, 0x90}, "F1"},
        {{0x2E, 0x0F}, "0F after a prefix"}, {{0xFE, 0x38}, "FE /7"}, {{0xFF, 0x38}, "FF /7"},
        {{0x8F, 0x08}, "8F /1"}, {{0xC6, 0x08, 0x00}, "C6 /1"}, {{0xC7, 0x08, 0x00, 0x00}, "C7 /1"},
        {{0xF6, 0x08, 0x00}, "F6 /1"}, {{0xD0, 0x30}, "D0 /6"}, {{0x8C, 0xE0}, "mov from sreg 4"},
        {{0x8D, 0xC0}, "lea with a register"}, {{0xC4, 0xC0}, "les with a register"},
        {{0xC5, 0xC0}, "lds with a register"}, {{0x62, 0xC0}, "bound with a register"},
        {{0xFF, 0xD8}, "call far with a register"}, {{0xFF, 0xE8}, "jmp far with a register"},
    };
    for (const InvalidCase& c : cases) {
        Machine m = at();
        std::uint16_t ip = kStart;
        for (std::uint8_t b : c.bytes)
            m.bus.mem.at(m.cpu.physical(m.cpu.regs().cs, ip++)) = b;
        const std::uint16_t flags = m.cpu.regs().flags;
        m.cpu.run(5);
        EXPECT_TRUE(m.trapped(6)) << c.what;
        EXPECT_EQ(m.stackWord(0), kStart) << c.what;
        EXPECT_EQ(m.stackWord(1), 0x0100) << c.what;
        EXPECT_EQ(m.stackWord(2), flags) << c.what;
    }
}

TEST(Cpu186, The8086ModelRunsThoseBytesAsThe8086Did)
{
    Machine m = at(Model::i8086);
    Registers& r = m.cpu.regs();
    m.poke16(m.cpu.physical(r.ss, r.sp), 0x1234);
    m.code({0x0F});  // pop cs
    m.cpu.run(1);
    EXPECT_EQ(r.cs, 0x1234);

    Machine j = at(Model::i8086);
    j.cpu.regs().flags |= OF;
    j.code({0x60, 0x10});  // jo +0x10 on the 8086
    j.cpu.run(1);
    EXPECT_EQ(j.cpu.regs().ip, kStart + 2 + 0x10);
}

TEST(CpuTraps, DivideErrorReturnAddressFollowsTheModel)
{
    struct Case { Model model; std::vector<std::uint8_t> bytes; std::uint16_t ret; };
    const Case cases[] = {
        {Model::i80186, {0xF6, 0xF3}, kStart},              // div bl: back to the divide
        {Model::i80186, {0x2E, 0xF7, 0xF3}, kStart},        // with a prefix: to the prefix
        {Model::i80186, {0xD4, 0x00}, kStart},              // aam 0
        {Model::i8086, {0xF6, 0xF3}, kStart + 2},           // the 8086 returns past it
        {Model::i8086, {0x2E, 0xF7, 0xF3}, kStart + 3},
    };
    for (const Case& c : cases) {
        Machine m = at(c.model);
        m.cpu.regs().bx = 0;
        m.cpu.regs().ax = 0x1234;
        std::uint16_t ip = kStart;
        for (std::uint8_t b : c.bytes)
            m.bus.mem.at(m.cpu.physical(m.cpu.regs().cs, ip++)) = b;
        m.cpu.run(5);
        EXPECT_TRUE(m.trapped(0));
        EXPECT_EQ(m.stackWord(0), c.ret);
        EXPECT_EQ(m.cpu.regs().ax, 0x1234) << "a failed divide leaves its operands";
    }
    // An overflowing quotient traps too; the largest that fits does not.
    Machine m = at();
    m.cpu.regs().ax = 0x01FF;
    m.cpu.regs().bx = 2;
    m.code({0xF6, 0xF3, 0xF6, 0xF3});
    m.cpu.run(1);
    EXPECT_EQ(m.cpu.regs().ax, 0x01FF);  // 0x1FF / 2 = 0xFF rem 1
    m.cpu.regs().ax = 0x0200;
    m.cpu.run(3);
    EXPECT_TRUE(m.trapped(0));
}

TEST(CpuAddressing, PhysicalAddressesWrapAtTheModelsWidth)
{
    Machine wide = at(Model::i80186, 8);
    EXPECT_EQ(wide.cpu.physical(0x4000, 0x0010), 0x400010u);
    EXPECT_EQ(wide.cpu.physical(0x0030, 0x0000), 0x3000u);
    EXPECT_EQ(wide.cpu.physical(0xFFFF, 0x0100), 0x000000u);
    Machine narrow = at(Model::i8086, 4);
    EXPECT_EQ(narrow.cpu.physical(0xFFFF, 0x0010), 0x00000u);
    EXPECT_EQ(narrow.cpu.physical(0xF000, 0xFFFF), 0xFFFFFu);

    // A word at offset FFFF takes its high byte from offset 0 of the segment.
    Machine m = at(Model::i80186, 8);
    Registers& r = m.cpu.regs();
    r.ds = 0x4000;
    m.bus.mem.at(0x40FFFF) = 0x34;
    m.bus.mem.at(0x400000) = 0x12;
    m.code({0xA1, 0xFF, 0xFF, 0xC7, 0x06, 0xFF, 0xFF, 0xCD, 0xAB, 0xF4});  // mov ax,[FFFF]; mov word [FFFF],ABCD
    m.cpu.run(2);
    EXPECT_EQ(r.ax, 0x1234);
    EXPECT_EQ(m.bus.mem.at(0x40FFFF), 0xCD);
    EXPECT_EQ(m.bus.mem.at(0x400000), 0xAB);
    EXPECT_EQ(m.bus.mem.at(0x410000), 0x00);
}

TEST(CpuControl, HltStopsTheRunUntilAnInterruptOrResume)
{
    Machine m = at();
    Registers& r = m.cpu.regs();
    m.setVector(0x20, 0x0100, 0x0040);
    m.bus.mem.at(m.cpu.physical(0x0100, 0x0040)) = 0xCF;  // iret
    m.code({0xFB, 0x90, 0xF4, 0x40, 0xF4});  // sti ; nop ; hlt ; inc ax ; hlt
    EXPECT_EQ(m.cpu.run(100), 3u);
    EXPECT_TRUE(m.cpu.halted());
    EXPECT_EQ(m.cpu.stop(), Cpu::Stop::halted);
    EXPECT_EQ(m.cpu.run(100), 0u);
    EXPECT_TRUE(m.cpu.interrupt(0x20));
    EXPECT_FALSE(m.cpu.halted());
    EXPECT_EQ(r.ip, 0x0040);
    EXPECT_EQ(m.stackWord(0), kStart + 3) << "returns past the HLT";
    EXPECT_FALSE(r.flags & IF);
    EXPECT_EQ(m.cpu.run(100), 3u);  // iret, inc ax, hlt
    EXPECT_EQ(r.ax, 1);
    EXPECT_TRUE(r.flags & IF);
    m.cpu.resume();
    EXPECT_FALSE(m.cpu.halted());
}

TEST(CpuControl, MaskableInterruptsWaitForIfAndTheShadowOfStiAndMovSs)
{
    Machine m = at();
    Registers& r = m.cpu.regs();
    m.code({0xFB, 0x90, 0x8E, 0xD0, 0x90, 0xF4});  // sti ; nop ; mov ss, ax ; nop
    r.ax = r.ss;
    EXPECT_FALSE(m.cpu.interrupt(0x21)) << "IF clear";
    m.cpu.run(1);
    EXPECT_FALSE(m.cpu.interrupt(0x21)) << "right after STI";
    m.cpu.run(1);
    m.cpu.run(1);
    EXPECT_FALSE(m.cpu.interrupt(0x21)) << "right after MOV SS";
    EXPECT_TRUE(m.cpu.interrupt(2, false)) << "a non-maskable one is taken";
    EXPECT_EQ(r.cs, 0x0F00);
    EXPECT_EQ(r.ip, 2);
}

TEST(CpuControl, RepStringRunsOneElementPerStepAndResumesAfterAnInterrupt)
{
    Machine m = at();
    Registers& r = m.cpu.regs();
    m.setVector(0x30, 0x0100, 0x0040);
    m.bus.mem.at(m.cpu.physical(0x0100, 0x0040)) = 0xCF;
    r.cx = 5;
    r.ax = 0x5A;
    r.flags |= IF;
    m.code({0x26, 0xF3, 0xAA, 0xF4});  // es: rep stosb
    EXPECT_EQ(m.cpu.run(2), 2u);
    EXPECT_EQ(r.cx, 3);
    EXPECT_EQ(r.ip, kStart) << "IP stays on the first prefix while work remains";
    ASSERT_TRUE(m.cpu.interrupt(0x30));
    EXPECT_EQ(m.stackWord(0), kStart);
    m.cpu.run(100);
    EXPECT_TRUE(m.cpu.halted());
    EXPECT_EQ(r.cx, 0);
    EXPECT_EQ(r.di, 5);
    for (unsigned i = 0; i < 5; ++i)
        EXPECT_EQ(m.bus.mem.at(m.cpu.physical(r.es, std::uint16_t(i))), 0x5A);
    EXPECT_EQ(m.bus.mem.at(m.cpu.physical(r.es, 5)), 0);
}

TEST(CpuControl, TrapFlagStopsAfterEachInstruction)
{
    Machine m = at();
    m.cpu.regs().flags |= TF;
    m.code({0x40, 0x40});
    m.cpu.run(1);
    EXPECT_EQ(m.cpu.regs().cs, 0x0F00);
    EXPECT_EQ(m.cpu.regs().ip, 1);
    EXPECT_EQ(m.stackWord(0), kStart + 1);
    EXPECT_TRUE(m.stackWord(2) & TF);
    EXPECT_FALSE(m.cpu.regs().flags & TF);
}

TEST(CpuControl, PrefixFloodEndsTheStep)
{
    Machine m = at();
    for (std::uint32_t i = 0; i < 0x10000; ++i)
        m.bus.mem.at(m.cpu.physical(0x0100, std::uint16_t(i))) = 0x2E;
    EXPECT_EQ(m.cpu.run(10), 10u);  // returns instead of spinning
}

TEST(CpuMemory, MappedRamBehavesLikeTheBusAcrossItsEdge)
{
    // The same program with and without the RAM fast path, touching words
    // that straddle the end of the mapped span.
    auto runIt = [](bool mapped) {
        Machine m = at(Model::i80186, 8);
        if (mapped)
            m.cpu.mapRam(m.bus.mem.data(), 0x20000);
        Registers& r = m.cpu.regs();
        r.ds = 0x01FF;
        r.si = 0x00FF;  // ds:si = 0x1FFFF
        m.poke16(0x1FFFF, 0xBEEF);
        // mov ax,[si] ; add ax,0x1111 ; mov [si+2],ax ; inc word [si] ; push word [si] ; hlt
        m.code({0x8B, 0x04, 0x05, 0x11, 0x11, 0x89, 0x44, 0x02, 0xFF, 0x04, 0xFF, 0x34, 0xF4});
        m.cpu.run(100);
        return std::vector<std::uint16_t>{r.ax, m.peek16(0x1FFFF), m.peek16(0x20001), m.stackWord(0)};
    };
    const auto viaBus = runIt(false);
    EXPECT_EQ(viaBus, runIt(true));
    EXPECT_EQ(viaBus[0], 0xD000);
    EXPECT_EQ(viaBus[1], 0xBEF0);
}

TEST(CpuMemory, MappedRamRunsLikeTheBusAcrossSlicesAndTraps)
{
    // Loop, call, stack, shift and memory work, then TF set by POPF: the
    // direct path for code in RAM must leave the same state as the bus
    // path, whether run at once or a few instructions at a time.
    auto runIt = [](bool mapped, std::uint64_t slice) {
        Machine m = at();
        if (mapped)
            m.cpu.mapRam(m.bus.mem.data(), std::uint32_t(m.bus.mem.size()));
        Registers& r = m.cpu.regs();
        r.bx = 0x10;
        m.code({0xB9, 0x05, 0x00,        // mov cx, 5
                0x88, 0xC8,              // top: mov al, cl
                0xD0, 0xE0,              // shl al, 1
                0x00, 0x00,              // add [bx+si], al
                0x51,                    // push cx
                0xE8, 0x13, 0x00,        // call sub
                0x59,                    // pop cx
                0xE2, 0xF3,              // loop top
                0x9C, 0x58,              // pushf ; pop ax
                0x0D, 0x00, 0x01,        // or ax, 0x100
                0x50, 0x9D,              // push ax ; popf
                0x42, 0xF4});            // inc dx (traps after it) ; hlt
        r.ip = kStart + 0x20;
        m.code({0x92, 0x83, 0xD2, 0x03, 0xC3});  // sub: xchg ax, dx ; adc dx, 3 ; ret
        r.ip = kStart;
        std::uint64_t ran = 0;
        for (int i = 0; i < 1000 && !m.cpu.halted(); ++i)
            ran += m.cpu.run(slice);
        EXPECT_TRUE(m.trapped(1));
        EXPECT_EQ(m.stackWord(0), kStart + 0x18) << "trap after INC DX";
        return std::vector<std::uint64_t>{ran, m.cpu.instructions(), r.ax, r.cx, r.dx, r.sp, r.flags,
                                          m.bus.mem.at(m.cpu.physical(r.ds, 0x10))};
    };
    const auto viaBus = runIt(false, 1000);
    EXPECT_EQ(viaBus, runIt(true, 1000));
    EXPECT_EQ(viaBus, runIt(true, 3));
    EXPECT_EQ(viaBus[7], 2u * (5 + 4 + 3 + 2 + 1));
}

TEST(CpuControl, InterruptRaisedByAPortWriteIsTakenAfterIt)
{
    // A device that raises an interrupt from its port callback, with the
    // code in mapped RAM: the handler runs and returns after the OUT.
    struct IrqBus final : Bus {
        std::vector<std::uint8_t> mem = std::vector<std::uint8_t>(1u << 20, 0);
        Cpu* cpu = nullptr;
        std::uint8_t read8(std::uint32_t p) override { return mem.at(p); }
        void write8(std::uint32_t p, std::uint8_t v) override { mem.at(p) = v; }
        std::uint8_t in8(std::uint16_t) override { return 0; }
        void out8(std::uint16_t port, std::uint8_t) override
        {
            if (port == 0x80)
                cpu->interrupt(0x40);
        }
    } bus;
    Cpu cpu(bus, Model::i80186, 4);
    bus.cpu = &cpu;
    cpu.mapRam(bus.mem.data(), std::uint32_t(bus.mem.size()));
    cpu.reset(0x0100, 0x20);
    cpu.regs().ss = 0x0200;
    cpu.regs().sp = 0x0100;
    cpu.regs().flags |= IF;
    bus.mem[0x40 * 4] = 0x60;
    bus.mem[0x40 * 4 + 3] = 0x01;  // vector 0x40 -> 0100:0060
    const std::uint8_t main[] = {0xB0, 0x01, 0xE6, 0x80, 0x43, 0xF4};  // mov al,1 ; out 0x80,al ; inc bx ; hlt
    const std::uint8_t handler[] = {0x41, 0xCF};                        // inc cx ; iret
    std::copy(std::begin(main), std::end(main), bus.mem.begin() + 0x1020);
    std::copy(std::begin(handler), std::end(handler), bus.mem.begin() + 0x1060);
    cpu.run(100);
    EXPECT_TRUE(cpu.halted());
    EXPECT_EQ(cpu.regs().cx, 1) << "the handler ran";
    EXPECT_EQ(cpu.regs().bx, 1) << "and returned after the OUT";
    EXPECT_EQ(cpu.regs().ip, 0x26);
}

TEST(CpuMemory, WordsBeyondRamTakeOneBusCycleUnlessTheyWrap)
{
    Machine m = at(Model::i80186, 8);
    m.cpu.mapRam(m.bus.mem.data(), 0x20000);  // holds the code, not the data
    Registers& r = m.cpu.regs();
    r.ds = 0x4000;
    m.poke16(0x400010, 0x1234);
    // mov ax,[0x10] ; mov [0x20],ax ; mov bx,[0xFFFF] ; hlt
    m.code({0xA1, 0x10, 0x00, 0xA3, 0x20, 0x00, 0x8B, 0x1E, 0xFF, 0xFF, 0xF4});
    m.cpu.run(10);
    EXPECT_EQ(r.ax, 0x1234);
    EXPECT_EQ(m.peek16(0x400020), 0x1234);
    EXPECT_EQ(m.bus.wordReads, std::vector<std::uint32_t>{0x400010});
    EXPECT_EQ(m.bus.wordWrites, std::vector<std::uint32_t>{0x400020});
}

TEST(CpuTrace, EveryInstructionIsReportedDisassembled)
{
    Machine m = at();
    std::vector<std::string> lines;
    m.cpu.setTrace([&](const std::string& s) { lines.push_back(s); });
    m.code({0xB8, 0x34, 0x12, 0x01, 0xD8, 0xF4});
    m.cpu.run(10);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "0100:0020  mov ax, 0x1234");
    EXPECT_EQ(lines[1], "0100:0023  add ax, bx");
    m.cpu.setTrace({});
    m.cpu.resume();
    m.cpu.run(1);
    EXPECT_EQ(lines.size(), 3u);
}

TEST(Disassembler, SharesTheDecoderOfEachModel)
{
    struct Case { std::vector<std::uint8_t> bytes; Model model; const char* text; std::size_t len; };
    const Case cases[] = {
        {{0x26, 0x8B, 0x47, 0x02}, Model::i80186, "mov ax, es:[bx+0x2]", 4},
        {{0xF3, 0xA4}, Model::i80186, "rep movsb", 2},
        {{0x60}, Model::i80186, "pusha", 1},
        {{0x60, 0xFE}, Model::i8086, "jo .-0x2", 2},
        {{0xC8, 0x10, 0x00, 0x01}, Model::i80186, "enter 0x10, 0x1", 4},
        {{0x6B, 0xC3, 0xFE}, Model::i80186, "imul ax, bx, -0x2", 3},
        {{0x81, 0x6E, 0xFC, 0x34, 0x12}, Model::i80186, "sub word [bp-0x4], 0x1234", 5},
        {{0xC1, 0xE0, 0x03}, Model::i80186, "shl ax, 0x3", 3},
        {{0xEA, 0x00, 0x00, 0xFE, 0xFF}, Model::i80186, "jmp 0xFFFE:0x0", 5},
        {{0x0F}, Model::i80186, "(bad)", 1},
    };
    for (const Case& c : cases) {
        std::size_t len = 0;
        EXPECT_EQ(disassemble(c.bytes.data(), c.bytes.size(), c.model, &len), c.text);
        EXPECT_EQ(len, c.len) << c.text;
    }
    // Truncated input is read as zeros, never past the buffer.
    const std::uint8_t cut[] = {0x81};
    std::size_t len = 0;
    disassemble(cut, 1, Model::i80186, &len);
    EXPECT_EQ(len, 4u);
}

TEST(Disassembler, LengthMatchesWhatTheCoreConsumes)
{
    // Every opcode with random operand bytes: where the instruction falls
    // through, the core's IP must advance by the disassembler's length.
    std::mt19937 rng(7);
    for (Model model : {Model::i8086, Model::i80186}) {
        for (unsigned op = 0; op < 256; ++op) {
            for (int round = 0; round < 8; ++round) {
                std::vector<std::uint8_t> bytes = {std::uint8_t(op)};
                for (int i = 0; i < 7; ++i)
                    bytes.push_back(std::uint8_t(rng()));
                std::size_t len = 0;
                const std::string text = disassemble(bytes.data(), bytes.size(), model, &len);
                const std::string name = text.substr(0, text.find(' '));
                static const char* const kFlow[] = {"j", "loop", "call", "ret", "int", "into", "iret",
                                                    "hlt", "rep", "lock", "(bad)", "es", "cs", "ss", "ds"};
                bool flow = false;
                for (const char* f : kFlow)
                    flow = flow || name.rfind(f, 0) == 0;
                if (flow || text == "pop cs")
                    continue;  // control transfers and prefixes
                Machine m = at(model);
                Registers& r = m.cpu.regs();
                r.bx = 0x10;  // keep a divide from trapping on zero
                r.cx = 1;
                std::uint16_t ip = kStart;
                for (std::uint8_t b : bytes)
                    m.bus.mem.at(m.cpu.physical(r.cs, ip++)) = b;
                m.cpu.step();
                if (r.cs != 0x0100)
                    continue;  // trapped (divide error, BOUND)
                EXPECT_EQ(r.ip, kStart + len) << text << " (opcode " << op << ")";
            }
        }
    }
}

} // namespace
