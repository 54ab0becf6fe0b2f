// Image files on disk: the bounded read, the digest, and the raw copy a burn
// worker is given for a text image.
#include <openssl/evp.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "ombra/image/image.h"
#include "ombra/platform/file.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/process.h"

namespace ombra::image {

namespace {

struct FileCloser {
    HANDLE h;
    ~FileCloser() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

}  // namespace

bool loadImage(const std::string& path, std::optional<Format> format, Image& image,
               std::vector<std::uint8_t>& fileBytes, ImageError& error) {
    fileBytes.clear();
    const FileCloser file{CreateFileA(path.c_str(), GENERIC_READ, OPEN_EXISTING)};
    if (file.h == INVALID_HANDLE_VALUE) {
        error = {0, "cannot open: " + GetErrorText(GetLastError())};
        return false;
    }
    std::uint64_t size = 0;
    if (!GetFileSizeEx(file.h, &size)) {
        error = {0, "cannot tell its size: " + GetErrorText(GetLastError())};
        return false;
    }
    if (size > kMaxFileBytes) {
        error = {0, "the file has " + std::to_string(size) + " bytes, more than the " +
                        std::to_string(kMaxFileBytes >> 20) + " MiB an image file may have"};
        return false;
    }
    // One byte more than the size said: a file that grows meanwhile shows.
    fileBytes.resize(static_cast<std::size_t>(size) + 1);
    DWORD got = 0;
    if (!ReadFile(file.h, fileBytes.data(), static_cast<DWORD>(fileBytes.size()), &got)) {
        error = {0, "cannot read: " + GetErrorText(GetLastError())};
        fileBytes.clear();
        return false;
    }
    if (got != size) {
        error = {0, "the file changed while it was read"};
        fileBytes.clear();
        return false;
    }
    fileBytes.resize(got);
    return parseImage(fileBytes, format, image, error);
}

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
    std::string text;
    char b[3];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(b, sizeof b, "%02x", digest[i]);
        text += b;
    }
    return text;
}

std::string writeTemporaryImage(std::span<const std::uint8_t> bytes, std::string& error) {
    static std::atomic<unsigned> serial{0};
    std::error_code ec;
    const std::string folder = std::filesystem::temp_directory_path(ec).string();
    if (ec) {
        error = "no temporary folder: " + ec.message();
        return {};
    }
    // A name of this process's own; CREATE_NEW never follows a planted file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = ombra::platform::joinPath(
            folder, "ombra-image-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++) + ".bin");
        const FileCloser file{CreateFileA(path.c_str(), GENERIC_WRITE, CREATE_NEW)};
        if (file.h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_OS_ALREADY_EXISTS) continue;
            error = "cannot create " + path + ": " + GetErrorText(GetLastError());
            return {};
        }
        std::size_t done = 0;
        while (done < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            DWORD written = 0;
            if (!WriteFile(file.h, bytes.data() + done, chunk, &written) || written == 0) {
                error = "cannot write " + path + ": " + GetErrorText(GetLastError());
                DeleteFileA(path.c_str());
                return {};
            }
            done += written;
        }
        return path;
    }
    error = "no free temporary file name in " + folder;
    return {};
}

void removeFile(const std::string& path) {
    if (!path.empty()) DeleteFileA(path.c_str());
}

}  // namespace ombra::image
