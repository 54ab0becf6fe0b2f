// Burnix end to end on the simulated board, one driver family at a time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ombra/platform/com.h"
#include "ombra/platform/event.h"
#include "sim_rig.h"

using namespace ombra;
using namespace ombra::burnix::simtest;
using Bytes = std::vector<std::uint8_t>;
using Reader = RecordReader;

namespace {

sim::BoardOptions fast() {
    sim::BoardOptions o;
    o.paced = false;
    o.flashTimeScale = 0;
    if (std::getenv("BURNIX_E2E_DEBUG")) o.debugSink = [](std::string_view t) { std::fprintf(stderr, "%.*s", int(t.size()), t.data()); };
    return o;
}

bool contains(const std::vector<std::string>& texts, const std::string& needle) {
    for (auto& t : texts)
        if (t.find(needle) != std::string::npos) return true;
    return false;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class FamilyTest : public ::testing::TestWithParam<Family> {};

}  // namespace

TEST_P(FamilyTest, IdentifyFindsThePart) {
    const Family f = GetParam();
    Rig rig(f.part, fast());
    auto* burnix = rig.start<IBurnix>(f.driver, "Wexom", IID_IBurnix);
    Reader reader;
    rig.configure(burnix, reader.writeEnd());
    LONG index = -2;
    DeviceInfo* info = nullptr;
    ASSERT_EQ(burnix->IdentifyFlash(&index, &info), S_OK);
    EXPECT_EQ(index, f.index);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->modelName, f.part);
    CoTaskMemFree(info->manufacturerName);
    CoTaskMemFree(info->modelName);
    CoTaskMemFree(info);
    burnix->Release();
    const auto texts = Reader::texts(reader.finish());
    EXPECT_TRUE(contains(texts, std::string(f.driver) + ":Device database entry found"));
}

TEST_P(FamilyTest, BurnWithAndWithoutVerification) {
    const Family f = GetParam();
    for (bool verify : {false, true}) {
        Rig rig(f.part, fast());
        auto* burn = rig.start<IBurnixBurn>(f.driver, "Tordel", IID_IBurnixBurn);
        Reader reader;
        // Two chunks, within the remote program's 8192-byte ring: the unpaced
        // board takes bytes in bursts, which can hold its writing back.
        const Bytes image = testImage(0x1800, verify ? 2 : 3);
        burn->SetBurnSource(writeTemp("burn.bin", image).c_str());
        burn->SetBurnSpan(0, static_cast<DWORD>(image.size()));
        rig.configure(burn, reader.writeEnd());
        burn->SetSelectedDevice(f.index);
        burn->SetVerifyFlag(verify);
        EXPECT_EQ(burn->Burn(), S_OK) << f.driver << " verify " << verify;
        burn->Release();
        const auto records = reader.finish();
        EXPECT_EQ(rig.board().readFlash(0, 0x1800), image);
        EXPECT_EQ(Reader::statuses(records), (std::vector<DWORD>{pipe::E_STATUS_SUCCESS}));
        const auto texts = Reader::texts(records);
        EXPECT_EQ(contains(texts, "Verification passed."), verify);
        if (!verify) {
            // Chunks of 0x1000 and 0x800: progress after the full one only.
            EXPECT_EQ(Reader::progress(records), (std::vector<std::pair<DWORD, DWORD>>{{0x1000, 0x1800}}));
        }
    }
}

TEST_P(FamilyTest, StandaloneVerifyPassesThenFails) {
    const Family f = GetParam();
    const Bytes image = testImage(0x6000, 4);
    for (bool corrupt : {false, true}) {
        Rig rig(f.part, fast());
        rig.board().writeFlash(0x1000, image);
        if (corrupt) {
            const std::uint8_t bad[2] = {static_cast<std::uint8_t>(image[0x5000] ^ 0x10), image[0x5001]};
            rig.board().writeFlash(0x1000 + 0x5000, bad);
        }
        auto* verify = rig.start<IBurnixVerify>(f.driver, "Quasp", IID_IBurnixVerify);
        Reader reader;
        verify->SetVerifySource(writeTemp("verify.bin", image).c_str());
        verify->SetVerifySpan(0x1000, static_cast<DWORD>(image.size()));
        rig.configure(verify, reader.writeEnd());
        verify->SetSelectedDevice(f.index);
        EXPECT_EQ(verify->Verify(), corrupt ? E_FAIL : S_OK) << f.driver;
        verify->Release();
        const auto records = reader.finish();
        EXPECT_EQ(Reader::texts(records).back(),
                  std::string(f.driver) + (corrupt ? ":Verification failed." : ":Verification passed."));
        EXPECT_EQ(Reader::statuses(records), (std::vector<DWORD>{pipe::E_STATUS_SUCCESS}));
    }
}

