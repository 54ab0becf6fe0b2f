#include <gtest/gtest.h>

#include "fakes.h"
#include "ombra/burnix/operations.h"

using namespace ombra::burnix;
using namespace ombra::burnix::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A remote program in the shape of the board's: parses host frames, keeps a
// flash image, answers PING, ERASE, ERASE BLOCK, PROGRAM, VERIFY, IDENTIFY,
// DUMP (then XModem) and notes RESET.
class FakeRemote {
public:
    explicit FakeRemote(FakePort& port) : port_(port) {
        port_.onWrite = [this](std::span<const std::uint8_t> b) { onHost(b); };
        port_.feed(commandFrame(msg::kPing));
    }
    Bytes flash = Bytes(0x10000, 0xFF);
    std::uint16_t maker = 0xBF, model = 0x2782;
    bool overflow = false;
    bool sendDone = true;
    bool duplicateVerifyReplies = true;  // answers each VERIFY it gets
    int corruptAtVerify = -1;            // flash sum reported wrong for this VERIFY
    std::function<void(std::uint8_t type)> onCommand;
    std::vector<std::uint8_t> commands;
    std::vector<std::uint32_t> erasedBlocks;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> verifies;
    std::size_t streamed = 0;
    XmSender xm;

private:
    void onHost(std::span<const std::uint8_t> bytes) {
        for (std::uint8_t b : bytes) {
            if (inDump_) {
                xm.onHost(b, port_);
                continue;
            }
            if (streamLeft_ > 0) {
                flash.at(streamAddr_++) &= b;
                ++streamed;
                if (--streamLeft_ == 0) endStream();
                continue;
            }
            if (decoder_.feed(b) != ombra::frame::Decoder::Result::ok) continue;
            handle(decoder_.frame());
        }
    }
    static std::uint32_t be32(const Bytes& p, std::size_t at) {
        return std::uint32_t{p[at]} << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3];
    }
    void reply(std::uint8_t type, Bytes payload = {}) { port_.feed(commandFrame(type, payload)); }
    void endStream() {
        if (overflow) reply(msg::kBufferOverflow);
        else if (sendDone) reply(msg::kDone);
    }
    void handle(const ombra::frame::Frame& f) {
        commands.push_back(f.type);
        if (onCommand) onCommand(f.type);
        const Bytes& p = f.payload;
        switch (f.type) {
        case msg::kErase:
            std::fill(flash.begin(), flash.end(), 0xFF);
            reply(msg::kDone);
            break;
        case msg::kEraseBlock:
            erasedBlocks.push_back(be32(p, 0));
            reply(msg::kDone);
            break;
        case msg::kProgram:
            streamAddr_ = be32(p, 0);
            streamLeft_ = be32(p, 4);
            if (streamLeft_ == 0) endStream();
            break;
        case msg::kVerify: {
            const std::uint32_t a = be32(p, 0), n = p[4] << 8 | p[5];
            verifies.emplace_back(a, n);
            std::uint16_t s = chunkSum(std::span(flash).subspan(a, n));
            if (static_cast<int>(verifies.size()) - 1 == corruptAtVerify) ++s;
            reply(msg::kVerifyRes, {static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s)});
            break;
        }
        case msg::kIdentify:
            reply(msg::kIdentifyRes, {static_cast<std::uint8_t>(maker >> 8), static_cast<std::uint8_t>(maker),
                                      static_cast<std::uint8_t>(model >> 8), static_cast<std::uint8_t>(model)});
            break;
        case msg::kDump: {
            const std::uint32_t a = be32(p, 0), n = be32(p, 4);
            reply(msg::kDumpRes);
            xm.load(std::span(flash).subspan(a, n), 1024);
            inDump_ = true;
            break;
        }
        default: break;
        }
    }

    FakePort& port_;
    ombra::frame::Decoder decoder_;
    std::uint32_t streamAddr_ = 0, streamLeft_ = 0;
    bool inDump_ = false;
};

Bytes image(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return b;
}

struct OpsFixture : ::testing::Test {
    FakeHost host;
    CaptureSink sink;
    NullTrace trace;
    Variant variant;
    std::vector<DeviceEntry> devices{{0xBF, 0x2781, "SST", "SST39VF800A", 1048576, {}},
                                     {0xBF, 0x2782, "SST", "SST39VF160", 2097152, {}}};
    FakeRemote remote{host.port};
    Job job;

