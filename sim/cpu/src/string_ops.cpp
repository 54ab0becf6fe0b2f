// String instructions. With a REP prefix each call runs one element and
// points IP back at the prefix while work remains, so a long REP can be
// interrupted and resumed like the hardware does.
#include "exec.h"

namespace ombra::sim {

using namespace detail;

void Exec::stringOp(Insn& d)
{
    if (d.rep && r.cx == 0)
        return;
    const bool w = d.word;
    const Op op = d.info->op;
    const std::uint16_t step = (r.flags & DF) ? std::uint16_t(w ? -2 : -1) : std::uint16_t(w ? 2 : 1);
    const std::uint16_t src = segOr(d, kDS);
    switch (op) {
    case Op::movs:
        wr(w, r.es, r.di, rd(w, src, r.si));
        r.si += step;
        r.di += step;
        break;
    case Op::cmps: {
        const std::uint16_t a = rd(w, src, r.si);
        arith(Op::cmp, a, rd(w, r.es, r.di), w, r.flags);
        r.si += step;
        r.di += step;
        break;
    }
    case Op::stos:
        wr(w, r.es, r.di, getReg(w, 0));
        r.di += step;
        break;
    case Op::lods:
        setReg(w, 0, rd(w, src, r.si));
        r.si += step;
        break;
    case Op::scas:
        arith(Op::cmp, getReg(w, 0), rd(w, r.es, r.di), w, r.flags);
        r.di += step;
        break;
    case Op::ins:
        wr(w, r.es, r.di, w ? c.bus_.in16(r.dx) : c.bus_.in8(r.dx));
        r.di += step;
        break;
    default: {  // outs
        const std::uint16_t v = rd(w, src, r.si);
        if (w)
            c.bus_.out16(r.dx, v);
        else
            c.bus_.out8(r.dx, std::uint8_t(v));
        r.si += step;
        break;
    }
    }
    if (!d.rep)
        return;
    bool finished = --r.cx == 0;
    if (op == Op::cmps || op == Op::scas)
        finished = finished || (d.rep == 0xF3 ? !(r.flags & ZF) : bool(r.flags & ZF));
    if (!finished)
        r.ip = d.start;
}

} // namespace ombra::sim
