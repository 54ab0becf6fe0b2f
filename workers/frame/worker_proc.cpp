#include "ombra/workers/worker_proc.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "ombra/common/pipe_io.h"
#include "ombra/platform/com.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/messagebox.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/process.h"
#include "ombra/platform/registry.h"
#include "ombra/platform/unique_mutex.h"

namespace ombra::workers {

namespace {

void registerLocation(const WorkerTraits& t) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    bool ok = false;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kLocationsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, &disposition) != ERROR_SUCCESS) {
        TraceText("failed to open/create 'Locations' registry key");
    } else {
        // The whole path: a cut one would point the front end at nothing.
        const std::string path = GetProgramPath();
        if (!path.empty() &&
            RegSetValueExA(key, t.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           static_cast<DWORD>(path.size() + 1)) == ERROR_SUCCESS) {
            ok = true;
        } else {
            TraceFormat("failed to set '%s' registry value", t.name);
        }
        RegCloseKey(key);
    }
    if (!ok) {
        std::fputs(t.registerFailure, stderr);
        std::fflush(stderr);
    }
}

void unregisterLocation(const WorkerTraits& t) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLocationsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        TraceText("failed to open/create 'Locations' registry key");
        return;
    }
    if (RegDeleteValueA(key, t.name) != ERROR_SUCCESS) {
        TraceFormat("failed to delete '%s' registry value", t.name);
        const std::string text = std::string("failed to unregister ") + t.name + "\n";
        ombra::platform::messageBox(text.c_str(), "Error", MB_OK);
    }
    RegCloseKey(key);
}

HANDLE adoptPipe(DWORD number) {
    HANDLE h = HandleFromNumber(number, HandleKind::Pipe);
    return h;
}

// Reads one byte; false at the end of the stream or on an error.
bool readByte(HANDLE input, std::uint8_t& byte) {
    if (input == nullptr) return false;
    DWORD got = 0;
    return ReadFile(input, &byte, 1, &got) && got == 1;
}

void waitForTerminateMessage(HANDLE input) {
    pipe::TerminateScanner scan;
    std::uint8_t byte = 0;
    while (readByte(input, byte)) {
        const std::uint8_t expecting = scan.expecting();
        const bool done = scan.feed(byte);
        if (expecting == 1)
            TraceFormat(" received %d", byte);
        else if (scan.expecting() == expecting + 1 || done)
            TraceFormat(" received %d", expecting);
        if (done) return;
    }
}