    Operations ops() { return Operations(host, sink, trace, variant, "SST", devices); }
    void burnJob(std::size_t size, bool verify) {
        host.files["img"] = image(size);
        job.sourceFile = "img";
        job.burnAddress = 0;
        job.burnSize = static_cast<DWORD>(size);
        job.verifyAfterBurn = verify;
    }
    int resets() const { return static_cast<int>(std::count(remote.commands.begin(), remote.commands.end(), msg::kReset)); }
};

}  // namespace

TEST_F(OpsFixture, IdentifyFoundAndNotFound) {
    auto found = ops().identifyFlash(job);
    EXPECT_EQ(found.result, S_OK);
    EXPECT_EQ(found.index, 1);
    EXPECT_EQ(sink.texts()[0], "SST:Manufacturer code: BF, Model code: 2782");
    EXPECT_EQ(sink.texts()[1],
              "SST:Device database entry found : \n\r Manufacturer: SST \n\r Model: SST39VF160 \n\r Capacity 2097152 MB");
    EXPECT_TRUE(host.port.closed);
    EXPECT_TRUE(sink.statuses().empty());
    EXPECT_EQ(resets(), 0);

    sink.records.clear();
    host.port.feed(commandFrame(msg::kPing));
    remote.model = 0x1234;
    auto missing = ops().identifyFlash(job);
    EXPECT_EQ(missing.result, S_OK);
    EXPECT_EQ(missing.index, -1);
    EXPECT_EQ(sink.texts().back(), "SST:Device not found in programmer database");
}

TEST_F(OpsFixture, IdentifyCancelledAndPortFailure) {
    remote.onCommand = [&](std::uint8_t t) {
        if (t == msg::kIdentify) host.port.cancel = true;
    };
    EXPECT_EQ(ops().identifyFlash(job).result, E_FAIL);
    host.portFails = true;
    EXPECT_EQ(ops().identifyFlash(job).result, E_FAIL);
}

TEST_F(OpsFixture, VanishedPortEndsWaitsInsteadOfSpinning) {
    // The remote never answers and the port reports a hard failure.
    host.port.onWrite = nullptr;
    host.port.broken = true;
    host.port.emptyReadLimit = 1000000;
    EXPECT_EQ(ops().identifyFlash(job).result, E_FAIL);
    burnJob(0x100, false);
    EXPECT_EQ(ops().burn(job), E_FAIL);
    job.dumpTarget = "out";
    job.dumpSize = 0x100;
    EXPECT_EQ(ops().dump(job), E_FAIL);
    EXPECT_LT(host.port.emptyReads, 100);
}

TEST_F(OpsFixture, BurnStreamsChunksWithProgressAfterFullChunks) {
    burnJob(0x2800, false);
    EXPECT_EQ(ops().burn(job), S_OK);
    EXPECT_EQ(Bytes(remote.flash.begin(), remote.flash.begin() + 0x2800), host.files["img"]);
    EXPECT_EQ(sink.progress(), (std::vector<std::pair<DWORD, DWORD>>{{0x1000, 0x2800}, {0x2000, 0x2800}}));
    EXPECT_EQ(sink.texts(), (std::vector<std::string>{"SST:Erasing flash...", "SST:Finished erasing.",
                                                      "SST:Flash burning complete."}));
    EXPECT_EQ(sink.statuses(), (std::vector<DWORD>{kStatusSuccess}));
    EXPECT_EQ(resets(), 1);
    EXPECT_EQ(trace.name, "Burnix");
    EXPECT_TRUE(host.port.closed);
}

TEST_F(OpsFixture, BurnVerifyMismatchStopsAtThatChunk) {
    burnJob(0x5000, true);
    remote.corruptAtVerify = 2;
    EXPECT_EQ(ops().burn(job), E_FAIL);
    EXPECT_EQ(remote.verifies.size(), 3u);
    const auto& r = *std::find_if(sink.records.begin(), sink.records.end(),
                                  [](const Record& x) { return x.text == "SST:Verification failed."; });
    EXPECT_EQ(r.a, kClassFailure);
    EXPECT_EQ(sink.statuses(), (std::vector<DWORD>{kStatusSuccess, kStatusSuccess}));
    EXPECT_EQ(resets(), 1);
}

