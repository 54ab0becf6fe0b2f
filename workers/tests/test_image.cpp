// The image readers over tables of good and malformed files: every record's
// checksum, the addresses, the gaps, and an error that names line and cause.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ombra/image/image.h"
#include "ombra/testsupport/hex_record.h"
#include "ombra/platform/process.h"

using namespace ombra::image;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes toBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Records as the published examples of both formats give them (checksums
// not made by the code under test).
const char kHexExample[] =
    ":10010000214601360121470136007EFE09D2190140\n"
    ":100110002146017E17C20001FF5F16002148011928\n"
    ":00000001FF\n";
const char kSrecExample[] =
    "S00F000068656C6C6F202020202000003C\n"
    "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026\n"
    "S11F001C4BFFFFE5398000007D83637880010014382100107C0803A64E800020E9\n"
    "S111003848656C6C6F20776F726C642E0A0042\n"
    "S5030003F9\n"
    "S9030000FC\n";

// One Intel HEX record with its checksum.
using ombra::testsupport::hexRecord;

// One S-record with its checksum; `addressBytes` from the type.
std::string srec(unsigned type, unsigned long address, const Bytes& data) {
    static const unsigned kAddressBytes[10] = {2, 2, 3, 4, 2, 2, 3, 4, 3, 2};
    const unsigned n = kAddressBytes[type];
    std::string r = "S" + std::to_string(type);
    char b[8];
    unsigned sum = 0;
    auto put = [&](unsigned v) {
        std::snprintf(b, sizeof b, "%02X", v & 0xFF);
        r += b;
        sum += v & 0xFF;
    };
    put(static_cast<unsigned>(n + data.size() + 1));
    for (unsigned i = n; i-- > 0;) put(static_cast<unsigned>(address >> (8 * i)));
    for (auto d : data) put(d);
    put(~sum);
    return r + "\n";
}

const std::string kHexEnd = ":00000001FF\n";
const std::string kSrecEnd = "S9030000FC\n";

Image parsed(const std::string& text, std::optional<Format> format = std::nullopt) {
    Image image;
    ImageError error;
    EXPECT_TRUE(parseImage(toBytes(text), format, image, error)) << error.line << ": " << error.cause << "\n" << text;
    return image;
}

}  // namespace

TEST(ImageFormat, DetectedByTheFirstLine) {
    EXPECT_EQ(detectFormat(toBytes(kHexExample)), Format::intelHex);
    EXPECT_EQ(detectFormat(toBytes(kSrecExample)), Format::sRecord);
    EXPECT_EQ(detectFormat(toBytes("  :00000001FF\r\n")), Format::intelHex);
    for (const std::string& raw :
         {std::string("\x7F" "ELF\x02\x01", 6), std::string(":\x00\x10\x20\n", 5), std::string(":"),
          std::string("Sx030000FC\n"), std::string("hello\n"), std::string(1100, ':'), std::string()})
        EXPECT_EQ(detectFormat(toBytes(raw)), Format::raw) << raw;
    // A first line of text that looks like a record is one, even a bad one.
    EXPECT_EQ(detectFormat(toBytes(":binary:\n")), Format::intelHex);
    EXPECT_EQ(detectFormat(toBytes("S9 hello\n")), Format::sRecord);
    // A corrupt record further down does not make a text file raw.
    EXPECT_EQ(detectFormat(toBytes(":00000001FF\n\x01\x02\x03")), Format::intelHex);

    std::optional<Format> f;
    EXPECT_TRUE(parseFormatName("ihex", f));
    EXPECT_EQ(f, Format::intelHex);
    EXPECT_TRUE(parseFormatName("auto", f));
    EXPECT_FALSE(f.has_value());
    EXPECT_FALSE(parseFormatName("hex", f));
}

TEST(ImageFormat, RawIsTheFileAsItIs) {
    const Bytes content = {0x00, 0xFF, 0x3A, 0x10};
    Image image;
    ImageError error;
    ASSERT_TRUE(parseImage(content, std::nullopt, image, error));
    EXPECT_EQ(image.format, Format::raw);
    EXPECT_EQ(image.start, 0u);
    EXPECT_EQ(image.bytes, content);
    // A HEX file burned as it is when asked for.
    ASSERT_TRUE(parseImage(toBytes(kHexEnd), Format::raw, image, error));
    EXPECT_EQ(image.bytes, toBytes(kHexEnd));
    EXPECT_FALSE(parseImage({}, std::nullopt, image, error));
    EXPECT_EQ(error.cause, "the file is empty");
}

