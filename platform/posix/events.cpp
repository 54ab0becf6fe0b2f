// Events on eventfd: set = the counter is non-zero (readable), reset =
// drained. The descriptor is non-blocking, so a reset never waits.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "handle_object.h"
#include "ombra/platform/event.h"

namespace ombra::platform::detail {
namespace {

// Set and wait meet in the kernel; within one process they also meet in
// this counter, shared by an event's duplicates, so that what a thread wrote
// before SetEvent is ordered before what the waiter reads after its wait by
// the language's rules too (and a race checker sees it).
using SignalCount = std::atomic<std::uint32_t>;

class EventObject final : public FdObject {
public:
    EventObject(int fd, bool manualReset, std::shared_ptr<SignalCount> count = std::make_shared<SignalCount>(0))
        : FdObject(HandleKind::Event, fd), manualReset_(manualReset), count_(std::move(count)) {}

    bool consumeSignal() override {
        count_->load(std::memory_order_acquire);
        if (manualReset_) return true;
        std::uint64_t value;
        return ::read(fd(), &value, sizeof value) == static_cast<ssize_t>(sizeof value);
    }
    void signalled() { count_->fetch_add(1, std::memory_order_release); }

protected:
    std::shared_ptr<HandleObject> withDescriptor(int copy) const override {
        return std::make_shared<EventObject>(copy, manualReset_, count_);
    }

private:
    bool manualReset_;
    std::shared_ptr<SignalCount> count_;
};

std::shared_ptr<EventObject> eventOf(HANDLE handle) {
    auto object = lookupHandle(handle);
    if (object && object->kind() != HandleKind::Event) {
        SetLastError(ERROR_OS_INVALID_HANDLE);
        return nullptr;
    }
    return std::static_pointer_cast<EventObject>(object);
}

}  // namespace

std::shared_ptr<HandleObject> adoptEvent(int fd) {
    // The file status flags are shared with the parent's copy; make sure.
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    return std::make_shared<EventObject>(fd, true);
}

}  // namespace ombra::platform::detail

using namespace ombra::platform::detail;

HANDLE CreateEvent(BOOL manualReset, BOOL initialState) {
    int fd = ::eventfd(initialState ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        setLastErrorFromErrno();
        return nullptr;
    }
    return registerHandle(std::make_shared<EventObject>(fd, manualReset != FALSE));
}

BOOL SetEvent(HANDLE event) {
    auto object = eventOf(event);
    if (!object) return FALSE;
    object->signalled();
    std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(object->fd(), &one, sizeof one);
    } while (n < 0 && errno == EINTR);
    // EAGAIN: the counter is full, so the event is set already.
    if (n < 0 && errno != EAGAIN) {
        setLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto object = eventOf(event);
    if (!object) return FALSE;
    std::uint64_t value;
    ssize_t n;
    do {
        n = ::read(object->fd(), &value, sizeof value);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN) {
        setLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}