TEST_F(OpsFixture, BufferOverflowIsAFailedBurn) {
    burnJob(0x1000, true);
    remote.overflow = true;
    EXPECT_EQ(ops().burn(job), E_FAIL);
    EXPECT_TRUE(sink.hasText("SST:ERROR 10: Buffer overflowed. Please reduce baud rate and try again."));
    EXPECT_FALSE(sink.hasText("SST:Flash burning complete."));
    EXPECT_TRUE(remote.verifies.empty());
    EXPECT_EQ(sink.statuses(), (std::vector<DWORD>{kStatusFailure}));
}

TEST_F(OpsFixture, BurnSourceProblems) {
    job.sourceFile = "missing";
    job.burnSize = 16;
    EXPECT_EQ(ops().burn(job), E_FAIL);
    EXPECT_EQ(sink.texts(), (std::vector<std::string>{"SST:The system cannot find the file specified."}));
    EXPECT_EQ(sink.statuses(), (std::vector<DWORD>{kStatusFailure}));
    EXPECT_EQ(host.opens, 0);

    // A burn size beyond the file would stream from outside the mapping.
    sink.records.clear();
    burnJob(0x100, false);
    job.burnSize = 0x200;
    EXPECT_EQ(ops().burn(job), E_FAIL);
    EXPECT_EQ(sink.statuses(), (std::vector<DWORD>{kStatusFailure}));
    EXPECT_EQ(host.opens, 0);
}

TEST_F(OpsFixture, BurnCancelExitsWriteNoStatusAndNoReset) {
    for (std::uint8_t at : {msg::kErase, msg::kProgram, msg::kVerify}) {
        FakeHost h;
        FakeRemote r(h.port);
        CaptureSink s;
        r.onCommand = [&](std::uint8_t t) {
            if (t == at) h.port.cancel = true;
        };
        h.files["img"] = image(0x3000);
        Job j;
        j.sourceFile = "img";
        j.burnSize = 0x3000;
        j.verifyAfterBurn = true;
        Operations o(h, s, trace, variant, "SST", devices);
        EXPECT_EQ(o.burn(j), E_FAIL) << int(at);
        EXPECT_TRUE(s.statuses().empty()) << int(at);
        EXPECT_EQ(std::count(r.commands.begin(), r.commands.end(), msg::kReset), 0);
        EXPECT_TRUE(h.port.closed);
    }
}

TEST_F(OpsFixture, CancelDuringStreaming) {
    burnJob(0x8000, false);
    remote.onCommand = nullptr;
    host.port.onWrite = [&, inner = host.port.onWrite](std::span<const std::uint8_t> b) {
        inner(b);
        if (remote.streamed >= 0x2000) host.port.cancel = true;
    };
    EXPECT_EQ(ops().burn(job), E_FAIL);
    EXPECT_LT(remote.streamed, 0x8000u);
    EXPECT_TRUE(sink.statuses().empty());
}

TEST_F(OpsFixture, FamilyVariantBlockEraseNoFinishWaitOwnMismatchText) {
    variant.blockErase = true;
    variant.waitForProgramFinish = false;
    variant.pauseBeforeVerifyMs = 400;
    variant.textStyle = Reporter::Style::parenthesis;
    variant.mismatchText = "ERROR: Verification failed.";
    devices[0].geometry = {0x2000, 2, 0x4000, 3, 0, 0, 0, 0};
    remote.sendDone = false;
    remote.corruptAtVerify = 0;
    burnJob(0x4000, true);
    job.selectedDevice = 0;
    EXPECT_EQ(ops().burn(job), E_FAIL);
    // Blocks at 0, 0x2000 and 0x4000 begin at or below the burn size.
    EXPECT_EQ(remote.erasedBlocks, (std::vector<std::uint32_t>{0, 0x2000, 0x4000}));
    EXPECT_TRUE(sink.hasText("(SST) Erasing address range 2000-4000"));
    EXPECT_FALSE(sink.hasText("(SST) Erasing flash..."));
    EXPECT_TRUE(sink.hasText("(SST) ERROR: Verification failed."));
}

