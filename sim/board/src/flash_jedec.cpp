// The two unlock-prefixed command sets. They differ in the unlock addresses,
// the erase commands they know, and the error bit DQ5 that only AMD parts
// raise (a program that would turn a 0 bit into 1 never completes there).
#include <algorithm>
#include <vector>

#include "flash_sets.h"

namespace ombra::sim {
namespace {

constexpr std::uint8_t DQ7 = 0x80, DQ6 = 0x40, DQ5 = 0x20, DQ3 = 0x08, DQ2 = 0x04;
constexpr std::uint64_t kSectorEraseWindowNs = 50000;

class JedecChip final : public FlashChip {
public:
    JedecChip(const FlashPart& part, bool amd)
        : FlashChip(part), amd_(amd), mask_(amd ? 0x7FF : 0x7FFF), unlock1_(amd ? 0x555 : 0x5555),
          unlock2_(amd ? 0x2AA : 0x2AAA) {}

    void powerUp() override {
        FlashChip::powerUp();
        step_ = Step::idle;
        idMode_ = false;
        failed_ = false;
        erasing_ = false;
    }

    std::uint16_t read(std::uint32_t addr, std::uint64_t now) override {
        addr = wrap(addr);
        if (busy(now) || failed_)
            return status(now);
        if (idMode_)
            return identity(addr >> 1);
        return cellWord(addr);
    }

    void write(std::uint32_t addr, std::uint16_t value, std::uint64_t now) override {
        addr = wrap(addr);
        const std::uint8_t c = static_cast<std::uint8_t>(value);
        if (busy(now)) {
            // More sectors may join an AMD sector erase inside its window.
            if (amd_ && erasing_ && now < windowEnd_ && c == 0x30)
                addSector(addr, now);
            return;
        }
        erasing_ = false;
        if (failed_) {
            if (c == 0xF0)
                failed_ = false;
            return;
        }
        const std::uint32_t w = (addr >> 1) & mask_;
        switch (step_) {
        case Step::idle:
            if (w == unlock1_ && c == 0xAA)
                step_ = Step::unlock1;
            else if (c == 0xF0)
                idMode_ = false;
            return;
        case Step::unlock1:
            step_ = (w == unlock2_ && c == 0x55) ? Step::unlock2 : Step::idle;
            return;
        case Step::unlock2:
            step_ = Step::idle;
            if (w != unlock1_)
                return;
            if (c == 0x90)
                idMode_ = true;
            else if (c == 0xF0)
                idMode_ = false;
            else if (c == 0xA0)
                step_ = Step::program;
            else if (c == 0x80)
                step_ = Step::erase;
            return;
        case Step::program:
            step_ = Step::idle;
            program(addr, value, now);
            return;
        case Step::erase:
            step_ = (w == unlock1_ && c == 0xAA) ? Step::eraseUnlock1 : Step::idle;
            return;
        case Step::eraseUnlock1:
            step_ = (w == unlock2_ && c == 0x55) ? Step::eraseUnlock2 : Step::idle;
            return;
        case Step::eraseUnlock2:
            step_ = Step::idle;
            if (c == 0x10 && w == unlock1_)
                chipErase(now);
            else if (c == 0x30)
                sectorErase(addr, now);
            else if (c == 0x50 && !amd_)
                blockErase(addr, now);
            return;
        }
    }

    std::uint64_t stateKey() const override {
        std::uint64_t k = FlashChip::stateKey();
        for (std::uint64_t v : {std::uint64_t(step_), std::uint64_t(idMode_), std::uint64_t(failed_),
                                std::uint64_t(erasing_), std::uint64_t(toggle_), std::uint64_t(target_), windowEnd_,
                                queued_})
            k = k * 1000003 + v;
        return k;
    }

    // An AMD erase's window closing shows in DQ3 and ends the joining.
    std::uint64_t nextChange(std::uint64_t now) const override {
        const std::uint64_t busyEnd = FlashChip::nextChange(now);
        return now < windowEnd_ ? std::min(busyEnd, windowEnd_) : busyEnd;
    }

private:
    enum class Step { idle, unlock1, unlock2, program, erase, eraseUnlock1, eraseUnlock2 };

    std::uint16_t identity(std::uint32_t word) const {
        switch (word & 0xFF) {
        case 0: return part_.makerCode;
        case 1: return part_.modelCode;
        default: return 0;  // sector protection: none
        }
    }

    // Data polling: DQ7 is the complement of the programmed bit (0 while
    // erasing), DQ6 toggles on every read; mirrored into the high byte.
    std::uint16_t status(std::uint64_t now) {
        toggle_ = !toggle_;
        std::uint8_t s = erasing_ ? 0 : static_cast<std::uint8_t>(~target_ & DQ7);
        if (toggle_)
            s |= DQ6;
        if (amd_) {
            if (failed_)
                s |= DQ5;
            if (erasing_) {
                if (now >= windowEnd_)
                    s |= DQ3;
                if (toggle_)
                    s |= DQ2;
            }
        }
        return static_cast<std::uint16_t>(s | (s << 8));
    }

    void program(std::uint32_t addr, std::uint16_t value, std::uint64_t now) {
        const std::uint16_t old = cellWord(addr);
        target_ = static_cast<std::uint8_t>(value);
        erasing_ = false;
        programCell(addr, value);
        startBusy(now, part_.wordProgramNs);
        if (amd_ && (value & ~old & 0xFFFF) != 0)
            failed_ = true;  // until a reset command
    }

    void chipErase(std::uint64_t now) {
        eraseRange(0, part_.capacity);
        std::uint64_t us = part_.chipEraseUs;
        if (us == 0)
            for (const auto& r : part_.regions)
                us += std::uint64_t(r.count) * part_.sectorEraseUs;
        erasing_ = true;
        windowEnd_ = now;
        startBusy(now, us * 1000);
    }

    void sectorErase(std::uint32_t addr, std::uint64_t now) {
        erasing_ = true;
        queued_ = 0;
        addSector(addr, now);
    }

    // Each sector joining an AMD erase restarts the acceptance window; the
    // erase itself runs after it, one sector time per sector.
    void addSector(std::uint32_t addr, std::uint64_t now) {
        const Block b = blockAt(part_, addr);
        eraseRange(b.start, b.size);
        ++queued_;
        windowEnd_ = now + (amd_ ? scaled(kSectorEraseWindowNs) : 0);
        busyUntil_ = windowEnd_ + queued_ * scaled(std::uint64_t(part_.sectorEraseUs) * 1000);
    }

    void blockErase(std::uint32_t addr, std::uint64_t now) {
        const std::uint32_t start = addr & ~0xFFFFu;
        eraseRange(start, 0x10000);
        erasing_ = true;
        windowEnd_ = now;
        startBusy(now, std::uint64_t(part_.sectorEraseUs) * 1000);
    }

    const bool amd_;
    const std::uint32_t mask_, unlock1_, unlock2_;
    Step step_ = Step::idle;
    bool idMode_ = false;
    bool failed_ = false;
    bool erasing_ = false;
    bool toggle_ = false;
    std::uint8_t target_ = 0xFF;
    std::uint64_t windowEnd_ = 0;
    std::uint64_t queued_ = 0;
};

} // namespace

std::unique_ptr<FlashChip> makeJedecChip(const FlashPart& part, bool amd) {
    return std::make_unique<JedecChip>(part, amd);
}

} // namespace ombra::sim
