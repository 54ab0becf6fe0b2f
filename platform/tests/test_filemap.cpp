// File mappings: exact sizes, reservation failures, views and their limits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "ombra/platform/file.h"
#include "ombra/platform/filemap.h"

namespace fs = std::filesystem;
using ombra::platform::MappedView;

namespace {

class Mappings : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("ombra-pb-map-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

TEST_F(Mappings, ReadOnlyViewOfAWholeFile) {
    const std::string p = path("image.bin");
    std::string content(5000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    std::ofstream(p, std::ios::binary) << content;

    MappedView view = MappedView::openReadOnly(p.c_str());
    ASSERT_TRUE(view.valid()) << GetErrorText(GetLastError());
    ASSERT_EQ(view.size(), content.size());
    EXPECT_EQ(std::memcmp(view.data(), content.data(), content.size()), 0);

    // Step by step: the mapping outlives the file handle; no writing view.
    HANDLE file = CreateFileA(p.c_str(), GENERIC_READ, OPEN_EXISTING);
    HANDLE mapping = CreateFileMappingA(file, PAGE_READONLY, 0);
    ASSERT_NE(mapping, nullptr);
    CloseHandle(file);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0), nullptr);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 1, 0), nullptr);  // unaligned
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 5001), nullptr);
    void* raw = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0);
    ASSERT_NE(raw, nullptr);
    CloseHandle(mapping);
    EXPECT_EQ(static_cast<const char*>(raw)[4999], content[4999]);
    EXPECT_TRUE(UnmapViewOfFile(raw));
    EXPECT_FALSE(UnmapViewOfFile(raw));

    // A read-only mapping cannot grow a file, and an empty one maps nothing.
    file = CreateFileA(p.c_str(), GENERIC_READ, OPEN_EXISTING);
    EXPECT_EQ(CreateFileMappingA(file, PAGE_READONLY, 5001), nullptr);
    EXPECT_EQ(CreateFileMappingA(file, PAGE_READWRITE, 0), nullptr);  // opened read-only
    CloseHandle(file);
    std::ofstream(path("empty.bin"));
    EXPECT_FALSE(MappedView::openReadOnly(path("empty.bin").c_str()).valid());
    EXPECT_FALSE(MappedView::openReadOnly(path("missing.bin").c_str()).valid());
    EXPECT_EQ(GetLastError(), ERROR_OS_NOT_FOUND);
}

TEST_F(Mappings, WritableMappingOfAnExactSize) {
    const std::string p = path("dump.bin");
    const std::size_t size = 12345;  // not a page multiple
    {
        MappedView view = MappedView::createWritable(p.c_str(), size);
        ASSERT_TRUE(view.valid()) << GetErrorText(GetLastError());
        EXPECT_EQ(fs::file_size(p), size);
        for (std::size_t i = 0; i < size; ++i) view.data()[i] = static_cast<std::uint8_t>(i);
        EXPECT_TRUE(view.flush());
        EXPECT_TRUE(FlushViewOfFile(view.data() + 5000, 10));
    }
    std::ifstream in(p, std::ios::binary);
    std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(back.size(), size);
    EXPECT_EQ(static_cast<std::uint8_t>(back[size - 1]), static_cast<std::uint8_t>(size - 1));
    // Mapping a smaller size keeps the file as it is.
    HANDLE file = CreateFileA(p.c_str(), GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    HANDLE mapping = CreateFileMappingA(file, PAGE_READWRITE, 100);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(fs::file_size(p), size);
    CloseHandle(mapping);
    CloseHandle(file);
}

TEST_F(Mappings, ImpossibleReservationFailsCleanly) {
    const std::string p = path("huge.bin");
    HANDLE file = CreateFileA(p.c_str(), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    // Beyond the largest file the file system allows: refused up front, so
    // the test never fills a real disk.
    const std::uint64_t absurd = static_cast<std::uint64_t>(INT64_MAX);
    EXPECT_EQ(CreateFileMappingA(file, PAGE_READWRITE, absurd), nullptr);
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_FALSE(GetErrorText(GetLastError()).empty());
    std::uint64_t size = 1;
    EXPECT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(size, 0u);  // not left half grown
    EXPECT_EQ(CreateFileMappingA(file, PAGE_READWRITE, ~std::uint64_t{0}), nullptr);
    CloseHandle(file);
    EXPECT_FALSE(MappedView::createWritable(p.c_str(), absurd).valid());
    EXPECT_FALSE(MappedView::createWritable(p.c_str(), 0).valid());
}

}  // namespace
