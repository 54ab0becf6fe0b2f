// Files by path, Win32-shaped (the callers' algorithms are written against
// CreateFileA dispositions), and the fixed relative paths.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ombra/platform/handle.h"

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;

constexpr DWORD CREATE_NEW = 1;         // fails if the file exists
constexpr DWORD CREATE_ALWAYS = 2;      // creates or truncates
constexpr DWORD OPEN_EXISTING = 3;      // fails if missing
constexpr DWORD OPEN_ALWAYS = 4;        // opens or creates
constexpr DWORD TRUNCATE_EXISTING = 5;  // fails if missing, truncates

// INVALID_HANDLE_VALUE on failure (last error set). Sharing modes do not
// exist here. The handle works with ReadFile/WriteFile (pipe.h).
HANDLE CreateFileA(const char* path, DWORD access, DWORD disposition);

BOOL GetFileSizeEx(HANDLE file, std::uint64_t* size);
// Moves the read/write position to `offset` from the start.
BOOL SetFilePosition(HANDLE file, std::uint64_t offset);
// Writes the file's data through to the disk.
BOOL FlushFileBuffers(HANDLE file);
BOOL DeleteFileA(const char* path);

namespace ombra::platform {

// A fixed relative path written with backslashes ("Drivers\Common\x.cfg")
// in this platform's form. Only such paths: registry paths and INI section
// names keep their backslashes.
std::string nativeRelativePath(std::string_view windowsPath);

// The folder part of a path, without the trailing separator ("" when the
// path has none, "/" for a file in the root).
std::string folderOfPath(std::string_view path);

// `folder` and `relative` joined by one separator.
std::string joinPath(std::string_view folder, std::string_view relative);

}  // namespace ombra::platform
