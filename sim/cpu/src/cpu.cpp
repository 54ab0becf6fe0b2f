// The fetch-decode-execute loop and the instructions that need no file of
// their own.
#include "ombra/sim/cpu.h"

#include <algorithm>
#include <utility>

#include "exec.h"

namespace ombra::sim {

using namespace detail;

std::uint16_t Bus::in16(std::uint16_t port)
{
    const std::uint8_t lo = in8(port);
    return std::uint16_t(lo | in8(std::uint16_t(port + 1)) << 8);
}

void Bus::out16(std::uint16_t port, std::uint16_t v)
{
    out8(port, std::uint8_t(v));
    out8(std::uint16_t(port + 1), std::uint8_t(v >> 8));
}

std::uint16_t Bus::read16(std::uint32_t phys)
{
    const std::uint8_t lo = read8(phys);
    return std::uint16_t(lo | read8(phys + 1) << 8);
}

void Bus::write16(std::uint32_t phys, std::uint16_t v)
{
    write8(phys, std::uint8_t(v));
    write8(phys + 1, std::uint8_t(v >> 8));
}

Cpu::Cpu(Bus& bus, Model model, unsigned segmentShift)
    : bus_(bus), model_(model), shift_(segmentShift >= 8 ? 8 : 4),
      mask_(shift_ == 8 ? 0xFFFFFFu : 0xFFFFFu)
{
}

void Cpu::reset(std::uint16_t cs, std::uint16_t ip)
{
    r_ = Registers{};
    r_.cs = cs;
    r_.ip = ip;
    halted_ = false;
    inhibit_ = false;
    skipPeriod_ = 0;
    stop_ = false;
    attention_ = false;
}

void Cpu::mapRam(std::uint8_t* base, std::uint32_t size)
{
    ram_ = size ? base : nullptr;
    // Never past the address space: wrapped addresses must reach the bus.
    ramSize_ = base ? std::min(size, mask_ + 1) : 0;
}

std::uint64_t Cpu::run(std::uint64_t n)
{
    return Exec(*this).run(n);
}

bool Cpu::interrupt(std::uint8_t vector, bool maskable)
{
    if (maskable && (!(r_.flags & IF) || inhibit_))
        return false;
    halted_ = false;
    Exec(*this).interrupt(vector, r_.ip);
    return true;
}

void Cpu::setTrace(std::function<void(const std::string&)> trace)
{
    trace_ = std::move(trace);
}

std::string Cpu::disassembleAt(std::uint16_t cs, std::uint16_t ip, std::size_t* length)
{
    std::uint8_t code[16];
    Exec x(*this);
    for (unsigned i = 0; i < sizeof code; ++i)
        code[i] = x.rdb(cs, std::uint16_t(ip + i));
    return disassemble(code, sizeof code, model_, length);
}

namespace {

bool needsModrm(Form f)
{
    switch (f) {
    case Form::EG: case Form::GE: case Form::E: case Form::EImm: case Form::EImm8s:
    case Form::E1: case Form::ECL: case Form::EImm8: case Form::ESeg: case Form::SegE:
    case Form::GM: case Form::GEImm: case Form::GEImm8s: case Form::Esc:
        return true;
    default:
        return false;
    }
}

std::string hex(unsigned v, int digits)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s(std::size_t(digits), '0');
    for (int i = digits - 1; i >= 0; --i, v >>= 4)
        s[std::size_t(i)] = kDigits[v & 15];
    return s;
}

} // namespace

OMBRA_HOT void Exec::modrm(Insn& d)
{
    const std::uint8_t m = fetch8();
    d.mod = m >> 6;
    d.reg = (m >> 3) & 7;
    d.rm = m & 7;
    if (d.mod == 3)
        return;
    std::uint16_t off;
    unsigned seg = kDS;
    switch (d.rm) {
    case 0: off = std::uint16_t(r.bx + r.si); break;
    case 1: off = std::uint16_t(r.bx + r.di); break;
    case 2: off = std::uint16_t(r.bp + r.si); seg = kSS; break;
    case 3: off = std::uint16_t(r.bp + r.di); seg = kSS; break;
    case 4: off = r.si; break;
    case 5: off = r.di; break;
    case 6:
        if (d.mod == 0) {
            off = fetch16();
        } else {
            off = r.bp;
            seg = kSS;
        }
        break;
    default: off = r.bx; break;
    }
    if (d.mod == 1)
        off = std::uint16_t(off + std::int8_t(fetch8()));
    else if (d.mod == 2)
        off = std::uint16_t(off + fetch16());
    d.eaOff = off;
    d.eaSeg = segOr(d, seg);
}

