// Monotonic tick count, sleep, and timer handles on timerfd.
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "handle_object.h"
#include "ombra/platform/clock.h"

std::uint64_t GetTickCount64() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

void Sleep(DWORD milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    if (milliseconds == INFINITE) {
        for (;;) ::pause();
    }
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

namespace ombra::platform::detail {
namespace {

class TimerObject final : public FdObject {
public:
    TimerObject(int fd, bool manualReset) : FdObject(HandleKind::Timer, fd), manualReset_(manualReset) {}

    bool consumeSignal() override {
        if (manualReset_) return true;
        std::uint64_t expirations;
        return ::read(fd(), &expirations, sizeof expirations) == static_cast<ssize_t>(sizeof expirations);
    }

protected:
    std::shared_ptr<HandleObject> withDescriptor(int copy) const override {
        return std::make_shared<TimerObject>(copy, manualReset_);
    }

private:
    bool manualReset_;
};

BOOL armTimer(HANDLE timer, const itimerspec& due) {
    auto object = lookupHandle(timer);
    if (!object) return FALSE;
    if (object->kind() != HandleKind::Timer) {
        SetLastError(ERROR_OS_INVALID_HANDLE);
        return FALSE;
    }
    // Re-arming also clears the count of earlier expirations.
    if (::timerfd_settime(static_cast<TimerObject&>(*object).fd(), 0, &due, nullptr) != 0) {
        setLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

}  // namespace
}  // namespace ombra::platform::detail

using namespace ombra::platform::detail;

HANDLE CreateWaitableTimer(BOOL manualReset) {
    int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0) {
        setLastErrorFromErrno();
        return nullptr;
    }
    return registerHandle(std::make_shared<TimerObject>(fd, manualReset != FALSE));
}

BOOL SetWaitableTimer(HANDLE timer, DWORD dueInMilliseconds) {
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(dueInMilliseconds / 1000);
    due.it_value.tv_nsec = static_cast<long>(dueInMilliseconds % 1000) * 1000000L;
    // A zero value would disarm: due "now" is the smallest step instead.
    if (dueInMilliseconds == 0) due.it_value.tv_nsec = 1;
    return armTimer(timer, due);
}

BOOL CancelWaitableTimer(HANDLE timer) { return armTimer(timer, itimerspec{}); }
