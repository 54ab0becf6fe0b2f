// The application profile and the per-port serial settings in the registry.
#include <gtest/gtest.h>

#include "ombra/frontend/comm_settings.h"
#include "ombra/frontend/list_search.h"
#include "ombra/frontend/profile.h"
#include "scratch.h"

using namespace ombra::frontend;
using namespace ombra::frontend::test;

namespace {

const std::string kSettingsKey = "Software\\Tarvik\\Ombra\\Settings";
const std::string kComm = kCommKeyPath;

}  // namespace

TEST(AppProfile, WritesAndReadsUnderTheApplicationKey)
{
    Scratch scratch;
    AppProfile profile("Tarvik", "Ombra");
    EXPECT_EQ(profile.keyPath("Settings"), kSettingsKey);

    EXPECT_EQ(profile.getString("Settings", "SERIAL_PORT", "none"), "none");
    EXPECT_EQ(profile.getInt("Settings", "PROGRAMMER", 7), 7);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kSettingsKey)) << "a read must not create the key";

    ASSERT_TRUE(profile.writeString("Settings", "SERIAL_PORT", "COM3"));
    ASSERT_TRUE(profile.writeInt("Settings", "DEVICE", -2));
    auto port = readValue(HKEY_CURRENT_USER, kSettingsKey, "SERIAL_PORT");
    ASSERT_TRUE(port);
    EXPECT_EQ(port->type, REG_SZ);
    EXPECT_EQ(port->data, (std::vector<BYTE>{'C', 'O', 'M', '3', 0}));
    auto device = readValue(HKEY_CURRENT_USER, kSettingsKey, "DEVICE");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->type, REG_DWORD);
    EXPECT_EQ(device->dword(), 0xFFFFFFFEu);

    EXPECT_EQ(profile.getString("Settings", "serial_port", ""), "COM3") << "names are case-insensitive";
    EXPECT_EQ(profile.getInt("Settings", "DEVICE", 0), -2);

    EXPECT_TRUE(profile.deleteEntry("Settings", "SERIAL_PORT"));
    EXPECT_EQ(profile.getString("Settings", "SERIAL_PORT", "gone"), "gone");
    EXPECT_TRUE(profile.deleteEntry("Settings", "SERIAL_PORT")) << "an absent entry is deleted already";
    EXPECT_TRUE(profile.deleteEntry("NoSuchSection", "X"));
}

TEST(AppProfile, ReadsOtherTypesAsThePlatformDoes)
{
    Scratch scratch;
    AppProfile profile("Tarvik", "Ombra");
    setText(HKEY_CURRENT_USER, kSettingsKey, "Number", "  -42xyz");
    setText(HKEY_CURRENT_USER, kSettingsKey, "Words", "abc");
    setText(HKEY_CURRENT_USER, kSettingsKey, "Huge", "99999999999");
    setValue(HKEY_CURRENT_USER, kSettingsKey, "Short", REG_DWORD, {1, 2});
    setValue(HKEY_CURRENT_USER, kSettingsKey, "Binary", REG_BINARY, {'4', '2', 0});
    setValue(HKEY_CURRENT_USER, kSettingsKey, "Cut", REG_SZ, {'a', 0, 'b', 0});
    setDword(HKEY_CURRENT_USER, kSettingsKey, "Dword", 5);

    EXPECT_EQ(profile.getInt("Settings", "Number", 0), -42);
    EXPECT_EQ(profile.getInt("Settings", "Words", 9), 9);
    EXPECT_EQ(profile.getInt("Settings", "Huge", 9), 9);
    EXPECT_EQ(profile.getInt("Settings", "Short", 9), 9);
    EXPECT_EQ(profile.getInt("Settings", "Binary", 9), 9);
    EXPECT_EQ(profile.getString("Settings", "Cut", ""), "a");
    EXPECT_EQ(profile.getString("Settings", "Dword", "def"), "def");
    EXPECT_EQ(profile.getString("Settings", "Binary", "def"), "def");
}

TEST(AppProfile, ApplicationNameIsTheExecutablesBaseName)
{
    EXPECT_EQ(applicationNameFromPath("/x/y/Ombra"), "Ombra");
    EXPECT_EQ(applicationNameFromPath("C:\\Ombra\\Ombra.exe"), "Ombra");
    EXPECT_EQ(applicationNameFromPath("OMBRA.EXE"), "OMBRA");
    EXPECT_EQ(applicationNameFromPath("./run/ombra-1.0"), "ombra-1.0");
    EXPECT_EQ(applicationNameFromPath("/x/.exe"), ".exe");
    EXPECT_EQ(applicationNameFromPath("/x/"), "");
}

