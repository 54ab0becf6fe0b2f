// Child processes: posix_spawn with an exact descriptor list, waits through
// a pidfd, exit codes from waitpid.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <thread>
#include <vector>

#include "console_state.h"
#include "handle_object.h"
#include "ombra/platform/process.h"

extern char** environ;

namespace ombra::platform::detail {
namespace {

int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int pidfdKill(int pidfd) { return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0)); }

struct ProcessState {
    ProcessState(pid_t p, int fd) : pid(p), pidfd(fd) {}
    ~ProcessState() {
        if (!reaped) {
            int status;
            if (::waitpid(pid, &status, WNOHANG) == 0) {
                // Still running: reap it whenever it ends, so no zombie stays.
                pid_t child = pid;
                try {
                    std::thread([child] {
                        int s;
                        while (::waitpid(child, &s, 0) < 0 && errno == EINTR) {
                        }
                    }).detach();
                } catch (...) {
                    // No thread to spare: the child stays a zombie until we exit.
                }
            }
        }
        ::close(pidfd);
    }
    pid_t pid;
    int pidfd;  // readable once the process has ended
    std::mutex lock;
    bool reaped = false;
    DWORD exitCode = STILL_ACTIVE;
    bool terminated = false;
    DWORD terminateCode = 0;

    // Caller holds `lock`. False if the status cannot be had.
    bool poll() {
        if (reaped) return true;
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(pid, &status, WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r < 0) return false;
        if (r == 0) return true;
        reaped = true;
        if (WIFEXITED(status)) {
            exitCode = static_cast<DWORD>(WEXITSTATUS(status));
        } else if (WIFSIGNALED(status)) {
            int sig = WTERMSIG(status);
            exitCode = (terminated && sig == SIGKILL) ? terminateCode : static_cast<DWORD>(128 + sig);
        }
        return true;
    }
};

class ProcessObject final : public HandleObject {
public:
    explicit ProcessObject(std::shared_ptr<ProcessState> state)
        : HandleObject(HandleKind::Process), state_(std::move(state)) {}
    int pollFd() const override { return state_->pidfd; }
    std::shared_ptr<HandleObject> duplicate(bool) const override { return std::make_shared<ProcessObject>(state_); }
    const std::shared_ptr<ProcessState>& state() const { return state_; }

private:
    std::shared_ptr<ProcessState> state_;
};

std::shared_ptr<ProcessState> processStateOf(HANDLE process) {
    auto object = lookupHandle(process);
    if (!object) return nullptr;
    if (object->kind() != HandleKind::Process) {
        SetLastError(ERROR_OS_INVALID_HANDLE);
        return nullptr;
    }
    return static_cast<ProcessObject&>(*object).state();
}

// Frees the spawn records on every way out.
struct SpawnRecords {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    SpawnRecords() {
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawnattr_init(&attr);
    }
    ~SpawnRecords() {
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attr);
    }
};

}  // namespace
}  // namespace ombra::platform::detail

using namespace ombra::platform::detail;

HANDLE CreateProcess(const std::string& programPath, std::span<const std::string> arguments,
                     std::span<const HANDLE> inherit) {
    std::vector<int> fds;
    std::vector<std::shared_ptr<HandleObject>> keepAlive;  // no close mid-start
    for (HANDLE h : inherit) {
        auto object = lookupHandle(h);
        if (!object) return nullptr;
        int fd = object->ioFd() >= 0 ? object->ioFd() : object->pollFd();
        if (fd <= 2) {
            SetLastError(ERROR_OS_INVALID_HANDLE);
            return nullptr;
        }
        fds.push_back(fd);
        keepAlive.push_back(std::move(object));
    }
    std::sort(fds.begin(), fds.end());
    fds.erase(std::unique(fds.begin(), fds.end()), fds.end());

    SpawnRecords spawn;
    int error = 0;
    // 0-2 always open in the child; dup2 onto itself clears close-on-exec.
    for (int fd = 0; fd <= 2 && error == 0; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1) {
            error = ::posix_spawn_file_actions_addopen(&spawn.actions, fd, "/dev/null", O_RDWR, 0);
        } else {
            error = ::posix_spawn_file_actions_adddup2(&spawn.actions, fd, fd);
        }
    }
    // Close everything else, whatever its close-on-exec flag says: a handle
    // made inheritable for another child must not leak into this one.
    int next = 3;
    for (int fd : fds) {
        for (; next < fd && error == 0; ++next) error = ::posix_spawn_file_actions_addclose(&spawn.actions, next);
        next = fd + 1;
    }
    if (error == 0) error = ::posix_spawn_file_actions_addclosefrom_np(&spawn.actions, next);
    for (int fd : fds) {
        if (error == 0) error = ::posix_spawn_file_actions_adddup2(&spawn.actions, fd, fd);
    }
    // The child starts with default signal handling and nothing blocked
    // (this library ignores SIGPIPE, and ignored signals survive exec).
    sigset_t defaults, none;
    ::sigemptyset(&defaults);
    ::sigaddset(&defaults, SIGPIPE);
    ::sigemptyset(&none);
    if (error == 0) error = ::posix_spawnattr_setsigdefault(&spawn.attr, &defaults);
    if (error == 0) error = ::posix_spawnattr_setsigmask(&spawn.attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    // A parent that takes the terminal's Ctrl-C ends its children itself.
    if (childrenOutsideConsoleGroup()) {
        flags |= POSIX_SPAWN_SETPGROUP;
        if (error == 0) error = ::posix_spawnattr_setpgroup(&spawn.attr, 0);
    }
    if (error == 0) error = ::posix_spawnattr_setflags(&spawn.attr, flags);
    if (error != 0) {
        SetLastError(static_cast<DWORD>(error));
        return nullptr;
    }

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(programPath.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    error = ::posix_spawn(&pid, programPath.c_str(), &spawn.actions, &spawn.attr, argv.data(), environ);
    if (error != 0) {
        SetLastError(static_cast<DWORD>(error));
        return nullptr;
    }
    int pidfd = pidfdOpen(pid);
    if (pidfd < 0) {
        // Without a pidfd the child cannot be waited on: do not leave it loose.
        setLastErrorFromErrno();
        DWORD saved = GetLastError();
        ::kill(pid, SIGKILL);
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        SetLastError(saved);
        return nullptr;
    }
    return registerHandle(std::make_shared<ProcessObject>(std::make_shared<ProcessState>(pid, pidfd)));
}

DWORD GetProcessId(HANDLE process) {
    auto state = processStateOf(process);
    return state ? static_cast<DWORD>(state->pid) : 0;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
    auto state = processStateOf(process);
    if (!state) return FALSE;
    if (exitCode == nullptr) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard guard(state->lock);
    if (!state->poll()) {
        setLastErrorFromErrno();
        return FALSE;
    }
    *exitCode = state->exitCode;
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, DWORD exitCode) {
    auto state = processStateOf(process);
    if (!state) return FALSE;
    std::lock_guard guard(state->lock);
    state->poll();
    if (state->reaped) {
        SetLastError(ESRCH);
        return FALSE;
    }
    // The pidfd names this very process even if its number were reused.
    if (pidfdKill(state->pidfd) != 0) {
        setLastErrorFromErrno();
        return FALSE;
    }
    if (!state->terminated) {
        state->terminated = true;
        state->terminateCode = exitCode;
    }
    return TRUE;
}

std::string GetProgramPath() {
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}
