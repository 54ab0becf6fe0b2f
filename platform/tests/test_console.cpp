// The console's interrupt as an event, and children kept out of its reach.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "ombra/platform/console.h"
#include "ombra/platform/event.h"
#include "ombra/platform/process.h"

namespace {

// Exit 0 when the shell leads a process group of its own (its group number
// is its process number), 1 when it shares its parent's.
DWORD childLeadsItsOwnGroup() {
    const std::vector<std::string> args = {"-c", "[ \"$(cut -d' ' -f5 /proc/$$/stat)\" = \"$$\" ]"};
    HANDLE child = CreateProcess("/bin/sh", args, {});
    if (child == nullptr) return 99;
    WaitForSingleObject(child, INFINITE);
    DWORD code = 99;
    GetExitCodeProcess(child, &code);
    CloseHandle(child);
    return code;
}

}  // namespace

// One test: taking the interrupt changes the whole process for good.
TEST(Console, InterruptSetsTheEventAndChildrenLeaveTheConsoleGroup) {
    ASSERT_EQ(childLeadsItsOwnGroup(), 1u);

    HANDLE interrupt = ombra::platform::catchConsoleInterrupt();
    ASSERT_NE(interrupt, nullptr);
    HANDLE second = ombra::platform::catchConsoleInterrupt();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, interrupt);
    EXPECT_EQ(WaitForSingleObject(interrupt, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // Each stop signal sets the event and the process lives on.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        ASSERT_EQ(std::raise(sig), 0);
        EXPECT_EQ(WaitForSingleObject(interrupt, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_OBJECT_0));
        ResetEvent(interrupt);
        EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    // Closing one handle leaves the others working.
    CloseHandle(second);
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_EQ(WaitForSingleObject(interrupt, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(interrupt);

    EXPECT_EQ(childLeadsItsOwnGroup(), 0u);
}

TEST(Console, ColumnsFallBackWithoutATerminal) {
    // Under the test runner standard output is a file or a pipe.
    if (ombra::platform::standardOutputIsTerminal()) GTEST_SKIP() << "output is a terminal";
    EXPECT_EQ(ombra::platform::terminalColumns(77), 77);
}
