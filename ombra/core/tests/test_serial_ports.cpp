// The port list and the port path rule.
#include <gtest/gtest.h>

#include <algorithm>

#include "ombra/frontend/serial_ports.h"
#include "ombra/platform/serial.h"
#include "scratch.h"

using namespace ombra::frontend;
using namespace ombra::frontend::test;

namespace {

const std::string kSerialComm = kSerialCommKeyPath;

// The list minus the hardware ports, which depend on the machine.
std::vector<std::string> registered()
{
    std::vector<std::string> list = getSerialPortsList();
    const auto hardware = ombra::platform::listSerialPorts();
    std::erase_if(list, [&](const std::string& p) {
        return std::find(hardware.begin(), hardware.end(), p) != hardware.end();
    });
    return list;
}

}  // namespace

TEST(SerialPortsList, RegisteredPortsInReverseOrderThenHardware)
{
    Scratch scratch;
    EXPECT_TRUE(registered().empty());

    const std::string longName = "/dev/serial/by-id/usb-Example_Very_Long_Adapter_Name_0123456789-if00-port0";
    setText(HKEY_LOCAL_MACHINE, kSerialComm, "\\Device\\Serial0", "COM1");
    setText(HKEY_LOCAL_MACHINE, kSerialComm, "\\Device\\SelkanSim77_0", "/dev/pts/5");
    setDword(HKEY_LOCAL_MACHINE, kSerialComm, "NotAPort", 3);
    setText(HKEY_LOCAL_MACHINE, kSerialComm, "Empty", "");
    setText(HKEY_LOCAL_MACHINE, kSerialComm, std::string(300, 'N'), longName);
    setText(HKEY_LOCAL_MACHINE, kSerialComm, "\\Device\\Serial10", "COM10");
    EXPECT_EQ(registered(), (std::vector<std::string>{"COM10", longName, "/dev/pts/5", "COM1"}));

    // Hardware ports come after, each once.
    const std::vector<std::string> all = getSerialPortsList();
    const auto hardware = ombra::platform::listSerialPorts();
    ASSERT_GE(all.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 4), registered());
    EXPECT_EQ(all.size(), 4 + hardware.size());
}

TEST(SerialPortsList, AHardwarePortAlreadyRegisteredIsListedOnce)
{
    Scratch scratch;
    const auto hardware = ombra::platform::listSerialPorts();
    if (hardware.empty())
        GTEST_SKIP() << "no hardware serial port here";
    setText(HKEY_LOCAL_MACHINE, kSerialComm, "\\Device\\Serial0", hardware.front());
    const auto all = getSerialPortsList();
    EXPECT_EQ(std::count(all.begin(), all.end(), hardware.front()), 1);
    EXPECT_EQ(all.front(), hardware.front());
}

TEST(SerialPorts, DeviceCheck)
{
    std::string peer;
    ombra::platform::SerialError error;
    auto end = ombra::platform::SerialPort::openVirtualPair(peer, &error);
    ASSERT_TRUE(end) << error.message;
    EXPECT_TRUE(serialDeviceExists(peer));
    EXPECT_FALSE(serialDeviceExists("COM1"));
    EXPECT_FALSE(serialDeviceExists(OMBRA_CBUS_FILE)) << "a file is not a port";
    EXPECT_FALSE(serialDeviceExists(""));
}

TEST(SerialPorts, PortPathFromName)
{
    EXPECT_EQ(portPathFromName("COM9"), "COM9");
    EXPECT_EQ(portPathFromName("COM10"), "\\\\.\\COM10");
    EXPECT_EQ(portPathFromName("COM1"), "COM1");
    EXPECT_EQ(portPathFromName("COM09"), "COM09") << "the number is 9";
    EXPECT_EQ(portPathFromName("COM256"), "\\\\.\\COM256");
    EXPECT_EQ(portPathFromName("X1Y23"), "X1Y23") << "the number from the first digit";
    EXPECT_EQ(portPathFromName("COM" + std::string(40, '9')), "\\\\.\\COM" + std::string(40, '9'));
    EXPECT_EQ(portPathFromName("ABC"), std::nullopt);
    EXPECT_EQ(portPathFromName(""), std::nullopt);
    // Device paths are used as they are, digit or not.
    EXPECT_EQ(portPathFromName("/dev/pts/15"), "/dev/pts/15");
    EXPECT_EQ(portPathFromName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(portPathFromName("/dev/serial/by-id/adapter"), "/dev/serial/by-id/adapter");
}
