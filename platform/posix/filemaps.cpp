// File mappings on mmap. A writable mapping reserves its blocks first, so
// running out of disk is an error here, not a SIGBUS on a later store.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "handle_object.h"
#include "ombra/platform/file.h"
#include "ombra/platform/filemap.h"

namespace ombra::platform::detail {
namespace {

class MappingObject final : public HandleObject {
public:
    MappingObject(int fd, std::uint64_t size, bool writable)
        : HandleObject(HandleKind::Mapping), fd_(fd), size_(size), writable_(writable) {}
    ~MappingObject() override { ::close(fd_); }
    int pollFd() const override { return -1; }
    int fd() const { return fd_; }
    std::uint64_t size() const { return size_; }
    bool writable() const { return writable_; }

private:
    int fd_;  // own duplicate, so the file handle may be closed first
    std::uint64_t size_;
    bool writable_;
};

struct ViewTable {
    std::mutex lock;
    std::map<const void*, std::size_t> views;  // base -> length
};

ViewTable& views() {
    static auto* t = new ViewTable;
    return *t;
}

}  // namespace
}  // namespace ombra::platform::detail

using namespace ombra::platform::detail;

HANDLE CreateFileMappingA(HANDLE file, DWORD protect, std::uint64_t size) {
    auto object = lookupHandle(file);
    if (!object) return nullptr;
    if (object->kind() != HandleKind::File || (protect != PAGE_READONLY && protect != PAGE_READWRITE)) {
        SetLastError(object->kind() != HandleKind::File ? ERROR_OS_INVALID_HANDLE : ERROR_OS_INVALID_PARAMETER);
        return nullptr;
    }
    const int fd = object->ioFd();
    const bool writable = protect == PAGE_READWRITE;
    int mode = ::fcntl(fd, F_GETFL) & O_ACCMODE;
    // A shared writable map needs a descriptor open for reading and writing.
    if ((writable && mode != O_RDWR) || (!writable && mode == O_WRONLY)) {
        SetLastError(EACCES);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        setLastErrorFromErrno();
        return nullptr;
    }
    const auto current = static_cast<std::uint64_t>(st.st_size);
    if (size > static_cast<std::uint64_t>(INT64_MAX) || size > SIZE_MAX) {
        SetLastError(EFBIG);
        return nullptr;
    }
    if (size == 0) size = current;
    if (size == 0 || (!writable && size > current)) {
        // Nothing to map, or a read-only mapping cannot grow the file.
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return nullptr;
    }
    if (writable && size > current) {
        int error = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
        if (error != 0) {
            // Leave the file as it was, not half grown.
            if (::ftruncate(fd, static_cast<off_t>(current)) != 0) {
            }
            SetLastError(static_cast<DWORD>(error));
            return nullptr;
        }
    }
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) {
        setLastErrorFromErrno();
        return nullptr;
    }
    return registerHandle(std::make_shared<MappingObject>(copy, size, writable));
}

void* MapViewOfFile(HANDLE mapping, DWORD access, std::uint64_t offset, std::size_t bytes) {
    auto object = lookupHandle(mapping);
    if (!object) return nullptr;
    if (object->kind() != HandleKind::Mapping) {
        SetLastError(ERROR_OS_INVALID_HANDLE);
        return nullptr;
    }
    auto& map = static_cast<MappingObject&>(*object);
    const bool write = (access & FILE_MAP_WRITE) != 0;
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    if ((write && !map.writable()) || offset % page != 0 || offset >= map.size() ||
        bytes > map.size() - offset) {
        SetLastError(write && !map.writable() ? EACCES : ERROR_OS_INVALID_PARAMETER);
        return nullptr;
    }
    if (bytes == 0) bytes = static_cast<std::size_t>(map.size() - offset);
    void* view = ::mmap(nullptr, bytes, PROT_READ | (write ? PROT_WRITE : 0), MAP_SHARED, map.fd(),
                        static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        setLastErrorFromErrno();
        return nullptr;
    }
    ViewTable& t = views();
    std::lock_guard guard(t.lock);
    t.views[view] = bytes;
    return view;
}

BOOL UnmapViewOfFile(const void* view) {
    ViewTable& t = views();
    std::lock_guard guard(t.lock);
    auto it = t.views.find(view);
    if (it == t.views.end()) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    ::munmap(const_cast<void*>(it->first), it->second);
    t.views.erase(it);
    return TRUE;
}

BOOL FlushViewOfFile(const void* view, std::size_t bytes) {
    ViewTable& t = views();
    std::lock_guard guard(t.lock);
    // The view that holds `view` (it may point into the middle of one).
    auto it = t.views.upper_bound(view);
    if (it == t.views.begin()) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    --it;
    auto base = reinterpret_cast<std::uintptr_t>(it->first);
    auto at = reinterpret_cast<std::uintptr_t>(view);
    if (at >= base + it->second) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    std::size_t available = base + it->second - at;
    if (bytes == 0 || bytes > available) bytes = available;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    std::uintptr_t start = at - (at - base) % page;
    if (::msync(reinterpret_cast<void*>(start), bytes + (at - start), MS_SYNC) != 0) {
        setLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

namespace ombra::platform {

MappedView::MappedView(MappedView&& other) noexcept : view_(other.view_), size_(other.size_) {
    other.view_ = nullptr;
    other.size_ = 0;
}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
    if (this != &other) {
        reset();
        view_ = other.view_;
        size_ = other.size_;
        other.view_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

void MappedView::reset() {
    if (view_) UnmapViewOfFile(view_);
    view_ = nullptr;
    size_ = 0;
}

bool MappedView::flush() const { return view_ != nullptr && FlushViewOfFile(view_, size_) != FALSE; }

namespace {

// Keeps the error of the step that failed across the closes that follow.
MappedView mapFile(HANDLE file, DWORD protect, DWORD access, std::uint64_t size) {
    if (file == INVALID_HANDLE_VALUE) return {};
    MappedView result;
    HANDLE mapping = CreateFileMappingA(file, protect, size);
    if (mapping != nullptr) {
        std::uint64_t bytes = 0;
        if (void* view = MapViewOfFile(mapping, access, 0, 0)) {
            std::uint64_t total = 0;
            GetFileSizeEx(file, &total);
            bytes = size != 0 ? size : total;
            result = MappedView(view, static_cast<std::size_t>(bytes));
        }
    }
    DWORD error = GetLastError();
    if (mapping != nullptr) CloseHandle(mapping);
    CloseHandle(file);
    SetLastError(error);
    return result;
}

}  // namespace

MappedView MappedView::openReadOnly(const char* path) {
    return mapFile(CreateFileA(path, GENERIC_READ, OPEN_EXISTING), PAGE_READONLY, FILE_MAP_READ, 0);
}

MappedView MappedView::createWritable(const char* path, std::uint64_t size) {
    if (size == 0) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return {};
    }
    return mapFile(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS), PAGE_READWRITE,
                   FILE_MAP_READ | FILE_MAP_WRITE, size);
}

}  // namespace ombra::platform
