#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ombra/platform/process.h"
#include "ombra/burnix/drivers.h"
#include "ombra/burnix/ini.h"

using namespace ombra::burnix;

TEST(Ini, ProfileLookupRules) {
    const auto ini = IniFile::parse(
        "; comment\n"
        "[Section]\r\n"
        "  Key = first value  \r\n"
        "key=second\n"
        "Quoted=\"  spaced  \"\n"
        "Empty=\n"
        "[section]\n"
        "Other=1\n"
        "[DEVICES_2\\GEOMETRY]\n"
        "Geometry_00=0x2000\n");
    EXPECT_EQ(ini.getString("SECTION", "KEY", "dflt"), "first value");  // case-insensitive, first match
    EXPECT_EQ(ini.getString("section", "Quoted", ""), "  spaced  ");
    EXPECT_EQ(ini.getString("Section", "Empty", "dflt"), "");
    EXPECT_EQ(ini.getString("Section", "Missing", "dflt"), "dflt");
    EXPECT_EQ(ini.getString("Nowhere", "Key", "dflt"), "dflt");
    EXPECT_EQ(ini.getInt("SECTION", "other", 7), 1);  // second section of the same name
    EXPECT_EQ(ini.getInt("devices_2\\geometry", "GEOMETRY_00", 0), 0x2000);
    EXPECT_EQ(ini.getInt("Section", "Missing", -1), -1);
    EXPECT_EQ(ini.getInt("Section", "Empty", 5), 0);
}

TEST(Ini, TextsAreCutTo127Characters) {
    const std::string longName(300, 'x');
    const auto ini = IniFile::parse("[S]\nName=" + longName + "\n");
    EXPECT_EQ(ini.getString("S", "Name", "").size(), 127u);
    EXPECT_EQ(ini.getString("S", "Name", "", 4), "xxx");
}

TEST(Ini, Integers) {
    EXPECT_EQ(parseProfileInt("42"), 42);
    EXPECT_EQ(parseProfileInt("  -3 "), -3);
    EXPECT_EQ(parseProfileInt("0x300000"), 0x300000);
    EXPECT_EQ(parseProfileInt("0XbF"), 0xBF);
    EXPECT_EQ(parseProfileInt("12abc"), 12);
    EXPECT_EQ(parseProfileInt("abc"), 0);
    EXPECT_EQ(parseProfileInt("0xFFFFFFFF"), -1);
    EXPECT_EQ(parseProfileInt("010"), 10);  // decimal, not octal
}

TEST(Ini, MissingFileReadsEmpty) {
    const auto ini = IniFile::load("/nonexistent/dir/file.cfg");
    EXPECT_EQ(ini.getInt("SUPPORTED_DEVICES", "Num_Supported_Devices", 0), 0);
}

TEST(Drivers, DeviceTableSkipsEmptySectionsAndKeepsSectionGeometry) {
    const auto ini = IniFile::parse(
        "[SUPPORTED_DEVICES]\nNum_Supported_Devices=3\n"
        "[DEVICE_0]\nManufacturerID=0xBF\nModelID=0x2782\nManufacturerName=SST\nModelName=SST39VF160\nCapacity=2097152\n"
        "[DEVICES_0\\GEOMETRY]\nGeometry_00=4096\nGeometry_01=512\n"
        "[DEVICE_1]\nManufacturerName=Ghost\n"
        "[DEVICES_1\\GEOMETRY]\nGeometry_00=1\n"
        "[DEVICE_2]\nManufacturerID=0x10089\nModelID=0x889C\nManufacturerName=Intel\nModelName=28F800B3T\n"
        "[DEVICES_2\\GEOMETRY]\nGeometry_00=131072\nGeometry_01=7\nGeometry_10=98304\nGeometry_11=1\n"
        "Geometry_20=8192\nGeometry_21=2\nGeometry_30=16384\nGeometry_31=1\n");
    const auto table = readDevices(ini);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 2u);
    EXPECT_EQ((*table)[0].modelName, "SST39VF160");
    EXPECT_EQ((*table)[0].capacity, 2097152u);
    EXPECT_EQ((*table)[0].geometry[0], 4096u);
    EXPECT_EQ((*table)[1].manufacturerId, 0x89);  // low 16 bits
    EXPECT_EQ((*table)[1].geometry, (std::array<std::uint32_t, 8>{131072, 7, 98304, 1, 8192, 2, 16384, 1}));
    EXPECT_EQ(findDevice(*table, 0x89, 0x889C), 1);
    EXPECT_EQ(findDevice(*table, 0x89, 0x889D), -1);
}

TEST(Drivers, CountsZeroOrNegativeFail) {
    EXPECT_FALSE(readDevices(IniFile::parse("[SUPPORTED_DEVICES]\nNum_Supported_Devices=0\n")));
    EXPECT_FALSE(readDevices(IniFile::parse("[SUPPORTED_DEVICES]\nNum_Supported_Devices=-2\n")));
    EXPECT_FALSE(readProgrammers(IniFile::parse("")));
}

