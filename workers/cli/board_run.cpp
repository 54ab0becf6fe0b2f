#include "board_run.h"

#include <cstdio>
#include <ctime>

#include "ombra/burnix/interfaces.h"
#include "ombra/chipfamily/chipfamily.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/com.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"

namespace ombra::cli {

using launcher::JobKind;
using launcher::ResultDetail;
using launcher::ServiceKind;
using launcher::ServiceRecord;

namespace {

std::string workerPath(const char* name, const std::string& programFolder) {
    std::string path;
    if (launcher::findWorker(name, path)) return path;
    // Not registered: the worker beside this program.
    return programFolder + "/" + name;
}

// "manufacturer model" of a device of the programmer's table, as the
// dialog's device list names it; empty when the programmer cannot tell.
std::string lookUpDeviceName(const CLSID& clsid, const std::string& programmer, DWORD index) {
    DeviceInfo* info = nullptr;
    HRESULT found = E_FAIL;
    IBurnixInitialization* init = nullptr;
    const HRESULT created =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBurnixInitialization, reinterpret_cast<void**>(&init));
    if (created == E_NOINTERFACE) {
        // A chip-family programmer: its table is built in.
        chipfamily::IBurnixInformation* family = nullptr;
        if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBurnixInformation,
                                       reinterpret_cast<void**>(&family))) &&
            family != nullptr) {
            found = family->EnumSupportedDevices(index, &info);
            family->Release();
        }
    } else if (SUCCEEDED(created) && init != nullptr) {
        IBurnixInformation* face = nullptr;
        if (SUCCEEDED(init->InitializeDevices(programmer.c_str())) &&
            SUCCEEDED(init->QueryInterface(IID_IBurnixInformation, reinterpret_cast<void**>(&face))) && face != nullptr) {
            found = face->EnumSupportedDevices(index, &info);
            face->Release();
        }
        init->Release();
    }
    std::string name;
    if (info != nullptr) {
        if (found == S_OK && info->manufacturerName != nullptr && info->modelName != nullptr)
            name = std::string(info->manufacturerName) + " " + info->modelName;
        CoTaskMemFree(info->manufacturerName);
        CoTaskMemFree(info->modelName);
        CoTaskMemFree(info);
    }
    return name;
}

// Apartment for the component calls of a board's thread.
struct ComScope {
    ComScope() { CoInitialize(nullptr); }
    ~ComScope() { CoUninitialize(); }
};

}  // namespace

const char* verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::passed: return "passed";
    case Verdict::failed: return "failed";
    case Verdict::cancelled: return "cancelled";
    }
    return "failed";
}

const char* statusName(DWORD code) {
    switch (code) {
    case pipe::E_STATUS_SUCCESS: return "SUCCESS";
    case pipe::E_STATUS_CANCELLED: return "CANCELLED";
    case pipe::E_STATUS_FAILURE: return "FAILURE";
    default: return "none";
    }
}

std::string DeviceNames::name(const CLSID& programmer, const std::string& programmerName, DWORD index) {
    std::lock_guard guard(lock_);
    const auto known = cache_.find(index);
    if (known != cache_.end()) return known->second;
    const ComScope com;
    return cache_[index] = lookUpDeviceName(programmer, programmerName, index);
}

BoardRun::BoardRun(const RunPlan& plan, std::size_t number, std::string port, BoardObserver& observer,
                   DeviceNames& names)
    : plan_(plan), observer_(observer), names_(names), cancel_(CreateEvent(TRUE, FALSE)) {
    result_.number = number;
    result_.port = std::move(port);
    result_.programmer = plan.options.programmer;
}

BoardRun::~BoardRun() {
    if (cancel_ != nullptr) CloseHandle(cancel_);
}

void BoardRun::cancel() {
    if (cancel_ != nullptr) SetEvent(cancel_);
}

void BoardRun::abandon() {
    std::lock_guard guard(lock_);
    abandoned_ = true;
    if (current_ != nullptr) current_->killWorker();
}

