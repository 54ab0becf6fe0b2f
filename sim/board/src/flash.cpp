#include <algorithm>
#include <cmath>

#include "flash_sets.h"

namespace ombra::sim {

FlashChip::FlashChip(const FlashPart& part) : part_(part), cells_(part.capacity, 0xFF) {}

std::unique_ptr<FlashChip> FlashChip::create(const FlashPart& part) {
    switch (part.commandSet) {
    case CommandSet::sst: return makeJedecChip(part, false);
    case CommandSet::amd: return makeJedecChip(part, true);
    case CommandSet::intel: return makeIntelChip(part);
    }
    return nullptr;
}

void FlashChip::powerUp() { busyUntil_ = 0; }

std::uint16_t FlashChip::cellWord(std::uint32_t addr) const {
    addr = wrap(addr);
    return static_cast<std::uint16_t>(cells_[addr] | (cells_[addr + 1] << 8));
}

void FlashChip::programCell(std::uint32_t addr, std::uint16_t value) {
    addr = wrap(addr);
    cells_[addr] &= static_cast<std::uint8_t>(value);
    cells_[addr + 1] &= static_cast<std::uint8_t>(value >> 8);
}

void FlashChip::eraseRange(std::uint32_t start, std::uint32_t size) {
    start %= part_.capacity;
    size = std::min(size, part_.capacity - start);
    std::fill_n(cells_.begin() + start, size, std::uint8_t{0xFF});
}

std::uint64_t FlashChip::scaled(std::uint64_t ns) const {
    return static_cast<std::uint64_t>(std::llround(double(ns) * scale_));
}

} // namespace ombra::sim