TEST(Drivers, CountsBeyondAnyTableFail) {
    // Found by fuzzing: counts like these held the reader for minutes and
    // the programmer list grew by an empty name for each.
    EXPECT_FALSE(readProgrammers(IniFile::parse("[SUPPORTED_PROGRAMMERS]\nNum_Supported_Programmers=2000000000\n")));
    EXPECT_FALSE(readDevices(IniFile::parse("[SUPPORTED_DEVICES]\nNum_Supported_Devices=0x7fffffff\n")));
    EXPECT_FALSE(readDevices(IniFile::parse("[SUPPORTED_DEVICES]\nNum_Supported_Devices=1025\n")));
    // The largest count still reads, sections without codes skipped.
    const auto names = readProgrammers(IniFile::parse("[SUPPORTED_PROGRAMMERS]\nNum_Supported_Programmers=1024\n"
                                                      "[PROGRAMMER_1023]\nManufacturer=Last\n"));
    ASSERT_TRUE(names);
    ASSERT_EQ(names->size(), 1024u);
    EXPECT_EQ(names->back(), "Last");
    const auto devices = readDevices(IniFile::parse("[SUPPORTED_DEVICES]\nNum_Supported_Devices=1024\n"
                                                    "[DEVICE_1023]\nManufacturerID=1\nModelID=2\n"));
    ASSERT_TRUE(devices);
    ASSERT_EQ(devices->size(), 1u);
    EXPECT_EQ((*devices)[0].modelId, 2);
}

TEST(Drivers, DuplicateCodesFirstWins) {
    std::vector<DeviceEntry> t(3);
    t[0] = {1, 2, "A", "a", 1, {}};
    t[1] = {3, 4, "B", "b", 2, {}};
    t[2] = {3, 4, "C", "c", 3, {}};
    EXPECT_EQ(findDevice(t, 3, 4), 1);
}

TEST(Drivers, ProgrammerSectionsWithoutNameStillCount) {
    const auto names = readProgrammers(IniFile::parse(
        "[SUPPORTED_PROGRAMMERS]\nNum_Supported_Programmers=3\n[PROGRAMMER_0]\nManufacturer=SST\n"
        "[PROGRAMMER_2]\nManufacturer=AMD\n"));
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (std::vector<std::string>{"SST", "", "AMD"}));
}

TEST(Drivers, WorkerNamesAndPaths) {
    EXPECT_EQ(codeKindForWorker("Wexom"), CodeKind::identify);
    EXPECT_EQ(codeKindForWorker("Tordel"), CodeKind::burn);
    EXPECT_EQ(codeKindForWorker("Lunet"), CodeKind::dump);
    EXPECT_EQ(codeKindForWorker("Quasp"), CodeKind::verify);
    EXPECT_FALSE(codeKindForWorker("tordel"));
    DriverTree tree("/opt/x");
    EXPECT_EQ(tree.commonFile(), "/opt/x/Drivers/Common/Burnix.cfg");
    EXPECT_EQ(tree.driverFile("SST"), "/opt/x/Drivers/SST/SST.cfg");
    EXPECT_EQ(tree.remoteCodeFile("SST", CodeKind::verify), "/opt/x/Drivers/SST/RemoteCode/RemoteVerify.bin");
}

TEST(Drivers, NamesThatLeaveTheTreeGiveNoPath) {
    const DriverTree tree("/opt/x");
    for (const char* name : {"", ".", "..", "../x", "../../etc/passwd", "a/b", "a\\b", "SST/..", "a..b", "S\tST"}) {
        EXPECT_FALSE(tree.driverFile(name)) << name;
        for (CodeKind kind : {CodeKind::identify, CodeKind::burn, CodeKind::dump, CodeKind::verify})
            EXPECT_FALSE(tree.remoteCodeFile(name, kind)) << name;
    }
    EXPECT_FALSE(tree.driverFile(std::string_view("SST\0/../x", 9)));
}

TEST(Drivers, OnlyPlainListedNamesPass) {
    const auto common = IniFile::parse(
        "[SUPPORTED_PROGRAMMERS]\nNum_Supported_Programmers=4\n[PROGRAMMER_0]\nManufacturer=SST\n"
        "[PROGRAMMER_2]\nManufacturer=../AMD\n[PROGRAMMER_3]\nManufacturer=Intel\n");
    EXPECT_EQ(checkDriverName(common, "SST"), DriverCheck::ok);
    EXPECT_EQ(checkDriverName(common, "Intel"), DriverCheck::ok);
    EXPECT_EQ(checkDriverName(common, "sst"), DriverCheck::notListed);  // case matters, as in the folder name
    EXPECT_EQ(checkDriverName(common, "AMD"), DriverCheck::notListed);
    // Listed does not make a climbing or empty name plain.
    EXPECT_EQ(checkDriverName(common, "../AMD"), DriverCheck::notPlain);
    EXPECT_EQ(checkDriverName(common, ""), DriverCheck::notPlain);
    EXPECT_EQ(checkDriverName(common, "SST/"), DriverCheck::notPlain);
    EXPECT_EQ(checkDriverName(IniFile::parse(""), "SST"), DriverCheck::notListed);  // no common file
}

TEST(Drivers, RemoteCodeSizes) {
    const auto dir = std::filesystem::temp_directory_path() / ("burnix_code_" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    const auto write = [&](const char* name, std::size_t n) {
        std::ofstream(dir / name, std::ios::binary) << std::string(n, '\x90');
        return (dir / name).string();
    };
    std::vector<std::uint8_t> code{1, 2, 3};
    EXPECT_EQ(loadRemoteCode(write("empty.bin", 0), code), CodeLoad::ok);
    EXPECT_TRUE(code.empty());
    EXPECT_EQ(loadRemoteCode(write("max.bin", 0xFFFF), code), CodeLoad::ok);
    EXPECT_EQ(code.size(), 0xFFFFu);
    EXPECT_EQ(loadRemoteCode(write("big.bin", 0x10000), code), CodeLoad::tooLarge);
    EXPECT_EQ(code.size(), 0xFFFFu);  // untouched
    EXPECT_EQ(loadRemoteCode((dir / "none.bin").string(), code), CodeLoad::missing);
    std::filesystem::remove_all(dir);
}