bool BoardRun::cancelled() const { return cancel_ != nullptr && WaitForSingleObject(cancel_, 0) == WAIT_OBJECT_0; }

OperationResult BoardRun::runOperation(JobKind kind, const char* worker, const pipe::ParameterBlock& block,
                                       const std::string& name, unsigned attempt, ResultDetail& detail) {
    OperationResult op;
    op.name = name;
    op.attempt = attempt;
    const std::size_t before = detail.failures().size();
    const bool burnCommand = plan_.options.command == Command::burn;

    launcher::WorkerJob job;
    job.kind = kind;
    job.workerName = worker;
    job.workerPath = workerPath(worker, plan_.programFolder);
    job.block = block;
    job.cancelEvent = cancel_;
    const std::size_t board = result_.number;
    launcher::WorkerLauncher launcher(std::move(job), [&](ServiceRecord r) {
        detail.add(r);
        switch (r.kind) {
        case ServiceKind::SERVICE_TEXT:
            if (r.first == 0) op.messages.push_back(r.text);
            observer_.text(board, r.text);
            break;
        case ServiceKind::SERVICE_PROGRESS: observer_.progress(board, r.first, r.second); break;
        case ServiceKind::SERVICE_COMPLETION:
            op.completed = true;
            op.status = r.first;
            observer_.completion(board, r.first, r.second);
            break;
        }
    });
    {
        std::lock_guard guard(lock_);
        current_ = &launcher;
        // Abandoned before this worker started: it is killed as it starts.
        if (abandoned_) launcher.killWorker();
    }
    const DWORD started = GetTickCount();
    launcher.run();
    op.seconds = (GetTickCount() - started) / 1000.0;
    {
        std::lock_guard guard(lock_);
        current_ = nullptr;
    }
    op.device = launcher.identifiedDevice();

    // The launcher posts nothing when it cannot even make its pipes.
    if (!op.completed) {
        detail.fail(std::string(worker) + " could not be started");
    } else if (burnCommand) {
        // The dialog's lines for an unattended burn.
        detail.addCompletion(op.status);
    } else if (op.status == pipe::E_STATUS_CANCELLED) {
        detail.cancelledByUser();
    } else if (op.status != pipe::E_STATUS_SUCCESS) {
        detail.fail(name + " failed");
    }
    if (op.completed && op.status == pipe::E_STATUS_SUCCESS && kind == JobKind::identify && op.device < 0) {
        observer_.note(board, "device not found in the programmer's table");
        detail.fail("device not found in the programmer's table");
    }
    op.failures.assign(detail.failures().begin() + static_cast<std::ptrdiff_t>(before), detail.failures().end());
    if (op.failures.empty()) op.outcome = Verdict::passed;
    else if (op.status == pipe::E_STATUS_CANCELLED || cancelled()) op.outcome = Verdict::cancelled;
    else op.outcome = Verdict::failed;
    return op;
}