TEST(IntelHex, PublishedExampleStartsAtItsLowestAddress) {
    const Image image = parsed(kHexExample);
    EXPECT_EQ(image.format, Format::intelHex);
    EXPECT_EQ(image.start, 0x100u);
    EXPECT_EQ(image.dataRecords, 2u);
    ASSERT_EQ(image.bytes.size(), 32u);
    EXPECT_EQ(image.bytes[0], 0x21);
    EXPECT_EQ(image.bytes[15], 0x01);
    EXPECT_EQ(image.bytes[16], 0x21);
    EXPECT_EQ(image.bytes[31], 0x19);
}

TEST(IntelHex, GoodFiles) {
    struct Case {
        const char* name;
        std::string text;
        std::uint32_t start;
        Bytes bytes;
    };
    const Case cases[] = {
        {"gap filled as erased", hexRecord(0, 0x10, {1, 2}) + hexRecord(0, 0x14, {3}) + kHexEnd, 0x10, {1, 2, 0xFF, 0xFF, 3}},
        {"records out of order", hexRecord(0, 0x22, {9}) + hexRecord(0, 0x20, {7, 8}) + kHexEnd, 0x20, {7, 8, 9}},
        {"extended linear address", hexRecord(4, 0, {0x00, 0x04}) + hexRecord(0, 0xFFFF, {5, 6}) + kHexEnd, 0x4FFFF, {5, 6}},
        {"linear data runs across 64 KiB", hexRecord(4, 0, {0x00, 0x01}) + hexRecord(0, 0xFFFF, {1, 2}) + kHexEnd, 0x1FFFF,
         {1, 2}},
        {"extended segment address", hexRecord(2, 0, {0x10, 0x00}) + hexRecord(0, 0x0002, {4}) + kHexEnd, 0x10002, {4}},
        {"start addresses passed over",
         hexRecord(3, 0, {0, 0, 1, 0}) + hexRecord(5, 0, {0, 0, 1, 0}) + hexRecord(0, 0, {0xAA}) + kHexEnd, 0, {0xAA}},
        {"lower case, CR LF, blank lines, DOS end mark", ":0100000055aa\r\n\r\n:00000001ff\r\n\r\n\x1A", 0, {0x55}},
        {"empty data record counts as none", hexRecord(0, 0x40, {}) + hexRecord(0, 0x41, {1}) + kHexEnd, 0x41, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Image image = parsed(c.text);
        EXPECT_EQ(image.start, c.start);
        EXPECT_EQ(image.bytes, c.bytes);
    }
    // Segment wrap: the byte past 0xFFFF lands at the segment's base.
    const Image wrap = parsed(hexRecord(2, 0, {0x00, 0x01}) + hexRecord(0, 0xFFFF, {1, 2}) + kHexEnd);
    EXPECT_EQ(wrap.start, 0x10u);
    EXPECT_EQ(wrap.bytes.size(), 0x10000u);
    EXPECT_EQ(wrap.bytes.front(), 2);
    EXPECT_EQ(wrap.bytes.back(), 1);
}

TEST(IntelHex, MalformedRecordsNameLineAndCause) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t line;
        const char* cause;  // the cause begins with this
    };
    const std::string good = hexRecord(0, 0, {1, 2, 3});
    const Case cases[] = {
        {"checksum", good + ":0300030001020300\n" + kHexEnd, 2, "checksum is 00, the record's bytes need F4"},
        {"count larger than the data", good + ":04000000010203F1\n" + kHexEnd, 2,
         "byte count says 4 data bytes, the record holds 3"},
        {"count smaller than the data", ":02000000010203F7\n" + kHexEnd, 1,
         "byte count says 2 data bytes, the record holds 3"},
        {"not a hex digit", good + ":0100000G01FE\n" + kHexEnd, 2, "'G' is not a hexadecimal digit"},
        {"binary byte", good + std::string(":01\x00", 4) + "\n" + kHexEnd, 2, "byte 0x00 is not a hexadecimal digit"},
        {"odd digit count", ":010000000FF\n" + kHexEnd, 1, "odd number of hexadecimal digits"},
        {"too short", ":0000\n" + kHexEnd, 1, "record too short"},
        {"line without colon", good + "0100000001FE\n" + kHexEnd, 2, "a record starts with ':', not '0'"},
        {"unknown type", good + hexRecord(6, 0, {}) + kHexEnd, 2, "unknown record type 06"},
        {"end record with data", good + hexRecord(1, 0, {1}), 2, "end-of-file record with data"},
        {"record after the end", good + kHexEnd + good, 3, "record after the end-of-file record"},
        {"cut short mid-record", good + ":030000", 2, "record too short"},
        {"cut short before the end", good, 0, "no end-of-file record: the file is incomplete"},
        {"linear address of one byte", hexRecord(4, 0, {1}) + good + kHexEnd, 1,
         "extended linear address record needs 2 data bytes"},
        {"segment address of three bytes", hexRecord(2, 0, {1, 2, 3}) + kHexEnd, 1,
         "extended segment address record needs 2 data bytes"},
        {"start address of two bytes", hexRecord(5, 0, {1, 2}) + kHexEnd, 1, "start address record needs 4 data bytes"},
        {"overlapping records", good + hexRecord(0, 2, {9}) + kHexEnd, 2, "address 0x00000002 is already written"},
        {"span beyond any flash", good + hexRecord(4, 0, {0x01, 0x00}) + hexRecord(0, 0, {1}) + kHexEnd, 3,
         "address 0x01000000 makes the image span more than 16 MiB"},
        {"span below the first record", hexRecord(4, 0, {0x10, 0x00}) + good + hexRecord(4, 0, {0, 0}) + good + kHexEnd, 4,
         "address 0x00000000 makes the image span"},
        {"data past 4 GiB", hexRecord(4, 0, {0xFF, 0xFF}) + hexRecord(0, 0xFFFF, {1, 2}) + kHexEnd, 2,
         "data runs past the 4 GiB address space"},
        {"no data at all", kHexEnd, 0, "no data records"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image image;
        ImageError error;
        EXPECT_FALSE(parseImage(toBytes(c.text), std::nullopt, image, error)) << c.text;
        EXPECT_EQ(error.line, c.line) << error.cause;
        EXPECT_EQ(error.cause.rfind(c.cause, 0), 0u) << error.cause;
    }
}

