#pragma once
// The interpreter's working view of a Cpu: memory and register access, and
// the per-instruction decode state, which lives on the stack (Insn), never
// in the Cpu object.
#include <algorithm>
#include <cstdint>

#include "alu.h"
#include "decode.h"
#include "ombra/sim/cpu.h"

// The accessors below sit on every instruction's path.
#define OMBRA_HOT [[gnu::always_inline]] inline

namespace ombra::sim {

namespace detail {

enum SegIndex : std::int8_t { kES = 0, kCS = 1, kSS = 2, kDS = 3 };

struct Insn {
    std::uint16_t start = 0;   // IP of the first prefix byte
    std::int8_t seg = -1;      // segment override, or -1
    std::uint8_t rep = 0;      // 0xF2, 0xF3 or 0
    std::uint8_t opcode = 0;
    bool word = false;
    const OpInfo* info = nullptr;
    Form form = Form::none;
    std::uint8_t mod = 3, reg = 0, rm = 0;
    std::uint16_t eaSeg = 0, eaOff = 0;
    bool mem() const { return mod != 3; }
};

inline constexpr std::uint16_t Registers::*kReg16[8] = {
    &Registers::ax, &Registers::cx, &Registers::dx, &Registers::bx,
    &Registers::sp, &Registers::bp, &Registers::si, &Registers::di};
inline constexpr std::uint16_t Registers::*kSegReg[4] = {
    &Registers::es, &Registers::cs, &Registers::ss, &Registers::ds};

} // namespace detail

struct Exec {
    using Insn = detail::Insn;
    Cpu& c;
    Registers& r;

    // The current instruction's bytes when they lie in mapped RAM, so
    // fetches skip the address arithmetic (null: fetch through rdb).
    static constexpr std::uint16_t kWindow = 32;  // longer than any instruction
    const std::uint8_t* code_ = nullptr;
    std::uint16_t codeIp_ = 0;

    explicit Exec(Cpu& cpu) : c(cpu), r(cpu.r_) {}

    // Memory -------------------------------------------------------------
    // Every store into mapped RAM: counts the ones that change a value, so a
    // device can tell a loop that leaves memory as it was.
    OMBRA_HOT void store(std::uint8_t* at, std::uint8_t v)
    {
        c.ramChanges_ += *at != v;
        *at = v;
    }
    OMBRA_HOT bool skipRequested() const { return c.skipPeriod_ != 0; }
    OMBRA_HOT bool stopRequested() const { return c.stop_; }
    OMBRA_HOT bool attention() const { return c.attention_; }
    OMBRA_HOT std::uint64_t instructions() const { return c.count_; }
    OMBRA_HOT void setInstructions(std::uint64_t n) { c.count_ = n; }
    // Counts the passes a device asked to skip, as far as `left` allows.
    std::uint64_t takeSkip(std::uint64_t left)
    {
        const std::uint64_t passes = std::min(c.skipMax_, left / c.skipPeriod_);
        const std::uint64_t n = passes * c.skipPeriod_;
        c.skipPeriod_ = 0;
        c.attention_ = c.stop_;
        c.count_ += n;
        c.skipped_ += n;
        return n;
    }
    OMBRA_HOT std::uint8_t rd8(std::uint32_t p) { return p < c.ramSize_ ? c.ram_[p] : c.bus_.read8(p); }
    OMBRA_HOT void wr8(std::uint32_t p, std::uint8_t v)
    {
        if (p < c.ramSize_)
            store(c.ram_ + p, v);
        else
            c.bus_.write8(p, v);
    }
    std::uint8_t* ramBase() const { return c.ram_; }
    std::uint32_t ramSpan() const { return c.ramSize_; }
    OMBRA_HOT std::uint8_t rdb(std::uint16_t seg, std::uint16_t off) { return rd8(c.physical(seg, off)); }
    OMBRA_HOT void wrb(std::uint16_t seg, std::uint16_t off, std::uint8_t v) { wr8(c.physical(seg, off), v); }
    // Words wrap inside their segment: the high byte of offset 0xFFFF is at 0.
    OMBRA_HOT std::uint16_t rdw(std::uint16_t seg, std::uint16_t off)
    {
        const std::uint32_t p = c.physical(seg, off);
        if (off != 0xFFFF) {
            if (p + 1 < c.ramSize_)
                return std::uint16_t(c.ram_[p] | c.ram_[p + 1] << 8);
            if (p >= c.ramSize_ && p < c.mask_)
                return c.bus_.read16(p);
        }
        // Wrapping or straddling the RAM edge: byte by byte.
        const std::uint8_t lo = rd8(p);
        return std::uint16_t(lo | rdb(seg, std::uint16_t(off + 1)) << 8);
    }
    OMBRA_HOT void wrw(std::uint16_t seg, std::uint16_t off, std::uint16_t v)
    {
        const std::uint32_t p = c.physical(seg, off);
        if (off != 0xFFFF) {
            if (p + 1 < c.ramSize_) {
                store(c.ram_ + p, std::uint8_t(v));
                store(c.ram_ + p + 1, std::uint8_t(v >> 8));
                return;
            }
            if (p >= c.ramSize_ && p < c.mask_)
                return c.bus_.write16(p, v);
        }
        wr8(p, std::uint8_t(v));
        wrb(seg, std::uint16_t(off + 1), std::uint8_t(v >> 8));
    }
    OMBRA_HOT std::uint16_t rd(bool w, std::uint16_t seg, std::uint16_t off) { return w ? rdw(seg, off) : rdb(seg, off); }
    OMBRA_HOT void wr(bool w, std::uint16_t seg, std::uint16_t off, std::uint16_t v)
    {
        if (w)
            wrw(seg, off, v);
        else
            wrb(seg, off, std::uint8_t(v));
    }