void BoardRun::runAttempt(unsigned attempt, ResultDetail& detail, launcher::RunReport* log) {
    const Options& o = plan_.options;
    pipe::ParameterBlock block = plan_.block;
    block.commDeviceName = result_.port;
    const std::size_t board = result_.number;
    char heading[512];

    long device = o.device;
    if (o.command == Command::identify || device < 0) {
        std::snprintf(heading, sizeof heading, "Identify (%s on %s at %u baud)", o.programmer.c_str(),
                      result_.port.c_str(), unsigned(o.baud));
        observer_.operationStarted(board, heading, "identify", attempt);
        block.operation = pipe::Operation::identify;
        OperationResult op = runOperation(JobKind::identify, "Wexom", block, "identify", attempt, detail);
        device = op.device;
        result_.device = op.device;
        if (op.outcome == Verdict::passed) {
            result_.deviceName = names_.name(block.programmerClsid, o.programmer, static_cast<DWORD>(op.device));
            if (log != nullptr && !result_.deviceName.empty()) log->detectedFlashType(result_.deviceName);
        }
        result_.operations.push_back(std::move(op));
    } else {
        result_.device = static_cast<std::int32_t>(device);
    }
    if (!detail.passed()) return;
    if (o.command != Command::identify && cancelled()) {
        // Cancelled between two operations: what is left never ran.
        detail.cancelledByUser();
        return;
    }

    if (o.command == Command::burn) {
        const std::string name = o.verify ? "burn and verify" : "burn";
        std::snprintf(heading, sizeof heading, "Burn%s %s at 0x%X (device %ld)", o.verify ? " and verify" : "",
                      o.image.c_str(), unsigned(plan_.burnStart), device);
        observer_.operationStarted(board, heading, name, attempt);
        block.operation = pipe::Operation::burn;
        block.deviceNumber = static_cast<DWORD>(device);
        block.path = plan_.burnPath;
        block.start = plan_.burnStart;
        block.verifyFlag = o.verify ? 1 : 0;
        result_.operations.push_back(runOperation(JobKind::burn, "Tordel", block, name, attempt, detail));
    } else if (o.command == Command::dump) {
        std::snprintf(heading, sizeof heading, "Dump 0x%X bytes from 0x%X into %s (device %ld)", unsigned(o.length),
                      unsigned(o.start), result_.outputFile.c_str(), device);
        observer_.operationStarted(board, heading, "dump", attempt);
        block.operation = pipe::Operation::dump;
        block.deviceNumber = static_cast<DWORD>(device);
        block.path = result_.outputFile;
        block.start = o.start;
        block.dumpLength = o.length;
        result_.operations.push_back(runOperation(JobKind::dump, "Lunet", block, "dump", attempt, detail));
    }
}

void BoardRun::run() {
    const Options& o = plan_.options;
    if (o.command == Command::dump) result_.outputFile = perBoardPath(o.out, result_.number, result_.port);
    if (!o.log.empty()) result_.logFile = perBoardPath(o.log, result_.number, result_.port);
    if ((o.command == Command::dump && result_.outputFile.empty()) || (!o.log.empty() && result_.logFile.empty())) {
        // Nothing runs on a board whose files would have no name of their own.
        const std::string why = "the port's name gives no file name for {port}";
        observer_.note(result_.number, why);
        result_.verdict = Verdict::failed;
        result_.failures = {why};
        observer_.boardEnded(result_);
        return;
    }

    const unsigned attempts = o.retries + 1;
    ResultDetail detail;
    launcher::RunReport log;
    for (unsigned attempt = 1; attempt <= attempts; ++attempt) {
        if (attempt > 1)
            observer_.note(result_.number, "retrying from the start (attempt " + std::to_string(attempt) + " of " +
                                               std::to_string(attempts) + ")");
        detail = ResultDetail{};
        log = launcher::RunReport{};
        if (!result_.logFile.empty()) {
            log.startedOn(launcher::startedOnText(std::time(nullptr)));
            log.imageFileName(o.image);
            log.comPort(result_.port);
            log.baudRate(o.baud);
            log.action(o.verify);
            if (attempt > 1)
                log.note("Attempt " + std::to_string(attempt) + " of " + std::to_string(attempts) +
                         " (the earlier ones failed)");
        }
        result_.device = -1;
        result_.deviceName.clear();
        runAttempt(attempt, detail, result_.logFile.empty() ? nullptr : &log);
        result_.attempts = attempt;
        if (detail.passed()) {
            result_.verdict = Verdict::passed;
            break;
        }
        result_.verdict = cancelled() ? Verdict::cancelled : Verdict::failed;
        if (result_.verdict == Verdict::cancelled) break;
    }
    result_.failures = detail.failures();

    if (!result_.logFile.empty()) {
        DWORD error = 0;
        const auto written = launcher::writeRunLog(result_.logFile, log.finish(detail), &error);
        if (written != launcher::RunLogResult::written)
            result_.logError = std::string(written == launcher::RunLogResult::cannotCreate ? "cannot create"
                                                                                           : "cannot write") +
                               " log file " + result_.logFile + ": " + GetErrorText(error);
    }
    observer_.boardEnded(result_);
}

}  // namespace ombra::cli
