// The receiver against an independent sender: lrzsz's sx in checksum mode
// (-k for 1024-byte blocks), talking through two pipes. Line faults are
// made on our side of the pipes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "fakes.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/process.h"

namespace fs = std::filesystem;
using namespace ombra::burnix;
using namespace ombra::burnix::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Host end of the two pipes. `inFault` may change or drop a received byte
// (by its offset in the stream); `outFault` may drop a byte we send.
class PipeTransport final : public Transport {
public:
    PipeTransport(HANDLE in, HANDLE out) : in_(in), out_(out) {}
    std::function<bool(std::uint64_t offset, std::uint8_t& b)> inFault;   // false: dropped
    std::function<bool(std::uint8_t b)> outFault;                         // false: dropped
    bool cancel = false;

    Io read(std::span<std::uint8_t> bytes, std::size_t& got) override {
        for (got = 0; got < bytes.size(); ++got)
            if (readByteWithin(bytes[got], 1000) != Io::ok) return Io::timeout;
        return Io::ok;
    }
    Io readByteWithin(std::uint8_t& byte, DWORD ms) override {
        for (;;) {
            if (cancel) return Io::cancelled;
            if (WaitForSingleObject(in_, ms) != WAIT_OBJECT_0) return Io::timeout;
            DWORD n = 0;
            if (!ReadFile(in_, &byte, 1, &n) || n != 1) return Io::failed;
            const std::uint64_t at = offset_++;
            if (!inFault || inFault(at, byte)) return Io::ok;
        }
    }
    Io write(std::span<const std::uint8_t> bytes) override {
        for (std::uint8_t b : bytes) {
            if (outFault && !outFault(b)) continue;
            DWORD n = 0;
            if (!WriteFile(out_, &b, 1, &n)) return Io::failed;
        }
        return Io::ok;
    }
    void flush() override {}
    void purge(unsigned flags) override {
        if (!(flags & kPurgeRxClear)) return;
        std::uint8_t b;
        DWORD n;
        while (WaitForSingleObject(in_, 50) == WAIT_OBJECT_0 && ReadFile(in_, &b, 1, &n) && n == 1) ++offset_;
    }
    void clearError() override {}
    void setQueues(DWORD, DWORD) override {}
    bool cancelled() override { return cancel; }

private:
    HANDLE in_, out_;
    std::uint64_t offset_ = 0;
};

class SxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists("/usr/bin/sx")) GTEST_SKIP() << "lrzsz sx not installed";
        dir_ = fs::temp_directory_path() / ("burnix_sx_" + std::to_string(GetCurrentProcessId()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (process_) {
            DWORD code = 0;
            if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) TerminateProcess(process_, 9);
            GetExitCodeProcess(process_, &code);
            CloseHandle(process_);
        }
        for (HANDLE h : {toSx_, fromSx_})
            if (h) CloseHandle(h);
        fs::remove_all(dir_);
    }
    Bytes makeFile(std::size_t n) {
        Bytes data(n);
        for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>((i * 31) ^ (i >> 9));
        std::ofstream(dir_ / "image.bin", std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                                 static_cast<std::streamsize>(n));
        return data;
    }
    // Starts sx on the file; gives the host end.
    std::unique_ptr<PipeTransport> startSx(const std::string& extra = "") {
        HANDLE sxIn = nullptr, sxOut = nullptr;
        EXPECT_TRUE(CreatePipe(&sxIn, &toSx_, FALSE));
        EXPECT_TRUE(CreatePipe(&fromSx_, &sxOut, FALSE));
        const std::string script = "exec sx -k -q " + extra + " '" + (dir_ / "image.bin").string() + "' <&" +
                                   std::to_string(HandleToNumber(sxIn)) + " >&" + std::to_string(HandleToNumber(sxOut)) +
                                   " 2>/dev/null";
        const std::string args[] = {"-c", script};
        const HANDLE inherit[] = {sxIn, sxOut};
        process_ = CreateProcess("/bin/sh", args, inherit);
        EXPECT_NE(process_, nullptr);
        CloseHandle(sxIn);
        CloseHandle(sxOut);
        return std::make_unique<PipeTransport>(fromSx_, toSx_);
    }
    XmResult receive(PipeTransport& port, std::size_t capacity, int crcAttempts = XModemOptions{}.crcAttempts) {
        dest.assign(capacity, 0);
        XModemOptions o;
        o.byteTimeoutMs = 2000;
        o.crcAttempts = crcAttempts;
        return XModemReceive(port, dest, report, trace, stored, o);
    }

    fs::path dir_;
    HANDLE toSx_ = nullptr, fromSx_ = nullptr, process_ = nullptr;
    CaptureSink sink;
    NullTrace trace;
    Reporter report{sink, "SST", Reporter::Style::colon};
    Bytes dest;
    std::uint32_t stored = 0;

    int rejections() const {
        const auto t = sink.texts();
        return static_cast<int>(std::count(t.begin(), t.end(), "Packet rejected, requesting retransmission."));
    }
};

}  // namespace

