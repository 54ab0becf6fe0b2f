// Port discovery: the hardware list and the device check.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "ombra/platform/serial.h"

using namespace ombra::platform;

TEST(SerialDeviceCheck, TellsDevicesFromOtherPaths)
{
    EXPECT_TRUE(isCharacterDevice("/dev/null"));

    const auto dir = std::filesystem::temp_directory_path() / ("ombra-serial-list-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto file = dir / "plain";
    std::ofstream(file) << "x";
    EXPECT_FALSE(isCharacterDevice(file.string()));
    EXPECT_FALSE(isCharacterDevice(dir.string()));
    EXPECT_FALSE(isCharacterDevice((dir / "missing").string()));
    std::filesystem::remove_all(dir);

    EXPECT_FALSE(isCharacterDevice(""));
    EXPECT_FALSE(isCharacterDevice(std::string_view("/dev/null\0x", 11)));
}

TEST(SerialDeviceCheck, VirtualPortIsADevice)
{
    std::string peer;
    SerialError error;
    auto end = SerialPort::openVirtualPair(peer, &error);
    ASSERT_TRUE(end) << error.message;
    EXPECT_TRUE(isCharacterDevice(peer));
}

TEST(SerialPortList, NamesAreDevices)
{
    // What the machine has is unknown; whatever is listed must be a device.
    for (const std::string& name : listSerialPorts()) {
        EXPECT_FALSE(name.empty());
        EXPECT_TRUE(isCharacterDevice(name)) << name;
    }
}
