// Events, timers, threads, waits and handle numbers within one process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <memory>

#include "ombra/platform/clock.h"
#include "ombra/platform/event.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/thread.h"

namespace {

TEST(Events, ManualResetStaysSignaledAndResetNeverBlocks) {
    HANDLE event = CreateEvent(TRUE, FALSE);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    // Resetting a reset event must return at once, twice over.
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(SetEvent(event));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_TIMEOUT);
    CloseHandle(event);

    HANDLE initiallySet = CreateEvent(TRUE, TRUE);
    EXPECT_EQ(WaitForSingleObject(initiallySet, 0), WAIT_OBJECT_0);
    CloseHandle(initiallySet);
}

TEST(Events, AutoResetReleasesOneWaitPerSet) {
    HANDLE event = CreateEvent(FALSE, FALSE);
    SetEvent(event);
    SetEvent(event);  // setting a set event changes nothing
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    // In a wait-any only the reported one is consumed.
    HANDLE other = CreateEvent(FALSE, TRUE);
    SetEvent(event);
    HANDLE both[] = {event, other};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    CloseHandle(event);
    CloseHandle(other);
}

TEST(Waits, BadHandlesAndArguments) {
    HANDLE event = CreateEvent(TRUE, FALSE);
    HANDLE closed = CreateEvent(TRUE, TRUE);
    ASSERT_TRUE(CloseHandle(closed));
    EXPECT_FALSE(CloseHandle(closed));
    EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_OS_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(closed));
    // An unset cancel handle never signals: the wait just times out.
    EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 20), WAIT_TIMEOUT);
    HANDLE pair[] = {INVALID_HANDLE_VALUE, event};
    SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, pair, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(0, pair, FALSE, 0), WAIT_FAILED);
    HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
    for (HANDLE& h : many) h = event;
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, many, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many, FALSE, 0), WAIT_OBJECT_0);
    // A handle of the wrong kind is refused, not misused.
    HANDLE r = nullptr, w = nullptr;
    ASSERT_TRUE(CreatePipe(&r, &w, FALSE));
    EXPECT_FALSE(SetEvent(r));
    EXPECT_FALSE(ReadFile(event, pair, 1, nullptr));
    for (HANDLE h : {event, r, w}) CloseHandle(h);
}

TEST(Waits, TimeoutWaitsAtLeastItsTime) {
    HANDLE event = CreateEvent(TRUE, FALSE);
    std::uint64_t start = GetTickCount64();
    EXPECT_EQ(WaitForSingleObject(event, 60), WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount64() - start, 60u);
    CloseHandle(event);
    // The 32-bit count is the 64-bit one cut short (read between two of them).
    const DWORD before = GetTickCount();
    const DWORD cut = static_cast<DWORD>(GetTickCount64());
    const DWORD after = GetTickCount();
    EXPECT_LE(cut - before, after - before);
}

TEST(Timers, ManualStaysAutoIsConsumed) {
    HANDLE manual = CreateWaitableTimer(TRUE);
    HANDLE automatic = CreateWaitableTimer(FALSE);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);  // never armed
    ASSERT_TRUE(SetWaitableTimer(manual, 0));
    // Due far later than the next line runs, even on a loaded machine.
    ASSERT_TRUE(SetWaitableTimer(automatic, 1000));
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(automatic, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    // Re-arming clears the earlier signal.
    ASSERT_TRUE(SetWaitableTimer(manual, 60000));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST(Threads, ExitCodeAndWait) {
    HANDLE go = CreateEvent(TRUE, FALSE);
    DWORD id = 0;
    HANDLE thread = StartThread([go] { return WaitForSingleObject(go, 10000) == WAIT_OBJECT_0 ? 42u : 1u; }, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    // A finished thread stays signaled for every later wait.
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
    CloseHandle(thread);
    CloseHandle(go);
}

DWORD plainRoutine(void* argument) { return *static_cast<DWORD*>(argument) + 1; }

TEST(Threads, ClosingARunningThreadLetsItFinish) {
    DWORD value = 6;
    HANDLE plain = CreateThread(plainRoutine, &value, nullptr);
    ASSERT_EQ(WaitForSingleObject(plain, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(plain, &code);
    EXPECT_EQ(code, 7u);
    CloseHandle(plain);

    auto finished = std::make_shared<std::atomic<bool>>(false);
    HANDLE go = CreateEvent(TRUE, FALSE);
    HANDLE done = CreateEvent(TRUE, FALSE);
    HANDLE thread = StartThread(
        [finished, go, done] {
            WaitForSingleObject(go, 10000);
            finished->store(true);
            SetEvent(done);
            return 0u;
        },
        nullptr);
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(thread, &copy, FALSE));
    ASSERT_TRUE(CloseHandle(thread));
    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(copy, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(finished->load());
    CloseHandle(copy);
    CloseHandle(go);
    CloseHandle(done);
}

TEST(Numbers, DuplicatesAndAdoption) {
    HANDLE event = CreateEvent(TRUE, FALSE);
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(event, &copy, FALSE));
    EXPECT_NE(HandleToNumber(copy), HandleToNumber(event));
    SetEvent(copy);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    // A number already owned here must not get a second owner.
    EXPECT_EQ(HandleFromNumber(HandleToNumber(event), HandleKind::Event), nullptr);
    EXPECT_EQ(HandleFromNumber(0, HandleKind::Pipe), nullptr);
    EXPECT_EQ(HandleFromNumber(987654, HandleKind::Event), nullptr);
    EXPECT_EQ(HandleFromNumber(0xFFFFFFFFu, HandleKind::Event), nullptr);
    EXPECT_EQ(HandleToNumber(INVALID_HANDLE_VALUE), 0xFFFFFFFFu);
    // A bare inherited number is taken only as what it really is.
    HANDLE r = nullptr, w = nullptr;
    ASSERT_TRUE(CreatePipe(&r, &w, FALSE));
    const DWORD rawPipe = static_cast<DWORD>(::dup(static_cast<int>(HandleToNumber(r))));
    const DWORD rawEvent = static_cast<DWORD>(::dup(static_cast<int>(HandleToNumber(event))));
    EXPECT_EQ(HandleFromNumber(rawPipe, HandleKind::Event), nullptr);
    EXPECT_EQ(HandleFromNumber(rawEvent, HandleKind::Pipe), nullptr);
    EXPECT_EQ(HandleFromNumber(rawPipe, HandleKind::File), nullptr);
    HANDLE adoptedPipe = HandleFromNumber(rawPipe, HandleKind::Pipe);
    HANDLE adoptedEvent = HandleFromNumber(rawEvent, HandleKind::Event);
    ASSERT_NE(adoptedPipe, nullptr);
    ASSERT_NE(adoptedEvent, nullptr);
    EXPECT_EQ(WaitForSingleObject(adoptedEvent, 0), WAIT_OBJECT_0);
    ResetEvent(adoptedEvent);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    char byte = 'x';
    DWORD got = 0;
    ASSERT_TRUE(WriteFile(w, &byte, 1, nullptr));
    EXPECT_TRUE(ReadFile(adoptedPipe, &byte, 1, &got));
    EXPECT_EQ(got, 1u);
    for (HANDLE h : {adoptedPipe, adoptedEvent, r, w, copy, event}) CloseHandle(h);
}

}  // namespace
