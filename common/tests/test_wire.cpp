#include <gtest/gtest.h>

#include <cstring>

#include "ombra/common/comm_records.h"
#include "ombra/common/pipe_protocol.h"

using namespace ombra;
using namespace ombra::pipe;
using Bytes = std::vector<std::uint8_t>;

namespace {

// {04EED67D-51BF-4F59-B3B4-AEB573ED679E}
constexpr GUID kClsid = {0x04EED67D, 0x51BF, 0x4F59, {0xB3, 0xB4, 0xAE, 0xB5, 0x73, 0xED, 0x67, 0x9E}};

ParameterBlock sampleBlock(Operation op) {
    ParameterBlock b;
    b.operation = op;
    b.programmerClsid = kClsid;
    b.deviceNumber = op == Operation::identify ? 0 : 7;
    b.commDeviceName = "/dev/pts/4";
    b.dcb.BaudRate = 115200;
    b.dcb.setFlag(DCB::kBinary, true);
    b.timeouts.ReadTotalTimeoutConstant = 100;
    b.cbusTable = {0x00, 0x10, 0x12, 0x34, 0xFF, 0xFF};
    b.baudRate = 115200;
    if (op != Operation::identify) {
        b.path = "image.bin";
        b.start = 0x100;
    }
    if (op == Operation::burn) b.verifyFlag = 1;
    if (op == Operation::dump) b.dumpLength = 0x8000;
    b.cancelEvent = 9;
    b.programmerName = "SST";
    return b;
}

// Fails the nth write (counting from 0) and every one after it.
struct FailingSink final : ByteSink {
    explicit FailingSink(int failAt) : failAt(failAt) {}
    bool write(std::span<const std::uint8_t> b) override {
        if (writes++ >= failAt) return false;
        bytes.insert(bytes.end(), b.begin(), b.end());
        return true;
    }
    int failAt;
    int writes = 0;
    Bytes bytes;
};

Bytes written(const PipeRecord& r) {
    VectorSink sink;
    EXPECT_TRUE(r.WriteTo(sink));
    return sink.bytes;
}

}  // namespace

TEST(CommRecords, DcbLayoutAndFlagMasks) {
    DCB d;
    d.BaudRate = 115200;
    d.setFlag(DCB::kBinary, true);
    d.setDtrControl(DTR_CONTROL_ENABLE);
    d.setRtsControl(RTS_CONTROL_HANDSHAKE);
    d.setFlag(DCB::kAbortOnError, true);
    d.XonLim = 0x0102;
    d.XoffLim = 0x0304;
    d.ByteSize = 8;
    d.Parity = EVENPARITY;
    d.StopBits = TWOSTOPBITS;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    d.EvtChar = 0x7E;
    const Bytes expected = {28, 0, 0, 0, 0x00, 0xC2, 0x01, 0x00, 0x11, 0x60, 0x00, 0x00, 0, 0,
                            0x02, 0x01, 0x04, 0x03, 8, 2, 2, 0x11, 0x13, 0, 0, 0x7E, 0, 0};
    const auto b = toBytes(d);
    EXPECT_EQ(Bytes(b.begin(), b.end()), expected);
    EXPECT_EQ(d.dtrControl(), DTR_CONTROL_ENABLE);
    EXPECT_EQ(d.rtsControl(), RTS_CONTROL_HANDSHAKE);
    d.setRtsControl(RTS_CONTROL_DISABLE);
    EXPECT_EQ(d.flags, 0x4011u);
}

TEST(CommRecords, UnknownBitsSurviveARoundTrip) {
    std::array<std::uint8_t, DCB::kSize> raw{};
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(0xA0 + i * 7);
    EXPECT_EQ(toBytes(dcbFromBytes(raw)), raw);

    std::array<std::uint8_t, COMMTIMEOUTS::kSize> t{};
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<std::uint8_t>(i + 1);
    const auto to = timeoutsFromBytes(t);
    EXPECT_EQ(to.ReadIntervalTimeout, 0x04030201u);
    EXPECT_EQ(to.WriteTotalTimeoutConstant, 0x14131211u);
    EXPECT_EQ(toBytes(to), t);
}

TEST(CommRecords, GuidInMemoryLayout) {
    const Bytes expected = {0x7D, 0xD6, 0xEE, 0x04, 0xBF, 0x51, 0x59, 0x4F,
                            0xB3, 0xB4, 0xAE, 0xB5, 0x73, 0xED, 0x67, 0x9E};
    const auto b = toBytes(kClsid);
    EXPECT_EQ(Bytes(b.begin(), b.end()), expected);
    EXPECT_EQ(guidFromBytes(b), kClsid);
}

