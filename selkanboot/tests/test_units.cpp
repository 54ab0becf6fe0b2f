// Pieces of SelkanBoot a client cannot reach: the divisor and the mapping of
// a DCB onto line settings.
#include <gtest/gtest.h>

#include "selkanboot.h"

namespace ombra::selkanboot {
namespace {

TEST(BaudDivisor, FollowsTheRomClock)
{
    EXPECT_EQ(baudDivisor(115200, 0x64), 36);
    EXPECT_EQ(baudDivisor(57600, 0x64), 73);
    EXPECT_EQ(baudDivisor(38400, 0x64), 109);
    EXPECT_EQ(baudDivisor(19200, 0x64), 219);
    EXPECT_EQ(baudDivisor(460800, 0x64), 9);
    // Any other major version: the 55 MHz part.
    EXPECT_EQ(baudDivisor(115200, 0x49), 29);
    EXPECT_EQ(baudDivisor(19200, 0x49), 179);
    // Out of reach or nonsense: 0, which the switch refuses.
    EXPECT_EQ(baudDivisor(0, 0x64), 0);
    EXPECT_EQ(baudDivisor(5000000, 0x64), 0);
}

TEST(LineSettings, MapDcbFields)
{
    DCB dcb;
    dcb.BaudRate = 460800;
    dcb.ByteSize = 7;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.setFlag(DCB::kOutxCtsFlow, true);
    dcb.setRtsControl(RTS_CONTROL_HANDSHAKE);
    dcb.setDtrControl(DTR_CONTROL_DISABLE);
    dcb.setFlag(DCB::kOutX, true);
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    platform::SerialSettings s;
    std::string reason;
    ASSERT_TRUE(settingsFromDcb(dcb, s, reason)) << reason;
    EXPECT_EQ(s.baudRate, 460800u);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.parity, platform::SerialParity::mark);
    EXPECT_EQ(s.stopBits, platform::SerialStopBits::two);
    EXPECT_TRUE(s.ctsOutputFlow);
    EXPECT_EQ(s.rts, platform::SerialLine::flowControl);
    EXPECT_EQ(s.dtr, platform::SerialLine::off);
    EXPECT_TRUE(s.xonXoffOutput);
    EXPECT_FALSE(s.xonXoffInput);
}

TEST(LineSettings, RefuseWhatNoPortCanDo)
{
    platform::SerialSettings s;
    std::string reason;
    DCB toggle;
    toggle.setRtsControl(RTS_CONTROL_TOGGLE);
    EXPECT_FALSE(settingsFromDcb(toggle, s, reason));
    DCB parity;
    parity.Parity = 9;
    EXPECT_FALSE(settingsFromDcb(parity, s, reason));
    DCB errorChar;
    errorChar.setFlag(DCB::kErrorChar, true);
    EXPECT_FALSE(settingsFromDcb(errorChar, s, reason));
}

}  // namespace
}  // namespace ombra::selkanboot
