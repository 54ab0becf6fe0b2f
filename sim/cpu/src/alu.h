#pragma once
// Arithmetic and logic with the flags they leave. Pure functions on values
// and a flags word, so they are shared by every addressing form.
#include <array>
#include <cstdint>

#include "decode.h"

namespace ombra::sim::detail {

constexpr std::uint16_t kArithFlags = CF | PF | AF | ZF | SF | OF;

inline constexpr std::array<std::uint8_t, 256> kParity = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned bits = 0;
        for (unsigned b = i; b; b >>= 1)
            bits += b & 1;
        t[i] = (bits & 1) ? 0 : PF;
    }
    return t;
}();

inline std::uint32_t widthMask(bool w) { return w ? 0xFFFFu : 0xFFu; }
inline std::uint32_t signBit(bool w) { return w ? 0x8000u : 0x80u; }

// SF, ZF and PF of a result already cut to its width.
inline std::uint16_t szp(std::uint32_t res, bool w)
{
    std::uint16_t f = kParity[res & 0xFF];
    if (res == 0)
        f |= ZF;
    if (res & signBit(w))
        f |= SF;
    return f;
}

// op is one of add .. cmp (the eight ALU operations of the encoding).
[[gnu::always_inline]] inline std::uint16_t arith(Op op, std::uint32_t a, std::uint32_t b, bool w, std::uint16_t& flags)
{
    const std::uint32_t mask = widthMask(w), sign = signBit(w);
    std::uint16_t f = flags & ~kArithFlags;
    std::uint32_t res;
    switch (op) {
    case Op::add:
    case Op::adc: {
        const std::uint32_t c = (op == Op::adc && (flags & CF)) ? 1 : 0;
        res = a + b + c;
        if (res > mask)
            f |= CF;
        if ((a ^ res) & (b ^ res) & sign)
            f |= OF;
        f |= (a ^ b ^ res) & AF;
        break;
    }
    case Op::sub:
    case Op::sbb:
    case Op::cmp: {
        const std::uint32_t c = (op == Op::sbb && (flags & CF)) ? 1 : 0;
        res = a - b - c;
        if (a < b + c)
            f |= CF;
        if ((a ^ b) & (a ^ res) & sign)
            f |= OF;
        f |= (a ^ b ^ res) & AF;
        break;
    }
    case Op::or_: res = a | b; break;
    case Op::and_: res = a & b; break;
    default: res = a ^ b; break;  // xor
    }
    res &= mask;
    flags = f | szp(res, w);
    return std::uint16_t(res);
}

// INC and DEC keep CF.
inline std::uint16_t incdec(bool dec, std::uint32_t a, bool w, std::uint16_t& flags)
{
    const std::uint16_t cf = flags & CF;
    const std::uint16_t r = arith(dec ? Op::sub : Op::add, a, 1, w, flags);
    flags = (flags & ~CF) | cf;
    return r;
}

// Rotates and shifts by count (already limited by the model). A zero count
// changes nothing, flags included. Inline, so a constant operation and
// count fold to straight code.
[[gnu::always_inline]] inline std::uint16_t shift(Op op, std::uint16_t v, unsigned count, bool w, std::uint16_t& flags)
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


// Decimal adjusts on AX.
void daa(std::uint16_t& ax, std::uint16_t& flags);
void das(std::uint16_t& ax, std::uint16_t& flags);
void aaa(std::uint16_t& ax, std::uint16_t& flags);
void aas(std::uint16_t& ax, std::uint16_t& flags);

} // namespace ombra::sim::detail
