#include <gtest/gtest.h>

#include <numeric>

#include "fakes.h"

using namespace ombra::burnix;
using namespace ombra::burnix::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    return b;
}

struct XmFixture : ::testing::Test {
    FakePort port;
    CaptureSink sink;
    NullTrace trace;
    Reporter report{sink, "SST", Reporter::Style::colon};
    XmSender sender;
    Bytes dest;
    std::uint32_t stored = 0;
    XModemOptions options;

    void SetUp() override {
        options.crcAttempts = 0;  // the 8-bit sum, as the fake's blocks are built
        port.onWrite = [this](std::span<const std::uint8_t> b) {
            for (auto x : b) sender.onHost(x, port);
        };
    }
    XmResult run(std::size_t capacity) {
        dest.assign(capacity, 0);
        return XModemReceive(port, dest, report, trace, stored, options);
    }
    int count(std::uint8_t b) const { return static_cast<int>(std::count(port.written.begin(), port.written.end(), b)); }
};

}  // namespace

TEST_F(XmFixture, WholeTransferWith1KBlocksReportsEveryFourthBlock) {
    const Bytes data = pattern(10 * 1024);
    sender.load(data, 1024);
    EXPECT_EQ(run(data.size()), XmResult::ok);
    EXPECT_EQ(stored, data.size());
    EXPECT_EQ(dest, data);
    EXPECT_EQ(port.written.front(), xm::kNak);
    EXPECT_EQ(count(xm::kNak), 1);
    EXPECT_EQ(count(xm::kAck), 11);  // ten blocks and the EOT
    EXPECT_EQ(sink.progress(), (std::vector<std::pair<DWORD, DWORD>>{{4096, 10240}, {8192, 10240}}));
    EXPECT_EQ(trace.name, "SST");
}

TEST_F(XmFixture, ExcessIsAcknowledgedAndDropped) {
    const Bytes data = pattern(1024);
    sender.load(data, 1024);
    EXPECT_EQ(run(4), XmResult::ok);
    EXPECT_EQ(stored, 4u);
    EXPECT_EQ(dest, Bytes(data.begin(), data.begin() + 4));
}

TEST_F(XmFixture, EarlyEndIsAnError) {
    sender.load(pattern(256), 128);
    EXPECT_EQ(run(1024), XmResult::error);
    EXPECT_EQ(stored, 256u);
    EXPECT_EQ(port.written.back(), xm::kAck);  // the EOT is still answered
    XmSender none;
    sender = none;
    EXPECT_EQ(run(2), XmResult::error);  // EOT before any block
    EXPECT_EQ(stored, 0u);
}

TEST_F(XmFixture, BlockNumberComplementAndSumChecked) {
    sender.load(pattern(3 * 128), 128);
    sender.mangleOnce = [](std::size_t i, Bytes w) {
        if (i == 0) w[2] = 0xFF;                   // complement 0xFF for block 1: wrong
        if (i == 1) w[130] ^= 0x01;                // sum byte wrong
        if (i == 2) w.resize(w.size() - 1);         // dropped byte: the read times out
        return w;
    };
    EXPECT_EQ(run(3 * 128), XmResult::ok);
    EXPECT_EQ(dest, pattern(3 * 128));
    const auto texts = sink.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Packet rejected, requesting retransmission."), 3);
}

TEST_F(XmFixture, ExpectedBlockThreeWithComplementFC) {
    // Blocks 1 and 2 arrive, then block 3 with the right complement 0xFC.
    sender.load(pattern(3 * 128), 128);
    EXPECT_EQ(sender.blocks[2][2], 0xFC);
    EXPECT_EQ(run(3 * 128), XmResult::ok);
    EXPECT_TRUE(sink.texts().empty());
}