TEST(SRecord, PublishedExample) {
    const Image image = parsed(kSrecExample);
    EXPECT_EQ(image.format, Format::sRecord);
    EXPECT_EQ(image.start, 0u);
    EXPECT_EQ(image.dataRecords, 3u);
    ASSERT_EQ(image.bytes.size(), 0x38u + 14u);
    EXPECT_EQ(image.bytes[0], 0x7C);
    EXPECT_EQ(std::string(image.bytes.begin() + 0x38, image.bytes.begin() + 0x38 + 12), "Hello world.");
}

TEST(SRecord, GoodFiles) {
    struct Case {
        const char* name;
        std::string text;
        std::uint32_t start;
        Bytes bytes;
    };
    const Case cases[] = {
        {"24-bit addresses and S8", srec(2, 0x012345, {1, 2}) + srec(8, 0, {}), 0x012345, {1, 2}},
        {"32-bit addresses and S7", srec(3, 0x00400010, {7}) + srec(3, 0x00400012, {8}) + srec(7, 0, {}), 0x00400010,
         {7, 0xFF, 8}},
        {"mixed address sizes, out of order", srec(3, 0x20, {2}) + srec(1, 0x1F, {1}) + kSrecEnd, 0x1F, {1, 2}},
        {"24-bit record count", srec(1, 0, {1}) + srec(1, 1, {2}) + srec(6, 2, {}) + kSrecEnd, 0, {1, 2}},
        {"header only names the file", srec(0, 0, toBytes("name")) + srec(1, 5, {3}) + kSrecEnd, 5, {3}},
        {"CR LF and lower case", "S1040000aa51\r\nS9030000fc\r\n", 0, {0xAA}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Image image = parsed(c.text);
        EXPECT_EQ(image.start, c.start);
        EXPECT_EQ(image.bytes, c.bytes);
    }
}

TEST(SRecord, MalformedRecordsNameLineAndCause) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t line;
        const char* cause;
    };
    const std::string good = srec(1, 0, {1, 2, 3});
    const Case cases[] = {
        {"checksum", good + "S1060003010203F1\n" + kSrecEnd, 2, "checksum is F1, the record's bytes need F0"},
        {"count", "S107000001020300\n" + kSrecEnd, 1, "byte count says 7 bytes, the record holds 6"},
        {"reserved S4", good + "S4030000FC\n" + kSrecEnd, 2, "record type S4 is reserved"},
        {"letter for a type", good + "SX030000FC\n" + kSrecEnd, 2, "unknown record type 'X'"},
        {"type missing", good + "S\n" + kSrecEnd, 2, "unknown record type (none)"},
        {"line without S", good + "X1030000FC\n" + kSrecEnd, 2, "a record starts with 'S', not 'X'"},
        {"not a hex digit", "S1040000ZZ00\n" + kSrecEnd, 1, "'Z' is not a hexadecimal digit"},
        {"count too small for the address", "S20300FC00\n" + kSrecEnd, 1,
         "byte count 3 leaves no room for the S2 record's 3-byte address"},
        {"record count differs", good + srec(5, 2, {}) + kSrecEnd, 2,
         "record count says 2, the file has 1 data records before it"},
        {"record count with data", good + srec(5, 1, {1}) + kSrecEnd, 2, "record count record with data"},
        {"termination with data", good + srec(9, 0, {1}), 2, "termination record with data"},
        {"record after the end", good + kSrecEnd + good, 3, "record after the termination record"},
        {"no termination", good + good, 0, "no termination record (S7, S8 or S9): the file is incomplete"},
        {"past the 16-bit space", srec(1, 0xFFFF, {1, 2}) + kSrecEnd, 1, "data runs past the record's address space"},
        {"overlap", good + srec(3, 1, {9}) + kSrecEnd, 2, "address 0x00000001 is already written"},
        {"span", good + srec(3, 0x01000000, {1}) + kSrecEnd, 2, "address 0x01000000 makes the image span"},
        {"header only", srec(0, 0, toBytes("x")) + kSrecEnd, 0, "no data records"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image image;
        ImageError error;
        EXPECT_FALSE(parseImage(toBytes(c.text), std::nullopt, image, error)) << c.text;
        EXPECT_EQ(error.line, c.line) << error.cause;
        EXPECT_EQ(error.cause.rfind(c.cause, 0), 0u) << error.cause;
    }
}

