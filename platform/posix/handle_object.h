// Inside the platform library only: what a HANDLE points at, and the one-poll
// wait that the serial port shares with WaitForMultipleObjects.
#pragma once

#include <memory>

#include "ombra/platform/handle.h"

namespace ombra::platform::detail {

class HandleObject {
public:
    explicit HandleObject(HandleKind kind) : kind_(kind) {}
    virtual ~HandleObject() = default;
    HandleObject(const HandleObject&) = delete;
    HandleObject& operator=(const HandleObject&) = delete;

    HandleKind kind() const { return kind_; }
    // Readable while the object is signaled; -1 if it never is.
    virtual int pollFd() const = 0;
    // The descriptor for byte I/O and for the handle's number; -1 if none.
    virtual int ioFd() const { return -1; }
    // Takes the signal of an auto-reset object after a wait saw it. False
    // when another waiter took it first (the wait then goes on).
    virtual bool consumeSignal() { return true; }
    // A new object for the same thing (DuplicateHandle); null if the kind
    // cannot be duplicated (last error set).
    virtual std::shared_ptr<HandleObject> duplicate(bool inheritable) const;

private:
    HandleKind kind_;
};

// An object that owns one descriptor (pipe ends, files, events, timers).
class FdObject : public HandleObject {
public:
    FdObject(HandleKind kind, int fd) : HandleObject(kind), fd_(fd) {}
    ~FdObject() override;
    int fd() const { return fd_; }
    int pollFd() const override { return fd_; }
    int ioFd() const override { return fd_; }
    std::shared_ptr<HandleObject> duplicate(bool inheritable) const override;

protected:
    // The same kind of object around a duplicated descriptor.
    virtual std::shared_ptr<HandleObject> withDescriptor(int fd) const;

private:
    int fd_;
};

// Gives the object a HANDLE; the handle table owns it until CloseHandle.
HANDLE registerHandle(std::shared_ptr<HandleObject> object);
// The live object behind `handle`, kept alive while the caller uses it;
// null (last error = invalid handle) for a closed, unknown or pseudo handle.
std::shared_ptr<HandleObject> lookupHandle(HANDLE handle);
// True if a live handle owns descriptor `fd` (adoption must not double-own).
bool descriptorOwned(int fd);

// Is the object signaled right now (no waiting, no consuming)?
bool isSignaled(const HandleObject& object);

// One poll over an optional descriptor (`fd` < 0: none) and wait handles.
// A signaled handle wins over a ready descriptor (revents is still set).
// Null and INVALID_HANDLE_VALUE entries never signal. timeoutMs < 0 waits
// without limit. Auto-reset handles are consumed when reported.
enum class PollOutcome { Descriptor, Handle, Timeout, Failed };
struct PollResult {
    PollOutcome outcome = PollOutcome::Failed;
    DWORD handleIndex = 0;  // with Handle: lowest signaled index
    short revents = 0;      // with Descriptor
};
PollResult pollWithHandles(int fd, short events, const HANDLE* handles, DWORD count, int timeoutMs);

// errno-style error into the thread's last error.
void setLastErrorFromErrno();

}  // namespace ombra::platform::detail
