#pragma once
// Real-mode 8086 / 80186 interpreter.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "ombra/sim/bus.h"

namespace ombra::sim {

enum class Model { i8086, i80186 };

// Flag bits of Registers::flags.
enum Flag : std::uint16_t {
    CF = 0x0001, PF = 0x0004, AF = 0x0010, ZF = 0x0040, SF = 0x0080,
    TF = 0x0100, IF = 0x0200, DF = 0x0400, OF = 0x0800,
};

struct Registers {
    std::uint16_t ax = 0, bx = 0, cx = 0, dx = 0;
    std::uint16_t si = 0, di = 0, bp = 0, sp = 0;
    std::uint16_t cs = 0, ds = 0, es = 0, ss = 0;
    std::uint16_t ip = 0;
    std::uint16_t flags = 0xF002;
};

class Cpu {
public:
    // segmentShift is 4 (standard part, 20-bit addresses) or 8 (24-bit).
    Cpu(Bus& bus, Model model, unsigned segmentShift);
    Cpu(const Cpu&) = delete;
    Cpu& operator=(const Cpu&) = delete;

    Registers& regs() { return r_; }
    const Registers& regs() const { return r_; }
    Model model() const { return model_; }
    unsigned segmentShift() const { return shift_; }

    // Clears the registers (flags to their reset value), leaves HLT.
    void reset(std::uint16_t cs, std::uint16_t ip);

    // Physical addresses [0, size) are plain RAM at base: the core reads and
    // writes them directly instead of calling the bus. size 0 unmaps.
    void mapRam(std::uint8_t* base, std::uint32_t size);

    enum class Stop { none, halted };
    // Runs up to n instructions (a REP iteration counts as one); returns how
    // many ran. Stops early at HLT; a halted core runs nothing.
    std::uint64_t run(std::uint64_t n);
    void step() { run(1); }
    Stop stop() const { return halted_ ? Stop::halted : Stop::none; }
    bool halted() const { return halted_; }
    // Leaves the halted state without an interrupt (the board's choice).
    void resume() { halted_ = false; }

    // External interrupt through the vector table, taken at once between
    // instructions. A maskable one is refused (returns false) while IF is
    // clear, so the caller can keep it pending. Either kind ends HLT.
    bool interrupt(std::uint8_t vector, bool maskable = true);

    // Instructions run (skipped passes included), kept current while the
    // core runs, so a device callback reads the time of its own access.
    std::uint64_t instructions() const { return count_; }

    // Stores into mapped RAM that changed a value; only ever grows.
    std::uint64_t ramChanges() const { return ramChanges_; }

    // Idle skipping. A device that sees the program in a loop of `period`
    // instructions whose every pass leaves the machine as it found it calls
    // this from its callback: when the current instruction ends, up to
    // `maxPasses` whole passes that fit in what is left of run()'s budget are
    // counted as run (instructions and time) without being executed.
    void skipPasses(std::uint64_t period, std::uint64_t maxPasses)
    {
        skipPeriod_ = period;
        skipMax_ = maxPasses;
        attention_ = true;
    }
    // Of instructions(), those counted by skipPasses.
    std::uint64_t skipped() const { return skipped_; }
    // Called from a device callback: run() returns when the current
    // instruction ends (the device wants the time to move on first).
    void requestStop() { stop_ = true; attention_ = true; }

    std::uint32_t physical(std::uint16_t seg, std::uint16_t off) const {
        return ((std::uint32_t(seg) << shift_) + off) & mask_;
    }

    // Called with the disassembly of every instruction before it runs;
    // an empty function switches the trace off.
    void setTrace(std::function<void(const std::string&)> trace);

    // Disassembly of the instruction at cs:ip (reads through the bus).
    std::string disassembleAt(std::uint16_t cs, std::uint16_t ip, std::size_t* length = nullptr);

private:
    friend struct Exec;
    Bus& bus_;
    Model model_;
    unsigned shift_;
    std::uint32_t mask_;
    Registers r_;
    bool halted_ = false;
    // MOV SS, POP SS and STI hold off interrupts until after the next
    // instruction.
    bool inhibit_ = false;
    std::uint64_t count_ = 0;
    std::uint64_t ramChanges_ = 0;
    std::uint64_t skipPeriod_ = 0, skipMax_ = 0, skipped_ = 0;
    bool stop_ = false;
    bool attention_ = false;  // a skip or a stop waits: one test an instruction
    std::uint8_t* ram_ = nullptr;
    std::uint32_t ramSize_ = 0;
    std::function<void(const std::string&)> trace_;
};

// Disassembles one instruction from code[0..size); sets *length to its size
// in bytes. Bytes beyond size read as zero (the text then is still bounded).
std::string disassemble(const std::uint8_t* code, std::size_t size, Model model,
                        std::size_t* length = nullptr);

} // namespace ombra::sim