TEST_F(OpsFixture, StandaloneVerifyPairsRepliesAndClampsChunks) {
    host.files["img"] = image(0x9000);
    std::copy_n(host.files["img"].begin(), 0x9000, remote.flash.begin() + 0x100);
    host.port.input.clear();  // no PING wait in Verify
    job.sourceFile = "img";
    job.verifyAddress = 0x100;
    job.verifySize = 0x8800;
    EXPECT_EQ(ops().verify(job), S_OK);
    // Each VERIFY twice; the last chunk clamped to the span.
    EXPECT_EQ(remote.verifies, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                                   {0x100, 0x4000}, {0x100, 0x4000}, {0x4100, 0x4000}, {0x4100, 0x4000},
                                   {0x8100, 0x800}, {0x8100, 0x800}}));
    EXPECT_EQ(sink.texts().back(), "SST:Verification passed.");
    EXPECT_EQ(sink.statuses(), (std::vector<DWORD>{kStatusSuccess}));
    EXPECT_EQ(resets(), 1);
}

TEST_F(OpsFixture, StandaloneVerifyFailsOnMismatchAndShortFile) {
    host.files["img"] = image(0x100);
    host.port.input.clear();
    job.sourceFile = "img";
    job.verifySize = 0x100;
    EXPECT_EQ(ops().verify(job), E_FAIL);  // flash is erased
    EXPECT_EQ(sink.texts().back(), "SST:Verification failed.");

    sink.records.clear();
    std::copy_n(host.files["img"].begin(), 0x100, remote.flash.begin());
    job.verifySize = 0x200;  // file ends first
    EXPECT_EQ(ops().verify(job), E_FAIL);
    EXPECT_EQ(sink.statuses(), (std::vector<DWORD>{kStatusFailure}));

    sink.records.clear();
    job.sourceFile = "nothing";
    EXPECT_EQ(ops().verify(job), E_FAIL);
    EXPECT_EQ(sink.texts(), (std::vector<std::string>{"SST:Could not open image file."}));
}

TEST_F(OpsFixture, DumpFailures) {
    job.dumpTarget = "out";
    job.dumpSize = 1;
    EXPECT_EQ(ops().dump(job), E_FAIL);
    EXPECT_TRUE(sink.statuses().empty());

    host.port.feed(commandFrame(msg::kPing));
    job.dumpTarget = "";
    EXPECT_EQ(ops().dump(job), E_FAIL);
    EXPECT_EQ(sink.texts().back(), "SST:Could not create dump file.");

    // A cancel while waiting for the reply is a failure, not a dump.
    FakeHost h;
    FakeRemote r(h.port);
    r.onCommand = [&](std::uint8_t t) {
        if (t == msg::kDump) h.port.cancel = true;
    };
    CaptureSink s;
    job.dumpTarget = "out";
    job.dumpSize = 0x100;
    Operations o(h, s, trace, variant, "SST", devices);
    EXPECT_EQ(o.dump(job), E_FAIL);
    EXPECT_TRUE(s.statuses().empty());
    EXPECT_FALSE(h.raised);

    // A full disk is a clear error.
    FakeHost h2;
    FakeRemote r2(h2.port);
    h2.mapFails = true;
    CaptureSink s2;
    Operations o2(h2, s2, trace, variant, "SST", devices);
    EXPECT_EQ(o2.dump(job), E_FAIL);
    EXPECT_EQ(s2.texts().back(), "SST:No space left on device");
}

TEST_F(OpsFixture, DumpCancelledDuringTransfer) {
    job.dumpTarget = "out";
    job.dumpSize = 0x4000;
    int acks = 0;
    host.port.onWrite = [&, inner = host.port.onWrite](std::span<const std::uint8_t> b) {
        inner(b);
        if (b.size() == 1 && b[0] == xm::kAck && ++acks == 2) host.port.cancel = true;
    };
    EXPECT_EQ(ops().dump(job), S_OK);
    EXPECT_EQ(sink.texts().back(), "SST:Dump cancelled");
    EXPECT_EQ(sink.statuses(), (std::vector<DWORD>{kStatusFailure}));
}