TEST_P(FamilyTest, DumpIntoFile) {
    const Family f = GetParam();
    const Bytes image = testImage(0x3000, 5);
    for (DWORD size : {DWORD{5}, DWORD{0x3000}}) {
        Rig rig(f.part, fast());
        rig.board().writeFlash(0x20000, image);
        auto* dump = rig.start<IBurnixDump>(f.driver, "Lunet", IID_IBurnixDump);
        Reader reader;
        const std::string target = scratchDir() + "/dump.bin";
        dump->SetDumpTarget(target.c_str());
        dump->SetDumpSpan(0x20000, size);
        rig.configure(dump, reader.writeEnd());
        EXPECT_EQ(dump->Dump(), S_OK);
        dump->Release();
        const auto records = reader.finish();
        EXPECT_EQ(Reader::texts(records).back(), std::string(f.driver) + ":Transmission successful, dump complete");
        EXPECT_EQ(Reader::statuses(records), (std::vector<DWORD>{pipe::E_STATUS_SUCCESS}));
        // An odd size loses its last byte.
        EXPECT_EQ(readFile(target), Bytes(image.begin(), image.begin() + (size & ~1u)));
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, FamilyTest, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param.driver); });

TEST(BurnixE2e, IdentifyUnknownPartGivesMinusOne) {
    // The AMD driver's table has no SST part.
    Rig rig("SST39LF/VF160", fast());
    auto* burnix = rig.start<IBurnix>("AMD", "Wexom", IID_IBurnix);
    Reader reader;
    rig.configure(burnix, reader.writeEnd());
    LONG index = 7;
    DeviceInfo* info = nullptr;
    EXPECT_EQ(burnix->IdentifyFlash(&index, &info), S_OK);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(info, nullptr);
    burnix->Release();
    EXPECT_EQ(Reader::texts(reader.finish()).back(), "AMD:Device not found in programmer database");
}

TEST(BurnixE2e, BurnSizeZero) {
    Rig rig("SST39LF/VF160", fast());
    auto* burn = rig.start<IBurnixBurn>("SST", "Tordel", IID_IBurnixBurn);
    Reader reader;
    burn->SetBurnSource(writeTemp("zero.bin", testImage(16)).c_str());
    burn->SetBurnSpan(0, 0);
    rig.configure(burn, reader.writeEnd());
    burn->SetVerifyFlag(FALSE);
    EXPECT_EQ(burn->Burn(), S_OK);
    burn->Release();
    const auto records = reader.finish();
    EXPECT_EQ(Reader::statuses(records), (std::vector<DWORD>{pipe::E_STATUS_SUCCESS}));
    EXPECT_TRUE(Reader::progress(records).empty());
}

TEST(BurnixE2e, VerificationFindsABitThatDidNotTake) {
    // Paced: the stream reaches the changed byte well over a second after
    // the first progress record.
    sim::BoardOptions o;
    o.flashTimeScale = 0;
    Rig rig("SST39LF/VF160", o, 57600);
    auto* burn = rig.start<IBurnixBurn>("SST", "Tordel", IID_IBurnixBurn);
    Reader reader;
    const Bytes image = testImage(0x3000, 6);
    // Once erasing is over, a bit of the image's last nonzero byte is
    // cleared in the erased flash; programming cannot set it again.
    std::size_t at = image.size() - 1;
    while (image[at] == 0) --at;
    const std::uint8_t weak = image[at] & static_cast<std::uint8_t>(image[at] - 1);
    reader.onRecord = [&, changed = false](const pipe::Record& r) mutable {
        if (changed || !std::holds_alternative<pipe::ProgressMessage>(r)) return;
        changed = true;
        const std::uint8_t cell[1] = {weak};
        rig.board().writeFlash(static_cast<std::uint32_t>(at), cell);
    };
    burn->SetBurnSource(writeTemp("mismatch.bin", image).c_str());
    burn->SetBurnSpan(0, static_cast<DWORD>(image.size()));
    rig.configure(burn, reader.writeEnd());
    burn->SetVerifyFlag(TRUE);
    EXPECT_EQ(burn->Burn(), E_FAIL);
    burn->Release();
    const auto records = reader.finish();
    bool failedClass0 = false;
    for (const auto& r : records)
        if (auto* t = std::get_if<pipe::TextMessage>(&r))
            failedClass0 |= t->text == "SST:Verification failed." && t->messageClass == 0;
    EXPECT_TRUE(failedClass0);
    EXPECT_EQ(rig.board().readFlash(static_cast<std::uint32_t>(at), 1), Bytes{weak});
    EXPECT_TRUE(contains(Reader::texts(records), "Verifying addresses 00002000 - 00003000"));
}

