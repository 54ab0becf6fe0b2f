// Threads as handles. The state is shared by the running thread and every
// handle to it, so closing a handle never pulls anything from under a thread
// that goes on running.
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "handle_object.h"
#include "ombra/platform/thread.h"

namespace ombra::platform::detail {
namespace {

HANDLE const kCurrentThreadPseudo = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

struct ThreadState {
    explicit ThreadState(int fd) : doneFd(fd) {}
    ~ThreadState() { ::close(doneFd); }
    int doneFd;  // eventfd, written once when the body has returned
    std::atomic<DWORD> exitCode{STILL_ACTIVE};
    std::mutex lock;
    pid_t tid = 0;
    bool priorityPending = false;
    int priority = THREAD_PRIORITY_NORMAL;
    std::function<DWORD()> body;
};

class ThreadObject final : public HandleObject {
public:
    explicit ThreadObject(std::shared_ptr<ThreadState> state)
        : HandleObject(HandleKind::Thread), state_(std::move(state)) {}
    int pollFd() const override { return state_->doneFd; }
    // The wait saw the end through the kernel; this load makes what the
    // body wrote visible by the language's rules too (and to a race checker).
    bool consumeSignal() override {
        state_->exitCode.load(std::memory_order_acquire);
        return true;
    }
    std::shared_ptr<HandleObject> duplicate(bool) const override { return std::make_shared<ThreadObject>(state_); }
    const std::shared_ptr<ThreadState>& state() const { return state_; }

private:
    std::shared_ptr<ThreadState> state_;
};

// Per-thread nice values; raising needs privileges and may be refused.
int niceFor(int priority) {
    if (priority <= THREAD_PRIORITY_LOWEST) return 10;
    if (priority == THREAD_PRIORITY_BELOW_NORMAL) return 5;
    if (priority == THREAD_PRIORITY_NORMAL) return 0;
    if (priority == THREAD_PRIORITY_ABOVE_NORMAL) return -5;
    return -10;
}

void applyPriority(pid_t tid, int priority) {
    int saved = errno;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceFor(priority));
    errno = saved;
}

void* threadMain(void* raw) {
    // The reference this thread holds on its own state.
    std::shared_ptr<ThreadState> state(std::move(*static_cast<std::shared_ptr<ThreadState>*>(raw)));
    delete static_cast<std::shared_ptr<ThreadState>*>(raw);
    std::function<DWORD()> body;
    {
        std::lock_guard guard(state->lock);
        state->tid = ::gettid();
        if (state->priorityPending) applyPriority(state->tid, state->priority);
        body = std::move(state->body);
    }
    DWORD code = body();
    body = nullptr;
    state->exitCode.store(code);
    std::uint64_t one = 1;
    while (::write(state->doneFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    return nullptr;
}

}  // namespace
}  // namespace ombra::platform::detail

using namespace ombra::platform::detail;

HANDLE StartThread(std::function<DWORD()> body, DWORD* threadId) {
    if (!body) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return nullptr;
    }
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        setLastErrorFromErrno();
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>(fd);
    state->body = std::move(body);
    auto* forThread = new std::shared_ptr<ThreadState>(state);

    pthread_attr_t attr;
    ::pthread_attr_init(&attr);
    ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int error = ::pthread_create(&thread, &attr, threadMain, forThread);
    ::pthread_attr_destroy(&attr);
    if (error != 0) {
        delete forThread;
        SetLastError(static_cast<DWORD>(error));
        return nullptr;
    }
    if (threadId) {
        // The id is known once the thread runs; wait for that briefly.
        for (;;) {
            {
                std::lock_guard guard(state->lock);
                if (state->tid != 0) {
                    *threadId = static_cast<DWORD>(state->tid);
                    break;
                }
            }
            ::sched_yield();
        }
    }
    return registerHandle(std::make_shared<ThreadObject>(std::move(state)));
}

HANDLE CreateThread(LPTHREAD_START_ROUTINE routine, void* argument, DWORD* threadId) {
    if (routine == nullptr) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return nullptr;
    }
    return StartThread([routine, argument] { return routine(argument); }, threadId);
}

static std::shared_ptr<ThreadState> threadStateOf(HANDLE thread) {
    auto object = lookupHandle(thread);
    if (!object) return nullptr;
    if (object->kind() != HandleKind::Thread) {
        SetLastError(ERROR_OS_INVALID_HANDLE);
        return nullptr;
    }
    return static_cast<ThreadObject&>(*object).state();
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    auto state = threadStateOf(thread);
    if (!state) return FALSE;
    if (exitCode == nullptr) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = state->exitCode.load();
    return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    if (thread == kCurrentThreadPseudo) {
        applyPriority(::gettid(), priority);
        return TRUE;
    }
    auto state = threadStateOf(thread);
    if (!state) return FALSE;
    std::lock_guard guard(state->lock);
    state->priority = priority;
    if (state->tid != 0) {
        if (state->exitCode.load() == STILL_ACTIVE) applyPriority(state->tid, priority);
    } else {
        state->priorityPending = true;
    }
    return TRUE;
}

HANDLE GetCurrentThread() { return kCurrentThreadPseudo; }

DWORD GetCurrentThreadId() { return static_cast<DWORD>(::gettid()); }
