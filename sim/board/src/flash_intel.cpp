// The Intel command set: a status register instead of data polling, block
// erase with a confirm cycle, and (C3 parts) per-block locks that are all
// set at power-up.
#include <algorithm>
#include <vector>

#include "flash_sets.h"

namespace ombra::sim {
namespace {

constexpr std::uint8_t SR_READY = 0x80, SR_ERASE_ERR = 0x20, SR_PROGRAM_ERR = 0x10,
                       SR_LOCKED = 0x02;

class IntelChip final : public FlashChip {
public:
    explicit IntelChip(const FlashPart& part) : FlashChip(part) {
        std::uint32_t start = 0;
        for (const auto& r : part.regions)
            for (std::uint32_t i = 0; i < r.count; ++i, start += r.size)
                starts_.push_back(start);
        locks_.assign(starts_.size(), 0);
        IntelChip::powerUp();
    }

    void powerUp() override {
        FlashChip::powerUp();
        mode_ = Mode::array;
        pending_ = Pending::none;
        sr_ = SR_READY;
        std::fill(locks_.begin(), locks_.end(), part_.locksAtPowerUp ? kLocked : 0);
    }

    bool locked(std::uint32_t addr) const override { return locks_[index(addr)] & kLocked; }

    std::uint16_t read(std::uint32_t addr, std::uint64_t now) override {
        addr = wrap(addr);
        if (busy(now))
            return sr_ & ~SR_READY;
        switch (mode_) {
        case Mode::array: return cellWord(addr);
        case Mode::status: return sr_;
        case Mode::id: return identity(addr);
        }
        return 0;
    }

    void write(std::uint32_t addr, std::uint16_t value, std::uint64_t now) override {
        addr = wrap(addr);
        if (busy(now))
            return;  // suspend is not modelled
        const std::uint8_t c = static_cast<std::uint8_t>(value);
        const Pending pending = pending_;
        pending_ = Pending::none;
        switch (pending) {
        case Pending::program:
            mode_ = Mode::status;
            if (locked(addr)) {
                sr_ |= SR_PROGRAM_ERR | SR_LOCKED;
                return;
            }
            programCell(addr, value);
            startBusy(now, part_.wordProgramNs);
            return;
        case Pending::erase:
            mode_ = Mode::status;
            if (c != 0xD0) {
                sr_ |= SR_ERASE_ERR | SR_PROGRAM_ERR;  // command sequence error
                return;
            }
            if (locked(addr)) {
                sr_ |= SR_ERASE_ERR | SR_LOCKED;
                return;
            }
            eraseBlock(addr, now);
            return;
        case Pending::lock:
            lockCommand(addr, c);
            return;
        case Pending::none:
            break;
        }
        switch (c) {
        case 0xFF: mode_ = Mode::array; break;
        case 0x90: mode_ = Mode::id; break;
        case 0x70: mode_ = Mode::status; break;
        case 0x50: sr_ = SR_READY; break;
        case 0x40:
        case 0x10:
            pending_ = Pending::program;
            mode_ = Mode::status;
            break;
        case 0x20:
            pending_ = Pending::erase;
            mode_ = Mode::status;
            break;
        case 0x60: pending_ = Pending::lock; break;
        default: break;  // unknown commands leave the mode as it is
        }
    }

    std::uint64_t stateKey() const override {
        std::uint64_t k = FlashChip::stateKey();
        for (std::uint64_t v : {std::uint64_t(mode_), std::uint64_t(pending_), std::uint64_t(sr_), lockChanges_})
            k = k * 1000003 + v;
        return k;
    }

private:
    enum class Mode { array, status, id };
    enum class Pending { none, program, erase, lock };
    static constexpr std::uint8_t kLocked = 1, kLockedDown = 2;

    std::size_t index(std::uint32_t addr) const {
        addr %= part_.capacity;
        auto it = std::upper_bound(starts_.begin(), starts_.end(), addr);
        return static_cast<std::size_t>(it - starts_.begin()) - 1;
    }

    std::uint16_t identity(std::uint32_t addr) const {
        const std::uint32_t word = addr >> 1;
        if (word == 0)
            return part_.makerCode;
        if (word == 1)
            return part_.modelCode;
        if (addr - starts_[index(addr)] == 4)
            return locks_[index(addr)];  // block lock configuration
        return 0;
    }

    void lockCommand(std::uint32_t addr, std::uint8_t c) {
        std::uint8_t& lock = locks_[index(addr)];
        if (c != 0x01 && c != 0xD0 && c != 0x2F) {
            sr_ |= SR_ERASE_ERR | SR_PROGRAM_ERR;
            mode_ = Mode::status;
            return;
        }
        mode_ = Mode::array;
        if (!part_.locksAtPowerUp)
            return;  // no lock bits: the sequence is harmless

        const std::uint8_t was = lock;
        if (c == 0x01)
            lock |= kLocked;
        else if (c == 0x2F)
            lock = kLocked | kLockedDown;
        else if (!(lock & kLockedDown))
            lock = 0;
        lockChanges_ += lock != was;
    }

    void eraseBlock(std::uint32_t addr, std::uint64_t now) {
        const Block b = blockAt(part_, addr);
        eraseRange(b.start, b.size);
        // Parameter blocks erase in about half the time of main blocks.
        std::uint64_t us = part_.sectorEraseUs;
        if (b.size < 32768)
            us /= 2;
        startBusy(now, us * 1000);
    }

    std::vector<std::uint32_t> starts_;
    std::vector<std::uint8_t> locks_;
    Mode mode_ = Mode::array;
    Pending pending_ = Pending::none;
    std::uint8_t sr_ = SR_READY;
    std::uint64_t lockChanges_ = 0;
};

} // namespace

std::unique_ptr<FlashChip> makeIntelChip(const FlashPart& part) {
    return std::make_unique<IntelChip>(part);
}

} // namespace ombra::sim
