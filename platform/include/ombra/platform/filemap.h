// File mappings, Win32-shaped (mapping object, then views), plus a small
// owner for a view.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ombra/platform/handle.h"

constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD FILE_MAP_READ = 0x0004;

// A mapping of `file`. PAGE_READONLY with size 0 maps the whole file (an
// empty file cannot be mapped). PAGE_READWRITE with a size makes the file
// exactly that long and first reserves the space on disk, so a full disk
// fails here with ERROR_OS_DISK_FULL instead of faulting on a later write.
// Null on failure (last error set). The mapping keeps its own reference to
// the file: the file handle may be closed first.
HANDLE CreateFileMappingA(HANDLE file, DWORD protect, std::uint64_t size);

// A view of `bytes` from `offset` (0 bytes = to the end of the mapping).
// Null on failure.
void* MapViewOfFile(HANDLE mapping, DWORD access, std::uint64_t offset, std::size_t bytes);
BOOL UnmapViewOfFile(const void* view);
// Writes the view's changed pages to the file (0 bytes = the whole view).
BOOL FlushViewOfFile(const void* view, std::size_t bytes);

namespace ombra::platform {

// Owns one view and unmaps it when it goes.
class MappedView {
public:
    MappedView() = default;
    MappedView(void* view, std::size_t size) : view_(view), size_(size) {}
    MappedView(MappedView&& other) noexcept;
    MappedView& operator=(MappedView&& other) noexcept;
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    ~MappedView() { reset(); }

    // Maps the whole of a file: read-only, or writable at exactly `size`
    // bytes (created or truncated first). An invalid view on failure.
    static MappedView openReadOnly(const char* path);
    static MappedView createWritable(const char* path, std::uint64_t size);

    bool valid() const { return view_ != nullptr; }
    std::uint8_t* data() const { return static_cast<std::uint8_t*>(view_); }
    std::size_t size() const { return size_; }
    bool flush() const;
    void reset();

private:
    void* view_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace ombra::platform
