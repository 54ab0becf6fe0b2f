// Multiply, divide and the ASCII adjusts built on them.
#include "exec.h"

namespace ombra::sim {

using namespace detail;

namespace {

void setCarryOverflow(std::uint16_t& flags, bool on)
{
    flags = on ? std::uint16_t(flags | CF | OF) : std::uint16_t(flags & ~(CF | OF));
}

} // namespace

void Exec::mulDiv(Insn& d, std::uint16_t src)
{
    const Op op = d.info->op;
    // The 8086 microcode reuses the REP latch as a sign toggle: a REP prefix
    // negates the signed result. Kept so recorded 8086 code runs as it did.
    const bool negate = d.rep && c.model_ == Model::i8086;
    if (!d.word) {
        const std::uint8_t s = std::uint8_t(src);
        switch (op) {
        case Op::mul:
            r.ax = std::uint16_t((r.ax & 0xFF) * s);
            setCarryOverflow(r.flags, r.ax >> 8);
            break;
        case Op::imul: {
            std::int16_t p = std::int16_t(std::int8_t(r.ax) * std::int8_t(s));
            if (negate)
                p = std::int16_t(-p);
            r.ax = std::uint16_t(p);
            setCarryOverflow(r.flags, p != std::int8_t(p));
            break;
        }
        case Op::div: {
            if (s == 0 || r.ax / s > 0xFF)
                return divideError(d);
            const std::uint16_t q = r.ax / s, m = r.ax % s;
            r.ax = std::uint16_t(m << 8 | q);
            break;
        }
        default: {  // idiv
            const std::int32_t a = std::int16_t(r.ax), b = std::int8_t(s);
            if (b == 0)
                return divideError(d);
            std::int32_t q = a / b;
            const std::int32_t m = a % b;
            if (q > 127 || q < -127)
                return divideError(d);
            if (negate)
                q = -q;
            r.ax = std::uint16_t((m & 0xFF) << 8 | (q & 0xFF));
            break;
        }
        }
        return;
    }
    switch (op) {
    case Op::mul: {
        const std::uint32_t p = std::uint32_t(r.ax) * src;
        r.ax = std::uint16_t(p);
        r.dx = std::uint16_t(p >> 16);
        setCarryOverflow(r.flags, r.dx != 0);
        break;
    }
    case Op::imul: {
        std::int32_t p = std::int32_t(std::int16_t(r.ax)) * std::int16_t(src);
        if (negate)
            p = -p;
        r.ax = std::uint16_t(p);
        r.dx = std::uint16_t(std::uint32_t(p) >> 16);
        setCarryOverflow(r.flags, p != std::int16_t(p));
        break;
    }
    case Op::div: {
        const std::uint32_t a = std::uint32_t(r.dx) << 16 | r.ax;
        if (src == 0 || a / src > 0xFFFF)
            return divideError(d);
        r.ax = std::uint16_t(a / src);
        r.dx = std::uint16_t(a % src);
        break;
    }
    default: {  // idiv
        const std::int64_t a = std::int32_t(std::uint32_t(r.dx) << 16 | r.ax);
        const std::int64_t b = std::int16_t(src);
        if (b == 0)
            return divideError(d);
        std::int64_t q = a / b;
        const std::int64_t m = a % b;
        if (q > 32767 || q < -32767)
            return divideError(d);
        if (negate)
            q = -q;
        r.ax = std::uint16_t(q);
        r.dx = std::uint16_t(m);
        break;
    }
    }
}

void Exec::imul3(Insn& d)
{
    const std::uint16_t imm = d.form == Form::GEImm ? fetch16() : std::uint16_t(std::int8_t(fetch8()));
    const std::int32_t p = std::int32_t(std::int16_t(readE(d))) * std::int16_t(imm);
    reg16(d.reg) = std::uint16_t(p);
    setCarryOverflow(r.flags, p != std::int16_t(p));
}

void Exec::aam(Insn& d, std::uint8_t base)
{
    if (base == 0)
        return divideError(d);
    const std::uint8_t al = std::uint8_t(r.ax);
    r.ax = std::uint16_t((al / base) << 8 | (al % base));
    r.flags = std::uint16_t((r.flags & ~(SF | ZF | PF)) | szp(r.ax & 0xFF, false));
}

void Exec::aad(std::uint8_t base)
{
    const std::uint8_t al = std::uint8_t(r.ax), ah = std::uint8_t(r.ax >> 8);
    r.ax = arith(Op::add, al, std::uint8_t(ah * base), false, r.flags);
}

} // namespace ombra::sim
