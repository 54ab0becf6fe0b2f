// Shifts, rotates and decimal adjusts (the rarer ALU paths).
#include "alu.h"

namespace ombra::sim::detail {

std::uint16_t shift(Op op, std::uint16_t v, unsigned count, bool w, std::uint16_t& flags)
{
    if (count == 0)
        return v;
    const std::uint32_t mask = widthMask(w), sign = signBit(w);
    std::uint32_t x = v & mask;
    bool cf = flags & CF;
    // One step at a time, as the hardware does: CF and OF are those of the
    // last step, which also holds for counts beyond the width.
    for (unsigned i = 0; i < count; ++i) {
        switch (op) {
        case Op::rol: cf = x & sign; x = ((x << 1) | cf) & mask; break;
        case Op::ror: cf = x & 1; x = (x >> 1) | (cf ? sign : 0); break;
        case Op::rcl: { const bool c = x & sign; x = ((x << 1) | cf) & mask; cf = c; break; }
        case Op::rcr: { const bool c = x & 1; x = (x >> 1) | (cf ? sign : 0); cf = c; break; }
        case Op::shl: cf = x & sign; x = (x << 1) & mask; break;
        case Op::shr: cf = x & 1; x >>= 1; break;
        case Op::sar: cf = x & 1; x = (x >> 1) | (x & sign); break;
        default: cf = false; x = mask; break;  // setmo: all ones
        }
    }
    const bool msb = x & sign, next = x & (sign >> 1);
    bool of;
    switch (op) {
    case Op::rol: case Op::rcl: case Op::shl: of = msb != cf; break;
    case Op::setmo: of = false; break;
    default: of = msb != next; break;
    }
    std::uint16_t f = flags & ~(CF | OF);
    if (cf)
        f |= CF;
    if (of)
        f |= OF;
    if (op != Op::rol && op != Op::ror && op != Op::rcl && op != Op::rcr)
        f = (f & ~(SF | ZF | PF | AF)) | szp(x, w);
    flags = f;
    return std::uint16_t(x);
}

void daa(std::uint16_t& ax, std::uint16_t& flags)
{
    std::uint8_t al = ax & 0xFF;
    const std::uint8_t old = al;
    const bool oldCf = flags & CF, oldAf = flags & AF;
    std::uint16_t f = flags & ~(CF | AF | SF | ZF | PF | OF);
    if ((al & 0x0F) > 9 || oldAf) {
        al = std::uint8_t(al + 6);
        f |= AF;
    }
    if (old > (oldAf ? 0x9F : 0x99) || oldCf) {
        al = std::uint8_t(al + 0x60);
        f |= CF;
    }
    ax = (ax & 0xFF00) | al;
    flags = f | szp(al, false);
}

void das(std::uint16_t& ax, std::uint16_t& flags)
{
    std::uint8_t al = ax & 0xFF;
    const std::uint8_t old = al;
    const bool oldCf = flags & CF, oldAf = flags & AF;
    std::uint16_t f = flags & ~(CF | AF | SF | ZF | PF | OF);
    if ((al & 0x0F) > 9 || oldAf) {
        al = std::uint8_t(al - 6);
        f |= AF;
    }
    if (old > (oldAf ? 0x9F : 0x99) || oldCf) {
        al = std::uint8_t(al - 0x60);
        f |= CF;
    }
    ax = (ax & 0xFF00) | al;
    flags = f | szp(al, false);
}

void aaa(std::uint16_t& ax, std::uint16_t& flags)
{
    std::uint8_t al = ax & 0xFF, ah = ax >> 8;
    std::uint16_t f = flags & ~(CF | AF);
    if ((al & 0x0F) > 9 || (flags & AF)) {
        al = std::uint8_t(al + 6);
        ah = std::uint8_t(ah + 1);
        f |= CF | AF;
    }
    f = (f & ~(SF | ZF | PF)) | szp(al, false);
    ax = std::uint16_t(ah << 8 | (al & 0x0F));
    flags = f;
}

void aas(std::uint16_t& ax, std::uint16_t& flags)
{
    std::uint8_t al = ax & 0xFF, ah = ax >> 8;
    std::uint16_t f = flags & ~(CF | AF);
    if ((al & 0x0F) > 9 || (flags & AF)) {
        al = std::uint8_t(al - 6);
        ah = std::uint8_t(ah - 1);
        f |= CF | AF;
    }
    f = (f & ~(SF | ZF | PF)) | szp(al, false);
    ax = std::uint16_t(ah << 8 | (al & 0x0F));
    flags = f;
}

} // namespace ombra::sim::detail