TEST(CommSettings, FirstStartWritesEveryDefault)
{
    for (const std::string port : {"COM1", ""}) {
        SCOPED_TRACE("port '" + port + "'");
        Scratch scratch;
        DCB dcb;
        dcb.DCBlength = 0;
        COMMTIMEOUTS timeouts;
        ASSERT_TRUE(loadCommSettings(port, -1, dcb, timeouts));

        const std::string key = port.empty() ? kComm : kComm + "\\" + port;
        EXPECT_EQ(valueCount(HKEY_LOCAL_MACHINE, key), 32u);
        for (const CommValue& v : kCommValues) {
            auto stored = readValue(HKEY_LOCAL_MACHINE, key, v.name);
            ASSERT_TRUE(stored) << v.name;
            EXPECT_EQ(stored->type, REG_DWORD) << v.name;
            EXPECT_EQ(stored->dword(), v.defaultValue) << v.name;
        }
        EXPECT_EQ(dcb.DCBlength, 28u);
        EXPECT_EQ(dcb.BaudRate, 115200u);
        EXPECT_EQ(dcb.flags, DCB::kBinary);
        EXPECT_EQ(dcb.XonLim, 2048);
        EXPECT_EQ(dcb.XoffLim, 512);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.XonChar, 17);
        EXPECT_EQ(dcb.XoffChar, 19);
        EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 10u);
        EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 1000u);
        EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);

        const BaudList baud = baudRateList(dcb.BaudRate);
        ASSERT_EQ(baud.selected, 3);
        EXPECT_EQ(baud.entries[3], "115200");
    }
}

TEST(CommSettings, ValuesAreCutToTheirFieldAndWrittenBackCut)
{
    Scratch scratch;
    const std::string key = kComm + "\\COM2";
    setDword(HKEY_LOCAL_MACHINE, key, "XonLim", 0x12345);
    setDword(HKEY_LOCAL_MACHINE, key, "fBinary", 0xFE);       // bit 0 clear
    setDword(HKEY_LOCAL_MACHINE, key, "fDtrControl", 0x7);    // two bits
    setDword(HKEY_LOCAL_MACHINE, key, "fRtsControl", 0x2);
    setDword(HKEY_LOCAL_MACHINE, key, "fDummy2", 0xFFFFFFFF); // seventeen bits
    setDword(HKEY_LOCAL_MACHINE, key, "XonChar", 0x1AB);
    setDword(HKEY_LOCAL_MACHINE, key, "ReadIntervalTimeout", 0xFFFFFFFF);
    DCB dcb;
    COMMTIMEOUTS timeouts;
    ASSERT_TRUE(loadCommSettings("COM2", -1, dcb, timeouts));
    EXPECT_EQ(dcb.XonLim, 0x2345);
    EXPECT_FALSE(dcb.flag(DCB::kBinary));
    EXPECT_EQ(dcb.dtrControl(), 3u);
    EXPECT_EQ(dcb.rtsControl(), 2u);
    EXPECT_EQ(dcb.flags >> 15, 0x1FFFFu);
    EXPECT_EQ(dcb.flags & 0x7FFF, (3u << 4) | (2u << 12));
    EXPECT_EQ(static_cast<unsigned char>(dcb.XonChar), 0xAB);
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
    // The stored numbers stay as they were until the next save.
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, "XonLim")->dword(), 0x12345u);

    dcb.BaudRate = 460800;
    ASSERT_TRUE(saveCommSettings("COM2", dcb, timeouts));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, "XonLim")->dword(), 0x2345u);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, "fBinary")->dword(), 0u);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, "fDtrControl")->dword(), 3u);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, "fDummy2")->dword(), 0x1FFFFu);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, "XonChar")->dword(), 0xABu);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, "BaudRate")->dword(), 460800u);

    DCB again;
    COMMTIMEOUTS againTimeouts;
    ASSERT_TRUE(loadCommSettings("COM2", -1, again, againTimeouts));
    EXPECT_EQ(again, dcb);
    EXPECT_EQ(againTimeouts, timeouts);
}