std::uint64_t Exec::run(std::uint64_t n)
{
    std::uint64_t done = 0;
    const bool tracing = bool(c.trace_);
    while (done < n && !c.halted_) {
        // Traced or single-stepped code always takes the general path; the
        // fast path never changes CS, TF or HLT, so it may run on.
        if (!tracing && !(r.flags & TF)) {
            codeSegment();
            if (segCode_) {
                c.inhibit_ = false;
                done += runFast(segCode_, n - done);
                const bool skip = skipRequested();
                if (skip)
                    done += takeSkip(n - done);
                if (c.stop_)
                    break;
                if (skip || done == n)
                    continue;  // the loop's test ends a full budget
            }
        }
        stepGeneral(tracing);
        ++done;
        if (skipRequested())
            done += takeSkip(n - done);
        if (c.stop_)
            break;
    }
    c.stop_ = false;
    c.attention_ = skipRequested();
    return done;
}

void Exec::stepGeneral(bool tracing)
{
    const OpInfo* table = opcodeTable(c.model_);
    if (tracing)
        c.trace_(hex(r.cs, 4) + ":" + hex(r.ip, 4) + "  " + c.disassembleAt(r.cs, r.ip));
    const bool trap = r.flags & TF;
    c.inhibit_ = false;
    Insn d;
    d.start = r.ip;
    beginFetch();
    std::uint8_t op = fetch8();
    const OpInfo* info = &table[op];
    // A run of prefixes longer than any real instruction ends the step,
    // so memory full of prefix bytes cannot hold the core forever.
    for (unsigned k = 0; info->op == Op::prefix && k < 15; ++k) {
        switch (op) {
        case 0x26: d.seg = kES; break;
        case 0x2E: d.seg = kCS; break;
        case 0x36: d.seg = kSS; break;
        case 0x3E: d.seg = kDS; break;
        case 0xF2: case 0xF3: d.rep = op; break;
        default: break;  // LOCK has no effect on a single core
        }
        op = fetch8();
        info = &table[op];
    }
    if (info->op != Op::prefix) {
        d.opcode = op;
        d.word = info->word;
        if (info->op == Op::group) {
            const Form form = info->form;
            modrm(d);
            const OpInfo* g = groupTable(c.model_, 0) + info->group * 8u + d.reg;
            d.info = g;
            // The group entry may name its own form (TEST's immediate).
            d.form = g->form != Form::none ? g->form : form;
        } else {
            d.info = info;
            d.form = info->form;
            if (needsModrm(info->form))
                modrm(d);
        }
        execute(d);
    }
    ++c.count_;
    if (trap && !c.inhibit_)
        interrupt(1, r.ip);
}

void Exec::enter(std::uint16_t size, std::uint8_t level)
{
    level &= 0x1F;
    push(r.bp);
    const std::uint16_t frame = r.sp;
    if (level > 0) {
        for (unsigned i = 1; i < level; ++i) {
            r.bp -= 2;
            push(rdw(r.ss, r.bp));
        }
        push(frame);
    }
    r.bp = frame;
    r.sp = std::uint16_t(r.sp - size);
}

void Exec::invalid(Insn& d)
{
    // The 8086 has no invalid-opcode trap: such bytes fall through.
    if (c.model_ == Model::i80186)
        interrupt(6, d.start);
}

