#include "ombra/burnix/drivers.h"

#include <fstream>

#include "ombra/burnix/ini.h"
#include "ombra/common/names.h"

namespace ombra::burnix {

int findDevice(std::span<const DeviceEntry> table, std::uint16_t maker, std::uint16_t model) {
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].manufacturerId == maker && table[i].modelId == model) return static_cast<int>(i);
    return -1;
}

std::optional<std::vector<std::string>> readProgrammers(const IniFile& common) {
    const std::int32_t count = common.getInt("SUPPORTED_PROGRAMMERS", "Num_Supported_Programmers", 0);
    if (count <= 0 || count > kMaxDriverCount) return std::nullopt;
    std::vector<std::string> names;
    for (std::int32_t n = 0; n < count; ++n)
        names.push_back(common.getString("PROGRAMMER_" + std::to_string(n), "Manufacturer", ""));
    return names;
}

std::optional<std::vector<DeviceEntry>> readDevices(const IniFile& driver) {
    const std::int32_t count = driver.getInt("SUPPORTED_DEVICES", "Num_Supported_Devices", 0);
    if (count <= 0 || count > kMaxDriverCount) return std::nullopt;
    std::vector<DeviceEntry> table;
    for (std::int32_t n = 0; n < count; ++n) {
        const std::string section = "DEVICE_" + std::to_string(n);
        DeviceEntry e;
        e.manufacturerId = static_cast<std::uint16_t>(driver.getInt(section, "ManufacturerID", 0));
        e.modelId = static_cast<std::uint16_t>(driver.getInt(section, "ModelID", 0));
        if (e.manufacturerId == 0 && e.modelId == 0) continue;
        e.manufacturerName = driver.getString(section, "ManufacturerName", "");
        e.modelName = driver.getString(section, "ModelName", "");
        e.capacity = static_cast<std::uint32_t>(driver.getInt(section, "Capacity", 0));
        const std::string geometry = "DEVICES_" + std::to_string(n) + "\\GEOMETRY";
        static const char* const keys[8] = {"Geometry_00", "Geometry_01", "Geometry_10", "Geometry_11",
                                            "Geometry_20", "Geometry_21", "Geometry_30", "Geometry_31"};
        for (std::size_t k = 0; k < 8; ++k)
            e.geometry[k] = static_cast<std::uint32_t>(driver.getInt(geometry, keys[k], 0));
        table.push_back(std::move(e));
    }
    return table;
}

std::optional<CodeKind> codeKindForWorker(std::string_view worker) {
    if (worker == "Wexom") return CodeKind::identify;
    if (worker == "Tordel") return CodeKind::burn;
    if (worker == "Lunet") return CodeKind::dump;
    // The verify worker gets a program of its own beside the other three.
    if (worker == "Quasp") return CodeKind::verify;
    return std::nullopt;
}

DriverCheck checkDriverName(const IniFile& common, std::string_view driver) {
    if (!isPlainName(driver)) return DriverCheck::notPlain;
    const auto names = readProgrammers(common);
    if (!names) return DriverCheck::notListed;
    for (const auto& name : *names)
        if (name == driver) return DriverCheck::ok;
    return DriverCheck::notListed;
}

std::string DriverTree::commonFile() const { return root_ + "/Drivers/Common/Burnix.cfg"; }

std::optional<std::string> DriverTree::driverFile(std::string_view driver) const {
    if (!isPlainName(driver)) return std::nullopt;
    const std::string name(driver);
    return root_ + "/Drivers/" + name + "/" + name + ".cfg";
}

std::optional<std::string> DriverTree::remoteCodeFile(std::string_view driver, CodeKind kind) const {
    if (!isPlainName(driver)) return std::nullopt;
    static const char* const files[] = {"RemoteIdentify.bin", "RemoteBurn.bin", "RemoteDump.bin", "RemoteVerify.bin"};
    return root_ + "/Drivers/" + std::string(driver) + "/RemoteCode/" + files[static_cast<int>(kind)];
}

CodeLoad loadRemoteCode(const std::string& path, std::vector<std::uint8_t>& code) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return CodeLoad::missing;
    const std::streamoff size = in.tellg();
    if (size < 0) return CodeLoad::readError;
    if (static_cast<std::uint64_t>(size) > kMaxRemoteCode) return CodeLoad::tooLarge;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) return CodeLoad::readError;
    code = std::move(bytes);
    return CodeLoad::ok;
}

}  // namespace ombra::burnix
