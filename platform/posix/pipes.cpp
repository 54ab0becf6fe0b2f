// Anonymous pipes and whole-count reads and writes on descriptors.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "handle_object.h"
#include "ombra/platform/pipe.h"

using namespace ombra::platform::detail;

BOOL CreatePipe(HANDLE* readEnd, HANDLE* writeEnd, BOOL inheritable) {
    if (readEnd == nullptr || writeEnd == nullptr) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        setLastErrorFromErrno();
        return FALSE;
    }
    if (inheritable) {
        ::fcntl(fds[0], F_SETFD, 0);
        ::fcntl(fds[1], F_SETFD, 0);
    }
    *readEnd = registerHandle(std::make_shared<FdObject>(HandleKind::Pipe, fds[0]));
    *writeEnd = registerHandle(std::make_shared<FdObject>(HandleKind::Pipe, fds[1]));
    return TRUE;
}

namespace {

std::shared_ptr<HandleObject> streamOf(HANDLE handle) {
    auto object = lookupHandle(handle);
    if (!object) return nullptr;
    HandleKind k = object->kind();
    if ((k != HandleKind::Pipe && k != HandleKind::File && k != HandleKind::Serial) || object->ioFd() < 0) {
        SetLastError(ERROR_OS_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

// A descriptor someone made non-blocking still gets blocking semantics.
bool waitReady(int fd, short events) {
    pollfd p{fd, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, -1);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

}  // namespace

BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    auto object = streamOf(handle);
    if (!object) return FALSE;
    if (buffer == nullptr && count > 0) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    const int fd = object->ioFd();
    auto* bytes = static_cast<unsigned char*>(buffer);
    DWORD total = 0;
    while (total < count) {
        std::size_t want = std::min<std::size_t>(count - total, SSIZE_MAX);
        ssize_t n = ::read(fd, bytes + total, want);
        if (n > 0) {
            total += static_cast<DWORD>(n);
            if (bytesRead) *bytesRead = total;
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitReady(fd, POLLIN)) continue;
        setLastErrorFromErrno();
        return FALSE;
    }
    if (total == 0 && count > 0 && object->kind() == HandleKind::Pipe) {
        // Every writer is gone: a pipe at its end is broken, as callers expect.
        SetLastError(ERROR_OS_BROKEN_PIPE);
        return FALSE;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* bytesWritten) {
    if (bytesWritten) *bytesWritten = 0;
    auto object = streamOf(handle);
    if (!object) return FALSE;
    if (buffer == nullptr && count > 0) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    const int fd = object->ioFd();
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    DWORD total = 0;
    while (total < count) {
        std::size_t want = std::min<std::size_t>(count - total, SSIZE_MAX);
        ssize_t n = ::write(fd, bytes + total, want);
        if (n > 0) {
            total += static_cast<DWORD>(n);
            if (bytesWritten) *bytesWritten = total;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitReady(fd, POLLOUT)) continue;
        if (n == 0) errno = EIO;
        setLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}
