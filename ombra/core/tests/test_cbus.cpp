// The C-bus table file: packing, line rules, the size limit and failures.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ombra/common/trace.h"
#include "ombra/frontend/cbus_file.h"
#include "ombra/platform/file.h"
#include "scratch.h"

using namespace ombra::frontend;
using namespace ombra::frontend::test;

namespace {

std::string write(const Scratch& scratch, const std::string& name, const std::string& content)
{
    const std::string path = scratch.path(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

using Bytes = std::vector<std::uint8_t>;

Bytes read(const std::string& path, CBusResult expected = CBusResult::ok)
{
    Bytes table = {0x55};
    EXPECT_EQ(readCBusFile(path, table), expected) << path;
    return table;
}

}  // namespace

TEST(CBusFile, ShippedFileGivesTheDefaultTable)
{
    ASSERT_EQ(defaultCBusTable().size(), 18u);
    EXPECT_EQ(read(OMBRA_CBUS_FILE), defaultCBusTable());
    EXPECT_EQ(ombra::platform::nativeRelativePath(kDefaultCBusPath), "C_Bus_Table/C_Bus.txt");
}

TEST(CBusFile, LineRules)
{
    Scratch scratch;
    EXPECT_TRUE(read(write(scratch, "empty.txt", "")).empty());
    EXPECT_EQ(read(write(scratch, "lf.txt", "ffa2\n3ffe\nffff")), (Bytes{0xFF, 0xA2, 0x3F, 0xFE, 0xFF, 0xFF}));
    EXPECT_EQ(read(write(scratch, "mixed.txt", "\r\n; chip selects\r\n\r\n  \t0xFFA8\r\nA0bC  rest\r\n-- x\r\n")),
              (Bytes{0xFF, 0xA8, 0xA0, 0xBC}));
    EXPECT_EQ(read(write(scratch, "wide.txt", "12345\n0x\n-1\n")), (Bytes{0x23, 0x45, 0x00, 0x00, 0xFF, 0xFF}))
        << "bits above 15 dropped; a bare 0x reads as 0; a sign as scanf takes it";
    EXPECT_EQ(read(write(scratch, "cr.txt", "1\r\r\n2\r")), (Bytes{0x00, 0x01, 0x00, 0x02}));
    EXPECT_EQ(read(write(scratch, "nul.txt", std::string("7\0" "8\n9", 5))), (Bytes{0x00, 0x07, 0x00, 0x09}));
}

TEST(CBusFile, LongLinesAreReadInPieces)
{
    Scratch scratch;
    // 253 blanks and a word: the piece ends after the 254th character, so
    // "abcd" is split into "a" and "bcd".
    const std::string line = std::string(253, ' ') + "abcd\n";
    EXPECT_EQ(read(write(scratch, "long.txt", line)), (Bytes{0x00, 0x0A, 0x0B, 0xCD}));
    // 253 characters and the line end fit in one piece.
    const std::string fits = std::string(249, ' ') + "beef\r\nff\n";
    EXPECT_EQ(read(write(scratch, "fits.txt", fits)), (Bytes{0xBE, 0xEF, 0x00, 0xFF}));
}

TEST(CBusFile, LargeFilesNeverOverflowTheTable)
{
    Scratch scratch;
    // 40 KB of comment before a short table: a long file is read to its end.
    std::string big(40 * 1024, ';');
    for (std::size_t i = 200; i < big.size(); i += 200)
        big[i] = '\n';
    big += "\nffa2\n3ffe\nffff\n";
    EXPECT_EQ(read(write(scratch, "commented.txt", big)), (Bytes{0xFF, 0xA2, 0x3F, 0xFE, 0xFF, 0xFF}));

    // 32,767 words make 65,534 bytes: the largest table there is.
    std::string most;
    for (int i = 0; i < 32767; ++i)
        most += "1\n";
    const Bytes table = read(write(scratch, "most.txt", most));
    ASSERT_EQ(table.size(), 65534u);
    EXPECT_EQ(table[65532], 0x00);
    EXPECT_EQ(table[65533], 0x01);

    EXPECT_TRUE(read(write(scratch, "toomany.txt", most + "2\n"), CBusResult::tooLarge).empty());
    // 40 KB of one-character words: a 40,960-byte table, which a buffer of
    // twice the length cut to 16 bits (16,384 bytes) could not hold.
    std::string words;
    for (int i = 0; i < 20480; ++i)
        words += "7\n";
    const Bytes packed = read(write(scratch, "words.txt", words));
    ASSERT_EQ(packed.size(), 40960u);
    EXPECT_EQ(packed[40958], 0x00);
    EXPECT_EQ(packed[40959], 0x07);
}

TEST(CBusFile, TextInMemoryPacksAsTheFileDoes)
{
    Scratch scratch;
    // A piece boundary, a CR at the end and a lone CR: the file is read in
    // 4 KiB chunks, the text in one go, and both must agree.
    std::string text = std::string(4095, ' ') + "\r\n1234\r\n" + std::string(253, ' ') + "abcd\n5\r";
    Bytes fromText = {0x55};
    ASSERT_EQ(parseCBusText(text, fromText), CBusResult::ok);
    EXPECT_EQ(fromText, read(write(scratch, "chunks.txt", text)));
    EXPECT_EQ(fromText, (Bytes{0x12, 0x34, 0x00, 0x0A, 0x0B, 0xCD, 0x00, 0x05}));

    std::string most;
    for (int i = 0; i < 32768; ++i)
        most += "1\n";
    Bytes table = {0x55};
    EXPECT_EQ(parseCBusText(most, table), CBusResult::tooLarge);
    EXPECT_TRUE(table.empty());
}

TEST(CBusFile, FilesThatCannotBeRead)
{
    Scratch scratch;
    EXPECT_TRUE(read(scratch.path("missing.txt"), CBusResult::cannotOpen).empty());
    EXPECT_TRUE(read(scratch.path(""), CBusResult::cannotOpen).empty()) << "a folder";
    EXPECT_TRUE(read("", CBusResult::cannotOpen).empty());
}

TEST(CBusFile, TracesEveryLine)
{
    Scratch scratch;
    const std::string log = scratch.path("trace.log");
    const std::string key = "Software\\Tarvik\\Ombra\\Debug\\OmbraCoreTest";
    setDword(HKEY_LOCAL_MACHINE, key, "fTraceEnabled", 1);
    setDword(HKEY_LOCAL_MACHINE, key, "dwTraceType", TRACE_FILE);
    setText(HKEY_LOCAL_MACHINE, key, "sTraceFile", log);
    ASSERT_EQ(TraceOpen("OmbraCoreTest"), 1);

    read(write(scratch, "t.txt", "ffa2\r\nnot a word\r\n"));
    std::ifstream in(log, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    const auto first = s.find(" : ReadString read 'ffa2'\r\n");
    const auto second = s.find(" : ReadString read 'not a word'\r\n");
    const auto end = s.find(" : readCBusTable exited\r\n");
    ASSERT_NE(first, std::string::npos) << s;
    ASSERT_NE(second, std::string::npos) << s;
    ASSERT_NE(end, std::string::npos) << s;
    EXPECT_LT(first, second);
    EXPECT_LT(second, end);
}

TEST(CBusWord, Parse)
{
    std::uint16_t w = 0;
    EXPECT_TRUE(parseCBusWord(" \t0XaB", w));
    EXPECT_EQ(w, 0xAB);
    EXPECT_TRUE(parseCBusWord("fffff", w));
    EXPECT_EQ(w, 0xFFFF);
    EXPECT_TRUE(parseCBusWord("123456789abcdef0", w));
    EXPECT_EQ(w, 0xDEF0);
    EXPECT_FALSE(parseCBusWord("", w));
    EXPECT_FALSE(parseCBusWord("x12", w));
    EXPECT_FALSE(parseCBusWord("- 1", w));
    EXPECT_FALSE(parseCBusWord("#ff", w));
}
