// Every part the board can carry. Geometry where the device tables give none
// follows the parts' sector layouts; busy times are the typical figures.
#include <algorithm>
#include <cctype>

#include "ombra/sim/flash.h"

namespace ombra::sim {
namespace {

using R = std::array<BlockRegion, 4>;

constexpr R uniform(std::uint32_t capacity) { return R{{{4096, capacity / 4096}, {}, {}, {}}}; }
constexpr R top(std::uint32_t mainCount) {
    return R{{{65536, mainCount}, {32768, 1}, {8192, 2}, {16384, 1}}};
}
constexpr R bottom(std::uint32_t mainCount) {
    return R{{{16384, 1}, {8192, 2}, {32768, 1}, {65536, mainCount}}};
}
constexpr R top8k(std::uint32_t mainCount) { return R{{{65536, mainCount}, {8192, 8}, {}, {}}}; }
constexpr R bottom8k(std::uint32_t mainCount) { return R{{{8192, 8}, {65536, mainCount}, {}, {}}}; }

constexpr std::uint32_t MiB = 1048576;
constexpr auto SST = CommandSet::sst;
constexpr auto AMD = CommandSet::amd;
constexpr auto INTEL = CommandSet::intel;

// chipEraseUs 0: the sum of the sector erase times.
constexpr FlashPart kParts[] = {
    {"SST", "SST39LF/VF160", 0xBF, 0x2782, 2 * MiB, SST, uniform(2 * MiB), false, 14000, 18000, 40000},
    {"SST", "SST39LF/VF800A", 0xBF, 0x2781, MiB, SST, uniform(MiB), false, 14000, 18000, 40000},
    {"SST", "SST39LF/VF400A", 0xBF, 0x2780, MiB / 2, SST, uniform(MiB / 2), false, 14000, 18000, 40000},
    {"SST", "SST39LF/VF200A", 0xBF, 0x2789, MiB / 4, SST, uniform(MiB / 4), false, 14000, 18000, 40000},
    {"Sanyo", "LE28DW8163T", 0x62, 0x253D, 2 * MiB, SST, uniform(2 * MiB), false, 14000, 18000, 40000},
    {"Sanyo", "LE28DW8163T", 0x62, 0x253E, 2 * MiB, SST, uniform(2 * MiB), false, 14000, 18000, 40000},
    {"Sanyo", "LE28DW8102T", 0x62, 0x2533, MiB, SST, uniform(MiB), false, 14000, 18000, 40000},

    {"Intel", "28F800B3T", 0x89, 0x889C, MiB, INTEL, R{{{131072, 7}, {98304, 1}, {8192, 2}, {16384, 1}}}, false, 22000, 1000000, 0},
    {"Intel", "28F800B3B", 0x89, 0x889D, MiB, INTEL, R{{{16384, 1}, {8192, 2}, {98304, 1}, {131072, 7}}}, false, 22000, 1000000, 0},
    {"Intel", "28F800C3T", 0x89, 0x88C0, MiB, INTEL, top8k(15), true, 12000, 1000000, 0},
    {"Intel", "28F800C3B", 0x89, 0x88C1, MiB, INTEL, bottom8k(15), true, 12000, 1000000, 0},
    {"Intel", "28F160B3T", 0x89, 0x8890, 2 * MiB, INTEL, top8k(31), false, 22000, 1000000, 0},
    {"Intel", "28F160B3B", 0x89, 0x8891, 2 * MiB, INTEL, bottom8k(31), false, 22000, 1000000, 0},
    {"Intel", "28F160C3T", 0x89, 0x88C2, 2 * MiB, INTEL, top8k(31), true, 12000, 1000000, 0},
    {"Intel", "28F160C3B", 0x89, 0x88C3, 2 * MiB, INTEL, bottom8k(31), true, 12000, 1000000, 0},

    {"AMD", "AM29LV800BT", 0x01, 0x22DA, MiB, AMD, top(15), false, 11000, 700000, 14000000},
    {"Macronix", "MX29LV800BT", 0xC2, 0x22DA, MiB, AMD, top(15), false, 11000, 700000, 14000000},
    {"Eon", "EN29LV800BT", 0x7F, 0x22DA, MiB, AMD, top(15), false, 11000, 700000, 14000000},
    {"Allience", "AS29LV800BT", 0x52, 0x22DA, MiB, AMD, top(15), false, 11000, 700000, 14000000},
    {"AMD", "AM29LV800BB", 0x01, 0x225B, MiB, AMD, bottom(15), false, 11000, 700000, 14000000},
    {"Macronix", "MX29LV800BB", 0xC2, 0x225B, MiB, AMD, bottom(15), false, 11000, 700000, 14000000},
    {"Eon", "EN29LV800BB", 0x7F, 0x225B, MiB, AMD, bottom(15), false, 11000, 700000, 14000000},
    {"Allience", "AS29LV800BB", 0x52, 0x225B, MiB, AMD, bottom(15), false, 11000, 700000, 14000000},
    {"AMD", "AM29LV160DT", 0x01, 0x22C4, 2 * MiB, AMD, top(31), false, 9000, 700000, 25000000},
    {"AMD", "AM29LV160DB", 0x01, 0x2249, 2 * MiB, AMD, bottom(31), false, 9000, 700000, 25000000},
    {"AMD", "AM29DL322DT", 0x01, 0x2255, 4 * MiB, AMD, top8k(63), false, 7000, 700000, 0},
    {"AMD", "AM29DL322DB", 0x01, 0x2256, 4 * MiB, AMD, bottom8k(63), false, 7000, 700000, 0},
    {"AMD", "AM29DL323DT", 0x01, 0x2250, 4 * MiB, AMD, top8k(63), false, 7000, 700000, 0},
    {"AMD", "AM29DL323DB", 0x01, 0x2253, 4 * MiB, AMD, bottom8k(63), false, 7000, 700000, 0},
    {"AMD", "AM29DL324DT", 0x01, 0x225C, 4 * MiB, AMD, top8k(63), false, 7000, 700000, 0},
    {"AMD", "AM29DL324DB", 0x01, 0x225F, 4 * MiB, AMD, bottom8k(63), false, 7000, 700000, 0},
    {"Hynix", "HY29LV800B", 0xAD, 0x225B, MiB, AMD, bottom(15), false, 11000, 700000, 14000000},
    {"Hynix", "HY29F800B", 0xAD, 0x2258, MiB, AMD, bottom(15), false, 11000, 1000000, 19000000},
    {"Hynix", "HY29F800T", 0xAD, 0x22D6, MiB, AMD, top(15), false, 11000, 1000000, 19000000},
    {"Hynix", "HY29LV800T", 0xAD, 0x22DA, MiB, AMD, top(15), false, 11000, 700000, 14000000},
    {"Hynix", "HY29LV160B", 0xAD, 0x2249, 2 * MiB, AMD, bottom(31), false, 11000, 700000, 25000000},
    {"Hynix", "HY29LV160T", 0xAD, 0x22C4, 2 * MiB, AMD, top(31), false, 11000, 700000, 25000000},
    {"Fujitsu", "MBM29LV800TA", 0x04, 0x22DA, MiB, AMD, top(15), false, 8000, 1000000, 19000000},
    {"Fujitsu", "MBM29LV800BA", 0x04, 0x225B, MiB, AMD, bottom(15), false, 8000, 1000000, 19000000},
    {"Fujitsu", "MBM29LV160T", 0x04, 0x22C4, 2 * MiB, AMD, top(31), false, 8000, 1000000, 35000000},
    {"Fujitsu", "MBM29LV160B", 0x04, 0x2249, 2 * MiB, AMD, bottom(31), false, 8000, 1000000, 35000000},
    {"Fujitsu", "MBM29DL161TD", 0x04, 0x2236, 2 * MiB, AMD, top8k(31), false, 8000, 1000000, 0},
    {"Fujitsu", "MBM29DL161BD", 0x04, 0x2239, 2 * MiB, AMD, bottom8k(31), false, 8000, 1000000, 0},
};

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::span<const FlashPart> flashParts() { return kParts; }

const FlashPart* findFlashPart(std::string_view model) {
    for (const auto& p : kParts)
        if (sameName(p.model, model))
            return &p;
    return nullptr;
}

const FlashPart* findFlashPart(std::uint16_t makerCode, std::uint16_t modelCode) {
    for (const auto& p : kParts)
        if (p.makerCode == makerCode && p.modelCode == modelCode)
            return &p;
    return nullptr;
}

const char* commandSetName(CommandSet set) {
    switch (set) {
    case CommandSet::sst: return "SST";
    case CommandSet::amd: return "AMD";
    case CommandSet::intel: return "Intel";
    }
    return "?";
}

Block blockAt(const FlashPart& part, std::uint32_t addr) {
    addr %= part.capacity;
    std::uint32_t start = 0;
    for (const auto& r : part.regions) {
        if (r.count == 0)
            break;
        const std::uint64_t end = std::uint64_t(start) + std::uint64_t(r.size) * r.count;
        if (addr < end)
            return {start + (addr - start) / r.size * r.size, r.size};
        start = static_cast<std::uint32_t>(end);
    }
    return {0, part.capacity};  // not reached for a consistent table
}

} // namespace ombra::sim
