// Disassembler over the interpreter's own opcode tables.
#include <cstdio>
#include <string>

#include "decode.h"

namespace ombra::sim {

using namespace detail;

namespace {

const char* const kReg8[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char* const kReg16[8] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
const char* const kSeg[4] = {"es", "cs", "ss", "ds"};
const char* const kBase[8] = {"bx+si", "bx+di", "bp+si", "bp+di", "si", "di", "bp", "bx"};

std::string hex(unsigned v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

std::string signedHex(int v, const char* lead = "")
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%s%s0x%X", lead, v < 0 ? "-" : (*lead ? "+" : ""), unsigned(v < 0 ? -v : v));
    return buf;
}

struct Reader {
    const std::uint8_t* code;
    std::size_t size;
    std::size_t pos = 0;
    std::uint8_t u8() { return pos < size ? code[pos++] : (++pos, 0); }
    std::uint16_t u16()
    {
        const std::uint8_t lo = u8();
        return std::uint16_t(lo | u8() << 8);
    }
    std::int8_t s8() { return std::int8_t(u8()); }
};

struct ModRM {
    unsigned mod = 3, reg = 0, rm = 0;
    std::string mem;  // text of the memory operand when mod != 3
};

ModRM readModrm(Reader& in, const std::string& seg)
{
    ModRM m;
    const std::uint8_t b = in.u8();
    m.mod = b >> 6;
    m.reg = (b >> 3) & 7;
    m.rm = b & 7;
    if (m.mod == 3)
        return m;
    std::string inner;
    if (m.mod == 0 && m.rm == 6) {
        inner = hex(in.u16());
    } else {
        inner = kBase[m.rm];
        if (m.mod == 1) {
            const int disp = in.s8();
            if (disp)
                inner += signedHex(disp, " ").substr(1);
        } else if (m.mod == 2) {
            inner += signedHex(in.u16(), " ").substr(1);
        }
    }
    m.mem = seg.empty() ? std::string() : seg + ":";
    m.mem += "[";
    m.mem += inner;
    m.mem += "]";
    return m;
}

std::string rmText(const ModRM& m, bool w, bool sized)
{
    if (m.mod == 3)
        return w ? kReg16[m.rm] : kReg8[m.rm];
    return sized ? std::string(w ? "word " : "byte ") + m.mem : m.mem;
}

} // namespace

std::string disassemble(const std::uint8_t* code, std::size_t size, Model model, std::size_t* length)
{
    Reader in{code, size};
    const OpInfo* table = opcodeTable(model);
    std::string seg, prefix;
    std::uint8_t op = in.u8();
    for (unsigned k = 0; table[op].op == Op::prefix && k < 15; ++k) {
        switch (op) {
        case 0x26: seg = "es"; break;
        case 0x2E: seg = "cs"; break;
        case 0x36: seg = "ss"; break;
        case 0x3E: seg = "ds"; break;
        case 0xF2: prefix += "repne "; break;
        case 0xF3: prefix += "rep "; break;
        default: prefix += "lock "; break;
        }
        op = in.u8();
    }
    const OpInfo* info = &table[op];
    const bool w = info->word;
    Form form = info->form;
    const char* name = info->name;
    ModRM m;
    bool haveModrm = false;
    if (info->op == Op::group) {
        m = readModrm(in, seg);
        haveModrm = true;
        const OpInfo& g = groupTable(model, info->group)[m.reg];
        name = g.name;
        if (g.op == Op::invalid)
            form = Form::none;
        else if (g.form != Form::none)
            form = g.form;
    }
    auto modrm = [&]() -> ModRM& {
        if (!haveModrm) {
            m = readModrm(in, seg);
            haveModrm = true;
        }
        return m;
    };
    std::string ops;
    switch (form) {
    case Form::none: break;
    case Form::EG: { ModRM& x = modrm(); ops = rmText(x, w, false) + ", " + (w ? kReg16 : kReg8)[x.reg]; break; }
    case Form::GE: { ModRM& x = modrm(); ops = std::string((w ? kReg16 : kReg8)[x.reg]) + ", " + rmText(x, w, false); break; }
    case Form::GM: { ModRM& x = modrm(); ops = std::string(kReg16[x.reg]) + ", " + rmText(x, true, false); break; }
    case Form::AccImm: ops = std::string(w ? "ax, " : "al, ") + hex(w ? in.u16() : in.u8()); break;
    case Form::Seg: ops = kSeg[(op >> 3) & 3]; break;
    case Form::Reg: ops = kReg16[op & 7]; break;
    case Form::AccReg: ops = std::string("ax, ") + kReg16[op & 7]; break;
    case Form::RegImm: {
        const bool wide = op & 8;
        ops = std::string((wide ? kReg16 : kReg8)[op & 7]) + ", " + hex(wide ? in.u16() : in.u8());
        break;
    }
    case Form::Rel8: { const int d = in.s8(); ops = signedHex(d, "."); break; }
    case Form::Rel16: { const std::int16_t d = std::int16_t(in.u16()); ops = signedHex(d, "."); break; }
    case Form::FarPtr: { const std::uint16_t off = in.u16(); ops = hex(in.u16()) + ":" + hex(off); break; }
    case Form::E: ops = rmText(modrm(), w, true); break;
    case Form::Esc: ops = rmText(modrm(), w, false); break;
    case Form::EImm: { ModRM& x = modrm(); ops = rmText(x, w, true) + ", " + hex(w ? in.u16() : in.u8()); break; }
    case Form::EImm8s: { ModRM& x = modrm(); const int v = in.s8(); ops = rmText(x, true, true) + ", " + signedHex(v); break; }
    case Form::E1: ops = rmText(modrm(), w, true) + ", 1"; break;
    case Form::ECL: ops = rmText(modrm(), w, true) + ", cl"; break;
    case Form::EImm8: { ModRM& x = modrm(); ops = rmText(x, w, true) + ", " + hex(in.u8()); break; }
    case Form::ESeg: { ModRM& x = modrm(); ops = rmText(x, true, false) + ", " + kSeg[x.reg & 3]; break; }
    case Form::SegE: { ModRM& x = modrm(); ops = std::string(kSeg[x.reg & 3]) + ", " + rmText(x, true, false); break; }
    case Form::GEImm: { ModRM& x = modrm(); ops = std::string(kReg16[x.reg]) + ", " + rmText(x, true, false) + ", " + hex(in.u16()); break; }
    case Form::GEImm8s: { ModRM& x = modrm(); const int v = in.s8(); ops = std::string(kReg16[x.reg]) + ", " + rmText(x, true, false) + ", " + signedHex(v); break; }
    case Form::Imm8: ops = hex(in.u8()); break;
    case Form::Imm16: ops = hex(in.u16()); break;
    case Form::Imm8s: { const int v = in.s8(); ops = signedHex(v); break; }
    case Form::Imm16Imm8: { const std::uint16_t a = in.u16(); ops = hex(a) + ", " + hex(in.u8()); break; }
    case Form::AccMem: ops = std::string(w ? "ax, " : "al, ") + (seg.empty() ? "" : seg + ":") + "[" + hex(in.u16()) + "]"; break;
    case Form::MemAcc: ops = (seg.empty() ? "" : seg + ":") + "[" + hex(in.u16()) + "]" + (w ? ", ax" : ", al"); break;
    case Form::AccPort: ops = std::string(w ? "ax, " : "al, ") + hex(in.u8()); break;
    case Form::PortAcc: ops = hex(in.u8()) + (w ? ", ax" : ", al"); break;
    case Form::AccDX: ops = w ? "ax, dx" : "al, dx"; break;
    case Form::DXAcc: ops = w ? "dx, ax" : "dx, al"; break;
    case Form::Str: if (!seg.empty()) ops = seg; break;
    }
    if (length)
        *length = in.pos;
    std::string text = prefix + name;
    if (!ops.empty())
        text += " " + ops;
    return text;
}

} // namespace ombra::sim