// Watches the front end's mutex while the run lasts. A front end that was
// killed cannot cancel us or read our result, and a run that went on would
// keep the serial port from the next one; so its end cancels the run.
class FrontEndWatch {
public:
    FrontEndWatch(const std::string& mutexName, HANDLE cancelEvent) {
        if (mutexName.empty() || cancelEvent == nullptr) return;
        thread_ = std::thread([this, mutexName, cancelEvent] {
            std::unique_lock lock(m_);
            while (!done_) {
                if (!ombra::platform::UniqueMutex::exists(mutexName)) {
                    TraceText("front end gone: cancelling");
                    SetEvent(cancelEvent);
                    return;
                }
                wake_.wait_for(lock, kPeriod, [this] { return done_; });
            }
        });
    }
    ~FrontEndWatch() {
        {
            std::lock_guard lock(m_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    FrontEndWatch(const FrontEndWatch&) = delete;
    FrontEndWatch& operator=(const FrontEndWatch&) = delete;

private:
    static constexpr std::chrono::milliseconds kPeriod{250};
    std::mutex m_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace

std::string joinCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}

bool parseRunForm(const std::string& commandLine, RunForm& form) {
    const char* p = commandLine.c_str();
    auto skipBlanks = [&] {
        while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    };
    skipBlanks();
    const char* nameStart = p;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (p == nameStart) return false;
    std::string name(nameStart, p);

    DWORD numbers[2] = {};
    for (DWORD& n : numbers) {
        skipBlanks();
        char* end = nullptr;
        errno = 0;
        const unsigned long v = std::strtoul(p, &end, 10);
        if (end == p) return false;
        n = (errno == ERANGE || v > 0xFFFFFFFFul) ? 0xFFFFFFFFu : static_cast<DWORD>(v);
        p = end;
    }
    form.mutexName = std::move(name);
    form.input = numbers[0];
    form.output = numbers[1];
    return true;
}

bool frameStart(int argc, char** argv, const WorkerTraits& t, FrameStart& start, int& exitCode) {
    TraceOpen(t.traceName);
    TraceText("starting");

    const std::string commandLine = joinCommandLine(argc, argv);
    if (commandLine == "REGISTER") {
        registerLocation(t);
        exitCode = kExitFailure;
        return false;
    }
    if (commandLine == "UNREGISTER") {
        unregisterLocation(t);
        exitCode = kExitFailure;
        return false;
    }
    TraceFormat("Command line = %s", commandLine.c_str());
    RunForm form;
    if (!parseRunForm(commandLine, form)) {
        TraceText("bad command line parameters");
        exitCode = kExitFailure;
        return false;
    }
    // Only a live front end holds the mutex it named on our command line.
    if (!ombra::platform::UniqueMutex::isValidName(form.mutexName) ||
        !ombra::platform::UniqueMutex::exists(form.mutexName)) {
        ombra::platform::messageBox("No unique mutex", "ERR", MB_OK);
        exitCode = kExitFailure;
        return false;
    }

    TraceText("Initializing COM library\n");
    CoInitialize(nullptr);
    start.input = adoptPipe(form.input);
    start.output = adoptPipe(form.output);
    start.mutexName = form.mutexName;
    return true;
}

int frameRun(WorkerProc& proc, const WorkerTraits& t, const std::string& mutexName) {
    TraceText("Reading parameters\n");
    const bool read = proc.ReadProcParams() != 0;
    RunResult result = FAILURE;
    if (read) {
        FrontEndWatch watch(mutexName, proc.cancelEvent());
        TraceText(t.runTrace);
        result = proc.Run();
    }

    DWORD code = pipe::E_STATUS_FAILURE;
    DWORD value = 0;
    if (read && result == CANCELLED) {
        if (t.traceRunResult) TraceFormat("proc.Run() returned %s::CANCELLED", t.name);
        TraceText("sending E_STATUS_CANCELLED message");
        code = pipe::E_STATUS_CANCELLED;
    } else if (read && result == SUCCESS) {
        code = pipe::E_STATUS_SUCCESS;
        value = proc.successValue();
    } else if (read && t.traceRunResult) {
        TraceFormat("proc.Run() returned %s::FAILURE", t.name);
    }
    proc.SendStatus(code, value);

    if (t.traceShutdown) TraceText("waiting for terminate message");
    waitForTerminateMessage(proc.inputPipe());

    if (t.traceShutdown) TraceText("closing pipe handles");
    proc.closePipes();
    if (t.traceShutdown) TraceText("uninitializing COM");
    CoUninitialize();
    if (t.traceShutdown) TraceText("exiting");
    return 0;
}

WorkerProc::~WorkerProc() {
    closePipes();
    if (m_hCancelEvent != nullptr) CloseHandle(m_hCancelEvent);
}

void WorkerProc::closePipes() {
    if (m_hInputPipe != nullptr) CloseHandle(m_hInputPipe);
    if (m_hOutputPipe != nullptr) CloseHandle(m_hOutputPipe);
    m_hInputPipe = nullptr;
    m_hOutputPipe = nullptr;
}

void WorkerProc::SendText(const char* text, DWORD messageClass) {
    if (m_hOutputPipe == nullptr) return;
    pipe::TextRecord(text != nullptr ? text : "", messageClass).Write(m_hOutputPipe);
}

void WorkerProc::SendTextF(const char* format, ...) {
    char text[1024];
    text[0] = '\0';
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    char line[pipe::kMaxRecordText + 1];
    std::snprintf(line, sizeof line, "%s: %s", GetName(), text);
    SendText(line, pipe::kDefaultMessageClass);
}

void WorkerProc::SendStatus(DWORD code, DWORD value) {
    if (m_hOutputPipe == nullptr) return;
    pipe::StatusRecord(code, value).Write(m_hOutputPipe);
}

bool WorkerProc::readBlock(pipe::Operation operation, pipe::BlockForm form, const pipe::FieldObserver& trace) {
    if (m_hInputPipe == nullptr) return false;
    HandleSource source(m_hInputPipe);
    pipe::ParameterBlock block;
    if (!pipe::readParameterBlock(source, operation, form, block, trace)) return false;
    m_params = std::move(block);
    // The number names the front end's event duplicated into this process;
    // a number that names nothing leaves the worker without a cancel event.
    m_hCancelEvent = HandleFromNumber(m_params.cancelEvent, HandleKind::Event);
    return true;
}

bool WorkerProc::cancelSignalled() const {
    return m_hCancelEvent != nullptr && WaitForSingleObject(m_hCancelEvent, 0) == WAIT_OBJECT_0;
}

}  // namespace ombra::workers