TEST(ImageFile, LoadsChecksAndDescribesTheFile) {
    const auto dir = std::filesystem::temp_directory_path() / ("ombra-image-test-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "fw.hex").string();
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string text = hexRecord(0, 0x10, {1, 2}) + ":0100000000FE\n" + kHexEnd;  // line 2: bad sum
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    Image image;
    Bytes fileBytes;
    ImageError error;
    ASSERT_FALSE(loadImage(path, std::nullopt, image, fileBytes, error));
    EXPECT_EQ(describe(path, error), path + ":2: checksum is FE, the record's bytes need FF");
    ASSERT_FALSE(loadImage((dir / "missing.hex").string(), std::nullopt, image, fileBytes, error));
    EXPECT_EQ(error.line, 0u);
    EXPECT_EQ(describe("missing.hex", error).rfind("missing.hex: cannot open: ", 0), 0u) << error.cause;
    // A folder is no image.
    EXPECT_FALSE(loadImage(dir.string(), std::nullopt, image, fileBytes, error));

    // The raw copy a burn gets: exactly the image's bytes.
    std::string why;
    const Bytes bytes = {0xFF, 0x00, 0x5A};
    const std::string copy = writeTemporaryImage(bytes, why);
    ASSERT_FALSE(copy.empty()) << why;
    ASSERT_TRUE(loadImage(copy, Format::raw, image, fileBytes, error)) << error.cause;
    EXPECT_EQ(image.bytes, bytes);
    EXPECT_EQ(fileBytes, bytes);
    const std::string another = writeTemporaryImage(bytes, why);
    EXPECT_NE(another, copy);  // a name of its own each time
    removeFile(copy);
    removeFile(another);
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_FALSE(std::filesystem::exists(another));
    std::filesystem::remove_all(dir);
}

TEST(ImageFile, Sha256) {
    EXPECT_EQ(sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex(toBytes("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
