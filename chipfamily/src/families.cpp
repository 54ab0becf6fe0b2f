#include <vector>

#include "family.h"
#include "ombra/chipfamily/chipfamily.h"

namespace ombra::chipfamily {
namespace {

using burnix::DeviceEntry;
using burnix::Variant;
using G = std::array<std::uint32_t, 8>;

constexpr std::uint32_t MiB = 1048576;

// Erase regions as {block size, block count} pairs, in address order.
constexpr G kNone{};
constexpr G k800Top{65536, 15, 32768, 1, 8192, 2, 16384, 1};
constexpr G k800Bottom{16384, 1, 8192, 2, 32768, 1, 65536, 15};
constexpr G k160Top{65536, 31, 32768, 1, 8192, 2, 16384, 1};
constexpr G k160Bottom{16384, 1, 8192, 2, 32768, 1, 65536, 31};
constexpr G kTop8k31{65536, 31, 8192, 8};
constexpr G kBottom8k31{8192, 8, 65536, 31};
constexpr G kTop8k63{65536, 63, 8192, 8};
constexpr G kBottom8k63{8192, 8, 65536, 63};

Variant variantOf(const char* name, bool identifyTraces, bool blockErase, const char* mismatch) {
    Variant v;
    v.burnTraceName = name;
    v.textStyle = burnix::Reporter::Style::parenthesis;
    v.identifyTraces = identifyTraces;
    v.notFoundBeforeClose = !identifyTraces;
    v.blockErase = blockErase;
    // The built-in burn programs send nothing after the stream.
    v.waitForProgramFinish = false;
    v.pauseBeforeVerifyMs = 400;
    v.mismatchText = mismatch;
    return v;
}

constexpr const char* kFlashMismatch = "ERROR: Flash verification failed !";

}  // namespace

const Family& cobalt() {
    static const std::vector<DeviceEntry> devices{
        {0xBF, 0x2782, "SST", "SST39LF/VF160", 2 * MiB, kNone},
        {0xBF, 0x2781, "SST", "SST39LF/VF800A", MiB, kNone},
        {0xBF, 0x2780, "SST", "SST39LF/VF400A", MiB / 2, kNone},
        {0xBF, 0x2789, "SST", "SST39LF/VF200A", MiB / 4, kNone},
        {0x62, 0x253D, "Sanyo", "LE28DW8163T", 2 * MiB, kNone},
        {0x62, 0x253E, "Sanyo", "LE28DW8163T", 2 * MiB, kNone},
        {0x62, 0x2533, "Sanyo", "LE28DW8102T", MiB, kNone},
    };
    static const Family family{"SST",
                               CLSID_Cobalt,
                               "Tarvik Selkan K/L SST Burnix",
                               "Tarvik.SelkanKLCobalt",
                               "Tarvik.SelkanKLCobalt.1",
                               "Tarvik Ombra SST Burnix",
                               remote::Family::sst,
                               devices,
                               variantOf("SST", false, false, kFlashMismatch)};
    return family;
}

const Family& nickel() {
    static const std::vector<DeviceEntry> devices{
        {0x89, 0x889C, "Intel", "28F800B3T", MiB, {131072, 7, 98304, 1, 8192, 2, 16384, 1}},
        {0x89, 0x889D, "Intel", "28F800B3B", MiB, {16384, 1, 8192, 2, 98304, 1, 131072, 7}},
        {0x89, 0x88C0, "Intel", "28F800C3T", MiB, {65536, 15, 8192, 8}},
        {0x89, 0x88C1, "Intel", "28F800C3B", MiB, {8192, 8, 65536, 15}},
        {0x89, 0x8890, "Intel", "28F160B3T", 2 * MiB, kTop8k31},
        {0x89, 0x8891, "Intel", "28F160B3B", 2 * MiB, kBottom8k31},
        {0x89, 0x88C2, "Intel", "28F160C3T", 2 * MiB, kTop8k31},
        {0x89, 0x88C3, "Intel", "28F160C3B", 2 * MiB, kBottom8k31},
    };
    static const Family family{"Intel",
                               CLSID_Nickel,
                               "Tarvik Selkan K/L Intel Burnix",
                               "Tarvik.SelkanKLNickel",
                               "Tarvik.SelkanKLNickel.1",
                               "Tarvik Ombra Intel Burnix",
                               remote::Family::intel,
                               devices,
                               variantOf("Intel", false, true, "ERROR: Verification failed.")};
    return family;
}

const Family& copper() {
    static const std::vector<DeviceEntry> devices{
        {0x01, 0x22DA, "AMD", "AM29LV800BT", MiB, k800Top},
        {0xC2, 0x22DA, "Macronix", "MX29LV800BT", MiB, k800Top},
        {0x7F, 0x22DA, "Eon", "EN29LV800BT", MiB, k800Top},
        {0x52, 0x22DA, "Allience", "AS29LV800BT", MiB, k800Top},
        {0x01, 0x225B, "AMD", "AM29LV800BB", MiB, k800Bottom},
        {0xC2, 0x225B, "Macronix", "MX29LV800BB", MiB, k800Bottom},
        {0x7F, 0x225B, "Eon", "EN29LV800BB", MiB, k800Bottom},
        {0x52, 0x225B, "Allience", "AS29LV800BB", MiB, k800Bottom},
        {0x01, 0x22C4, "AMD", "AM29LV160DT", 2 * MiB, kNone},
        {0x01, 0x2249, "AMD", "AM29LV160DB", 2 * MiB, kNone},
        {0x01, 0x2255, "AMD", "AM29DL322DT", 4 * MiB, kTop8k63},
        {0x01, 0x2256, "AMD", "AM29DL322DB", 4 * MiB, kBottom8k63},
        {0x01, 0x2250, "AMD", "AM29DL323DT", 4 * MiB, kTop8k63},
        {0x01, 0x2253, "AMD", "AM29DL323DB", 4 * MiB, kBottom8k63},
        {0x01, 0x225C, "AMD", "AM29DL324DT", 4 * MiB, kTop8k63},
        {0x01, 0x225F, "AMD", "AM29DL324DB", 4 * MiB, kBottom8k63},
        {0xAD, 0x225B, "Hynix", "HY29LV800B", MiB, kNone},
        {0xAD, 0x2258, "Hynix", "HY29F800B", MiB, kNone},
        {0xAD, 0x22D6, "Hynix", "HY29F800T", MiB, kNone},
        {0xAD, 0x22DA, "Hynix", "HY29LV800T", MiB, kNone},
        {0xAD, 0x2249, "Hynix", "HY29LV160B", 2 * MiB, kNone},
        {0xAD, 0x22C4, "Hynix", "HY29LV160T", 2 * MiB, kNone},
        {0x04, 0x22DA, "Fujitsu", "MBM29LV800TA", MiB, k800Top},
        {0x04, 0x225B, "Fujitsu", "MBM29LV800BA", MiB, k800Bottom},
        {0x04, 0x22C4, "Fujitsu", "MBM29LV160T", 2 * MiB, k160Top},
        {0x04, 0x2249, "Fujitsu", "MBM29LV160B", 2 * MiB, k160Bottom},
        {0x04, 0x2236, "Fujitsu", "MBM29DL161TD", 2 * MiB, kTop8k31},
        {0x04, 0x2239, "Fujitsu", "MBM29DL161BD", 2 * MiB, kBottom8k31},
    };
    static const Family family{"AMD",
                               CLSID_Copper,
                               "Tarvik Selkan K/L AMD Burnix",
                               "Tarvik.SelkanKLCopper",
                               "Tarvik.SelkanKLCopper.1",
                               "Tarvik Ombra AMD Burnix",
                               remote::Family::amd,
                               devices,
                               variantOf("AMD", true, false, kFlashMismatch)};
    return family;
}

}  // namespace ombra::chipfamily
