// The front end's side of one worker run, without any GUI: pipes, the
// inheritable duplicate of the cancel event, the unique mutex, the worker
// process, the parameter block, and the status records read back and handed
// to a callback until the final one, after which the worker is ended.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "ombra/common/pipe_protocol.h"
#include "ombra/platform/types.h"

namespace ombra::launcher {

// What the run reports, in order; the receiver owns each record.
enum class ServiceKind : DWORD { SERVICE_TEXT = 0, SERVICE_PROGRESS = 1, SERVICE_COMPLETION = 2 };

struct ServiceRecord {
    DWORD threadId = 0;  // the launching thread
    ServiceKind kind = ServiceKind::SERVICE_TEXT;
    std::string text;    // SERVICE_TEXT only
    DWORD first = 0;     // message class | done | status code
    DWORD second = 0;    // -            | total | value
};

// The operations differ in their texts' message classes and in what a
// success carries. The front end runs identify, burn and dump; verify is
// there for the verify worker, which is run like the dump.
enum class JobKind { identify, burn, verify, dump };

struct WorkerJob {
    JobKind kind = JobKind::identify;
    std::string workerName;  // in the texts: "Wexom", "Tordel", "Lunet"
    std::string workerPath;
    pipe::ParameterBlock block;  // cancelEvent is filled in by the run
    pipe::BlockForm form = pipe::BlockForm::current;
    HANDLE cancelEvent = nullptr;  // the caller's manual-reset event, not owned
};

inline constexpr DWORD kTerminateGraceMs = 500;

class WorkerLauncher {
public:
    using Post = std::function<void(ServiceRecord)>;

    WorkerLauncher(WorkerJob job, Post post) : job_(std::move(job)), post_(std::move(post)) {}
    WorkerLauncher(const WorkerLauncher&) = delete;
    WorkerLauncher& operator=(const WorkerLauncher&) = delete;

    // The whole run on the calling thread. Returns when the worker has been
    // ended and every handle closed; when pipes, the duplicate or the mutex
    // cannot be made nothing is posted.
    void run();
    // From any thread: kills the worker so that run() sees the broken pipe
    // and ends; asked before the worker starts, it is killed as it starts.
    // Harmless after the end.
    void killWorker();

    // From any thread: the run names its mutex once it has started.
    std::string mutexName() const {
        std::lock_guard lock(processLock_);
        return mutexName_;
    }
    // The device index of an identify success; -1 otherwise.
    std::int32_t identifiedDevice() const { return identified_; }
    // How the worker ended: its exit code, STILL_ACTIVE when it never ran,
    // and whether it had to be terminated.
    DWORD workerExitCode() const { return exitCode_; }
    bool workerTerminated() const { return terminated_; }

private:
    void post(ServiceKind kind, DWORD first, DWORD second, std::string text = {});

    WorkerJob job_;
    Post post_;
    std::string mutexName_;
    std::int32_t identified_ = -1;
    DWORD exitCode_ = STILL_ACTIVE;
    bool terminated_ = false;
    mutable std::mutex processLock_;
    HANDLE process_ = nullptr;
    bool killRequested_ = false;
};

// The worker's path from HKEY_LOCAL_MACHINE "Software\Tarvik\Ombra\Locations"
// (at most 260 bytes); false when the key or the value is missing.
bool findWorker(const char* workerName, std::string& path);

}  // namespace ombra::launcher
