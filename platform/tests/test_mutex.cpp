// The unique mutex within a process and across processes, including the
// lock file a killed owner leaves behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ombra/platform/unique_mutex.h"
#include "test_process_child.h"

namespace fs = std::filesystem;
using ombra::platform::UniqueMutex;

namespace {

class Mutexes : public ::testing::Test {
protected:
    void SetUp() override {
        runtime_ = fs::temp_directory_path() / ("ombra-pb-mutex-" + std::to_string(::getpid()));
        fs::create_directories(runtime_);
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(runtime_); }
    std::string fileOf(const std::string& name) const { return UniqueMutex::folder() + "/" + name; }
    fs::path runtime_;
};

TEST_F(Mutexes, CreateHoldRelease) {
    const std::string name = "OmbraMUTR1PR2TI3";
    EXPECT_FALSE(UniqueMutex::exists(name));
    {
        UniqueMutex mutex;
        ASSERT_TRUE(mutex.create(name)) << GetErrorText(GetLastError());
        EXPECT_TRUE(mutex.held());
        EXPECT_TRUE(UniqueMutex::exists(name));
        EXPECT_TRUE(fs::exists(fileOf(name)));
        UniqueMutex second;
        EXPECT_FALSE(second.create(name));
        EXPECT_EQ(GetLastError(), ERROR_OS_ALREADY_EXISTS);
        UniqueMutex moved(std::move(mutex));
        EXPECT_TRUE(UniqueMutex::exists(name));
    }
    EXPECT_FALSE(UniqueMutex::exists(name));
    EXPECT_FALSE(fs::exists(fileOf(name)));
}

TEST_F(Mutexes, NamesAreValidated) {
    UniqueMutex mutex;
    for (std::string bad : {std::string(), std::string("a/b"), std::string("a\\b"), std::string(".."),
                            std::string("with space"), std::string(UniqueMutex::kMaxNameLength + 1, 'x')}) {
        EXPECT_FALSE(mutex.create(bad)) << bad;
        EXPECT_EQ(GetLastError(), ERROR_OS_INVALID_PARAMETER);
        EXPECT_FALSE(UniqueMutex::exists(bad));
    }
    EXPECT_TRUE(mutex.create(std::string(UniqueMutex::kMaxNameLength, 'x')));
}

TEST_F(Mutexes, SeenAcrossProcessesAndNotAfterItsOwnerWasKilled) {
    const std::string name = "OmbraMUTR7PR8TI9";
    HANDLE r = nullptr, w = nullptr;
    ASSERT_TRUE(CreatePipe(&r, &w, FALSE));
    HANDLE owner = childproc::start({"hold-mutex", name, std::to_string(HandleToNumber(w))}, {w});
    ASSERT_NE(owner, nullptr);
    CloseHandle(w);
    char reply[4] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(r, reply, 4, &got));
    ASSERT_EQ(std::string(reply, got), "held");
    CloseHandle(r);

    EXPECT_TRUE(UniqueMutex::exists(name));
    HANDLE checker = childproc::start({"mutex-exists", name});
    EXPECT_EQ(childproc::finish(checker), 0u);
    UniqueMutex taken;
    EXPECT_FALSE(taken.create(name));

    ASSERT_TRUE(TerminateProcess(owner, 1));
    ASSERT_EQ(WaitForSingleObject(owner, 10000), WAIT_OBJECT_0);
    // The file stays, but nobody holds it: no live front end.
    EXPECT_TRUE(fs::exists(fileOf(name)));
    EXPECT_FALSE(UniqueMutex::exists(name));
    HANDLE checker2 = childproc::start({"mutex-exists", name});
    EXPECT_EQ(childproc::finish(checker2), 1u);
    // A new owner takes the stale file over.
    UniqueMutex fresh;
    EXPECT_TRUE(fresh.create(name));
    HANDLE checker3 = childproc::start({"mutex-exists", name});
    EXPECT_EQ(childproc::finish(checker3), 0u);
    fresh.release();
    HANDLE checker4 = childproc::start({"mutex-exists", name});
    EXPECT_EQ(childproc::finish(checker4), 1u);
    for (HANDLE h : {owner, checker, checker2, checker3, checker4}) CloseHandle(h);
}

TEST_F(Mutexes, FolderFallsBackToAPrivateTempFolder) {
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", runtime_.c_str(), 1);
    EXPECT_EQ(UniqueMutex::folder(), runtime_.string() + "/ombra-" + std::to_string(::getuid()));
    UniqueMutex mutex;
    EXPECT_TRUE(mutex.create("x"));
    EXPECT_EQ(fs::status(UniqueMutex::folder()).permissions() & fs::perms::all, fs::perms::owner_all);
    ::unsetenv("TMPDIR");
}

}  // namespace
