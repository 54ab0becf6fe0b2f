// The named mutex whose existence proves that a live front end started a
// worker. It is a lock file in the runtime folder, locked while its owner
// lives and removed on release; a file left behind by a killed owner is not
// locked and so does not count.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ombra::platform {

class UniqueMutex {
public:
    // Longest accepted name.
    static constexpr std::size_t kMaxNameLength = 200;

    UniqueMutex() = default;
    UniqueMutex(UniqueMutex&& other) noexcept;
    UniqueMutex& operator=(UniqueMutex&& other) noexcept;
    UniqueMutex(const UniqueMutex&) = delete;
    UniqueMutex& operator=(const UniqueMutex&) = delete;
    ~UniqueMutex();

    // Creates and holds the mutex. False (last error set) for an invalid
    // name (ERROR_OS_INVALID_PARAMETER), a name that a live owner holds
    // (ERROR_OS_ALREADY_EXISTS), or a runtime folder that cannot be used.
    bool create(std::string_view name);
    // Unlocks and removes; harmless when nothing is held.
    void release();
    bool held() const { return fd_ >= 0; }
    const std::string& name() const { return name_; }

    // True when a live owner (any process) holds the mutex `name`.
    static bool exists(std::string_view name);
    // Printable ASCII, no slash or backslash, not "." or "..", 1 to
    // kMaxNameLength characters.
    static bool isValidName(std::string_view name);
    // $XDG_RUNTIME_DIR/ombra, else a per-user folder in the temp folder.
    static std::string folder();

private:
    int fd_ = -1;
    std::string name_;
    std::string path_;
};

}  // namespace ombra::platform
