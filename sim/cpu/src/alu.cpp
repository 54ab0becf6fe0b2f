// Decimal adjusts (the rarer ALU paths).
#include "alu.h"

namespace ombra::sim::detail {

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