namespace {

// Runs a burn (or dump) that the test cancels when `trigger` sees its record.
struct CancelCase {
    const char* name;
    const char* part;
    const char* driver;
    double flashTimeScale;
    std::size_t size;
    bool verify;
    std::function<bool(const pipe::Record&)> trigger;
    const char* notReached;  // the text of the phase after the cancelled one
};

bool isText(const pipe::Record& r, const std::string& prefix) {
    auto* t = std::get_if<pipe::TextMessage>(&r);
    return t && t->text.rfind(prefix, 0) == 0;
}

void runCancelledBurn(const CancelCase& c) {
    sim::BoardOptions o;
    o.flashTimeScale = c.flashTimeScale;
    Rig rig(c.part, o, 115200);
    auto* burn = rig.start<IBurnixBurn>(c.driver, "Tordel", IID_IBurnixBurn);
    Reader reader;
    // The board stops answering at the trigger, so the burn cannot get past
    // the stage before Burnix sees the event.
    reader.onRecord = [&](const pipe::Record& r) {
        if (!c.trigger(r)) return;
        rig.board().setMuted(true);
        SetEvent(rig.cancel());
    };
    burn->SetBurnSource(writeTemp("cancel.bin", testImage(c.size)).c_str());
    burn->SetBurnSpan(0, static_cast<DWORD>(c.size));
    rig.configure(burn, reader.writeEnd());
    burn->SetVerifyFlag(c.verify);
    EXPECT_EQ(burn->Burn(), E_FAIL) << c.name;
    burn->Release();
    const auto records = reader.finish();
    EXPECT_TRUE(Reader::statuses(records).empty()) << c.name;
    EXPECT_FALSE(contains(Reader::texts(records), c.notReached)) << c.name;
    // The remote program prints RESETING when it gets RESET.
    EXPECT_EQ(rig.board().debugLog().find("RESETING"), std::string::npos) << c.name;
}

}  // namespace

TEST(BurnixE2eCancel, DuringEraseStreamingAndVerification) {
    const CancelCase cases[] = {
        {"erase", "AM29LV800BT", "AMD", 1.0, 0x1000, false,
         [](const pipe::Record& r) { return isText(r, "AMD:Erasing flash..."); },
         "Finished erasing."},
        {"streaming", "SST39LF/VF160", "SST", 0, 0x10000, false,
         [](const pipe::Record& r) { return std::holds_alternative<pipe::ProgressMessage>(r); },
         "Flash burning complete."},
        {"verification", "SST39LF/VF160", "SST", 0, 0x8000, true,
         [](const pipe::Record& r) { return isText(r, "SST:Verifying addresses 00001000"); },
         "Verification passed."},
    };
    for (const auto& c : cases) runCancelledBurn(c);
}

TEST(BurnixE2eCancel, DuringDumpTransfer) {
    sim::BoardOptions o;
    o.flashTimeScale = 0;
    Rig rig("SST39LF/VF160", o, 115200);
    auto* dump = rig.start<IBurnixDump>("SST", "Lunet", IID_IBurnixDump);
    Reader reader;
    reader.onRecord = [&](const pipe::Record& r) {
        if (std::holds_alternative<pipe::ProgressMessage>(r)) SetEvent(rig.cancel());
    };
    dump->SetDumpTarget((scratchDir() + "/cancelled-dump.bin").c_str());
    dump->SetDumpSpan(0, 0x10000);
    rig.configure(dump, reader.writeEnd());
    // The transfer stage was reached: the outcome goes out as records.
    EXPECT_EQ(dump->Dump(), S_OK);
    dump->Release();
    const auto records = reader.finish();
    EXPECT_EQ(Reader::texts(records).back(), "SST:Dump cancelled");
    EXPECT_EQ(Reader::statuses(records), (std::vector<DWORD>{pipe::E_STATUS_FAILURE}));
}

// Unpaced, the line outruns the slow flash by the same factor on any host:
// the board takes bytes and programs words in the same instruction budget.
// (Paced, a fast host's core could keep up in wall time.)
TEST(BurnixE2e, SlowFlashAtHighBaudOverflowsTheBuffer) {
    sim::BoardOptions o;
    o.flashTimeScale = 40;
    o.paced = false;
    Rig rig("SST39LF/VF160", o, 460800);
    auto* burn = rig.start<IBurnixBurn>("SST", "Tordel", IID_IBurnixBurn);
    Reader reader;
    burn->SetBurnSource(writeTemp("overflow.bin", testImage(0x8000)).c_str());
    burn->SetBurnSpan(0, 0x8000);
    rig.configure(burn, reader.writeEnd());
    burn->SetVerifyFlag(TRUE);
    EXPECT_EQ(burn->Burn(), E_FAIL);
    burn->Release();
    const auto records = reader.finish();
    const auto texts = Reader::texts(records);
    EXPECT_TRUE(contains(texts, "SST:ERROR 10: Buffer overflowed. Please reduce baud rate and try again."));
    EXPECT_FALSE(contains(texts, "Verifying addresses"));
    EXPECT_EQ(Reader::statuses(records), (std::vector<DWORD>{pipe::E_STATUS_FAILURE}));
}
