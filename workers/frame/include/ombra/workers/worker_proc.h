// The frame every worker program shares: command line, registration of the
// worker's location, the check that a live front end started it, reading
// the parameter block, running the operation, the final status record, the
// wait for the terminate message, and the exit.
#pragma once

#include <cstdint>
#include <string>

#include "ombra/common/pipe_protocol.h"
#include "ombra/common/trace.h"
#include "ombra/platform/types.h"
#include "ombra/platform/unknown.h"

struct BootMessage;

namespace ombra::workers {

inline constexpr const char* kLocationsKey = "Software\\Tarvik\\Ombra\\Locations";
inline constexpr int kExitFailure = -1;

enum RunResult : int { FAILURE = 0, CANCELLED = 1, SUCCESS = 2 };
enum BootResult : std::uint32_t { E_BOOT_NONE = 0, E_BOOT_FAILURE = 1, E_BOOT_SUCCESS = 3 };

// How the workers' preparations of the programmer differ.
struct Preparation {
    const char* createFailed;       // traced when the programmer cannot be created; null: nothing
    bool tracePlatformType;         // "Setting platform type"
    bool initializeProgrammers;
    const char* remoteCodesFailed;  // traced when the remote codes do not load
};

// How one worker differs inside the shared frame.
struct WorkerTraits {
    const char* name;             // GetName, the Locations value name
    const char* traceName;        // TraceOpen
    const char* registerFailure;  // to stderr when REGISTER fails
    const char* runTrace;         // traced before Run
    bool traceRunResult;          // "proc.Run() returned <name>::FAILURE" and ::CANCELLED
    bool traceShutdown;           // the traces of the terminate wait and the exit
};

// How a worker fetches and starts its remote code: its trace lines and the
// programmer call that hands the code out.
struct RemoteCodeStep {
    const char* requestTrace; // before the call
    const char* failedTrace;  // when the call fails
    bool tracesUploadFailure; // "uploadRemote failed" when the upload fails
    const char* cancelTrace;  // when the failed upload was a cancel
};
using BootCodeGetter = HRESULT (*)(IUnknown* face, BYTE** code, DWORD* address, WORD* size);

class WorkerProc {
public:
    WorkerProc(const WorkerProc&) = delete;
    WorkerProc& operator=(const WorkerProc&) = delete;

    virtual const char* GetName() const = 0;
    // Nonzero when the whole parameter block was read and stored.
    virtual BOOL ReadProcParams() = 0;
    virtual RunResult Run() = 0;

    void SendText(const char* text, DWORD messageClass);
    // "<name>: <text>", the text formatted to at most 1023 bytes; class 3.
    void SendTextF(const char* format, ...) OMBRA_PRINTF_LIKE(2, 3);
    void SendStatus(DWORD code, DWORD value);

    HANDLE inputPipe() const { return m_hInputPipe; }
    // The front end's cancel event once the block is read; null before.
    HANDLE cancelEvent() const { return m_hCancelEvent; }
    HANDLE outputPipe() const { return m_hOutputPipe; }
    void closePipes();
    // The value of a SUCCESS status record (the identify worker's device index).
    DWORD successValue() const { return m_successValue; }

    // Uploads `code` through the boot loader and starts it on the board: 1
    // when it runs, 0 otherwise (texts and status already sent, or nothing
    // after a cancel). The caller keeps and frees `code`.
    BOOL uploadRemote(const BYTE* code, DWORD loadAddress, WORD size);

protected:
    WorkerProc(HANDLE input, HANDLE output) : m_hInputPipe(input), m_hOutputPipe(output) {}
    ~WorkerProc();

    // Reads the block of `operation`; `trace` sees each field as it arrives.
    // On success the fields are stored and the cancel event adopted.
    bool readBlock(pipe::Operation operation, pipe::BlockForm form, const pipe::FieldObserver& trace);
    // Tested without waiting; false without an event.
    bool cancelSignalled() const;

    // Creates the programmer from the block's class and gives its face
    // `operation` (a reference the caller releases), null when the run fails
    // here (nothing sent but the remote-codes text). A programmer without the
    // initialisation face is created for `operation` directly.
    IUnknown* prepareProgrammer(REFIID operation, const Preparation& how);
    // Fetches the operation's remote code through `getCode`, starts it on the
    // board and frees it. True when it runs; otherwise the face is released
    // and `result` holds what Run gives back (CANCELLED when the cancel event
    // is set, FAILURE otherwise).
    bool startRemoteCode(IUnknown* face, const RemoteCodeStep& step, BootCodeGetter getCode,
                         RunResult& result);
    // Releases the face; CANCELLED when the cancel event is set, FAILURE otherwise.
    RunResult endOperation(IUnknown* face);
    // Releases the face after sending a FAILURE status record.
    RunResult failWithStatus(IUnknown* face, const char* trace = nullptr);
    // Burn and verify: the length to use for an image of `fileSize` bytes on
    // the block's device (asking before cutting it to the capacity). False
    // when the run is to fail with status.
    bool spanLength(IUnknown* face, DWORD fileSize, bool trace, DWORD& length);

    HANDLE m_hInputPipe;
    HANDLE m_hOutputPipe;
    HANDLE m_hCancelEvent = nullptr;
    pipe::ParameterBlock m_params;  // serial settings, C-bus table and the rest, exactly as received
    BootResult m_eBootResult = E_BOOT_NONE;
    DWORD m_successValue = 0;
    // A programmer without the initialisation face: the earlier preparation,
    // and the earlier step numbers in the upload's error texts.
    bool m_earlierGeneration = false;

private:
    friend LONG BootCallback(BootMessage* message, void* context);
};

// The boot loader's callback; `context` is what uploadRemote registered.
LONG BootCallback(BootMessage* message, void* context);

// Steps before the worker object exists. False when the process must end
// now with `exitCode` (REGISTER, UNREGISTER, a bad command line, no mutex).
struct FrameStart {
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    std::string mutexName;  // held by the front end while it waits for us
};
bool frameStart(int argc, char** argv, const WorkerTraits& traits, FrameStart& start, int& exitCode);
// Reads the block, runs, sends the final status, waits for the terminate
// message and ends; the exit code. While it runs, a front end that is gone
// (`mutexName` no longer held) cancels the run as its cancel event would.
int frameRun(WorkerProc& proc, const WorkerTraits& traits, const std::string& mutexName);

// The command line as one text: the arguments after the program name
// joined by single blanks.
std::string joinCommandLine(int argc, char** argv);

struct RunForm {
    std::string mutexName;
    DWORD input = 0;
    DWORD output = 0;
};
// "name number number": false with fewer than three fields. A number beyond
// 32 bits reads as 0xFFFFFFFF, which names no handle.
bool parseRunForm(const std::string& commandLine, RunForm& form);

template <class Worker>
int runWorkerProgram(int argc, char** argv) {
    FrameStart start;
    int exitCode = 0;
    if (!frameStart(argc, argv, Worker::kTraits, start, exitCode)) return exitCode;
    Worker proc(start.input, start.output);
    return frameRun(proc, Worker::kTraits, start.mutexName);
}

}  // namespace ombra::workers