TEST(ParameterBlock, IdentifyBlockByteImage) {
    ParameterBlock b;
    b.operation = Operation::identify;
    b.programmerClsid = kClsid;
    b.baudRate = 0x1C200;
    b.cancelEvent = 0x11;
    b.programmerName = "AB";
    const auto bytes = encode(b, BlockForm::current);
    ASSERT_TRUE(bytes);
    // guid 16, empty name 4, dcb 28, timeouts 20, table size 2 (no table),
    // baud 4, cancel 4, name 4 + 2
    ASSERT_EQ(bytes->size(), 16u + 4 + 28 + 20 + 2 + 4 + 4 + 6);
    EXPECT_EQ((*bytes)[16], 0);  // empty comm name: length 0, then the DCB
    EXPECT_EQ((*bytes)[20], 28);
    const std::size_t baud = 16 + 4 + 28 + 20 + 2;
    EXPECT_EQ(le::get16(&(*bytes)[baud - 2]), 0);
    EXPECT_EQ(le::get32(&(*bytes)[baud]), 0x1C200u);
    EXPECT_EQ(le::get32(&(*bytes)[baud + 4]), 0x11u);
    EXPECT_EQ(le::get32(&(*bytes)[baud + 8]), 2u);
    EXPECT_EQ((*bytes)[baud + 12], 'A');

    const auto earlier = encode(b, BlockForm::earlier);
    ASSERT_TRUE(earlier);
    EXPECT_EQ(earlier->size(), bytes->size() - 6);
}

TEST(ParameterBlock, EveryLayoutRoundTripsInBothForms) {
    for (auto op : {Operation::identify, Operation::burn, Operation::verify, Operation::dump}) {
        for (auto form : {BlockForm::current, BlockForm::earlier}) {
            auto block = sampleBlock(op);
            if (form == BlockForm::earlier) block.programmerName.clear();
            const auto bytes = encode(block, form);
            ASSERT_TRUE(bytes);
            MemorySource src(*bytes);
            ParameterBlock got;
            ASSERT_TRUE(readParameterBlock(src, op, form, got)) << static_cast<int>(op);
            EXPECT_EQ(got, block);
            EXPECT_EQ(src.remaining(), 0u);
        }
    }
}

TEST(ParameterBlock, FieldsAreReportedInWireOrder) {
    const auto bytes = encode(sampleBlock(Operation::dump), BlockForm::current);
    MemorySource src(*bytes);
    std::vector<BlockField> seen;
    std::string nameWhenSeen;
    ParameterBlock got;
    ASSERT_TRUE(readParameterBlock(src, Operation::dump, BlockForm::current, got,
                                   [&](BlockField f, const ParameterBlock& partial) {
                                       seen.push_back(f);
                                       if (f == BlockField::commDeviceName) nameWhenSeen = partial.commDeviceName;
                                   }));
    const std::vector<BlockField> expected = {
        BlockField::programmerClsid, BlockField::deviceNumber, BlockField::commDeviceName, BlockField::dcb,
        BlockField::timeouts, BlockField::cbusTableSize, BlockField::cbusTable, BlockField::baudRate,
        BlockField::path, BlockField::start, BlockField::dumpLength, BlockField::cancelEvent,
        BlockField::programmerName};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(nameWhenSeen, "/dev/pts/4");
}

TEST(ParameterBlock, EveryShortReadFailsAndLeavesTheTargetAlone) {
    const auto bytes = encode(sampleBlock(Operation::burn), BlockForm::current);
    ParameterBlock untouched;
    untouched.commDeviceName = "keep";
    for (std::size_t n = 0; n < bytes->size(); ++n) {
        MemorySource src(std::span(bytes->data(), n));
        ParameterBlock got = untouched;
        EXPECT_FALSE(readParameterBlock(src, Operation::burn, BlockForm::current, got)) << n;
        EXPECT_EQ(got, untouched);
    }
}

TEST(ParameterBlock, HugeLengthsAreRefused) {
    auto bytes = *encode(sampleBlock(Operation::identify), BlockForm::current);
    // The comm device name's length sits right after the GUID.
    le::put32(&bytes[16], 0xFFFFFFF0u);
    MemorySource src(bytes);
    ParameterBlock got;
    EXPECT_FALSE(readParameterBlock(src, Operation::identify, BlockForm::current, got));

    auto b = sampleBlock(Operation::identify);
    b.cbusTable.assign(kMaxCBusTable + 1, 0);
    EXPECT_FALSE(encode(b, BlockForm::current));
    b.cbusTable.resize(kMaxCBusTable);
    const auto full = encode(b, BlockForm::current);
    ASSERT_TRUE(full);
    MemorySource src2(*full);
    ASSERT_TRUE(readParameterBlock(src2, Operation::identify, BlockForm::current, got));
    EXPECT_EQ(got.cbusTable.size(), kMaxCBusTable);
}

