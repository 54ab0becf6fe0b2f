// Entry through the vector table, and the instructions that trap.
#include "exec.h"

namespace ombra::sim {

void Exec::interrupt(std::uint8_t vector, std::uint16_t returnIp)
{
    push(r.flags);
    r.flags &= ~(IF | TF);
    push(r.cs);
    push(returnIp);
    // The table is at physical 0 whatever the segment shift.
    const std::uint16_t slot = std::uint16_t(vector * 4);
    r.ip = rdw(0, slot);
    r.cs = rdw(0, std::uint16_t(slot + 2));
}

void Exec::divideError(const Insn& d)
{
    // The 8086 returns past the divide; the 80186 to its first prefix, so a
    // handler can fix the operands and run it again.
    interrupt(0, c.model_ == Model::i80186 ? d.start : r.ip);
}

void Exec::bound(Insn& d)
{
    if (!d.mem())
        return invalid(d);
    const std::int16_t lo = std::int16_t(rdw(d.eaSeg, d.eaOff));
    const std::int16_t hi = std::int16_t(rdw(d.eaSeg, std::uint16_t(d.eaOff + 2)));
    const std::int16_t idx = std::int16_t(reg16(d.reg));
    if (idx < lo || idx > hi)
        interrupt(5, d.start);
}

} // namespace ombra::sim
