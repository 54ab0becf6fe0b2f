// The built-in images match the assembled files, and the driver tree holds
// what the configurable programmer reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "ombra/remote/images.h"

namespace {

using ombra::remote::Family;
using ombra::remote::Program;

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// section -> key -> value, enough for the files written here
using Ini = std::map<std::string, std::map<std::string, std::string>>;
Ini readIni(const std::string& path) {
    Ini ini;
    std::ifstream in(path);
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos) ini[section][line.substr(0, eq)] = line.substr(eq + 1);
    }
    return ini;
}

struct FamilyInfo {
    Family family;
    const char* folder;
    const char* driver;
    std::uint32_t load;
    int devices;
};
const FamilyInfo kFamilies[] = {
    {Family::sst, "sst", "SST", 0x300000, 7},
    {Family::intel, "intel", "Intel", 0x340000, 8},
    {Family::amd, "amd", "AMD", 0x340000, 28},
};
const std::pair<Program, const char*> kPrograms[] = {
    {Program::identify, "identify"},
    {Program::burn, "burn"},
    {Program::dump, "dump"},
    {Program::verify, "verify"},
};

TEST(RemoteImages, BuiltinImagesAreTheAssembledProgramsAndFitOneLoadFrame) {
    for (const auto& f : kFamilies) {
        EXPECT_EQ(ombra::remote::loadAddress(f.family), f.load) << f.driver;
        for (const auto& [program, name] : kPrograms) {
            const auto image = ombra::remote::builtinImage(f.family, program);
            const auto file =
                readFile(std::string(OMBRA_REMOTE_IMAGES) + "/" + f.folder + "/" + name + ".bin");
            ASSERT_FALSE(file.empty()) << f.folder << "/" << name;
            EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin(), file.end()))
                << f.folder << "/" << name;
            EXPECT_LE(image.size(), 65531u);
        }
    }
    EXPECT_TRUE(ombra::remote::builtinImage(static_cast<Family>(3), Program::burn).empty());
    EXPECT_TRUE(ombra::remote::builtinImage(Family::sst, static_cast<Program>(4)).empty());
}

TEST(RemoteImages, DriverTreeListsThreeDriversWithDevicesAndPrograms) {
    const std::string root = OMBRA_DRIVER_TREE;
    auto common = readIni(root + "/Common/Burnix.cfg");
    ASSERT_EQ(common["SUPPORTED_PROGRAMMERS"]["Num_Supported_Programmers"], "3");
    for (int n = 0; n < 3; ++n) {
        const auto& f = kFamilies[n];
        EXPECT_EQ(common["PROGRAMMER_" + std::to_string(n)]["Manufacturer"], f.driver);
        auto cfg = readIni(root + "/" + f.driver + "/" + f.driver + ".cfg");
        EXPECT_EQ(cfg["CONFIGURATION"]["Boot_Address"], std::to_string(f.load));
        EXPECT_EQ(cfg["SUPPORTED_DEVICES"]["Num_Supported_Devices"], std::to_string(f.devices));
        for (int d = 0; d < f.devices; ++d) {
            const auto& dev = cfg["DEVICE_" + std::to_string(d)];
            EXPECT_NE(std::stoul(dev.at("ModelID")), 0u);
            EXPECT_FALSE(dev.at("ModelName").empty());
            // geometry, when given, adds up to the capacity
            const auto& geo = cfg["DEVICES_" + std::to_string(d) + "\\GEOMETRY"];
            std::uint64_t total = 0;
            for (int r = 0; r < 4; ++r)
                total += std::stoull(geo.at("Geometry_" + std::to_string(r) + "0")) *
                         std::stoull(geo.at("Geometry_" + std::to_string(r) + "1"));
            if (total != 0) {
                EXPECT_EQ(total, std::stoull(dev.at("Capacity"))) << f.driver << d;
            }
        }
        // every value is decimal
        for (const auto& [section, keys] : cfg)
            for (const auto& [key, value] : keys)
                if (key != "ManufacturerName" && key != "ModelName") {
                    EXPECT_EQ(value.find_first_not_of("0123456789"), std::string::npos)
                        << section << "/" << key;
                }
        for (const char* file : {"RemoteIdentify.bin", "RemoteBurn.bin", "RemoteDump.bin",
                                 "RemoteVerify.bin"})
            EXPECT_FALSE(readFile(root + "/" + f.driver + "/RemoteCode/" + file).empty())
                << f.driver << "/" << file;
        // the driver tree carries the driver-file burn build, not the built-in one
        const auto burn = readFile(root + "/" + f.driver + "/RemoteCode/RemoteBurn.bin");
        const auto builtin = ombra::remote::builtinImage(f.family, Program::burn);
        EXPECT_FALSE(std::equal(burn.begin(), burn.end(), builtin.begin(), builtin.end()));
    }
}

}  // namespace
