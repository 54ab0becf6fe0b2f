#pragma once
// A whole simulated board on its own thread: the SoC with its CPU core, a
// flash chip, the boot ROM and a pseudo-terminal that the host opens like a
// serial device. Several boards can run in one process.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ombra/sim/flash.h"

namespace ombra::sim {

// A link fault. Bytes are chosen by probability or by their offset in the
// direction's stream (counted from power-up), or both. With `after`, the
// rule waits for those bytes in its direction's stream (a frame, say) and
// offsets count from the byte that follows them: the stream before a
// point need not be known to the byte.
struct FaultRule {
    enum class Direction { toBoard, fromBoard, both };
    enum class Kind {
        drop,     // the byte is lost
        corrupt,  // the byte arrives changed
        delay,    // the byte (and all after it) waits `ms`
        stall,    // the whole board freezes for `ms`
        mute,     // the board stops answering until the next power cycle
    };
    Direction direction = Direction::both;
    Kind kind = Kind::drop;
    double probability = 0;
    std::vector<std::uint64_t> offsets;
    std::uint32_t ms = 0;
    std::vector<std::uint8_t> after;  // at most kMaxFaultAnchor bytes
};
inline constexpr std::size_t kMaxFaultAnchor = 64;

// "DIR:KIND[:p=P][:at=N,N...][:ms=M][:after=HEX]" with DIR in, out or both
// (in = host to board) and KIND drop, corrupt, delay, stall or mute. Empty
// on error.
std::optional<FaultRule> parseFaultRule(std::string_view text, std::string* error = nullptr);

struct BoardOptions {
    // The flash part by model name, or by codes when both are set.
    std::string flashModel = "SST39LF/VF160";
    std::optional<std::uint16_t> flashMaker, flashModelCode;
    // High byte of the identity port: 0x64 (67.5 MHz) or 0x49 (55 MHz).
    std::uint8_t identity = 0x64;
    // Version the ROM reports (major << 8 | minor); major = identity unless set.
    std::optional<std::uint16_t> romVersion;
    // Bytes move at the line rate in wall time; off for fast tests.
    bool paced = true;
    // Host and UART rates more than 5 % apart garble every byte.
    bool garbleOnRateMismatch = true;
    // Multiplies the flash busy times (0 = instant).
    double flashTimeScale = 1.0;
    // Loaded at start (missing bytes read as erased); saveFlash writes it.
    std::string flashFile;
    // Receives the debug UART's output as it comes. Both sinks run on the
    // board's thread with the board locked: they must not call the Board.
    std::function<void(std::string_view)> debugSink;
    // Receives one line per executed instruction.
    std::function<void(const std::string&)> cpuTrace;
    std::vector<FaultRule> faults;
    std::uint32_t seed = 1;
    // The ROM's pause between ping frames, in wall time.
    std::uint32_t pingIntervalMs = 20;
    // Virtual time per executed instruction; 0 = eight clock cycles at the
    // chip's clock (67.5 or 55 MHz).
    std::uint32_t nsPerInstruction = 0;
};

struct BoardStats {
    std::uint64_t bytesToBoard = 0;    // delivered to the link UART
    std::uint64_t bytesFromBoard = 0;  // written to the host
    std::uint64_t instructions = 0;
    std::uint64_t virtualNs = 0;
    std::uint64_t romEntries = 0;      // resets and far jumps to the ROM entry
    std::uint64_t framesDropped = 0;   // bad checksums seen by the ROM
    std::uint64_t skipped = 0;         // of instructions, counted but not run (idle loops)
    std::uint64_t sleeps = 0;          // times the board's thread waited for time or the host
    std::uint64_t threadCpuNs = 0;     // CPU time of the board's thread (0 where unknown)
};

class Board {
public:
    // Creates the pseudo-terminal and starts the board (in its boot ROM).
    // Throws std::runtime_error when the port or the flash file fails.
    explicit Board(BoardOptions options);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // The path the host opens (the pseudo-terminal's slave side).
    const std::string& portPath() const;

    const FlashPart& flashPart() const;
    // Reads and writes of the cell array, without command effects.
    std::vector<std::uint8_t> flash() const;
    std::vector<std::uint8_t> readFlash(std::uint32_t addr, std::uint32_t size) const;
    void writeFlash(std::uint32_t addr, std::span<const std::uint8_t> bytes);
    // To `path`, or to the options' flash file when empty.
    bool saveFlash(const std::string& path = {}) const;

    // Registers as the C-bus table left them (address -> value, in order of
    // first write), and any I/O register's current value.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> cbusWrites() const;
    std::uint16_t ioRegister(std::uint16_t port) const;
    std::uint32_t linkBaud() const;  // the UART's rate from its divisor
    std::string debugLog() const;    // the debug UART's output so far (last 1 MiB)

    // RAM seen by the CPU (physical addresses).
    std::vector<std::uint8_t> readMemory(std::uint32_t phys, std::uint32_t size) const;
    void writeMemory(std::uint32_t phys, std::span<const std::uint8_t> bytes);

    // Back door for tests: stores `image` at the far address (segment << 16 |
    // offset) and runs it at once, as an execute frame would, without the
    // boot protocol. A far return or jump to 0xFFFE:0000 re-enters the ROM.
    void loadAndStart(std::uint32_t farAddress, std::span<const std::uint8_t> image);

    // Back to the boot ROM at 19,200 baud; RAM and UARTs cleared, flash
    // commands aborted (cells kept), C3 blocks locked again.
    void powerCycle();
    // Stops answering (true) or answers again (false).
    void setMuted(bool muted);

    bool inRom() const;
    BoardStats stats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace ombra::sim