TEST_F(SxTest, WholeFileWithBlockNumbersWrapping) {
    // 300 blocks of 1024 bytes: the numbers run past 255 and wrap to 0.
    const Bytes data = makeFile(300 * 1024);
    auto port = startSx();
    EXPECT_EQ(receive(*port, data.size()), XmResult::ok);
    EXPECT_EQ(stored, data.size());
    EXPECT_TRUE(dest == data);
    EXPECT_EQ(rejections(), 0);
    EXPECT_EQ(sink.progress().size(), data.size() / 4096);
}

TEST_F(SxTest, CorruptedAndDroppedBytesAreRejectedAndResent) {
    const Bytes data = makeFile(8 * 1024);
    auto port = startSx();
    // Block layout on the wire: STX, number, complement, 1024 data, sum.
    port->inFault = [](std::uint64_t at, std::uint8_t& b) {
        if (at == 1029 + 500) b ^= 0x40;  // a data byte of block 2
        return at != 3 * 1029 + 7;        // a byte of the block after is lost
    };
    EXPECT_EQ(receive(*port, data.size(), 0), XmResult::ok);
    EXPECT_TRUE(dest == data);
    EXPECT_EQ(rejections(), 2);
}

// Two damaged bytes of the second block whose changes cancel in the 8-bit
// sum (its data starts after STX, number and complement).
static void damageKeepingTheSum(PipeTransport& port, std::uint64_t blockOnWire) {
    const std::uint64_t data = blockOnWire + 3;
    port.inFault = [data](std::uint64_t at, std::uint8_t& b) {
        if (at == data + 100) b = static_cast<std::uint8_t>(b + 1);
        if (at == data + 200) b = static_cast<std::uint8_t>(b - 1);
        return true;
    };
}

TEST_F(SxTest, TheSumAloneTakesDamageThatKeepsTheSum) {
    const Bytes data = makeFile(4 * 1024);
    auto port = startSx();
    damageKeepingTheSum(*port, 1029);
    EXPECT_EQ(receive(*port, data.size(), 0), XmResult::ok);
    EXPECT_FALSE(dest == data);
    EXPECT_EQ(rejections(), 0);
}

TEST_F(SxTest, TheCrcAskedForByDefaultRefusesIt) {
    const Bytes data = makeFile(4 * 1024);
    auto port = startSx();
    damageKeepingTheSum(*port, 1030);
    EXPECT_EQ(receive(*port, data.size()), XmResult::ok);
    EXPECT_TRUE(dest == data);
    EXPECT_EQ(rejections(), 1);
}

TEST_F(SxTest, RepeatedBlockIsNotStoredTwice) {
    const Bytes data = makeFile(6 * 1024);
    auto port = startSx("-t 10");
    // Our third ACK is lost on the line: sx sends block 3 again.
    int acks = 0;
    port->outFault = [&](std::uint8_t b) { return !(b == xm::kAck && ++acks == 3); };
    EXPECT_EQ(receive(*port, data.size()), XmResult::ok);
    EXPECT_EQ(stored, data.size());
    EXPECT_TRUE(dest == data);
    EXPECT_EQ(rejections(), 0);
}

TEST_F(SxTest, ShortFileIsAnErrorWhenCapacityIsLarger) {
    const Bytes data = makeFile(2 * 1024);
    auto port = startSx();
    EXPECT_EQ(receive(*port, 4096), XmResult::error);
    EXPECT_EQ(stored, 2048u);
}

TEST_F(SxTest, SenderGivingUpCancels) {
    const Bytes data = makeFile(8 * 1024);
    auto port = startSx();
    // Every copy of the second block arrives damaged; sx gives up after its
    // retries and cancels with CAN CAN.
    port->inFault = [](std::uint64_t at, std::uint8_t& b) {
        // Control bytes pass, everything else is changed.
        const auto control = [](std::uint8_t x) {
            return x == xm::kSoh || x == xm::kStx || x == xm::kEot || x == xm::kCan;
        };
        if (at >= 1029 && !control(b) && !control(b ^ 0x80)) b ^= 0x80;
        return true;
    };
    EXPECT_EQ(receive(*port, data.size()), XmResult::cancelled);
    EXPECT_EQ(stored, 1024u);
    EXPECT_GE(rejections(), 1);
}
