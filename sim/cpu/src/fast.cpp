// The fast path: the common instructions without prefixes, decoded straight
// from the opcode byte while the code segment lies wholly in mapped RAM.
// Anything else (prefixes, strings, far transfers, flag and segment loads,
// traps) is left to the table-driven path in cpu.cpp, which the fast path
// hands back to before it has changed any state.
#include <bit>
#include <utility>

#include "exec.h"

namespace ombra::sim {

using namespace detail;

static_assert(std::endian::native == std::endian::little, "8-bit registers are addressed as bytes");

namespace {


// IP and the instruction count live here while the run goes on. A device
// sees them current (IP at the start of the instruction that reaches it, and
// the instructions completed before it) because every access outside mapped
// RAM commits them first; it may ask the run to end, which the access notes.
struct Fast {
    Exec& x;
    Registers& r;
    const std::uint8_t* const code;  // the code segment's 64 KiB
    std::uint16_t ip;                // committed to r.ip when the run ends
    std::uint16_t start = ip;        // the current instruction's first byte
    const std::uint64_t base = x.instructions();
    std::uint64_t done = 0;          // instructions completed in this run
    bool end = x.attention();        // a device asked the run to end
    std::uint8_t mod = 3, reg = 0, rm = 0;
    std::uint16_t seg = 0, off = 0;
    std::uint8_t* mem = nullptr;
    std::int32_t override_ = -1;  // a segment prefix's segment for this instruction
    // The address map, copied so that stores into RAM cannot make the
    // compiler fetch it again.
    const unsigned segShift = x.c.segmentShift();
    const std::uint32_t mask = segShift == 8 ? 0xFFFFFFu : 0xFFFFFu;
    std::uint8_t* const ram = x.ramBase();
    const std::uint32_t ramSize = x.ramSpan();

    OMBRA_HOT void commit()
    {
        r.ip = start;
        x.setInstructions(base + done);
    }
    OMBRA_HOT void noteDevice() { end = end || x.attention(); }

    // Memory: mapped RAM straight, anything else through the bus.
    OMBRA_HOT std::uint32_t physical(std::uint16_t s, std::uint16_t o) const
    {
        return ((std::uint32_t(s) << segShift) + o) & mask;
    }
    OMBRA_HOT std::uint8_t rdb(std::uint16_t s, std::uint16_t o)
    {
        const std::uint32_t p = physical(s, o);
        if (p < ramSize)
            return ram[p];
        commit();
        const std::uint8_t v = x.rdb(s, o);
        noteDevice();
        return v;
    }
    OMBRA_HOT std::uint16_t rdw(std::uint16_t s, std::uint16_t o)
    {
        const std::uint32_t p = physical(s, o);
        if (o != 0xFFFF && p + 1 < ramSize)
            return std::uint16_t(ram[p] | ram[p + 1] << 8);
        commit();
        const std::uint16_t v = x.rdw(s, o);
        noteDevice();
        return v;
    }
    OMBRA_HOT void wrb(std::uint16_t s, std::uint16_t o, std::uint8_t v)
    {
        const std::uint32_t p = physical(s, o);
        if (p < ramSize)
            return x.store(ram + p, v);
        commit();
        x.wrb(s, o, v);
        noteDevice();
    }
    OMBRA_HOT void wrw(std::uint16_t s, std::uint16_t o, std::uint16_t v)
    {
        const std::uint32_t p = physical(s, o);
        if (o != 0xFFFF && p + 1 < ramSize) {
            x.store(ram + p, std::uint8_t(v));
            x.store(ram + p + 1, std::uint8_t(v >> 8));
            return;
        }
        commit();
        x.wrw(s, o, v);
        noteDevice();
    }

    OMBRA_HOT std::uint8_t byte() { return code[ip++]; }
    OMBRA_HOT std::uint16_t word()
    {
        const std::uint16_t v = std::uint16_t(code[ip] | code[std::uint16_t(ip + 1)] << 8);
        ip = std::uint16_t(ip + 2);
        return v;
    }

