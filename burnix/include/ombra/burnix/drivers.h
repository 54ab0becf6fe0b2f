// Driver tree and device table: which drivers exist, which flash parts a
// driver knows, and the remote program it hands to each worker.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ombra::burnix {

class IniFile;

struct DeviceEntry {
    std::uint16_t manufacturerId = 0;
    std::uint16_t modelId = 0;
    std::string manufacturerName;  // at most 127 characters
    std::string modelName;         // at most 127 characters
    std::uint32_t capacity = 0;
    // Up to four erase regions: {block size, block count} pairs in address
    // order; a region with count 0 ends the list.
    std::array<std::uint32_t, 8> geometry{};
};

// Index of the first entry with both codes, or -1.
int findDevice(std::span<const DeviceEntry> table, std::uint16_t maker, std::uint16_t model);

// The largest programmer or device count a file may give. A larger one is
// refused as a table that cannot be allocated: a corrupt count would
// otherwise hold the reader for billions of lookups.
inline constexpr std::int32_t kMaxDriverCount = 1024;

// Names from the common file; nullopt when it lists no driver. Sections
// without a name still count (as empty names).
std::optional<std::vector<std::string>> readProgrammers(const IniFile& common);
// Devices of a driver file; nullopt when it lists none. Sections whose two
// codes are both 0 are skipped; geometry comes from the section's own number.
std::optional<std::vector<DeviceEntry>> readDevices(const IniFile& driver);

// The remote programs, one per worker.
enum class CodeKind { identify, burn, dump, verify };
// "Wexom", "Tordel", "Lunet", "Quasp" (exact case); nullopt for others.
std::optional<CodeKind> codeKindForWorker(std::string_view worker);

// Whether a driver name may become a folder below Drivers: a plain name
// (ombra/common/names.h) that the common file lists, compared exactly.
enum class DriverCheck { ok, notPlain, notListed };
DriverCheck checkDriverName(const IniFile& common, std::string_view driver);

// Paths below <root>/Drivers; root is the folder of the component file.
// A driver name that is not plain gives no path at all.
class DriverTree {
public:
    explicit DriverTree(std::string root) : root_(std::move(root)) {}
    std::string commonFile() const;
    std::optional<std::string> driverFile(std::string_view driver) const;
    std::optional<std::string> remoteCodeFile(std::string_view driver, CodeKind kind) const;

private:
    std::string root_;
};

inline constexpr std::int32_t kNoBootAddress = -1;
inline constexpr std::size_t kMaxRemoteCode = 0xFFFF;

enum class CodeLoad { ok, missing, tooLarge, readError };
// Reads a remote program; files over kMaxRemoteCode bytes are refused, not cut.
CodeLoad loadRemoteCode(const std::string& path, std::vector<std::uint8_t>& code);

}  // namespace ombra::burnix