    // The code segment's 64 KiB when all of it lies in mapped RAM, found
    // again only when CS changes.
    std::int32_t segCs_ = -1;
    const std::uint8_t* segCode_ = nullptr;

    OMBRA_HOT void codeSegment()
    {
        if (r.cs != segCs_) {
            segCs_ = r.cs;
            const std::uint32_t base = c.physical(r.cs, 0);
            segCode_ = base + 0x10000 <= c.ramSize_ ? c.ram_ + base : nullptr;
        }
    }
    OMBRA_HOT void beginFetch()
    {
        codeSegment();
        if (segCode_) {
            code_ = segCode_;
            codeIp_ = 0;
            return;
        }
        const std::uint32_t pc = c.physical(r.cs, r.ip);
        if (r.ip <= 0xFFFF - kWindow && pc + kWindow <= c.ramSize_) {
            code_ = c.ram_ + pc;
            codeIp_ = r.ip;
        } else {
            code_ = nullptr;
        }
    }
    OMBRA_HOT std::uint8_t fetch8()
    {
        if (code_)
            return code_[std::uint16_t(r.ip++ - codeIp_)];
        return rdb(r.cs, r.ip++);
    }
    OMBRA_HOT std::uint16_t fetch16()
    {
        if (code_) {
            const std::uint16_t k = std::uint16_t(r.ip - codeIp_);
            r.ip += 2;
            return std::uint16_t(code_[k] | code_[k + 1] << 8);
        }
        const std::uint16_t v = rdw(r.cs, r.ip);
        r.ip += 2;
        return v;
    }
    OMBRA_HOT std::uint16_t fetchImm(bool w) { return w ? fetch16() : fetch8(); }

    // Registers ----------------------------------------------------------
    OMBRA_HOT std::uint16_t& reg16(unsigned i) { return r.*detail::kReg16[i & 7]; }
    OMBRA_HOT std::uint8_t reg8(unsigned i)
    {
        const std::uint16_t v = r.*detail::kReg16[i & 3];
        return std::uint8_t((i & 4) ? v >> 8 : v);
    }
    OMBRA_HOT void setReg8(unsigned i, std::uint8_t v)
    {
        std::uint16_t& x = r.*detail::kReg16[i & 3];
        x = (i & 4) ? std::uint16_t((x & 0x00FF) | v << 8) : std::uint16_t((x & 0xFF00) | v);
    }
    OMBRA_HOT std::uint16_t getReg(bool w, unsigned i) { return w ? reg16(i) : reg8(i); }
    OMBRA_HOT void setReg(bool w, unsigned i, std::uint16_t v)
    {
        if (w)
            reg16(i) = v;
        else
            setReg8(i, std::uint8_t(v));
    }
    OMBRA_HOT std::uint16_t& sreg(unsigned i) { return r.*detail::kSegReg[i & 3]; }
    OMBRA_HOT std::uint16_t segOr(const Insn& d, unsigned def) { return d.seg >= 0 ? sreg(unsigned(d.seg)) : sreg(def); }

    void setFlags(std::uint16_t v) { r.flags = std::uint16_t((v & 0x0FD5) | 0xF002); }

    // Stack --------------------------------------------------------------
    OMBRA_HOT void push(std::uint16_t v)
    {
        r.sp -= 2;
        wrw(r.ss, r.sp, v);
    }
    OMBRA_HOT std::uint16_t pop()
    {
        const std::uint16_t v = rdw(r.ss, r.sp);
        r.sp += 2;
        return v;
    }

    // ModR/M ---------------------------------------------------------------
    OMBRA_HOT void modrm(Insn& d);
    OMBRA_HOT std::uint16_t readE(const Insn& d) { return d.mem() ? rd(d.word, d.eaSeg, d.eaOff) : getReg(d.word, d.rm); }
    OMBRA_HOT void writeE(const Insn& d, std::uint16_t v)
    {
        if (d.mem())
            wr(d.word, d.eaSeg, d.eaOff, v);
        else
            setReg(d.word, d.rm, v);
    }

    Bus& bus() { return c.bus_; }

    // Execution ------------------------------------------------------------
    std::uint64_t run(std::uint64_t n);
    void stepGeneral(bool tracing);  // one instruction through the tables
    // fast.cpp: up to n common instructions straight from the code segment's
    // RAM; stops before the first one it does not cover.
    std::uint64_t runFast(const std::uint8_t* code, std::uint64_t n);
    void execute(Insn& d);   // one decoded opcode (prefixes already taken)
    template <detail::Op op> void alu(Insn& d);
    void invalid(Insn& d);   // INT 6 on the 80186, ignored on the 8086

    // string_ops.cpp
    void stringOp(Insn& d);
    // muldiv.cpp
    void mulDiv(Insn& d, std::uint16_t src);
    void imul3(Insn& d);
    void aam(Insn& d, std::uint8_t base);
    void aad(std::uint8_t base);
    void divideError(const Insn& d);
    // interrupts.cpp
    void interrupt(std::uint8_t vector, std::uint16_t returnIp);
    void bound(Insn& d);
    // cpu.cpp
    void enter(std::uint16_t size, std::uint8_t level);
};

} // namespace ombra::sim
