#include "ombra/launcher/launcher.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "ombra/common/pipe_io.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/process.h"
#include "ombra/platform/registry.h"
#include "ombra/platform/thread.h"
#include "ombra/platform/unique_mutex.h"

namespace ombra::launcher {

namespace {

constexpr const char* kLocationsKey = "Software\\Tarvik\\Ombra\\Locations";
// The status pipe breaks as the worker's descriptors close, a moment before
// its end can be seen; this much is waited for before calling it alive.
constexpr DWORD kExitSettleMs = 100;

struct Handles {
    HANDLE paramRead = nullptr, paramWrite = nullptr, paramWriter = nullptr;
    HANDLE statusRead = nullptr, statusWrite = nullptr, statusReader = nullptr;
    HANDLE cancelDuplicate = nullptr;

    static void close(HANDLE& h) {
        if (h != nullptr) CloseHandle(h);
        h = nullptr;
    }
    void closeAll() {
        for (HANDLE* h : {&paramRead, &paramWrite, &paramWriter, &statusRead, &statusWrite, &statusReader,
                          &cancelDuplicate})
            close(*h);
    }
};

}  // namespace

bool findWorker(const char* workerName, std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLocationsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char buffer[261] = {};
    DWORD size = 260;
    DWORD type = 0;
    const LONG r = RegQueryValueExA(key, workerName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ) return false;
    path = buffer;
    return true;
}

void WorkerLauncher::post(ServiceKind kind, DWORD first, DWORD second, std::string text) {
    if (!post_) return;
    ServiceRecord r;
    r.threadId = GetCurrentThreadId();
    r.kind = kind;
    r.first = first;
    r.second = second;
    r.text = std::move(text);
    post_(std::move(r));
}

void WorkerLauncher::killWorker() {
    std::lock_guard lock(processLock_);
    killRequested_ = true;
    if (process_ != nullptr) TerminateProcess(process_, 0);
}

void WorkerLauncher::run() {
    Handles h;
    if (!CreatePipe(&h.paramRead, &h.paramWrite, TRUE) || !DuplicateHandle(h.paramWrite, &h.paramWriter, FALSE) ||
        !CreatePipe(&h.statusRead, &h.statusWrite, TRUE) || !DuplicateHandle(h.statusRead, &h.statusReader, FALSE)) {
        h.closeAll();
        return;
    }
    Handles::close(h.statusRead);
    if (!DuplicateHandle(job_.cancelEvent, &h.cancelDuplicate, TRUE)) {
        h.closeAll();
        return;
    }

    char name[64];
    std::snprintf(name, sizeof name, "OmbraMUTR%dPR%dTI%d", static_cast<int>(GetCurrentThreadId()),
                  static_cast<int>(GetCurrentProcessId()), static_cast<int>(GetTickCount()));
    {
        std::lock_guard lock(processLock_);
        mutexName_ = name;
    }
    ombra::platform::UniqueMutex mutex;
    if (!mutex.create(name)) {
        h.closeAll();
        return;
    }

    const bool burn = job_.kind == JobKind::burn;
    const std::vector<std::string> args = {std::string(name), std::to_string(static_cast<int>(HandleToNumber(h.paramRead))),
                                           std::to_string(static_cast<int>(HandleToNumber(h.statusWrite)))};
    const HANDLE inherit[] = {h.paramRead, h.statusWrite, h.cancelDuplicate};
    HANDLE process = CreateProcess(job_.workerPath, args, inherit);
    if (process == nullptr) {
        // The identify run would keep its cancel duplicate; it is closed too.
        h.closeAll();
        mutex.release();
        const std::string text = job_.kind == JobKind::identify
                                     ? "Failed to create " + job_.workerName + " process."
                                     : "Failed to create " + job_.workerName + " process";
        post(ServiceKind::SERVICE_TEXT, burn ? 0 : 3, 0, text);
        post(ServiceKind::SERVICE_COMPLETION, pipe::E_STATUS_FAILURE, 0);
        return;
    }
    {
        std::lock_guard lock(processLock_);
        process_ = process;
        if (killRequested_) TerminateProcess(process, 0);
    }
    // The worker holds its own ends now; without ours a dead worker reads as
    // the end of the status pipe, and our closed writer ends its wait.
    Handles::close(h.paramRead);
    Handles::close(h.statusWrite);

    // No worker has a message queue: the input-idle wait always times out.

    pipe::ParameterBlock block = job_.block;
    block.cancelEvent = HandleToNumber(h.cancelDuplicate);
    if (const auto bytes = pipe::encode(block, job_.form)) {
        HandleSink sink(h.paramWriter);
        sink.write(*bytes);  // a worker that is gone shows in the reader loop
    } else {
        // A table too large for its size field: no block at all, so the
        // worker's read fails and it reports the failure itself.
        Handles::close(h.paramWriter);
        Handles::close(h.paramWrite);
    }

    auto endWorker = [&] {
        if (WaitForSingleObject(process, kTerminateGraceMs) != WAIT_OBJECT_0) {
            terminated_ = true;
            TerminateProcess(process, 0);
            WaitForSingleObject(process, INFINITE);
        }
        GetExitCodeProcess(process, &exitCode_);
        {
            std::lock_guard lock(processLock_);
            process_ = nullptr;
        }
        CloseHandle(process);
        h.closeAll();
        mutex.release();
    };

    HandleSource source(h.statusReader);
    for (;;) {
        pipe::Record record;
        if (pipe::readRecord(source, record) != pipe::ReadResult::ok) break;
        if (const auto* t = std::get_if<pipe::TextMessage>(&record)) {
            post(ServiceKind::SERVICE_TEXT, burn ? t->messageClass : 3, 0, t->text);
        } else if (const auto* p = std::get_if<pipe::ProgressMessage>(&record)) {
            post(ServiceKind::SERVICE_PROGRESS, p->done, p->total);
        } else {
            const auto& s = std::get<pipe::StatusMessage>(record);
            if (s.code < pipe::E_STATUS_FAILURE || s.code > pipe::E_STATUS_CANCELLED) continue;  // never sent
            HandleSink(h.paramWriter).write(pipe::kTerminateMessage);
            DWORD value = 0;
            if (job_.kind == JobKind::identify && s.code == pipe::E_STATUS_SUCCESS) {
                value = s.value;
                identified_ = static_cast<std::int32_t>(s.value);
            }
            endWorker();
            post(ServiceKind::SERVICE_COMPLETION, s.code, value);
            return;
        }
    }

    // The status pipe broke or carried nonsense.
    const bool exited = WaitForSingleObject(process, kExitSettleMs) == WAIT_OBJECT_0;
    const std::string text =
        exited ? job_.workerName + " has exited." : "Cannot communicate with " + job_.workerName + ".";
    const DWORD messageClass = burn && !exited ? 0 : 3;
    // A worker still running is not left behind: closing its input ends its
    // terminate wait, and the grace period applies as after a final record.
    Handles::close(h.paramWriter);
    Handles::close(h.paramWrite);
    endWorker();
    post(ServiceKind::SERVICE_TEXT, messageClass, 0, text);
    post(ServiceKind::SERVICE_COMPLETION, pipe::E_STATUS_FAILURE, 0);
}

}  // namespace ombra::launcher