TEST(CommSettings, WrongTypesAreRewrittenAsTheDefault)
{
    Scratch scratch;
    const std::string key = kComm + "\\COM4";
    setText(HKEY_LOCAL_MACHINE, key, "XoffLim", "100");
    setValue(HKEY_LOCAL_MACHINE, key, "ByteSize", REG_DWORD, {7, 0});  // too short
    setValue(HKEY_LOCAL_MACHINE, key, "StopBits", REG_BINARY, {2, 0, 0, 0});
    DCB dcb;
    COMMTIMEOUTS timeouts;
    ASSERT_TRUE(loadCommSettings("COM4", -1, dcb, timeouts));
    EXPECT_EQ(dcb.XoffLim, 512);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.StopBits, 0);
    for (const char* name : {"XoffLim", "ByteSize", "StopBits"}) {
        auto v = readValue(HKEY_LOCAL_MACHINE, key, name);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->type, REG_DWORD) << name;
        EXPECT_EQ(v->data.size(), 4u) << name;
    }
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, "XoffLim")->dword(), 512u);
}

TEST(CommSettings, CommandLineBaudIsNeitherReadNorWritten)
{
    Scratch scratch;
    const std::string key = kComm + "\\COM5";
    DCB dcb;
    COMMTIMEOUTS timeouts;
    ASSERT_TRUE(loadCommSettings("COM5", 38400, dcb, timeouts));
    EXPECT_EQ(dcb.BaudRate, 38400u);
    EXPECT_FALSE(readValue(HKEY_LOCAL_MACHINE, key, "BaudRate"));
    EXPECT_EQ(valueCount(HKEY_LOCAL_MACHINE, key), 31u);

    setDword(HKEY_LOCAL_MACHINE, key, "BaudRate", 57600);
    ASSERT_TRUE(loadCommSettings("COM5", 19200, dcb, timeouts));
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, key, "BaudRate")->dword(), 57600u);
    ASSERT_TRUE(loadCommSettings("COM5", -1, dcb, timeouts));
    EXPECT_EQ(dcb.BaudRate, 57600u);
}

TEST(CommSettings, PortKeysOfPathNamesAndRefusedKeys)
{
    Scratch scratch;
    DCB dcb;
    COMMTIMEOUTS timeouts;
    ASSERT_TRUE(loadCommSettings("/dev/pts/5", -1, dcb, timeouts));
    EXPECT_EQ(valueCount(HKEY_LOCAL_MACHINE, kComm + "\\/dev/pts/5"), 32u);

    // A name the store refuses as a key leaves both records as they were.
    DCB before;
    before.BaudRate = 1234;
    DCB d = before;
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = 77;
    EXPECT_FALSE(loadCommSettings("\\bad", -1, d, t));
    EXPECT_EQ(d, before);
    EXPECT_EQ(t.ReadIntervalTimeout, 77u);
    EXPECT_FALSE(saveCommSettings("\\bad", d, t));
}

TEST(BaudList, SelectsByPrefixAndAddsAnUnlistedRate)
{
    BaudList list = baudRateList(460800);
    EXPECT_EQ(list.entries.size(), 6u);
    EXPECT_EQ(list.selected, 5);

    list = baudRateList(9600);
    ASSERT_EQ(list.entries.size(), 7u);
    EXPECT_EQ(list.entries.back(), "9600");
    EXPECT_EQ(list.selected, 6);

    // The list's search is by prefix: "1" finds the first rate that begins with it.
    EXPECT_EQ(baudRateList(1).selected, 0);

    // After a port change the rate is only looked up.
    EXPECT_EQ(findStringPrefix(baudRateList(115200).entries, "9600"), -1);
}

TEST(ListSearch, PrefixAndExactIgnoreCase)
{
    const std::vector<std::string> ports = {"COM10", "com1", "/dev/pts/5"};
    EXPECT_EQ(findStringPrefix(ports, "COM1"), 0);
    EXPECT_EQ(findStringExact(ports, "COM1"), 1);
    EXPECT_EQ(findStringPrefix(ports, "/dev/pts/50"), -1);
    EXPECT_EQ(findStringPrefix(ports, ""), 0);
    EXPECT_EQ(findStringExact(ports, "COM"), -1);
    EXPECT_EQ(findStringPrefix({}, "x"), -1);
}
