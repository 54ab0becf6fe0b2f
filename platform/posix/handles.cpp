// The handle table, last error, waits and handle numbers.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "handle_object.h"
#include "ombra/platform/event.h"

const DWORD ERROR_OS_BROKEN_PIPE = EPIPE;
const DWORD ERROR_OS_INVALID_HANDLE = EBADF;
const DWORD ERROR_OS_ALREADY_EXISTS = EEXIST;
const DWORD ERROR_OS_INVALID_PARAMETER = EINVAL;
const DWORD ERROR_OS_NOT_FOUND = ENOENT;
const DWORD ERROR_OS_DISK_FULL = ENOSPC;

namespace {

thread_local DWORD t_lastError = 0;

// Pseudo handle of the calling thread (thread.cpp); never in the table.
HANDLE const kCurrentThreadPseudo = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

struct HandleTable {
    std::mutex lock;
    std::unordered_map<void*, std::shared_ptr<ombra::platform::detail::HandleObject>> objects;
};

HandleTable& table() {
    // Never destroyed: threads may close handles while the process exits.
    static auto* t = new HandleTable;
    return *t;
}

// A writer whose reader has gone gets EPIPE, not a signal; and a process
// started with 0-2 closed must not hand those numbers to pipes or files,
// or a child would take them for its standard streams.
__attribute__((constructor)) void platformProcessSetup() {
    ::signal(SIGPIPE, SIG_IGN);
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            int opened = ::open("/dev/null", O_RDWR);
            if (opened >= 0 && opened != fd) {
                ::dup2(opened, fd);
                ::close(opened);
            }
        }
    }
}

}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

std::string GetErrorText(DWORD error) {
    char buffer[256];
    // GNU strerror_r returns the text, which may not be in the buffer.
    const char* text = ::strerror_r(static_cast<int>(error), buffer, sizeof buffer);
    return text ? std::string(text) : std::string("Unknown error");
}

namespace ombra::platform::detail {

void setLastErrorFromErrno() { SetLastError(static_cast<DWORD>(errno)); }

std::shared_ptr<HandleObject> HandleObject::duplicate(bool) const {
    SetLastError(ERROR_OS_INVALID_HANDLE);
    return nullptr;
}

FdObject::~FdObject() {
    if (fd_ >= 0) ::close(fd_);
}

std::shared_ptr<HandleObject> FdObject::withDescriptor(int fd) const {
    return std::make_shared<FdObject>(kind(), fd);
}

std::shared_ptr<HandleObject> FdObject::duplicate(bool inheritable) const {
    int copy = ::fcntl(fd_, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) {
        setLastErrorFromErrno();
        return nullptr;
    }
    if (inheritable) ::fcntl(copy, F_SETFD, 0);
    return withDescriptor(copy);
}

HANDLE registerHandle(std::shared_ptr<HandleObject> object) {
    if (!object) return nullptr;
    HandleTable& t = table();
    std::lock_guard guard(t.lock);
    void* key = object.get();
    t.objects.emplace(key, std::move(object));
    return key;
}

std::shared_ptr<HandleObject> lookupHandle(HANDLE handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && handle != kCurrentThreadPseudo) {
        HandleTable& t = table();
        std::lock_guard guard(t.lock);
        auto it = t.objects.find(handle);
        if (it != t.objects.end()) return it->second;
    }
    SetLastError(ERROR_OS_INVALID_HANDLE);
    return nullptr;
}

bool descriptorOwned(int fd) {
    HandleTable& t = table();
    std::lock_guard guard(t.lock);
    for (const auto& [key, object] : t.objects) {
        if (object->ioFd() == fd || object->pollFd() == fd) return true;
    }
    return false;
}