TEST_F(XmFixture, SenderCancelNeedsTwoCans) {
    port.onWrite = [this](std::span<const std::uint8_t> b) {
        if (b.size() == 1 && b[0] == xm::kNak) port.feed({xm::kCan, xm::kCan});
    };
    EXPECT_EQ(run(128), XmResult::cancelled);
    EXPECT_EQ(port.written, (Bytes{xm::kNak, xm::kAck}));

    port.written.clear();
    int naks = 0;
    const Bytes block = xmBlock(1, pattern(128));
    port.onWrite = [&](std::span<const std::uint8_t> b) {
        if (b[0] == xm::kNak && ++naks == 1) {
            port.feed({xm::kCan, 0x33});
        } else if (b[0] == xm::kNak) {
            port.feed(block);
        } else if (b[0] == xm::kAck && !port.input.size()) {
            port.feed({xm::kEot});
        }
    };
    EXPECT_EQ(run(128), XmResult::ok);
}

TEST_F(XmFixture, HostCancelSendsThreeCans) {
    sender.load(pattern(4 * 128), 128);
    int acks = 0;
    port.onWrite = [&](std::span<const std::uint8_t> b) {
        for (auto x : b) {
            if (x == xm::kAck && ++acks == 2) port.cancel = true;
            if (!port.cancel) sender.onHost(x, port);
        }
    };
    EXPECT_EQ(run(4 * 128), XmResult::cancelled);
    EXPECT_EQ(stored, 256u);
}

TEST_F(XmFixture, SilenceLosesSyncAfter32Attempts) {
    port.onWrite = nullptr;
    EXPECT_EQ(run(128), XmResult::lostSync);
    EXPECT_EQ(count(xm::kNak), 32);
    EXPECT_EQ(Bytes(port.written.end() - 3, port.written.end()), (Bytes{xm::kCan, xm::kCan, xm::kCan}));
}

TEST_F(XmFixture, DuplicateBudgetEndsTransfer) {
    sender.load(pattern(128), 128);
    port.onWrite = [&](std::span<const std::uint8_t> b) {
        if (b[0] == xm::kNak || b[0] == xm::kAck) port.feed(sender.blocks[0]);
    };
    EXPECT_EQ(run(1024), XmResult::retries);
    EXPECT_EQ(count(xm::kAck), 25);  // the first copy and 24 repeats
}

TEST_F(XmFixture, CrcBlockForm) {
    options.crcAttempts = 32;
    const Bytes data = pattern(2048 + 128);
    std::uint8_t n = 1;
    for (std::size_t off = 0; off < data.size();) {
        const std::size_t size = data.size() - off >= 1024 ? 1024 : 128;
        sender.blocks.push_back(xmBlock(n++, std::span(data).subspan(off, size), true));
        off += size;
    }
    sender.mangled.assign(sender.blocks.size(), false);
    sender.mangleOnce = [](std::size_t i, Bytes w) {
        if (i == 1) w.back() ^= 0x80;  // low CRC byte wrong
        return w;
    };
    EXPECT_EQ(run(data.size()), XmResult::ok);
    EXPECT_EQ(port.written.front(), xm::kCrcRequest);
    EXPECT_EQ(dest, data);
    EXPECT_EQ(crc16Xmodem(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0x31C3);
}

// By default the receiver asks for CRC-16 blocks three times, then takes a
// sender that answers only NAK, with the 8-bit sum.
TEST_F(XmFixture, AsksForCrcThreeTimesThenFallsBackToTheSum) {
    options = XModemOptions{};
    options.byteTimeoutMs = 0;
    const Bytes data = pattern(1024);
    sender.load(data, 1024);
    port.onWrite = [this](std::span<const std::uint8_t> b) {
        for (auto x : b)
            if (x != xm::kCrcRequest) sender.onHost(x, port);
    };
    EXPECT_EQ(run(data.size()), XmResult::ok);
    EXPECT_EQ(dest, data);
    ASSERT_GE(port.written.size(), 4u);
    EXPECT_EQ(Bytes(port.written.begin(), port.written.begin() + 4),
              (Bytes{xm::kCrcRequest, xm::kCrcRequest, xm::kCrcRequest, xm::kNak}));
}
