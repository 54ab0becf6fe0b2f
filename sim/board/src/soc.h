#pragma once
// The chip around the core: RAM, the flash window, the ROM page and the I/O
// registers. Peripherals are plain state; the link UART's queues are what
// the link and the boot ROM move bytes through.
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ombra/sim/bus.h"
#include "ombra/sim/cpu.h"
#include "ombra/sim/flash.h"

namespace ombra::sim {

namespace ports {
constexpr std::uint16_t linkControl = 0xFF80, linkStatus = 0xFF82, linkTx = 0xFF84,
                        linkRx = 0xFF86, linkDivisor = 0xFF88;
constexpr std::uint16_t debugControl = 0xFF10, debugStatus = 0xFF12, debugTx = 0xFF14,
                        debugDivisor = 0xFF18;
constexpr std::uint16_t identity = 0x0A00;
constexpr std::uint8_t rxReady = 0x80, txReady = 0x40;
} // namespace ports

namespace memmap {
constexpr std::uint32_t ramSize = 0x400000;
constexpr std::uint32_t flashBase = 0x400000, flashWindow = 0x400000;
constexpr std::uint32_t romPage = 0xFFFE00;  // reads as HLT so the board sees a jump here
constexpr std::uint16_t romSegment = 0xFFFE, romEntryOffset = 0x0000, romResumeOffset = 0x0010;
} // namespace memmap

struct LinkUart {
    static constexpr std::size_t rxCapacity = 16, txCapacity = 16;
    std::deque<std::uint8_t> rx, tx;
    bool rxRoom() const { return rx.size() < rxCapacity; }
    bool txRoom() const { return tx.size() < txCapacity; }
};

class Soc final : public Bus {
public:
    Soc(const FlashPart& part, std::uint8_t identity, std::uint32_t nsPerInstruction);

    Cpu& cpu() { return cpu_; }
    FlashChip& flash() { return *flash_; }
    const FlashChip& flash() const { return *flash_; }
    LinkUart& link() { return link_; }
    std::uint8_t identity() const { return identity_; }
    std::vector<std::uint8_t>& ram() { return ram_; }

    // UART input clock: 67.5 MHz / 16 or 55 MHz / 16.
    std::uint32_t uartBase() const { return identity_ == 0x64 ? 4218750 : 3437500; }
    std::uint32_t linkBaud() const { return linkBaud_; }
    void setLinkDivisor(std::uint16_t d) {
        regs_[ports::linkDivisor] = d;
        divisorChanged(d);
    }

    // Virtual time: advances with executed instructions.
    std::uint64_t now() const;
    void advance(std::uint64_t ns) { baseNs_ += ns; }

    // A register write from the boot ROM's C-bus table (also applied).
    void cbusWrite(std::uint16_t port, std::uint16_t value);
    const std::vector<std::pair<std::uint16_t, std::uint16_t>>& cbusWrites() const { return cbus_; }
    std::uint16_t ioRegister(std::uint16_t port) const;

    const std::string& debugLog() const { return debugLog_; }
    void setDebugSink(std::function<void(std::string_view)> sink) { debugSink_ = std::move(sink); }

    // Power-up state of everything but the flash cells.
    void powerUp();

    // Activity since the last call: whether the program did anything but
    // poll an idle UART.
    struct Activity {
        std::uint64_t work = 0, idlePolls = 0, linkBytes = 0;
        // The run ended in a loop that waits for the link alone (it meets
        // no flash and changes nothing): more running finds no work.
        bool waitingForLink = false;
    };
    Activity takeActivity();

    // Bus
    std::uint8_t read8(std::uint32_t phys) override;
    void write8(std::uint32_t phys, std::uint8_t v) override;
    std::uint8_t in8(std::uint16_t port) override;
    void out8(std::uint16_t port, std::uint8_t v) override;
    std::uint16_t in16(std::uint16_t port) override;
    void out16(std::uint16_t port, std::uint16_t v) override;

    // Completes a half-written flash word (a byte store without its partner).
    void flushFlashWrite();

    // Idle skipping (on by default): a program polling the link UART or the
    // flash's status in a loop whose passes change nothing has its passes
    // counted instead of run, up to the next time the flash answers
    // otherwise. The link's
    // queues change only between runs, so within a run such a loop can end
    // only by the flash.
    // While set, a byte the program writes to the link UART ends the
    // core's run, so the link can take it at its time on the line.
    void setStopOnOutput(bool on) { stopOnOutput_ = on; }

    void setIdleSkipping(bool on) {
        skipping_ = on;
        polls_ = {};
    }

private:
    // The machine as a link status read finds it; equal states at two reads
    // mean the instructions between them form a loop that changes nothing.
    struct PollState {
        bool valid = false;
        Registers regs;
        std::uint64_t ramChanges = 0, effects = 0, flashKey = 0;
        // Not part of the state: the loop's length, and whether (and when)
        // it met the flash, whose answers depend on the time.
        std::uint64_t executed = 0, flashAccesses = 0, now = 0;
        std::size_t rx = 0, tx = 0;
        bool haveReadWord = false;
        std::uint32_t readWordAddr = 0;
        std::uint16_t readWord = 0;
    };
    bool atPoll(const PollState& q) const;  // the machine is as q found it
    void watchForIdleLoop();

    std::uint16_t readPort(std::uint16_t port);
    void writePort(std::uint16_t port, std::uint16_t value, std::uint16_t mask);
    void debugOut(std::uint8_t byte);

    std::uint8_t identity_;
    std::uint32_t nsPerInstruction_;
    std::vector<std::uint8_t> ram_;
    std::unique_ptr<FlashChip> flash_;
    Cpu cpu_;
    LinkUart link_;
    std::map<std::uint16_t, std::uint16_t> regs_;
    // The link's receive register and rate, read on every byte, kept beside the map.
    std::uint16_t linkRxLatch_ = 0;
    std::uint32_t linkBaud_ = 0;
    void divisorChanged(std::uint16_t d) {
        linkBaud_ = uartBase() / (d ? d : 65536u);
    }
    std::vector<std::pair<std::uint16_t, std::uint16_t>> cbus_;
    std::string debugLog_;
    std::function<void(std::string_view)> debugSink_;
    std::uint64_t baseNs_ = 0, baseCount_ = 0;
    Activity activity_;
    std::uint64_t workAtLinkWait_ = UINT64_MAX;  // activity_.work when such a loop was last skipped
    bool skipping_ = true;
    bool stopOnOutput_ = false;
    std::uint64_t effects_ = 0;  // peripheral changes but the flash's (it has a key)
    std::uint64_t flashAccesses_ = 0;
    std::uint64_t flashKey_ = 0, keyAccesses_ = UINT64_MAX;  // the key, as of that many accesses
    std::array<PollState, 4> polls_{};  // loops with up to four status reads a pass
    std::size_t nextPoll_ = 0;
    // The chip is 16 bits wide: the core's two byte cycles of a word access
    // are joined into one chip cycle.
    bool pendingLow_ = false;
    std::uint32_t pendingAddr_ = 0;
    std::uint8_t pendingByte_ = 0;
    bool haveReadWord_ = false;
    std::uint32_t readWordAddr_ = 0;
    std::uint16_t readWord_ = 0;
};

} // namespace ombra::sim
