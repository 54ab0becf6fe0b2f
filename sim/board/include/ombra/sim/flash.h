#pragma once
// Flash chips of the simulated board: the parts as data, and one state
// machine per command set. Addresses are byte addresses inside the chip;
// the chip is 16 bits wide, so every access is a whole word at an even
// address. Time is the board's virtual time in nanoseconds.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ombra::sim {

enum class CommandSet { sst, amd, intel };

// `size` bytes per block, `count` blocks, in ascending address order.
struct BlockRegion {
    std::uint32_t size = 0;
    std::uint32_t count = 0;
};

struct FlashPart {
    const char* maker;
    const char* model;
    std::uint16_t makerCode;
    std::uint16_t modelCode;
    std::uint32_t capacity;
    CommandSet commandSet;
    // Erase units (AMD sectors, Intel blocks, SST sectors); empty regions
    // have count 0.
    std::array<BlockRegion, 4> regions;
    bool locksAtPowerUp;          // Intel C3: every block locked at reset
    std::uint32_t wordProgramNs;  // typical figures
    std::uint32_t sectorEraseUs;  // per erase unit (small Intel blocks: halved)
    std::uint32_t chipEraseUs;
};

std::span<const FlashPart> flashParts();
// By model name (case-insensitive; the first of equal names) or by codes.
const FlashPart* findFlashPart(std::string_view model);
const FlashPart* findFlashPart(std::uint16_t makerCode, std::uint16_t modelCode);
const char* commandSetName(CommandSet set);

// Start and size of the erase unit holding `addr`.
struct Block {
    std::uint32_t start = 0;
    std::uint32_t size = 0;
};
Block blockAt(const FlashPart& part, std::uint32_t addr);

class FlashChip {
public:
    static std::unique_ptr<FlashChip> create(const FlashPart& part);
    virtual ~FlashChip() = default;

    const FlashPart& part() const { return part_; }

    // One bus cycle each; `now` is virtual time.
    virtual std::uint16_t read(std::uint32_t addr, std::uint64_t now) = 0;
    virtual void write(std::uint32_t addr, std::uint16_t value, std::uint64_t now) = 0;
    // Power-up state: read array mode, nothing in progress (C3: all locked).
    virtual void powerUp();
    // True while an embedded program or erase runs.
    bool busy(std::uint64_t now) const { return now < busyUntil_; }

    // What the chip's answers depend on besides the time: equal keys, equal
    // answers. The cells are left out, as they change only with a new busy
    // time, which is in the key.
    virtual std::uint64_t stateKey() const { return busyUntil_; }
    // The next virtual time after `now` at which the answers change by
    // themselves (a program or erase ends); UINT64_MAX when none is pending.
    virtual std::uint64_t nextChange(std::uint64_t now) const {
        return now < busyUntil_ ? busyUntil_ : UINT64_MAX;
    }

    // Busy times are multiplied by this (0 = instant).
    void setTimeScale(double scale) { scale_ = scale < 0 ? 0 : scale; }

    // The cell array, for loading, saving and checking (no command effects).
    std::vector<std::uint8_t>& cells() { return cells_; }
    const std::vector<std::uint8_t>& cells() const { return cells_; }
    std::uint16_t cellWord(std::uint32_t addr) const;

    // Intel block locks (other sets have none).
    virtual bool locked(std::uint32_t /*addr*/) const { return false; }

protected:
    explicit FlashChip(const FlashPart& part);
    std::uint32_t wrap(std::uint32_t addr) const { return (addr % part_.capacity) & ~1u; }
    // Programming only clears bits.
    void programCell(std::uint32_t addr, std::uint16_t value);
    void eraseRange(std::uint32_t start, std::uint32_t size);
    void startBusy(std::uint64_t now, std::uint64_t ns) { busyUntil_ = now + scaled(ns); }
    std::uint64_t scaled(std::uint64_t ns) const;

    const FlashPart& part_;
    std::vector<std::uint8_t> cells_;
    std::uint64_t busyUntil_ = 0;
    double scale_ = 1.0;
};

} // namespace ombra::sim