template <Op op>
OMBRA_HOT void Exec::alu(Insn& d)
{
    const bool w = d.word;
    switch (d.form) {
    case Form::EG: {
        const std::uint16_t res = arith(op, readE(d), getReg(w, d.reg), w, r.flags);
        if (op != Op::cmp)
            writeE(d, res);
        break;
    }
    case Form::GE: {
        const std::uint16_t res = arith(op, getReg(w, d.reg), readE(d), w, r.flags);
        if (op != Op::cmp)
            setReg(w, d.reg, res);
        break;
    }
    case Form::AccImm: {
        const std::uint16_t imm = fetchImm(w);
        const std::uint16_t res = arith(op, getReg(w, 0), imm, w, r.flags);
        if (op != Op::cmp)
            setReg(w, 0, res);
        break;
    }
    default: {  // EImm, EImm8s
        const std::uint16_t imm = d.form == Form::EImm8s ? std::uint16_t(std::int8_t(fetch8())) : fetchImm(w);
        const std::uint16_t res = arith(op, readE(d), imm, w, r.flags);
        if (op != Op::cmp)
            writeE(d, res);
        break;
    }
    }
}

OMBRA_HOT void Exec::execute(Insn& d)
{
    const Op op = d.info->op;
    const bool w = d.word;
    switch (op) {
    // One instance per operation, so the flag logic folds to straight code.
    case Op::add: alu<Op::add>(d); break;
    case Op::or_: alu<Op::or_>(d); break;
    case Op::adc: alu<Op::adc>(d); break;
    case Op::sbb: alu<Op::sbb>(d); break;
    case Op::and_: alu<Op::and_>(d); break;
    case Op::sub: alu<Op::sub>(d); break;
    case Op::xor_: alu<Op::xor_>(d); break;
    case Op::cmp: alu<Op::cmp>(d); break;
    case Op::test: {
        std::uint16_t a, b;
        if (d.form == Form::EG) {
            a = readE(d);
            b = getReg(w, d.reg);
        } else if (d.form == Form::AccImm) {
            b = fetchImm(w);
            a = getReg(w, 0);
        } else {
            b = fetchImm(w);
            a = readE(d);
        }
        arith(Op::and_, a, b, w, r.flags);
        break;
    }
    case Op::mov:
        switch (d.form) {
        case Form::EG: writeE(d, getReg(w, d.reg)); break;
        case Form::GE: setReg(w, d.reg, readE(d)); break;
        case Form::RegImm: setReg(w, d.opcode & 7, fetchImm(w)); break;
        case Form::AccMem: {
            const std::uint16_t off = fetch16();
            setReg(w, 0, rd(w, segOr(d, kDS), off));
            break;
        }
        case Form::MemAcc: {
            const std::uint16_t off = fetch16();
            wr(w, segOr(d, kDS), off, getReg(w, 0));
            break;
        }
        default: writeE(d, fetchImm(w)); break;  // C6, C7
        }
        break;
    case Op::xchg:
        if (d.form == Form::EG) {
            const std::uint16_t a = readE(d);
            writeE(d, getReg(w, d.reg));
            setReg(w, d.reg, a);
        } else if (d.form == Form::AccReg) {
            std::swap(r.ax, reg16(d.opcode & 7));
        }
        break;
    case Op::mov_seg:
        if (c.model_ == Model::i80186 && d.reg > 3)
            return invalid(d);
        if (d.form == Form::ESeg) {
            writeE(d, sreg(d.reg));
        } else {
            sreg(d.reg) = readE(d);
            if ((d.reg & 3) == kSS)
                c.inhibit_ = true;
        }
        break;
    case Op::lea:
        if (!d.mem())
            return invalid(d);
        reg16(d.reg) = d.eaOff;
        break;
    case Op::les:
    case Op::lds:
        if (!d.mem())
            return invalid(d);
        reg16(d.reg) = rdw(d.eaSeg, d.eaOff);
        sreg(op == Op::les ? kES : kDS) = rdw(d.eaSeg, std::uint16_t(d.eaOff + 2));
        break;
    case Op::inc:
    case Op::dec:
        if (d.form == Form::Reg) {
            std::uint16_t& x = reg16(d.opcode & 7);
            x = incdec(op == Op::dec, x, true, r.flags);
        } else {
            writeE(d, incdec(op == Op::dec, readE(d), w, r.flags));
        }
        break;
    case Op::push:
        switch (d.form) {
        case Form::Imm16: push(fetch16()); break;
        case Form::Imm8s: push(std::uint16_t(std::int8_t(fetch8()))); break;
        case Form::Reg:
            // SP is stored as it is after the decrement on these cores.
            r.sp -= 2;
            wrw(r.ss, r.sp, reg16(d.opcode & 7));
            break;
        default: {
            r.sp -= 2;
            const std::uint16_t v = d.mem() ? rdw(d.eaSeg, d.eaOff) : reg16(d.rm);
            wrw(r.ss, r.sp, v);
            break;
        }
        }
        break;
    case Op::pop:
        if (d.form == Form::Reg) {
            const std::uint16_t v = pop();
            reg16(d.opcode & 7) = v;
        } else {
            const std::uint16_t v = pop();
            d.word = true;
            writeE(d, v);
        }
        break;
    case Op::push_seg: push(sreg(d.opcode >> 3)); break;
    case Op::pop_seg: {
        const unsigned s = (d.opcode >> 3) & 3;
        sreg(s) = pop();
        if (s == kSS)
            c.inhibit_ = true;
        break;
    }
    case Op::pusha: {
        const std::uint16_t sp = r.sp;
        push(r.ax); push(r.cx); push(r.dx); push(r.bx);
        push(sp); push(r.bp); push(r.si); push(r.di);
        break;
    }
    case Op::popa:
        r.di = pop(); r.si = pop(); r.bp = pop(); pop();
        r.bx = pop(); r.dx = pop(); r.cx = pop(); r.ax = pop();
        break;
    case Op::enter: {
        const std::uint16_t size = fetch16();
        enter(size, fetch8());
        break;
    }
    case Op::leave:
        r.sp = r.bp;
        r.bp = pop();
        break;
    case Op::bound: bound(d); break;
    case Op::imul3: imul3(d); break;
    case Op::daa: detail::daa(r.ax, r.flags); break;
    case Op::das: detail::das(r.ax, r.flags); break;
    case Op::aaa: detail::aaa(r.ax, r.flags); break;
    case Op::aas: detail::aas(r.ax, r.flags); break;
    case Op::aam: aam(d, fetch8()); break;
    case Op::aad: aad(fetch8()); break;
    case Op::jcc: {
        const std::int8_t rel = std::int8_t(fetch8());
        if (condition(d.opcode & 15, r.flags))
            r.ip = std::uint16_t(r.ip + rel);
        break;
    }
    case Op::loop:
    case Op::loopz:
    case Op::loopnz:
    case Op::jcxz: {
        const std::int8_t rel = std::int8_t(fetch8());
        bool take;
        if (op == Op::jcxz) {
            take = r.cx == 0;
        } else {
            take = --r.cx != 0;
            if (op == Op::loopz)
                take = take && (r.flags & ZF);
            else if (op == Op::loopnz)
                take = take && !(r.flags & ZF);
        }
        if (take)
            r.ip = std::uint16_t(r.ip + rel);
        break;
    }
    case Op::jmp:
        if (d.form == Form::Rel8) {
            const std::int8_t rel = std::int8_t(fetch8());
            r.ip = std::uint16_t(r.ip + rel);
        } else {
            const std::uint16_t rel = fetch16();
            r.ip = std::uint16_t(r.ip + rel);
        }
        break;
    case Op::call: {
        const std::uint16_t rel = fetch16();
        push(r.ip);
        r.ip = std::uint16_t(r.ip + rel);
        break;
    }
    case Op::jmp_far:
    case Op::call_far: {
        const std::uint16_t off = fetch16();
        const std::uint16_t seg = fetch16();
        if (op == Op::call_far) {
            push(r.cs);
            push(r.ip);
        }
        r.cs = seg;
        r.ip = off;
        break;
    }
    case Op::call_ind: {
        const std::uint16_t target = readE(d);
        push(r.ip);
        r.ip = target;
        break;
    }
    case Op::jmp_ind: r.ip = readE(d); break;
    case Op::call_far_ind:
    case Op::jmp_far_ind: {
        if (!d.mem())
            return invalid(d);
        const std::uint16_t off = rdw(d.eaSeg, d.eaOff);
        const std::uint16_t seg = rdw(d.eaSeg, std::uint16_t(d.eaOff + 2));
        if (op == Op::call_far_ind) {
            push(r.cs);
            push(r.ip);
        }
        r.cs = seg;
        r.ip = off;
        break;
    }
    case Op::ret:
    case Op::retf: {
        const std::uint16_t n = d.form == Form::Imm16 ? fetch16() : 0;
        r.ip = pop();
        if (op == Op::retf)
            r.cs = pop();
        r.sp = std::uint16_t(r.sp + n);
        break;
    }
    case Op::int3: interrupt(3, r.ip); break;
    case Op::int_: {
        const std::uint8_t v = fetch8();
        interrupt(v, r.ip);
        break;
    }
    case Op::into:
        if (r.flags & OF)
            interrupt(4, r.ip);
        break;
    case Op::iret:
        r.ip = pop();
        r.cs = pop();
        setFlags(pop());
        break;
    case Op::cbw: r.ax = std::uint16_t(std::int8_t(r.ax)); break;
    case Op::cwd: r.dx = (r.ax & 0x8000) ? 0xFFFF : 0; break;
    case Op::wait: case Op::esc: break;
    case Op::pushf: push(r.flags); break;
    case Op::popf: setFlags(pop()); break;
    case Op::sahf: setFlags(std::uint16_t((r.flags & 0xFF00) | (r.ax >> 8))); break;
    case Op::lahf: r.ax = std::uint16_t((r.ax & 0x00FF) | (r.flags & 0xFF) << 8); break;
    case Op::salc: setReg8(0, (r.flags & CF) ? 0xFF : 0); break;
    case Op::xlat: setReg8(0, rdb(segOr(d, kDS), std::uint16_t(r.bx + (r.ax & 0xFF)))); break;
    case Op::in: {
        const std::uint16_t port = d.form == Form::AccPort ? fetch8() : r.dx;
        if (w)
            r.ax = c.bus_.in16(port);
        else
            setReg8(0, c.bus_.in8(port));
        break;
    }
    case Op::out: {
        const std::uint16_t port = d.form == Form::PortAcc ? fetch8() : r.dx;
        if (w)
            c.bus_.out16(port, r.ax);
        else
            c.bus_.out8(port, std::uint8_t(r.ax));
        break;
    }
    case Op::movs: case Op::cmps: case Op::stos: case Op::lods:
    case Op::scas: case Op::ins: case Op::outs:
        stringOp(d);
        break;
    case Op::hlt: c.halted_ = true; break;
    case Op::cmc: r.flags ^= CF; break;
    case Op::clc: r.flags &= ~CF; break;
    case Op::stc: r.flags |= CF; break;
    case Op::cli: r.flags &= ~IF; break;
    case Op::sti:
        r.flags |= IF;
        c.inhibit_ = true;
        break;
    case Op::cld: r.flags &= ~DF; break;
    case Op::std: r.flags |= DF; break;
    case Op::rol: case Op::ror: case Op::rcl: case Op::rcr:
    case Op::shl: case Op::shr: case Op::setmo: case Op::sar: {
        unsigned count = d.form == Form::E1 ? 1 : d.form == Form::ECL ? (r.cx & 0xFF) : fetch8();
        if (c.model_ == Model::i80186)
            count &= 0x1F;
        if (count == 0)
            break;
        writeE(d, shift(op, readE(d), count, w, r.flags));
        break;
    }
    case Op::not_: writeE(d, std::uint16_t(~readE(d))); break;
    case Op::neg: writeE(d, arith(Op::sub, 0, readE(d), w, r.flags)); break;
    case Op::mul: case Op::imul: case Op::div: case Op::idiv: mulDiv(d, readE(d)); break;
    case Op::invalid: case Op::prefix: case Op::group: invalid(d); break;
    }
}

} // namespace ombra::sim
