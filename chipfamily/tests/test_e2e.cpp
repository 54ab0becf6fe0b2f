// The chip-family programmers end to end on the simulated board: each
// family's built-in program is started through SelkanBoot as a worker does,
// the component drives it, and the records come back through a real pipe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "ombra/chipfamily/chipfamily.h"
#include "ombra/platform/com.h"
#include "sim_rig.h"

using namespace ombra;
using namespace ombra::burnix::simtest;
using Bytes = std::vector<std::uint8_t>;
using Reader = RecordReader;

namespace {

struct Part {
    const char* family;  // the text prefix
    const CLSID* clsid;
    const char* part;    // simulated flash
    int index;           // in the family's table
};

const Part kParts[] = {
    {"SST", &CLSID_Cobalt, "SST39LF/VF160", 0},
    {"SST", &CLSID_Cobalt, "LE28DW8102T", 6},
    {"Intel", &CLSID_Nickel, "28F800B3T", 0},
    {"Intel", &CLSID_Nickel, "28F160C3B", 7},
    {"AMD", &CLSID_Copper, "AM29LV800BB", 4},
    {"AMD", &CLSID_Copper, "MBM29LV800TA", 22},
};

void registerFamilies() {
    static bool done = false;
    if (done) return;
    setUpRuntime();
    for (const char* component : {"Cobalt.so", "Nickel.so", "Copper.so"}) {
        const std::string command = "\"" + runDir() + "/regsvr\" /s \"" + runDir() + "/" + component + "\"";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("regsvr failed: " + command);
    }
    done = true;
}

// Paced: the built-in burn programs cannot report a ring-buffer overrun, so
// the stream must not outrun the board.
sim::BoardOptions fast() {
    sim::BoardOptions o;
    o.flashTimeScale = 0;
    return o;
}

enum class Op { identify, burn, verify, dump };

// Creates the component with the operation's face and starts its built-in
// program on the board, as the workers do (no initialization step).
template <class T>
T* start(Rig& rig, const CLSID& clsid, Op op) {
    registerFamilies();
    static constexpr const IID* kFaces[] = {&IID_IBurnix, &IID_IBurnixBurn, &IID_IBurnixVerify, &IID_IBurnixDump};
    T* face = nullptr;
    if (CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, *kFaces[static_cast<int>(op)],
                         reinterpret_cast<void**>(&face)) != S_OK)
        throw std::runtime_error("component not creatable");
    BYTE* code = nullptr;
    DWORD address = 0;
    WORD length = 0;
    HRESULT hr = E_FAIL;
    void* raw = face;
    switch (op) {
    case Op::identify: hr = static_cast<IBurnix*>(raw)->GetIdentificationBootCode(&code, &address, &length); break;
    case Op::burn: hr = static_cast<IBurnixBurn*>(raw)->GetBurningBootCode(&code, &address, &length); break;
    case Op::verify: hr = static_cast<IBurnixVerify*>(raw)->GetVerifyBootCode(&code, &address, &length); break;
    case Op::dump: hr = static_cast<IBurnixDump*>(raw)->GetDumpBootCode(&code, &address, &length); break;
    }
    if (hr != S_OK) throw std::runtime_error("no boot code");
    rig.boot(code, length, address);
    CoTaskMemFree(code);
    return face;
}