TEST(StatusRecords, ByteImages) {
    EXPECT_EQ(written(StatusRecord(E_STATUS_SUCCESS, static_cast<DWORD>(-1))),
              (Bytes{2, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(written(StatusRecord(E_STATUS_CANCELLED, 0)), (Bytes{2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(written(ProgressRecord(0x100, 0x20000)), (Bytes{3, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0}));
    EXPECT_EQ(written(TextRecord("Hi", 3)), (Bytes{1, 0, 0, 0, 2, 0, 0, 0, 'H', 'i', 3, 0, 0, 0}));
    EXPECT_EQ(written(TextRecord("", 0)), (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(StatusRecords, TextIsCutAtItsTerminatorAndAtTheRecordSize) {
    EXPECT_EQ(TextRecord(std::string_view("ab\0cd", 5), 3).text(), "ab");
    const std::string longText(5000, 'x');
    const TextRecord r(longText, 3);
    EXPECT_EQ(r.text().size(), kMaxRecordText);
    const auto b = written(r);
    EXPECT_EQ(b.size(), 12 + kMaxRecordText);
    EXPECT_EQ(le::get32(&b[4]), kMaxRecordText);
}

TEST(StatusRecords, FirstFailedWriteEndsTheRecord) {
    for (int failAt = 0; failAt < 4; ++failAt) {
        FailingSink sink(failAt);
        EXPECT_FALSE(TextRecord("abc", 3).WriteTo(sink));
        EXPECT_EQ(sink.writes, failAt + 1) << "no write after the failed one";
    }
    FailingSink ok(4);
    EXPECT_TRUE(TextRecord("abc", 3).WriteTo(ok));
    FailingSink status(1);
    EXPECT_FALSE(StatusRecord(1, 0).WriteTo(status));
    EXPECT_EQ(status.bytes, (Bytes{2, 0, 0, 0}));
}

TEST(StatusRecords, ReaderTakesEachKindAndStaysInStep) {
    VectorSink sink;
    TextRecord("loading", 3).WriteTo(sink);
    ProgressRecord(5, 10).WriteTo(sink);
    TextRecord(std::string(2000, 'y'), 0).WriteTo(sink);  // cut by the writer to 1027
    StatusRecord(E_STATUS_FAILURE, 0).WriteTo(sink);

    MemorySource src(sink.bytes);
    Record r;
    ASSERT_EQ(readRecord(src, r), ReadResult::ok);
    EXPECT_EQ(std::get<TextMessage>(r), (TextMessage{"loading", 3}));
    ASSERT_EQ(readRecord(src, r), ReadResult::ok);
    EXPECT_EQ(std::get<ProgressMessage>(r), (ProgressMessage{5, 10}));
    ASSERT_EQ(readRecord(src, r), ReadResult::ok);
    EXPECT_EQ(std::get<TextMessage>(r).text.size(), kMaxRecordText);
    EXPECT_EQ(std::get<TextMessage>(r).messageClass, 0u);
    ASSERT_EQ(readRecord(src, r), ReadResult::ok);
    EXPECT_EQ(std::get<StatusMessage>(r), (StatusMessage{E_STATUS_FAILURE, 0}));
    EXPECT_EQ(readRecord(src, r), ReadResult::failed);
}

TEST(StatusRecords, ReaderRefusesBadInput) {
    Record r;
    const Bytes badType = {4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    MemorySource s1(badType);
    EXPECT_EQ(readRecord(s1, r), ReadResult::badType);

    // Longer than any writer sends: refused before a byte of it is awaited.
    for (std::uint32_t length : {std::uint32_t(kMaxRecordText + 1), 0x7FFFFFFFu}) {
        Bytes huge = {1, 0, 0, 0};
        le::append32(huge, length);
        huge.resize(huge.size() + kMaxRecordText + 10, 'a');
        MemorySource s2(huge);
        EXPECT_EQ(readRecord(s2, r), ReadResult::badLength) << length;
    }

    const Bytes shortStatus = {2, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF};
    MemorySource s3(shortStatus);
    EXPECT_EQ(readRecord(s3, r), ReadResult::failed);

    Bytes shortText = {1, 0, 0, 0, 10, 0, 0, 0, 'a', 'b'};
    MemorySource s4(shortText);
    EXPECT_EQ(readRecord(s4, r), ReadResult::failed);
}

TEST(TerminateScanner, ExactByteRule) {
    auto endsAt = [](const Bytes& bytes) -> int {
        TerminateScanner s;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (s.feed(bytes[i])) return static_cast<int>(i);
        return -1;
    };
    EXPECT_EQ(endsAt({1, 2, 3, 4}), 3);
    EXPECT_EQ(endsAt({1, 1, 2, 3, 4}), -1);  // the second 01 is not a new start
    EXPECT_EQ(endsAt({1, 1, 2, 3, 4, 1, 2, 3, 4}), 8);
    EXPECT_EQ(endsAt({1, 2, 1, 2, 3, 4}), -1);
    EXPECT_EQ(endsAt({9, 1, 2, 3, 5, 1, 2, 3, 4}), 8);
    EXPECT_EQ(endsAt({4, 3, 2, 1}), -1);
}
