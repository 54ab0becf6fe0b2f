#include "worker_thread.h"

#include <QCoreApplication>

#include "ombra/common/hand_over.h"
#include "ombra/common/trace.h"
#include "ombra/platform/event.h"
#include "ombra/platform/thread.h"

namespace ombra::frontend {

void ServiceMailbox::post(launcher::ServiceRecord record) {
    std::lock_guard lock(lock_);
    if (owner_ == nullptr) return;
    auto* event = new ServiceNotifyEvent(std::move(record));
    handOverSent(event);
    QCoreApplication::postEvent(owner_, event);
}

void ServiceMailbox::close() {
    std::lock_guard lock(lock_);
    owner_ = nullptr;
}

// Shared with the thread, which keeps it alive until it has ended even when
// the dialog has deleted the thread object.
struct CWorkerThread::State {
    std::unique_ptr<launcher::WorkerLauncher> launcher;
    HANDLE done = nullptr;
    bool started = false;

    ~State() {
        if (done != nullptr) CloseHandle(done);
    }
};

CWorkerThread::CWorkerThread(std::shared_ptr<ServiceMailbox> mailbox, launcher::WorkerJob job)
    : state_(std::make_shared<State>()) {
    state_->launcher = std::make_unique<launcher::WorkerLauncher>(
        std::move(job), [mailbox = std::move(mailbox)](launcher::ServiceRecord r) {
            // A text never goes past what a record can hold.
            if (r.text.size() > pipe::kMaxRecordText) r.text.resize(pipe::kMaxRecordText);
            mailbox->post(std::move(r));
        });
}

CWorkerThread::~CWorkerThread() = default;

bool CWorkerThread::Start() {
    if (state_->started) return false;
    state_->done = CreateEvent(TRUE, FALSE);
    if (state_->done == nullptr) return false;
    HANDLE thread = StartThread(
        [state = state_]() -> DWORD {
            state->launcher->run();
            SetEvent(state->done);
            return 0;
        },
        nullptr);
    if (thread == nullptr) return false;
    state_->started = true;
    CloseHandle(thread);  // the done event is what the dialog waits on
    return true;
}

bool CWorkerThread::Wait(DWORD milliseconds) const {
    return state_->started && WaitForSingleObject(state_->done, milliseconds) == WAIT_OBJECT_0;
}

void CWorkerThread::KillWorker() { state_->launcher->killWorker(); }

std::string CWorkerThread::mutexName() const { return state_->launcher->mutexName(); }

std::int32_t CWorkerThread::identified() const { return state_->launcher->identifiedDevice(); }

namespace {

launcher::WorkerJob makeJob(launcher::JobKind kind, const char* workerName, std::string workerPath,
                            const OperationValues& v, pipe::Operation operation, DWORD deviceNumber = 0,
                            std::string path = {}, DWORD start = 0) {
    launcher::WorkerJob job;
    job.kind = kind;
    job.workerName = workerName;
    job.workerPath = std::move(workerPath);
    job.cancelEvent = v.cancelEvent;
    pipe::ParameterBlock& b = job.block;
    b.operation = operation;
    b.programmerClsid = v.programmerClsid;
    b.commDeviceName = v.portPath;
    b.dcb = v.dcb;
    b.timeouts = v.timeouts;
    b.cbusTable = v.cbusTable;
    b.baudRate = v.baudRate;
    b.programmerName = v.programmerName;
    b.deviceNumber = deviceNumber;
    b.path = std::move(path);
    b.start = start;
    return job;
}

// The one field an operation adds to the shared ones.
launcher::WorkerJob with(launcher::WorkerJob job, DWORD pipe::ParameterBlock::*field, DWORD value) {
    job.block.*field = value;
    return job;
}

}  // namespace

CIdentifyThread::CIdentifyThread(std::shared_ptr<ServiceMailbox> mailbox, std::string workerPath,
                                 const OperationValues& values)
    : CWorkerThread(std::move(mailbox), makeJob(launcher::JobKind::identify, "Wexom", std::move(workerPath), values,
                                                pipe::Operation::identify)) {
    TraceText("CIdentifyThread::CIdentifyThread\n");
}

CBurnThread::CBurnThread(std::shared_ptr<ServiceMailbox> mailbox, std::string workerPath,
                         const OperationValues& values, DWORD deviceNumber, std::string imagePath, DWORD burnStart,
                         bool verify)
    : CWorkerThread(std::move(mailbox),
                    with(makeJob(launcher::JobKind::burn, "Tordel", std::move(workerPath), values, pipe::Operation::burn,
                                 deviceNumber, std::move(imagePath), burnStart),
                         &pipe::ParameterBlock::verifyFlag, verify ? 1 : 0)) {
    TraceText("CBurnThread::CBurnThread\n");
}

CDumpThread::CDumpThread(std::shared_ptr<ServiceMailbox> mailbox, std::string workerPath,
                         const OperationValues& values, DWORD deviceNumber, std::string dumpFile, DWORD dumpStart,
                         DWORD dumpLength)
    : CWorkerThread(std::move(mailbox),
                    with(makeJob(launcher::JobKind::dump, "Lunet", std::move(workerPath), values, pipe::Operation::dump,
                                 deviceNumber, std::move(dumpFile), dumpStart),
                         &pipe::ParameterBlock::dumpLength, dumpLength)) {
    TraceText("CDumpThread::CDumpThread\n");
}

}  // namespace ombra::frontend