// RESET sends the board back into its ROM once the program has finished
// with the flash; false when that does not happen.
bool backInRom(Rig& rig) {
    for (int i = 0; i < 1000; ++i) {
        if (rig.board().inRom()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string prefixed(const Part& p, const std::string& text) { return "(" + std::string(p.family) + ") " + text; }

bool has(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

HRESULT identify(const Part& p, const sim::BoardOptions& options, LONG& index, DeviceInfo*& info,
                 std::vector<std::string>& texts) {
    Rig rig(p.part, options);
    auto* burnix = start<IBurnix>(rig, *p.clsid, Op::identify);
    Reader reader;
    rig.configure(burnix, reader.writeEnd());
    const HRESULT hr = burnix->IdentifyFlash(&index, &info);
    burnix->Release();
    texts = Reader::texts(reader.finish());
    return hr;
}

void freeInfo(DeviceInfo* d) {
    if (!d) return;
    CoTaskMemFree(d->manufacturerName);
    CoTaskMemFree(d->modelName);
    CoTaskMemFree(d);
}

class ChipFamilyPart : public ::testing::TestWithParam<Part> {};

std::string partName(const ::testing::TestParamInfo<Part>& info) {
    std::string name = std::string(info.param.family) + "_" + info.param.part;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

}  // namespace

TEST_P(ChipFamilyPart, IdentifyFindsThePart) {
    const Part& p = GetParam();
    LONG index = -2;
    DeviceInfo* info = nullptr;
    std::vector<std::string> texts;
    ASSERT_EQ(identify(p, fast(), index, info, texts), S_OK);
    EXPECT_EQ(index, p.index);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->modelName, p.part);
    freeInfo(info);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back().rfind(prefixed(p, "Device database entry found"), 0), 0u) << texts.back();
}

TEST_P(ChipFamilyPart, BurnWithAndWithoutVerification) {
    const Part& p = GetParam();
    for (bool verify : {false, true}) {
        Rig rig(p.part, fast());
        auto* burn = start<IBurnixBurn>(rig, *p.clsid, Op::burn);
        Reader reader;
        const Bytes image = testImage(0x2800, verify ? 7 : 8);
        burn->SetBurnSource(writeTemp("burn.bin", image).c_str());
        burn->SetBurnSpan(0, static_cast<DWORD>(image.size()));
        rig.configure(burn, reader.writeEnd());
        ASSERT_EQ(burn->SetSelectedDevice(static_cast<DWORD>(p.index)), S_OK);
        burn->SetVerifyFlag(verify);
        EXPECT_EQ(burn->Burn(), S_OK) << "verify " << verify;
        burn->Release();
        const auto records = reader.finish();
        EXPECT_TRUE(backInRom(rig));
        EXPECT_EQ(rig.board().readFlash(0, 0x2800), image) << "verify " << verify;
        EXPECT_EQ(Reader::statuses(records), (std::vector<DWORD>{pipe::E_STATUS_SUCCESS}));
        const auto texts = Reader::texts(records);
        EXPECT_TRUE(has(texts, prefixed(p, "Flash burning complete.")));
        // Without verification the burn ends right after the stream.
        EXPECT_EQ(texts.back(), prefixed(p, verify ? "Verification passed." : "Flash burning complete."));
    }
}

TEST_P(ChipFamilyPart, StandaloneVerifyPassesThenFails) {
    const Part& p = GetParam();
    Rig rig(p.part, fast());
    const Bytes image = testImage(0x5000, 9);
    rig.board().writeFlash(0x3000, image);
    for (bool corrupt : {false, true}) {
        if (corrupt) {
            const std::uint8_t bad[2] = {static_cast<std::uint8_t>(~image[0x4800]), image[0x4801]};
            rig.board().writeFlash(0x3000 + 0x4800, bad);
        }
        auto* verify = start<IBurnixVerify>(rig, *p.clsid, Op::verify);
        Reader reader;
        verify->SetVerifySource(writeTemp("verify.bin", image).c_str());
        verify->SetVerifySpan(0x3000, static_cast<DWORD>(image.size()));
        rig.configure(verify, reader.writeEnd());
        verify->SetSelectedDevice(static_cast<DWORD>(p.index));
        EXPECT_EQ(verify->Verify(), corrupt ? E_FAIL : S_OK);
        verify->Release();
        const auto records = reader.finish();
        EXPECT_EQ(Reader::texts(records).back(),
                  prefixed(p, corrupt ? "Verification failed." : "Verification passed."));
        EXPECT_TRUE(backInRom(rig));
        rig.board().powerCycle();
    }
}

TEST_P(ChipFamilyPart, DumpIntoFile) {
    const Part& p = GetParam();
    Rig rig(p.part, fast());
    const Bytes image = testImage(0x3000, 10);
    rig.board().writeFlash(0x40000, image);
    for (DWORD size : {DWORD{5}, DWORD{0x3000}}) {
        auto* dump = start<IBurnixDump>(rig, *p.clsid, Op::dump);
        Reader reader;
        const std::string target = scratchDir() + "/chipfamily-dump.bin";
        dump->SetDumpTarget(target.c_str());
        dump->SetDumpSpan(0x40000, size);
        rig.configure(dump, reader.writeEnd());
        EXPECT_EQ(dump->Dump(), S_OK);
        dump->Release();
        const auto records = reader.finish();
        EXPECT_EQ(Reader::texts(records).back(), prefixed(p, "Transmission successful, dump complete"));
        EXPECT_EQ(readFile(target), Bytes(image.begin(), image.begin() + (size & ~1u)));
        rig.board().powerCycle();
    }
}

INSTANTIATE_TEST_SUITE_P(Families, ChipFamilyPart, ::testing::ValuesIn(kParts), partName);

TEST(ChipFamilyE2e, MakerAndModelTogetherPickTheEntry) {
    // 0x22DA recurs under several makers.
    for (const Part& p : {Part{"AMD", &CLSID_Copper, "HY29LV800T", 19}, Part{"AMD", &CLSID_Copper, "MBM29LV800TA", 22}}) {
        LONG index = -2;
        DeviceInfo* info = nullptr;
        std::vector<std::string> texts;
        ASSERT_EQ(identify(p, fast(), index, info, texts), S_OK);
        EXPECT_EQ(index, p.index) << p.part;
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->modelCode, 0x22DA);
        EXPECT_STREQ(info->modelName, p.part);
        freeInfo(info);
        EXPECT_TRUE(has(texts, prefixed(p, "Manufacturer code: " + std::string(p.index == 19 ? "AD" : "4") +
                                               ", Model code: 22DA")));
    }
}

TEST(ChipFamilyE2e, UnknownPartGivesMinusOne) {
    // An AMD part is not in the SST table, an SST part not in the AMD one.
    for (const Part& p : {Part{"SST", &CLSID_Cobalt, "AM29LV800BT", -1}, Part{"AMD", &CLSID_Copper, "SST39LF/VF160", -1}}) {
        LONG index = 5;
        DeviceInfo* info = nullptr;
        std::vector<std::string> texts;
        EXPECT_EQ(identify(p, fast(), index, info, texts), S_OK);
        EXPECT_EQ(index, -1) << p.family;
        EXPECT_EQ(info, nullptr);
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), prefixed(p, "Device not found in programmer database"));
    }
}

