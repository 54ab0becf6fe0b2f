#pragma once
// Opcode tables shared by the interpreter and the disassembler.
#include <cstdint>

#include "ombra/sim/cpu.h"

namespace ombra::sim::detail {

enum class Op : std::uint8_t {
    invalid,
    prefix,  // segment, REP, LOCK: handled before the table lookup
    group,   // the ModR/M reg field selects the entry of OpInfo::group
    add, or_, adc, sbb, and_, sub, xor_, cmp,  // in the encoding's order
    push_seg, pop_seg, daa, das, aaa, aas,
    inc, dec, push, pop,
    pusha, popa, bound, imul3,
    ins, outs, movs, cmps, stos, lods, scas,
    jcc, test, xchg, mov, mov_seg, lea, les, lds,
    cbw, cwd, call_far, wait, pushf, popf, sahf, lahf,
    ret, retf, enter, leave, int3, int_, into, iret,
    aam, aad, salc, xlat, esc,
    loopnz, loopz, loop, jcxz, in, out, call, jmp, jmp_far,
    hlt, cmc, clc, stc, cli, sti, cld, std,
    rol, ror, rcl, rcr, shl, shr, setmo, sar,  // shift group order
    not_, neg, mul, imul, div, idiv,
    call_ind, call_far_ind, jmp_ind, jmp_far_ind,
};

// Operand pattern: how the bytes after the opcode are laid out and where the
// operands live.
enum class Form : std::uint8_t {
    none,
    EG,       // r/m, reg
    GE,       // reg, r/m
    AccImm,   // AL/AX, immediate
    Seg,      // segment register in opcode bits 3-4
    Reg,      // 16-bit register in opcode bits 0-2
    AccReg,   // AX, register in bits 0-2
    RegImm,   // register in bits 0-2 (width from bit 3), immediate
    Rel8, Rel16, FarPtr,
    E,        // r/m only
    EImm,     // r/m, immediate of the operand's width
    EImm8s,   // r/m16, sign-extended imm8
    E1, ECL, EImm8,  // shift count forms
    ESeg, SegE,      // 8C, 8E
    GM,       // reg, memory (LEA, LES, LDS, BOUND)
    GEImm, GEImm8s,  // three-operand IMUL
    Imm8, Imm16, Imm8s, Imm16Imm8,
    AccMem, MemAcc,
    AccPort, PortAcc, AccDX, DXAcc,
    Str,      // string instruction, implicit operands
    Esc,      // coprocessor escape: r/m
};

struct OpInfo {
    Op op = Op::invalid;
    Form form = Form::none;
    bool word = false;       // operand size 16 (otherwise 8)
    std::uint8_t group = 0;  // 1..n: index into the group tables
    const char* name = "(bad)";
};

// Per-model tables: 256 opcodes, and 8 entries per ModR/M group.
const OpInfo* opcodeTable(Model model);
// Group g's 8 entries; the groups lie one after another, so
// groupTable(m, 0) + g * 8 + reg reaches any of them.
const OpInfo* groupTable(Model model, unsigned group);

// The condition of Jcc (low nibble of 7x), evaluated on a flags word.
inline bool condition(unsigned cc, std::uint16_t f)
{
    bool r;
    switch (cc >> 1) {
    case 0: r = f & OF; break;
    case 1: r = f & CF; break;
    case 2: r = f & ZF; break;
    case 3: r = f & (CF | ZF); break;
    case 4: r = f & SF; break;
    case 5: r = f & PF; break;
    case 6: r = bool(f & SF) != bool(f & OF); break;
    default: r = (f & ZF) || (bool(f & SF) != bool(f & OF)); break;
    }
    return (cc & 1) ? !r : r;
}

} // namespace ombra::sim::detail
