// Pipes and files: whole-count reads, ends of stream, broken pipes, paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ombra/platform/clock.h"
#include "ombra/platform/file.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/thread.h"

namespace fs = std::filesystem;
using namespace ombra::platform;

namespace {

TEST(Pipes, ReadGathersTheWholeCountThenSeesTheEnd) {
    HANDLE r = nullptr, w = nullptr;
    ASSERT_TRUE(CreatePipe(&r, &w, FALSE));
    // Written in three pieces with pauses; read as one.
    HANDLE writer = StartThread(
        [w] {
            for (const char* piece : {"ab", "cde", "f"}) {
                Sleep(10);
                WriteFile(w, piece, static_cast<DWORD>(std::char_traits<char>::length(piece)), nullptr);
            }
            return 0u;
        },
        nullptr);
    char buffer[16] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(r, buffer, 6, &got));
    EXPECT_EQ(std::string(buffer, got), "abcdef");
    WaitForSingleObject(writer, 10000);
    CloseHandle(writer);

    ASSERT_TRUE(WriteFile(w, "xyz", 3, nullptr));
    CloseHandle(w);
    // A short count first, then the broken pipe.
    EXPECT_TRUE(ReadFile(r, buffer, sizeof buffer, &got));
    EXPECT_EQ(std::string(buffer, got), "xyz");
    EXPECT_FALSE(ReadFile(r, buffer, sizeof buffer, &got));
    EXPECT_EQ(GetLastError(), ERROR_OS_BROKEN_PIPE);
    EXPECT_EQ(got, 0u);
    CloseHandle(r);
}

TEST(Pipes, WriterWithoutReaderGetsAnErrorNotASignal) {
    HANDLE r = nullptr, w = nullptr;
    ASSERT_TRUE(CreatePipe(&r, &w, FALSE));
    CloseHandle(r);
    DWORD written = 9;
    EXPECT_FALSE(WriteFile(w, "x", 1, &written));
    EXPECT_EQ(GetLastError(), ERROR_OS_BROKEN_PIPE);
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(GetErrorText(GetLastError()).empty());
    CloseHandle(w);
}

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("ombra-pb-files-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

TEST_F(Files, DispositionsAndShortReadAtTheEnd) {
    const std::string p = path("data.bin");
    EXPECT_EQ(CreateFileA(p.c_str(), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_OS_NOT_FOUND);
    HANDLE f = CreateFileA(p.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteFile(f, "hello", 5, nullptr));
    CloseHandle(f);
    EXPECT_EQ(CreateFileA(p.c_str(), GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_OS_ALREADY_EXISTS);

    f = CreateFileA(p.c_str(), GENERIC_READ, OPEN_EXISTING);
    std::uint64_t size = 0;
    EXPECT_TRUE(GetFileSizeEx(f, &size));
    EXPECT_EQ(size, 5u);
    char buffer[8];
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(f, buffer, sizeof buffer, &got));
    EXPECT_EQ(std::string(buffer, got), "hello");
    EXPECT_TRUE(ReadFile(f, buffer, sizeof buffer, &got));  // end of file: not an error
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(SetFilePosition(f, 3));
    EXPECT_TRUE(ReadFile(f, buffer, 2, &got));
    EXPECT_EQ(std::string(buffer, got), "lo");
    EXPECT_FALSE(WriteFile(f, "x", 1, nullptr));  // opened for reading only
    CloseHandle(f);

    // Create-always truncates an existing file.
    f = CreateFileA(p.c_str(), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    EXPECT_TRUE(GetFileSizeEx(f, &size));
    EXPECT_EQ(size, 0u);
    CloseHandle(f);
    EXPECT_TRUE(DeleteFileA(p.c_str()));
    EXPECT_FALSE(DeleteFileA(p.c_str()));
}

TEST_F(Files, OnlyRegularFilesOpenAndNothingHangs) {
    EXPECT_EQ(CreateFileA(dir_.string().c_str(), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    const std::string fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // No writer exists: a blocking open would hang here forever.
    EXPECT_EQ(CreateFileA(fifo.c_str(), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA("", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(path("x").c_str(), GENERIC_READ, 99), INVALID_HANDLE_VALUE);
}

TEST(Paths, FixedRelativePathsAndFolders) {
    EXPECT_EQ(nativeRelativePath("Drivers\\Common\\Burnix.cfg"), "Drivers/Common/Burnix.cfg");
    EXPECT_EQ(nativeRelativePath("plain.txt"), "plain.txt");
    EXPECT_EQ(folderOfPath("/opt/ombra/Burnix.so"), "/opt/ombra");
    EXPECT_EQ(folderOfPath("/Burnix.so"), "/");
    EXPECT_EQ(folderOfPath("Burnix.so"), "");
    EXPECT_EQ(joinPath("/opt/ombra", "Drivers/x.cfg"), "/opt/ombra/Drivers/x.cfg");
    EXPECT_EQ(joinPath("/opt/ombra/", "x"), "/opt/ombra/x");
    EXPECT_EQ(joinPath("", "x"), "x");
}

}  // namespace
