#include <gtest/gtest.h>

#include "fakes.h"

using namespace ombra::burnix;
using namespace ombra::burnix::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct LinkFixture : ::testing::Test {
    FakeHost host;
    CaptureSink sink;
    NullTrace trace;
    Reporter report{sink, "SST", Reporter::Style::colon};
    RemoteLink link{host.port, host, trace, report};
    FakePort& port = host.port;
};

Bytes frameOf(std::uint8_t type, Bytes payload = {}) { return commandFrame(type, payload); }

}  // namespace

TEST(LinkFrames, CommandsOnTheWire) {
    EXPECT_EQ(commandFrame(msg::kErase), (Bytes{0xAA, 0x03, 0, 0, 0, 0xAD}));
    EXPECT_EQ(commandFrame(msg::kIdentify), (Bytes{0xAA, 0x0C, 0, 0, 0, 0xB6}));
    EXPECT_EQ(commandFrame(msg::kReset), (Bytes{0xAA, 0x0F, 0, 0, 0, 0xB9}));
    EXPECT_EQ(verifyFrame(0x10000, 0x1000), (Bytes{0xAA, 0x0E, 0, 6, 0, 1, 0, 0, 0x10, 0, 0, 0xCF}));
    // Only the low 16 bits of a verify count travel.
    EXPECT_EQ(verifyFrame(0, 0x14000)[8], 0x40);
    const Bytes p = programFrame(0x12345678, 0x2800);
    ASSERT_EQ(p.size(), 14u);
    EXPECT_EQ(p[12] << 8 | p[13], 0xB7 + 0x12 + 0x34 + 0x56 + 0x78 + 0x28);
    const Bytes d = dumpFrame(0, 5);
    EXPECT_EQ(d[1], 0x0D);
    EXPECT_EQ(d[12] << 8 | d[13], 0xBF + 5);
    EXPECT_EQ(eraseBlockFrame(0x20000), (Bytes{0xAA, 0x04, 0, 4, 0, 2, 0, 0, 0, 0xB4}));
}

TEST(LinkFrames, ReporterStyles) {
    CaptureSink sink;
    Reporter colon(sink, "SST", Reporter::Style::colon);
    Reporter paren(sink, "SST", Reporter::Style::parenthesis);
    colon.text("Erasing flash...");
    paren.text("Erasing flash...", kClassFailure);
    colon.plain(std::string(600, 'y'));
    ASSERT_EQ(sink.records.size(), 3u);
    EXPECT_EQ(sink.records[0].text, "SST:Erasing flash...");
    EXPECT_EQ(sink.records[0].a, kClassNormal);
    EXPECT_EQ(sink.records[1].text, "(SST) Erasing flash...");
    EXPECT_EQ(sink.records[1].a, kClassFailure);
    EXPECT_EQ(sink.records[2].text.size(), 511u);
}

TEST_F(LinkFixture, ReadMessageSkipsBadSumsAndNoise) {
    Bytes bad = frameOf(msg::kVerifyRes, {0x12, 0x34});
    bad.back() = static_cast<std::uint8_t>(bad.back() + 1);  // off by one
    port.feed({0x00, 0x55});
    port.feed(bad);
    port.feed(frameOf(msg::kVerifyRes, {0xAB, 0xCD}));
    RemoteLink::Message m;
    ASSERT_EQ(link.readMessage(m), RemoteLink::Result::ok);
    EXPECT_EQ(m.type, msg::kVerifyRes);
    EXPECT_EQ(m.payload, (Bytes{0xAB, 0xCD}));
}

TEST_F(LinkFixture, ReadMessageBrokenOffFrameIsDroppedNotTrusted) {
    // Announces 300 bytes, delivers 3: the read times out and the frame is dropped.
    port.feed({0xAA, msg::kVerifyRes, 0x01, 0x2C, 1, 2, 3});
    RemoteLink::Message m;
    port.emptyReadLimit = 50;
    EXPECT_EQ(link.readMessage(m), RemoteLink::Result::cancelled);
}

TEST_F(LinkFixture, WaitForPingAcceptsEmptyPingAndSkipsOthers) {
    port.feed(frameOf(msg::kDone));
    Bytes badPing = frameOf(msg::kPing);
    badPing.back() ^= 1;
    port.feed(badPing);
    port.feed(Bytes{0xAA, 0x01, 0x00, 0x00, 0x00, 0xAB});
    EXPECT_EQ(link.waitForPing(), RemoteLink::Result::ok);
    EXPECT_TRUE(port.input.empty());
    EXPECT_TRUE(port.written.empty());
}

TEST_F(LinkFixture, WaitForPingSkipsOversizedFramesWithoutOverrun) {
    Bytes longPing(40, 0x55);
    port.feed(frameOf(msg::kPing, longPing));  // too long for the 14-byte buffer
    port.feed(frameOf(msg::kPing, Bytes(14, 0x11)));
    EXPECT_EQ(link.waitForPing(), RemoteLink::Result::ok);
    EXPECT_TRUE(port.input.empty());
}

TEST_F(LinkFixture, WaitForPingNudgesOnEveryTimeout) {
    int reads = 0;
    port.onWrite = [&](std::span<const std::uint8_t>) {
        if (++reads == 3) port.feed(frameOf(msg::kPing));
    };
    EXPECT_EQ(link.waitForPing(), RemoteLink::Result::ok);
    EXPECT_EQ(port.written, (Bytes{'0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'}));
}

TEST_F(LinkFixture, WaitForPingEndsOnCancel) {
    port.onWrite = [&](std::span<const std::uint8_t>) { port.cancel = true; };
    EXPECT_EQ(link.waitForPing(), RemoteLink::Result::cancelled);
}

TEST_F(LinkFixture, ProgramFinishDoneAndOverflow) {
    port.feed(frameOf(msg::kPing));
    port.feed(frameOf(msg::kDone));
    EXPECT_EQ(link.waitForProgramFinish(), RemoteLink::Result::ok);
    EXPECT_TRUE(sink.records.empty());

    Bytes overflow = frameOf(msg::kBufferOverflow);
    overflow.back() ^= 0x5A;  // its sum is not examined
    port.feed(overflow);
    EXPECT_EQ(link.waitForProgramFinish(), RemoteLink::Result::failed);
    ASSERT_EQ(sink.texts().size(), 1u);
    EXPECT_EQ(sink.texts()[0], "SST:ERROR 10: Buffer overflowed. Please reduce baud rate and try again.");
}