TEST(ChipFamilyE2e, MismatchAfterBurnUsesTheFamilyText) {
    const std::pair<Part, const char*> cases[] = {
        {{"SST", &CLSID_Cobalt, "SST39LF/VF800A", 1}, "ERROR: Flash verification failed !"},
        {{"Intel", &CLSID_Nickel, "28F800C3B", 3}, "ERROR: Verification failed."},
        {{"AMD", &CLSID_Copper, "AM29LV800BT", 0}, "ERROR: Flash verification failed !"},
    };
    for (const auto& [p, text] : cases) {
        Rig rig(p.part, fast());
        auto* burn = start<IBurnixBurn>(rig, *p.clsid, Op::burn);
        Reader reader;
        const Bytes image = testImage(0x3000, 11);
        // A bit that flips after programming: the first word changes once
        // the board has programmed it. The board compares only after taking
        // the rest of the stream (about a second at this rate) and the
        // family's 400 ms pause, ample time for the change.
        const std::uint8_t flipped = static_cast<std::uint8_t>(image[0] ^ 0x10);
        reader.onRecord = [&, part = p](const pipe::Record& r) {
            auto* t = std::get_if<pipe::TextMessage>(&r);
            if (!t || t->text != prefixed(part, "Flash burning complete.")) return;
            const Bytes first(image.begin(), image.begin() + 2);
            for (int i = 0; i < 10000 && rig.board().readFlash(0, 2) != first; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const std::uint8_t cell[1] = {flipped};
            rig.board().writeFlash(0, cell);
        };
        burn->SetBurnSource(writeTemp("mismatch.bin", image).c_str());
        burn->SetBurnSpan(0, static_cast<DWORD>(image.size()));
        rig.configure(burn, reader.writeEnd());
        burn->SetSelectedDevice(static_cast<DWORD>(p.index));
        burn->SetVerifyFlag(TRUE);
        EXPECT_EQ(burn->Burn(), E_FAIL) << p.family;
        burn->Release();
        const auto records = reader.finish();
        bool failedClass0 = false;
        for (const auto& r : records)
            if (auto* t = std::get_if<pipe::TextMessage>(&r))
                failedClass0 |= t->text == prefixed(p, text) && t->messageClass == 0;
        EXPECT_TRUE(failedClass0) << p.family;
        const auto texts = Reader::texts(records);
        EXPECT_TRUE(has(texts, prefixed(p, "Verifying addresses 00000000 - 00001000")));
        // The first difference ends the comparison.
        EXPECT_FALSE(has(texts, prefixed(p, "Verifying addresses 00001000 - 00002000")));
        EXPECT_FALSE(has(texts, prefixed(p, "Verification passed.")));
    }
}

// Nickel erases block by block from address 0: every block that begins at or
// below the burn size, and nothing beyond.
TEST(ChipFamilyE2e, NickelErasesOnlyTheBlocksTheBurnReaches) {
    struct Case {
        const char* part;
        int index;
        DWORD burnSize;
        std::vector<std::string> ranges;
        std::uint32_t erasedEnd;
    };
    const Case cases[] = {
        // 16K, 8K, 8K, 96K, ...: the block at 0x6000 begins at the burn size.
        {"28F800B3B", 1, 0x6000, {"0-4000", "4000-6000", "6000-8000"}, 0x8000},
        {"28F800B3B", 1, 0x5FFE, {"0-4000", "4000-6000"}, 0x6000},
        // 128K blocks first.
        {"28F800B3T", 0, 0x2800, {"0-20000"}, 0x20000},
        // 8K blocks, locked at power-up.
        {"28F160C3B", 7, 0x4002, {"0-2000", "2000-4000", "4000-6000"}, 0x6000},
    };
    for (const Case& c : cases) {
        Rig rig(c.part, fast());
        rig.board().writeFlash(0, Bytes(0x40000, 0x00));
        auto* burn = start<IBurnixBurn>(rig, CLSID_Nickel, Op::burn);
        Reader reader;
        const Bytes image = testImage(c.burnSize, 12);
        burn->SetBurnSource(writeTemp("blocks.bin", image).c_str());
        burn->SetBurnSpan(0, c.burnSize);
        rig.configure(burn, reader.writeEnd());
        ASSERT_EQ(burn->SetSelectedDevice(static_cast<DWORD>(c.index)), S_OK);
        burn->SetVerifyFlag(FALSE);
        EXPECT_EQ(burn->Burn(), S_OK) << c.part;
        burn->Release();
        const auto texts = Reader::texts(reader.finish());
        EXPECT_TRUE(backInRom(rig));
        std::vector<std::string> ranges;
        for (const auto& t : texts)
            if (t.rfind("(Intel) Erasing address range ", 0) == 0) ranges.push_back(t.substr(30));
        EXPECT_EQ(ranges, c.ranges) << c.part;
        EXPECT_FALSE(has(texts, "(Intel) Erasing flash..."));
        const Bytes flash = rig.board().readFlash(0, 0x40000);
        const auto diff = std::mismatch(image.begin(), image.end(), flash.begin());
        EXPECT_EQ(diff.first, image.end()) << c.part << " " << c.burnSize << " differs at " << (diff.first - image.begin());
        EXPECT_TRUE(std::all_of(flash.begin() + c.burnSize, flash.begin() + c.erasedEnd, [](auto b) { return b == 0xFF; }))
            << c.part;
        EXPECT_TRUE(std::all_of(flash.begin() + c.erasedEnd, flash.end(), [](auto b) { return b == 0x00; })) << c.part;
    }
}
