// The unique mutex as a lock file: held = flock'ed by a live process. A lock
// dies with its process, so a file left by a killed front end is not held.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "handle_object.h"
#include "ombra/platform/unique_mutex.h"

namespace ombra::platform {

namespace {

bool usableFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    // Not through a link, and ours: another user must not own our locks.
    if (::lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        errno = EACCES;
        return false;
    }
    return true;
}

}  // namespace

std::string UniqueMutex::folder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/ombra";
    const char* temp = std::getenv("TMPDIR");
    std::string base = (temp && temp[0] == '/') ? temp : "/tmp";
    return base + "/ombra-" + std::to_string(::getuid());
}

bool UniqueMutex::isValidName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..") return false;
    for (char c : name) {
        if (c < 0x21 || c > 0x7E || c == '/' || c == '\\') return false;
    }
    return true;
}

UniqueMutex::UniqueMutex(UniqueMutex&& other) noexcept
    : fd_(other.fd_), name_(std::move(other.name_)), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

UniqueMutex& UniqueMutex::operator=(UniqueMutex&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        name_ = std::move(other.name_);
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

UniqueMutex::~UniqueMutex() { release(); }

bool UniqueMutex::create(std::string_view name) {
    release();
    if (!isValidName(name)) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return false;
    }
    const std::string dir = folder();
    if (!usableFolder(dir)) {
        detail::setLastErrorFromErrno();
        return false;
    }
    const std::string path = dir + "/" + std::string(name);
    // A releasing owner unlinks the file before it unlocks, so a lock won on
    // a file that is no longer at the path is worthless: try again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            detail::setLastErrorFromErrno();
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            DWORD error = errno == EWOULDBLOCK ? ERROR_OS_ALREADY_EXISTS : static_cast<DWORD>(errno);
            ::close(fd);
            SetLastError(error);
            return false;
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            // The holder's process id, for whoever looks at the folder.
            std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(fd, 0) == 0 && ::write(fd, pid.data(), pid.size()) < 0) {
            }
            fd_ = fd;
            name_ = std::string(name);
            path_ = path;
            return true;
        }
        ::close(fd);
    }
    SetLastError(EAGAIN);
    return false;
}

void UniqueMutex::release() {
    if (fd_ < 0) return;
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    name_.clear();
    path_.clear();
}

bool UniqueMutex::exists(std::string_view name) {
    if (!isValidName(name)) return false;
    const std::string path = folder() + "/" + std::string(name);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    bool held = false;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        held = errno == EWOULDBLOCK;
    } else {
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
    return held;
}

}  // namespace ombra::platform