bool isSignaled(const HandleObject& object) {
    int fd = object.pollFd();
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

PollResult pollWithHandles(int fd, short events, const HANDLE* handles, DWORD count, int timeoutMs) {
    PollResult result;
    if (count > MAXIMUM_WAIT_OBJECTS || (count > 0 && handles == nullptr)) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return result;
    }
    std::array<std::shared_ptr<HandleObject>, MAXIMUM_WAIT_OBJECTS> objects;
    for (DWORD i = 0; i < count; ++i) {
        if (handles[i] == nullptr || handles[i] == INVALID_HANDLE_VALUE) continue;
        objects[i] = lookupHandle(handles[i]);
        if (!objects[i]) return result;
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS + 1> fds;
    const nfds_t total = count + 1;
    for (;;) {
        fds[0] = pollfd{fd, events, 0};
        for (DWORD i = 0; i < count; ++i) {
            fds[i + 1] = pollfd{objects[i] ? objects[i]->pollFd() : -1, POLLIN, 0};
        }
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
        }
        int r = ::poll(fds.data(), total, wait);
        if (r < 0) {
            if (errno == EINTR) continue;
            setLastErrorFromErrno();
            return result;
        }
        if (r > 0) {
            for (DWORD i = 0; i < count; ++i) {
                if ((fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) && objects[i]->consumeSignal()) {
                    result.outcome = PollOutcome::Handle;
                    result.handleIndex = i;
                    result.revents = fds[0].revents;
                    return result;
                }
            }
            if (fds[0].revents != 0) {
                result.outcome = PollOutcome::Descriptor;
                result.revents = fds[0].revents;
                return result;
            }
            // Another waiter took an auto-reset signal: wait on.
        }
        if (timeoutMs >= 0 && Clock::now() >= deadline) {
            result.outcome = PollOutcome::Timeout;
            return result;
        }
    }
}

}  // namespace ombra::platform::detail

using namespace ombra::platform::detail;

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<HandleObject> object;
    {
        HandleTable& t = table();
        std::lock_guard guard(t.lock);
        auto it = t.objects.find(handle);
        if (it == t.objects.end()) {
            SetLastError(ERROR_OS_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        t.objects.erase(it);
    }
    // Destroyed here, outside the table lock (a process object may reap).
    return TRUE;
}

static int toPollTimeout(DWORD milliseconds) {
    if (milliseconds == INFINITE) return -1;
    return milliseconds > static_cast<DWORD>(INT_MAX) ? INT_MAX : static_cast<int>(milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (waitAll || count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (handles[i] == nullptr) {
            SetLastError(ERROR_OS_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    PollResult r = pollWithHandles(-1, 0, handles, count, toPollTimeout(milliseconds));
    switch (r.outcome) {
    case PollOutcome::Handle: return WAIT_OBJECT_0 + r.handleIndex;
    case PollOutcome::Timeout: return WAIT_TIMEOUT;
    default: return WAIT_FAILED;
    }
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

BOOL DuplicateHandle(HANDLE source, HANDLE* target, BOOL inheritable) {
    if (target == nullptr) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    auto object = lookupHandle(source);
    if (!object) return FALSE;
    auto copy = object->duplicate(inheritable != FALSE);
    if (!copy) return FALSE;
    *target = registerHandle(std::move(copy));
    return TRUE;
}

DWORD HandleToNumber(HANDLE handle) {
    auto object = lookupHandle(handle);
    if (!object) return 0xFFFFFFFFu;
    int fd = object->ioFd() >= 0 ? object->ioFd() : object->pollFd();
    return fd < 0 ? 0xFFFFFFFFu : static_cast<DWORD>(fd);
}

namespace ombra::platform::detail {
// Defined beside their kinds (event.cpp, file.cpp).
std::shared_ptr<HandleObject> adoptEvent(int fd);
std::shared_ptr<HandleObject> adoptFile(int fd);
}  // namespace ombra::platform::detail

static bool isEventDescriptor(int fd) {
    char link[64];
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
    if (n < 0) return false;
    link[n] = '\0';
    return std::strcmp(link, "anon_inode:[eventfd]") == 0;
}

HANDLE HandleFromNumber(DWORD number, HandleKind kind) {
    // 0-2 are the standard streams, never an inherited handle.
    if (number <= 2 || number > static_cast<DWORD>(INT_MAX)) {
        SetLastError(ERROR_OS_INVALID_HANDLE);
        return nullptr;
    }
    const int fd = static_cast<int>(number);
    struct stat st {};
    if (::fcntl(fd, F_GETFD) == -1 || ::fstat(fd, &st) != 0 || descriptorOwned(fd)) {
        SetLastError(ERROR_OS_INVALID_HANDLE);
        return nullptr;
    }
    bool fits = false;
    switch (kind) {
    case HandleKind::Event: fits = isEventDescriptor(fd); break;
    case HandleKind::Pipe: fits = S_ISFIFO(st.st_mode); break;
    case HandleKind::File: fits = S_ISREG(st.st_mode); break;
    default: break;
    }
    if (!fits) {
        SetLastError(ERROR_OS_INVALID_HANDLE);
        return nullptr;
    }
    // Ours now, and not to be passed on to our own children by accident.
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::shared_ptr<HandleObject> object;
    switch (kind) {
    case HandleKind::Event: object = adoptEvent(fd); break;
    case HandleKind::File: object = adoptFile(fd); break;
    default: object = std::make_shared<FdObject>(HandleKind::Pipe, fd); break;
    }
    return registerHandle(std::move(object));
}
