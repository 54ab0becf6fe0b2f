// Regular files by path, and the path helpers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "handle_object.h"
#include "ombra/platform/file.h"

namespace ombra::platform::detail {

std::shared_ptr<HandleObject> adoptFile(int fd) { return std::make_shared<FdObject>(HandleKind::File, fd); }

}  // namespace ombra::platform::detail

using namespace ombra::platform::detail;

HANDLE CreateFileA(const char* path, DWORD access, DWORD disposition) {
    if (path == nullptr || *path == '\0') {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const bool reading = (access & GENERIC_READ) != 0;
    const bool writing = (access & GENERIC_WRITE) != 0;
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    flags |= writing ? (reading ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: break;
    default: SetLastError(ERROR_OS_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (truncate && !writing) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // O_NONBLOCK: opening a FIFO by mistake must not hang; only regular
    // files are accepted, and they are truncated only once known to be one.
    int fd = ::open(path, flags, 0666);
    if (fd < 0) {
        setLastErrorFromErrno();
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        SetLastError(S_ISDIR(st.st_mode) ? EISDIR : ERROR_OS_INVALID_PARAMETER);
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    if (truncate && ::ftruncate(fd, 0) != 0) {
        setLastErrorFromErrno();
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return registerHandle(adoptFile(fd));
}

static int fileDescriptor(HANDLE file) {
    auto object = lookupHandle(file);
    if (!object) return -1;
    if (object->kind() != HandleKind::File) {
        SetLastError(ERROR_OS_INVALID_HANDLE);
        return -1;
    }
    return object->ioFd();
}

BOOL GetFileSizeEx(HANDLE file, std::uint64_t* size) {
    int fd = fileDescriptor(file);
    if (fd < 0) return FALSE;
    struct stat st {};
    if (size == nullptr) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    if (::fstat(fd, &st) != 0) {
        setLastErrorFromErrno();
        return FALSE;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return TRUE;
}

BOOL SetFilePosition(HANDLE file, std::uint64_t offset) {
    int fd = fileDescriptor(file);
    if (fd < 0) return FALSE;
    if (offset > static_cast<std::uint64_t>(INT64_MAX) || ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        SetLastError(offset > static_cast<std::uint64_t>(INT64_MAX) ? ERROR_OS_INVALID_PARAMETER
                                                                    : static_cast<DWORD>(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    int fd = fileDescriptor(file);
    if (fd < 0) return FALSE;
    if (::fsync(fd) != 0) {
        setLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileA(const char* path) {
    if (path == nullptr || ::unlink(path) != 0) {
        if (path == nullptr) errno = EINVAL;
        setLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

namespace ombra::platform {

std::string nativeRelativePath(std::string_view windowsPath) {
    std::string path(windowsPath);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string folderOfPath(std::string_view path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string joinPath(std::string_view folder, std::string_view relative) {
    if (folder.empty()) return std::string(relative);
    std::string joined(folder);
    if (joined.back() != '/') joined += '/';
    joined += relative;
    return joined;
}

}  // namespace ombra::platform
