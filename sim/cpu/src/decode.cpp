// The opcode map of both models, built once at compile time.
#include "decode.h"

#include <array>

namespace ombra::sim::detail {
namespace {

using Table = std::array<OpInfo, 256>;
using Group = std::array<OpInfo, 8>;

enum GroupId : std::uint8_t { gAlu = 1, gShift, gUnary, gIncDec, gMisc, gPop, gMovImm, gCount };

constexpr OpInfo op(Op o, Form f, bool w, const char* n) { return OpInfo{o, f, w, 0, n}; }
constexpr OpInfo grp(GroupId g, Form f, bool w) { return OpInfo{Op::group, f, w, g, ""}; }

constexpr Table base8086()
{
    Table t{};
    constexpr Op alu[8] = {Op::add, Op::or_, Op::adc, Op::sbb, Op::and_, Op::sub, Op::xor_, Op::cmp};
    constexpr const char* aluName[8] = {"add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"};
    for (unsigned i = 0; i < 8; ++i) {
        const unsigned b = i * 8;
        t[b + 0] = op(alu[i], Form::EG, false, aluName[i]);
        t[b + 1] = op(alu[i], Form::EG, true, aluName[i]);
        t[b + 2] = op(alu[i], Form::GE, false, aluName[i]);
        t[b + 3] = op(alu[i], Form::GE, true, aluName[i]);
        t[b + 4] = op(alu[i], Form::AccImm, false, aluName[i]);
        t[b + 5] = op(alu[i], Form::AccImm, true, aluName[i]);
    }
    for (unsigned s = 0; s < 4; ++s) {
        t[s * 8 + 6] = op(Op::push_seg, Form::Seg, true, "push");
        t[s * 8 + 7] = op(Op::pop_seg, Form::Seg, true, "pop");
    }
    for (unsigned p : {0x26u, 0x2Eu, 0x36u, 0x3Eu, 0xF0u, 0xF1u, 0xF2u, 0xF3u})
        t[p] = op(Op::prefix, Form::none, false, "");
    t[0x27] = op(Op::daa, Form::none, false, "daa");
    t[0x2F] = op(Op::das, Form::none, false, "das");
    t[0x37] = op(Op::aaa, Form::none, false, "aaa");
    t[0x3F] = op(Op::aas, Form::none, false, "aas");
    for (unsigned r = 0; r < 8; ++r) {
        t[0x40 + r] = op(Op::inc, Form::Reg, true, "inc");
        t[0x48 + r] = op(Op::dec, Form::Reg, true, "dec");
        t[0x50 + r] = op(Op::push, Form::Reg, true, "push");
        t[0x58 + r] = op(Op::pop, Form::Reg, true, "pop");
        t[0x90 + r] = op(Op::xchg, Form::AccReg, true, "xchg");
        t[0xB0 + r] = op(Op::mov, Form::RegImm, false, "mov");
        t[0xB8 + r] = op(Op::mov, Form::RegImm, true, "mov");
    }
    t[0x90] = op(Op::xchg, Form::none, true, "nop");
    constexpr const char* jcc[16] = {"jo", "jno", "jb", "jnb", "jz", "jnz", "jbe", "ja",
                                     "js", "jns", "jp", "jnp", "jl", "jge", "jle", "jg"};
    for (unsigned c = 0; c < 16; ++c) {
        t[0x70 + c] = op(Op::jcc, Form::Rel8, false, jcc[c]);
        t[0x60 + c] = t[0x70 + c];  // the 8086 decodes 6x as 7x
    }
    t[0x80] = grp(gAlu, Form::EImm, false);
    t[0x81] = grp(gAlu, Form::EImm, true);
    t[0x82] = grp(gAlu, Form::EImm, false);
    t[0x83] = grp(gAlu, Form::EImm8s, true);
    t[0x84] = op(Op::test, Form::EG, false, "test");
    t[0x85] = op(Op::test, Form::EG, true, "test");
    t[0x86] = op(Op::xchg, Form::EG, false, "xchg");
    t[0x87] = op(Op::xchg, Form::EG, true, "xchg");
    t[0x88] = op(Op::mov, Form::EG, false, "mov");
    t[0x89] = op(Op::mov, Form::EG, true, "mov");
    t[0x8A] = op(Op::mov, Form::GE, false, "mov");
    t[0x8B] = op(Op::mov, Form::GE, true, "mov");
    t[0x8C] = op(Op::mov_seg, Form::ESeg, true, "mov");
    t[0x8D] = op(Op::lea, Form::GM, true, "lea");
    t[0x8E] = op(Op::mov_seg, Form::SegE, true, "mov");
    t[0x8F] = grp(gPop, Form::E, true);
    t[0x98] = op(Op::cbw, Form::none, false, "cbw");
    t[0x99] = op(Op::cwd, Form::none, true, "cwd");
    t[0x9A] = op(Op::call_far, Form::FarPtr, true, "call");
    t[0x9B] = op(Op::wait, Form::none, false, "wait");
    t[0x9C] = op(Op::pushf, Form::none, true, "pushf");
    t[0x9D] = op(Op::popf, Form::none, true, "popf");
    t[0x9E] = op(Op::sahf, Form::none, false, "sahf");
    t[0x9F] = op(Op::lahf, Form::none, false, "lahf");
    t[0xA0] = op(Op::mov, Form::AccMem, false, "mov");
    t[0xA1] = op(Op::mov, Form::AccMem, true, "mov");
    t[0xA2] = op(Op::mov, Form::MemAcc, false, "mov");
    t[0xA3] = op(Op::mov, Form::MemAcc, true, "mov");
    t[0xA4] = op(Op::movs, Form::Str, false, "movsb");
    t[0xA5] = op(Op::movs, Form::Str, true, "movsw");
    t[0xA6] = op(Op::cmps, Form::Str, false, "cmpsb");
    t[0xA7] = op(Op::cmps, Form::Str, true, "cmpsw");
    t[0xA8] = op(Op::test, Form::AccImm, false, "test");
    t[0xA9] = op(Op::test, Form::AccImm, true, "test");
    t[0xAA] = op(Op::stos, Form::Str, false, "stosb");
    t[0xAB] = op(Op::stos, Form::Str, true, "stosw");
    t[0xAC] = op(Op::lods, Form::Str, false, "lodsb");
    t[0xAD] = op(Op::lods, Form::Str, true, "lodsw");
    t[0xAE] = op(Op::scas, Form::Str, false, "scasb");
    t[0xAF] = op(Op::scas, Form::Str, true, "scasw");
    t[0xC2] = op(Op::ret, Form::Imm16, true, "ret");
    t[0xC3] = op(Op::ret, Form::none, true, "ret");
    t[0xC0] = t[0xC2];  // 8086 aliases
    t[0xC1] = t[0xC3];
    t[0xC4] = op(Op::les, Form::GM, true, "les");
    t[0xC5] = op(Op::lds, Form::GM, true, "lds");
    t[0xC6] = grp(gMovImm, Form::EImm, false);
    t[0xC7] = grp(gMovImm, Form::EImm, true);
    t[0xCA] = op(Op::retf, Form::Imm16, true, "retf");
    t[0xCB] = op(Op::retf, Form::none, true, "retf");
    t[0xC8] = t[0xCA];
    t[0xC9] = t[0xCB];
    t[0xCC] = op(Op::int3, Form::none, false, "int3");
    t[0xCD] = op(Op::int_, Form::Imm8, false, "int");
    t[0xCE] = op(Op::into, Form::none, false, "into");
    t[0xCF] = op(Op::iret, Form::none, true, "iret");
    t[0xD0] = grp(gShift, Form::E1, false);
    t[0xD1] = grp(gShift, Form::E1, true);
    t[0xD2] = grp(gShift, Form::ECL, false);
    t[0xD3] = grp(gShift, Form::ECL, true);
    t[0xD4] = op(Op::aam, Form::Imm8, false, "aam");
    t[0xD5] = op(Op::aad, Form::Imm8, false, "aad");
    t[0xD6] = op(Op::salc, Form::none, false, "salc");
    t[0xD7] = op(Op::xlat, Form::none, false, "xlat");
    for (unsigned e = 0xD8; e <= 0xDF; ++e)
        t[e] = op(Op::esc, Form::Esc, false, "esc");
    t[0xE0] = op(Op::loopnz, Form::Rel8, false, "loopnz");
    t[0xE1] = op(Op::loopz, Form::Rel8, false, "loopz");
    t[0xE2] = op(Op::loop, Form::Rel8, false, "loop");
    t[0xE3] = op(Op::jcxz, Form::Rel8, false, "jcxz");
    t[0xE4] = op(Op::in, Form::AccPort, false, "in");
    t[0xE5] = op(Op::in, Form::AccPort, true, "in");
    t[0xE6] = op(Op::out, Form::PortAcc, false, "out");
    t[0xE7] = op(Op::out, Form::PortAcc, true, "out");
    t[0xE8] = op(Op::call, Form::Rel16, true, "call");
    t[0xE9] = op(Op::jmp, Form::Rel16, true, "jmp");
    t[0xEA] = op(Op::jmp_far, Form::FarPtr, true, "jmp");
    t[0xEB] = op(Op::jmp, Form::Rel8, true, "jmp");
    t[0xEC] = op(Op::in, Form::AccDX, false, "in");
    t[0xED] = op(Op::in, Form::AccDX, true, "in");
    t[0xEE] = op(Op::out, Form::DXAcc, false, "out");
    t[0xEF] = op(Op::out, Form::DXAcc, true, "out");
    t[0xF4] = op(Op::hlt, Form::none, false, "hlt");
    t[0xF5] = op(Op::cmc, Form::none, false, "cmc");
    t[0xF6] = grp(gUnary, Form::E, false);
    t[0xF7] = grp(gUnary, Form::E, true);
    t[0xF8] = op(Op::clc, Form::none, false, "clc");
    t[0xF9] = op(Op::stc, Form::none, false, "stc");
    t[0xFA] = op(Op::cli, Form::none, false, "cli");
    t[0xFB] = op(Op::sti, Form::none, false, "sti");
    t[0xFC] = op(Op::cld, Form::none, false, "cld");
    t[0xFD] = op(Op::std, Form::none, false, "std");
    t[0xFE] = grp(gIncDec, Form::E, false);
    t[0xFF] = grp(gMisc, Form::E, true);
    return t;
}

constexpr Table table8086()
{
    Table t = base8086();
    t[0x0F] = op(Op::pop_seg, Form::Seg, true, "pop");
    return t;
}

constexpr Table table80186()
{
    Table t = base8086();
    constexpr OpInfo bad{};
    t[0x0F] = bad;
    for (unsigned i = 0x60; i <= 0x6F; ++i)
        t[i] = bad;
    t[0x60] = op(Op::pusha, Form::none, true, "pusha");
    t[0x61] = op(Op::popa, Form::none, true, "popa");
    t[0x62] = op(Op::bound, Form::GM, true, "bound");
    t[0x68] = op(Op::push, Form::Imm16, true, "push");
    t[0x69] = op(Op::imul3, Form::GEImm, true, "imul");
    t[0x6A] = op(Op::push, Form::Imm8s, true, "push");
    t[0x6B] = op(Op::imul3, Form::GEImm8s, true, "imul");
    t[0x6C] = op(Op::ins, Form::Str, false, "insb");
    t[0x6D] = op(Op::ins, Form::Str, true, "insw");
    t[0x6E] = op(Op::outs, Form::Str, false, "outsb");
    t[0x6F] = op(Op::outs, Form::Str, true, "outsw");
    t[0xC0] = grp(gShift, Form::EImm8, false);
    t[0xC1] = grp(gShift, Form::EImm8, true);
    t[0xC8] = op(Op::enter, Form::Imm16Imm8, true, "enter");
    t[0xC9] = op(Op::leave, Form::none, true, "leave");
    t[0xF1] = bad;
    return t;
}

using Groups = std::array<Group, gCount>;

constexpr Groups groups(Model m)
{
    const bool is186 = m == Model::i80186;
    constexpr OpInfo bad{};
    // Forms here override the opcode's form; none keeps it.
    Groups g{};
    g[gAlu] = {op(Op::add, Form::none, false, "add"), op(Op::or_, Form::none, false, "or"),
               op(Op::adc, Form::none, false, "adc"), op(Op::sbb, Form::none, false, "sbb"),
               op(Op::and_, Form::none, false, "and"), op(Op::sub, Form::none, false, "sub"),
               op(Op::xor_, Form::none, false, "xor"), op(Op::cmp, Form::none, false, "cmp")};
    g[gShift] = {op(Op::rol, Form::none, false, "rol"), op(Op::ror, Form::none, false, "ror"),
                 op(Op::rcl, Form::none, false, "rcl"), op(Op::rcr, Form::none, false, "rcr"),
                 op(Op::shl, Form::none, false, "shl"), op(Op::shr, Form::none, false, "shr"),
                 is186 ? bad : op(Op::setmo, Form::none, false, "setmo"),
                 op(Op::sar, Form::none, false, "sar")};
    g[gUnary] = {op(Op::test, Form::EImm, false, "test"),
                 is186 ? bad : op(Op::test, Form::EImm, false, "test"),
                 op(Op::not_, Form::none, false, "not"), op(Op::neg, Form::none, false, "neg"),
                 op(Op::mul, Form::none, false, "mul"), op(Op::imul, Form::none, false, "imul"),
                 op(Op::div, Form::none, false, "div"), op(Op::idiv, Form::none, false, "idiv")};
    g[gIncDec] = {op(Op::inc, Form::none, false, "inc"), op(Op::dec, Form::none, false, "dec"),
                  bad, bad, bad, bad, bad, bad};
    g[gMisc] = {op(Op::inc, Form::none, false, "inc"), op(Op::dec, Form::none, false, "dec"),
                op(Op::call_ind, Form::none, false, "call"),
                op(Op::call_far_ind, Form::none, false, "call far"),
                op(Op::jmp_ind, Form::none, false, "jmp"),
                op(Op::jmp_far_ind, Form::none, false, "jmp far"),
                op(Op::push, Form::none, false, "push"),
                is186 ? bad : op(Op::push, Form::none, false, "push")};
    // The 8086 ignores the reg field of 8F, C6 and C7.
    const OpInfo pop = op(Op::pop, Form::none, false, "pop");
    const OpInfo mov = op(Op::mov, Form::none, false, "mov");
    for (unsigned i = 0; i < 8; ++i) {
        g[gPop][i] = (is186 && i) ? bad : pop;
        g[gMovImm][i] = (is186 && i) ? bad : mov;
    }
    return g;
}

constexpr Table kTable8086 = table8086();
constexpr Table kTable80186 = table80186();
constexpr Groups kGroups8086 = groups(Model::i8086);
constexpr Groups kGroups80186 = groups(Model::i80186);

} // namespace

const OpInfo* opcodeTable(Model model)
{
    return model == Model::i80186 ? kTable80186.data() : kTable8086.data();
}

const OpInfo* groupTable(Model model, unsigned group)
{
    const Groups& g = model == Model::i80186 ? kGroups80186 : kGroups8086;
    return g[group < gCount ? group : 0].data();
}

} // namespace ombra::sim::detail
