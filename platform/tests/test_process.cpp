// Processes, inheritance by number and pipes across a process boundary.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "ombra/platform/clock.h"
#include "ombra/platform/event.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/process.h"
#include "test_process_child.h"

namespace {

std::string num(HANDLE h) { return std::to_string(HandleToNumber(h)); }

std::string readAll(HANDLE pipe) {
    std::string text;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got) && got > 0) text.append(buffer, got);
    return text;
}

TEST(Process, ChildWakesOnEventSetByParent) {
    HANDLE event = CreateEvent(TRUE, FALSE);
    HANDLE shared = nullptr;
    ASSERT_TRUE(DuplicateHandle(event, &shared, TRUE));
    HANDLE child = childproc::start({"wait-event", num(shared), "20000"}, {shared});
    ASSERT_NE(child, nullptr) << GetErrorText(GetLastError());
    CloseHandle(shared);
    Sleep(100);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(child, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    SetEvent(event);
    EXPECT_EQ(childproc::finish(child), 0u);
    // The same wait in a child times out while the event stays reset.
    ResetEvent(event);
    ASSERT_TRUE(DuplicateHandle(event, &shared, TRUE));
    HANDLE idle = childproc::start({"wait-event", num(shared), "50"}, {shared});
    EXPECT_EQ(childproc::finish(idle), 1u);
    for (HANDLE h : {child, idle, shared, event}) CloseHandle(h);
}

TEST(Process, ChildGetsExactlyTheListedDescriptors) {
    HANDLE report = nullptr, reportWrite = nullptr;
    ASSERT_TRUE(CreatePipe(&report, &reportWrite, FALSE));
    // Inheritable but not listed, and private: neither may reach the child.
    HANDLE strayRead = nullptr, strayWrite = nullptr, privateEvent = CreateEvent(TRUE, FALSE);
    ASSERT_TRUE(CreatePipe(&strayRead, &strayWrite, TRUE));
    HANDLE listedEvent = CreateEvent(TRUE, FALSE);

    const std::set<DWORD> expected{0, 1, 2, HandleToNumber(reportWrite), HandleToNumber(listedEvent)};
    HANDLE child = childproc::start({"list-fds", num(reportWrite)}, {reportWrite, listedEvent});
    ASSERT_NE(child, nullptr);
    CloseHandle(reportWrite);  // the child's copy is now the only writer
    std::istringstream fds(readAll(report));
    std::set<DWORD> seen;
    for (DWORD fd; fds >> fd;) seen.insert(fd);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(childproc::finish(child), 0u);
    for (HANDLE h : {child, report, strayRead, strayWrite, privateEvent, listedEvent}) CloseHandle(h);
}

TEST(Process, DeadChildIsEndOfFileOnItsPipe) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, FALSE));
    HANDLE child = childproc::start({"exit", "0"}, {writeEnd});
    ASSERT_NE(child, nullptr);
    CloseHandle(writeEnd);
    char byte;
    DWORD got = 7;
    EXPECT_FALSE(ReadFile(readEnd, &byte, 1, &got));
    EXPECT_EQ(GetLastError(), ERROR_OS_BROKEN_PIPE);
    EXPECT_EQ(got, 0u);
    CloseHandle(child);
    CloseHandle(readEnd);
}

TEST(Process, ExitCodesAndTermination) {
    HANDLE seven = childproc::start({"exit", "7"});
    HANDLE minusOne = childproc::start({"exit", "-1"});
    EXPECT_EQ(childproc::finish(seven), 7u);
    EXPECT_EQ(childproc::finish(minusOne), ExitCodeOf(-1));
    EXPECT_EQ(ExitCodeOf(-1), 255u);

    HANDLE sleeper = childproc::start({"sleep"});
    ASSERT_NE(sleeper, nullptr);
    EXPECT_GT(GetProcessId(sleeper), 0u);
    EXPECT_EQ(WaitForSingleObject(sleeper, 50), WAIT_TIMEOUT);
    EXPECT_TRUE(TerminateProcess(sleeper, 5));
    EXPECT_EQ(childproc::finish(sleeper), 5u);
    // Terminating what has ended fails and keeps the code.
    EXPECT_FALSE(TerminateProcess(sleeper, 6));
    DWORD code = 1;
    EXPECT_TRUE(GetExitCodeProcess(sleeper, &code));
    EXPECT_EQ(code, 5u);
    for (HANDLE h : {seven, minusOne, sleeper}) CloseHandle(h);
}

TEST(Process, WaitAnyOverEventTimerAndProcess) {
    HANDLE event = CreateEvent(TRUE, FALSE);
    HANDLE timer = CreateWaitableTimer(TRUE);
    ASSERT_TRUE(SetWaitableTimer(timer, 60000));
    HANDLE child = childproc::start({"exit", "3"});
    ASSERT_NE(child, nullptr);
    HANDLE all[] = {event, timer, child};
    EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 10000), WAIT_OBJECT_0 + 2);
    // Lowest index wins when several are signaled.
    SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0);
    ResetEvent(event);
    ASSERT_TRUE(SetWaitableTimer(timer, 20));
    HANDLE firstTwo[] = {event, timer};
    EXPECT_EQ(WaitForMultipleObjects(2, firstTwo, FALSE, 10000), WAIT_OBJECT_0 + 1);
    for (HANDLE h : {event, timer, child}) CloseHandle(h);
}

TEST(Process, StartFailures) {
    std::vector<std::string> none;
    EXPECT_EQ(CreateProcess("/nonexistent/program", none, {}), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_OS_NOT_FOUND);
    HANDLE closed = CreateEvent(TRUE, FALSE);
    CloseHandle(closed);
    HANDLE list[] = {closed};
    EXPECT_EQ(CreateProcess(GetProgramPath(), none, list), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_OS_INVALID_HANDLE);
    EXPECT_FALSE(GetProgramPath().empty());
}

}  // namespace
