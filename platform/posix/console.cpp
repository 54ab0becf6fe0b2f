// The console on POSIX: isatty, the window size, and the stop signals
// turned into writes to an eventfd (write is async-signal-safe; nothing else
// happens in the handler).
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "console_state.h"
#include "handle_object.h"
#include "ombra/platform/console.h"
#include "ombra/platform/event.h"

namespace ombra::platform::detail {
namespace {

std::atomic<int> interruptFd{-1};
std::atomic<bool> childrenOwnGroup{false};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal(int) {
    const int saved = errno;
    const int fd = interruptFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const std::uint64_t one = 1;
        // A full counter means the event is set already.
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    }
    errno = saved;
}

}  // namespace

bool childrenOutsideConsoleGroup() { return childrenOwnGroup.load(); }

}  // namespace ombra::platform::detail

namespace ombra::platform {

using namespace detail;

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

int terminalColumns(int fallback) {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return fallback;
    return size.ws_col;
}

HANDLE catchConsoleInterrupt() {
    static std::mutex lock;
    static HANDLE event = nullptr;  // kept for the process's life: the handler writes to it
    std::lock_guard guard(lock);
    if (event == nullptr) {
        HANDLE made = CreateEvent(TRUE, FALSE);
        if (made == nullptr) return nullptr;
        const auto object = lookupHandle(made);
        if (!object || object->pollFd() < 0) {
            CloseHandle(made);
            return nullptr;
        }
        interruptFd.store(object->pollFd());
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            if (::sigaction(sig, &action, nullptr) != 0) {
                setLastErrorFromErrno();
                interruptFd.store(-1);
                CloseHandle(made);
                return nullptr;
            }
        }
        childrenOwnGroup.store(true);
        event = made;
    }
    HANDLE copy = nullptr;
    if (!DuplicateHandle(event, &copy, FALSE)) return nullptr;
    return copy;
}

}  // namespace ombra::platform