    OMBRA_HOT std::uint16_t& r16(unsigned i) { return r.*kReg16[i & 7]; }
    OMBRA_HOT std::uint8_t& r8(unsigned i) { return reinterpret_cast<std::uint8_t*>(&(r.*kReg16[i & 3]))[i >> 2]; }

    OMBRA_HOT void modrm()
    {
        const std::uint8_t m = byte();
        mod = m >> 6;
        reg = (m >> 3) & 7;
        rm = m & 7;
        if (mod == 3)
            return;
        // Looked up rather than switched on: no indirect jump per operand.
        static constexpr std::uint16_t Registers::*kBase[8] = {
            &Registers::bx, &Registers::bx, &Registers::bp, &Registers::bp,
            &Registers::si, &Registers::di, &Registers::bp, &Registers::bx};
        static constexpr std::uint16_t Registers::*kIndex[4] = {
            &Registers::si, &Registers::di, &Registers::si, &Registers::di};
        std::uint16_t o;
        bool stack;
        if (rm == 6 && mod == 0) {
            o = word();
            stack = false;
        } else {
            o = r.*kBase[rm];
            if (rm < 4)
                o = std::uint16_t(o + r.*kIndex[rm]);
            stack = (0b0100'1100u >> rm) & 1;  // BP-based: rm 2, 3 and 6
        }
        if (mod == 1)
            o = std::uint16_t(o + std::int8_t(byte()));
        else if (mod == 2)
            o = std::uint16_t(o + word());
        off = o;
        seg = override_ >= 0 ? std::uint16_t(override_) : stack ? r.ss : r.ds;
        // Operands wholly inside mapped RAM (and not wrapping at the
        // segment's end) are reached through a pointer, once per instruction.
        const std::uint32_t p = physical(seg, off);
        mem = off != 0xFFFF && p + 1 < ramSize ? ram + p : nullptr;
    }

    OMBRA_HOT std::uint16_t dataSeg() const { return override_ >= 0 ? std::uint16_t(override_) : r.ds; }

    template <bool W> OMBRA_HOT std::uint16_t get(unsigned i) { return W ? r16(i) : r8(i); }
    template <bool W> OMBRA_HOT void set(unsigned i, std::uint16_t v)
    {
        if (W)
            r16(i) = v;
        else
            r8(i) = std::uint8_t(v);
    }
    template <bool W> OMBRA_HOT std::uint16_t readE()
    {
        if (mod == 3)
            return get<W>(rm);
        if (mem)
            return W ? std::uint16_t(mem[0] | mem[1] << 8) : mem[0];
        return W ? rdw(seg, off) : rdb(seg, off);
    }
    template <bool W> OMBRA_HOT void writeE(std::uint16_t v)
    {
        if (mod == 3) {
            set<W>(rm, v);
        } else if (mem) {
            x.store(mem, std::uint8_t(v));
            if (W)
                x.store(mem + 1, std::uint8_t(v >> 8));
        } else if (W)
            wrw(seg, off, v);
        else
            wrb(seg, off, std::uint8_t(v));
    }
    template <bool W> OMBRA_HOT std::uint16_t imm() { return W ? word() : byte(); }

    // 00-3D: the four ModR/M and accumulator forms of one operation.
    template <Op O, unsigned Form> OMBRA_HOT void alu()
    {
        constexpr bool W = Form & 1;
        if constexpr (Form < 2) {
            modrm();
            const std::uint16_t res = arith(O, readE<W>(), get<W>(reg), W, r.flags);
            if (O != Op::cmp)
                writeE<W>(res);
        } else if constexpr (Form < 4) {
            modrm();
            const std::uint16_t res = arith(O, get<W>(reg), readE<W>(), W, r.flags);
            if (O != Op::cmp)
                set<W>(reg, res);
        } else {
            const std::uint16_t b = imm<W>();
            const std::uint16_t res = arith(O, get<W>(0), b, W, r.flags);
            if (O != Op::cmp)
                set<W>(0, res);
        }
    }

    // 80, 81, 83: r/m with an immediate; the ModR/M byte is already read.
    template <bool W, bool Signed> OMBRA_HOT void aluImm()
    {
        const std::uint16_t b = Signed ? std::uint16_t(std::int8_t(byte())) : imm<W>();
        const std::uint16_t a = readE<W>();
        std::uint16_t res;
        switch (reg) {
        case 0: res = arith(Op::add, a, b, W, r.flags); break;
        case 1: res = arith(Op::or_, a, b, W, r.flags); break;
        case 2: res = arith(Op::adc, a, b, W, r.flags); break;
        case 3: res = arith(Op::sbb, a, b, W, r.flags); break;
        case 4: res = arith(Op::and_, a, b, W, r.flags); break;
        case 5: res = arith(Op::sub, a, b, W, r.flags); break;
        case 6: res = arith(Op::xor_, a, b, W, r.flags); break;
        default: arith(Op::cmp, a, b, W, r.flags); return;
        }
        writeE<W>(res);
    }

    // 86, 87: XCHG r/m with reg; the ModR/M byte is already read.
    template <bool W> OMBRA_HOT void xchgE()
    {
        const std::uint16_t a = readE<W>();
        writeE<W>(get<W>(reg));
        set<W>(reg, a);
    }

    // D0-D3 (not /6); count is not zero.
    template <bool W> OMBRA_HOT void shiftE(unsigned count)
    {
        const std::uint16_t v = readE<W>();
        std::uint16_t res;
        switch (reg) {
        case 0: res = shift(Op::rol, v, count, W, r.flags); break;
        case 1: res = shift(Op::ror, v, count, W, r.flags); break;
        case 2: res = shift(Op::rcl, v, count, W, r.flags); break;
        case 3: res = shift(Op::rcr, v, count, W, r.flags); break;
        case 4: res = shift(Op::shl, v, count, W, r.flags); break;
        case 5: res = shift(Op::shr, v, count, W, r.flags); break;
        default: res = shift(Op::sar, v, count, W, r.flags); break;
        }
        writeE<W>(res);
    }

    // A shift group's operation on its operand; a count of 0 changes nothing.
    OMBRA_HOT void shiftBy(bool word, unsigned count)
    {
        if (count == 0)
            return;
        if (word)
            shiftE<true>(count);
        else
            shiftE<false>(count);
    }

    OMBRA_HOT void push(std::uint16_t v)
    {
        r.sp = std::uint16_t(r.sp - 2);
        wrw(r.ss, r.sp, v);
    }
    OMBRA_HOT std::uint16_t pop()
    {
        const std::uint16_t v = rdw(r.ss, r.sp);
        r.sp = std::uint16_t(r.sp + 2);
        return v;
    }
    OMBRA_HOT void jump(bool take, std::int8_t rel)
    {
        if (take)
            ip = std::uint16_t(ip + rel);
    }

    // Port access ends the instruction with IP committed first: a device
    // may raise an interrupt from its callback, which moves CS:IP, and the
    // fast run must then stop and let the caller look again.
    // (No lambda around the access: a closure holding `this` would keep
    // this state in memory rather than in the host's registers.)
    OMBRA_HOT std::uint16_t beforeIo()
    {
        r.ip = ip;
        x.setInstructions(base + done);
        return r.cs;
    }
    OMBRA_HOT int afterIo(std::uint16_t cs)
    {
        if (r.ip != ip || r.cs != cs) {
            ip = r.ip;  // what the run commits when it ends, now
            return 2;
        }
        return end || x.attention() ? 2 : 1;
    }

    // Runs one instruction: 0 (with nothing changed) when it is not one of
    // the fast path's, 1 when it ran, 2 when it ran and the run must end.
    OMBRA_HOT int step();
};

#define OMBRA_ALU_CASES(base, O)                  \
    case base + 0: alu<O, 0>(); break;            \
    case base + 1: alu<O, 1>(); break;            \
    case base + 2: alu<O, 2>(); break;            \
    case base + 3: alu<O, 3>(); break;            \
    case base + 4: alu<O, 4>(); break;            \
    case base + 5: alu<O, 5>(); break;

#define OMBRA_JCC_CASES(base)                                                        \
    case base + 0: jump(condition((base + 0) & 15, r.flags), std::int8_t(byte())); break; \
    case base + 1: jump(condition((base + 1) & 15, r.flags), std::int8_t(byte())); break; \
    case base + 2: jump(condition((base + 2) & 15, r.flags), std::int8_t(byte())); break; \
    case base + 3: jump(condition((base + 3) & 15, r.flags), std::int8_t(byte())); break;

OMBRA_HOT int Fast::step()
{
    start = ip;
    override_ = -1;
    for (;;) {  // once more after each segment prefix
        const std::uint8_t op = byte();
        switch (op) {
        OMBRA_ALU_CASES(0x00, Op::add)
        OMBRA_ALU_CASES(0x08, Op::or_)
        OMBRA_ALU_CASES(0x10, Op::adc)
        OMBRA_ALU_CASES(0x18, Op::sbb)
        OMBRA_ALU_CASES(0x20, Op::and_)
        OMBRA_ALU_CASES(0x28, Op::sub)
        OMBRA_ALU_CASES(0x30, Op::xor_)
        OMBRA_ALU_CASES(0x38, Op::cmp)
        // Segment prefixes: the next instruction's data segment. A second
        // prefix, or an instruction the fast path leaves alone, goes to the
        // general path whole (IP still points at the prefix). The prefix
        // loops rather than recursing: a call would take the decode state's
        // address and move it out of the host's registers.
        case 0x26: case 0x2E: case 0x36: case 0x3E:
            if (override_ >= 0)
                return 0;
            override_ = op == 0x26 ? r.es : op == 0x2E ? r.cs : op == 0x36 ? r.ss : r.ds;
            continue;
        // ES and DS move freely here (the fast path reads them per access);
        // SS and CS loads are the general path's (interrupt shadow, CS change).
        case 0x06: push(r.es); break;
        case 0x0E: push(r.cs); break;
        case 0x16: push(r.ss); break;
        case 0x1E: push(r.ds); break;
        case 0x07: r.es = pop(); break;
        case 0x1F: r.ds = pop(); break;
        case 0x40: case 0x41: case 0x42: case 0x43: case 0x44: case 0x45: case 0x46: case 0x47:
        case 0x48: case 0x49: case 0x4A: case 0x4B: case 0x4C: case 0x4D: case 0x4E: case 0x4F: {
            std::uint16_t& v = r16(op & 7);
            v = incdec(op & 8, v, true, r.flags);
            break;
        }
        case 0x50: case 0x51: case 0x52: case 0x53: case 0x54: case 0x55: case 0x56: case 0x57:
            // SP is stored as it is after the decrement.
            r.sp = std::uint16_t(r.sp - 2);
            wrw(r.ss, r.sp, r16(op & 7));
            break;
        case 0x58: case 0x59: case 0x5A: case 0x5B: case 0x5C: case 0x5D: case 0x5E: case 0x5F: {
            const std::uint16_t v = pop();
            r16(op & 7) = v;
            break;
        }
        // One case a condition, so the test folds to straight code and the
        // opcode's dispatch is the only indirect jump.
        OMBRA_JCC_CASES(0x70)
        OMBRA_JCC_CASES(0x74)
        OMBRA_JCC_CASES(0x78)
        OMBRA_JCC_CASES(0x7C)
        case 0x80: modrm(); aluImm<false, false>(); break;
        case 0x81: modrm(); aluImm<true, false>(); break;
        case 0x83: modrm(); aluImm<true, true>(); break;
        case 0x84: modrm(); arith(Op::and_, readE<false>(), get<false>(reg), false, r.flags); break;
        case 0x85: modrm(); arith(Op::and_, readE<true>(), get<true>(reg), true, r.flags); break;
        case 0x86: modrm(); xchgE<false>(); break;
        case 0x87: modrm(); xchgE<true>(); break;
        case 0x88: modrm(); writeE<false>(get<false>(reg)); break;
        case 0x89: modrm(); writeE<true>(get<true>(reg)); break;
        case 0x8A: modrm(); set<false>(reg, readE<false>()); break;
        case 0x8B: modrm(); set<true>(reg, readE<true>()); break;
        case 0x8D:
            modrm();
            if (mod == 3)
                return 0;  // undefined register form: the general path's
            r16(reg) = off;
            break;
        case 0x8C:
            modrm();
            if (reg > 3)
                return 0;  // differs between the models
            writeE<true>(reg == 0 ? r.es : reg == 1 ? r.cs : reg == 2 ? r.ss : r.ds);
            break;
        case 0x8E:
            modrm();
            if (reg == 0)
                r.es = readE<true>();
            else if (reg == 3)
                r.ds = readE<true>();
            else
                return 0;
            break;
        case 0x90: break;
        case 0x91: case 0x92: case 0x93: case 0x94: case 0x95: case 0x96: case 0x97:
            std::swap(r.ax, r16(op & 7));
            break;
        case 0x98: r.ax = std::uint16_t(std::int8_t(r.ax)); break;
        case 0x99: r.dx = (r.ax & 0x8000) ? 0xFFFF : 0; break;
        case 0xA0: { const std::uint16_t o = word(); r8(0) = rdb(dataSeg(), o); break; }
        case 0xA1: { const std::uint16_t o = word(); r.ax = rdw(dataSeg(), o); break; }
        case 0xA2: { const std::uint16_t o = word(); wrb(dataSeg(), o, std::uint8_t(r.ax)); break; }
        case 0xA3: { const std::uint16_t o = word(); wrw(dataSeg(), o, r.ax); break; }
        case 0xA8: arith(Op::and_, r8(0), byte(), false, r.flags); break;
        case 0xA9: arith(Op::and_, r.ax, word(), true, r.flags); break;
        case 0xB0: case 0xB1: case 0xB2: case 0xB3: case 0xB4: case 0xB5: case 0xB6: case 0xB7:
            r8(op & 7) = byte();
            break;
        case 0xB8: case 0xB9: case 0xBA: case 0xBB: case 0xBC: case 0xBD: case 0xBE: case 0xBF:
            r16(op & 7) = word();
            break;
        case 0xC2: {
            const std::uint16_t n = word();
            ip = pop();
            r.sp = std::uint16_t(r.sp + n);
            break;
        }
        case 0xC3: ip = pop(); break;
        case 0xC6:
        case 0xC7:
            modrm();
            if (reg != 0)
                return 0;  // undefined forms differ between the models
            if (op == 0xC6)
                writeE<false>(byte());
            else
                writeE<true>(word());
            break;
        case 0x68: case 0x6A: {
            if (x.c.model() != Model::i80186)
                return 0;  // a conditional jump on the 8086
            push(op == 0x68 ? word() : std::uint16_t(std::int8_t(byte())));
            break;
        }
        case 0xC0: case 0xC1: {
            if (x.c.model() != Model::i80186)
                return 0;  // RET on the 8086
            modrm();
            if (reg == 6)
                return 0;
            shiftBy(op & 1, byte() & 0x1F);
            break;
        }
        case 0xD0: case 0xD1: case 0xD2: case 0xD3: {
            modrm();
            if (reg == 6)
                return 0;  // differs between the models
            unsigned count = 1;
            if (op >= 0xD2) {
                count = r.cx & 0xFF;
                if (x.c.model() == Model::i80186)
                    count &= 0x1F;
            }
            shiftBy(op & 1, count);
            break;
        }
        case 0xE0: case 0xE1: case 0xE2: {
            const std::int8_t rel = std::int8_t(byte());
            r.cx = std::uint16_t(r.cx - 1);
            bool take = r.cx != 0;
            if (op == 0xE1)
                take = take && (r.flags & ZF);
            else if (op == 0xE0)
                take = take && !(r.flags & ZF);
            jump(take, rel);
            break;
        }
        case 0xE3: jump(r.cx == 0, std::int8_t(byte())); break;
        case 0xE4: { const std::uint8_t p = byte(); const auto cs = beforeIo(); r8(0) = x.bus().in8(p); return afterIo(cs); }
        case 0xE5: { const std::uint8_t p = byte(); const auto cs = beforeIo(); r.ax = x.bus().in16(p); return afterIo(cs); }
        case 0xE6: { const std::uint8_t p = byte(); const auto cs = beforeIo(); x.bus().out8(p, std::uint8_t(r.ax)); return afterIo(cs); }
        case 0xE7: { const std::uint8_t p = byte(); const auto cs = beforeIo(); x.bus().out16(p, r.ax); return afterIo(cs); }
        case 0xE8: {
            const std::uint16_t rel = word();
            push(ip);
            ip = std::uint16_t(ip + rel);
            break;
        }
        case 0xE9: { const std::uint16_t rel = word(); ip = std::uint16_t(ip + rel); break; }
        case 0xEB: jump(true, std::int8_t(byte())); break;
        case 0xEC: { const auto cs = beforeIo(); r8(0) = x.bus().in8(r.dx); return afterIo(cs); }
        case 0xED: { const auto cs = beforeIo(); r.ax = x.bus().in16(r.dx); return afterIo(cs); }
        case 0xEE: { const auto cs = beforeIo(); x.bus().out8(r.dx, std::uint8_t(r.ax)); return afterIo(cs); }
        case 0xEF: { const auto cs = beforeIo(); x.bus().out16(r.dx, r.ax); return afterIo(cs); }
        case 0xF5: r.flags ^= CF; break;
        case 0xF8: r.flags &= ~CF; break;
        case 0xF9: r.flags |= CF; break;
        case 0xFC: r.flags &= ~DF; break;
        case 0xFD: r.flags |= DF; break;
        case 0xFE:
            modrm();
            if (reg > 1)
                return 0;
            writeE<false>(incdec(reg, readE<false>(), false, r.flags));
            break;
        case 0xFF:
            modrm();
            switch (reg) {
            case 0: case 1: writeE<true>(incdec(reg, readE<true>(), true, r.flags)); break;
            case 2: {
                const std::uint16_t target = readE<true>();
                push(ip);
                ip = target;
                break;
            }
            case 4: ip = readE<true>(); break;
            case 6: {
                r.sp = std::uint16_t(r.sp - 2);
                wrw(r.ss, r.sp, readE<true>());
                break;
            }
            default: return 0;
            }
            break;
        default:
            return 0;
        }
        break;
    }
    return end ? 2 : 1;
}

#undef OMBRA_ALU_CASES
#undef OMBRA_JCC_CASES

} // namespace

std::uint64_t Exec::runFast(const std::uint8_t* code, std::uint64_t n)
{
    // Nothing else moves IP or counts instructions while the fast path
    // runs, except a device callback, which io() and the bus accesses see.
    Fast f{*this, r, code, r.ip};
    while (f.done < n) {
        const int ran = f.step();
        if (ran == 0) {
            f.ip = f.start;  // left whole to the general path
            break;
        }
        ++f.done;
        if (ran != 1)
            break;
    }
    r.ip = f.ip;
    setInstructions(f.base + f.done);
    return f.done;
}

} // namespace ombra::sim
