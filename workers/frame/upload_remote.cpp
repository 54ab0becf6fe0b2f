#include <mutex>
#include <vector>

#include "ombra/platform/com.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/thread.h"
#include "ombra/selkanboot/iselkanboot.h"
#include "ombra/workers/worker_proc.h"

namespace ombra::workers {

namespace {

constexpr DWORD kAbandonAfterMs = 5000;

// What the boot loader's thread reaches through the callback. A thread that
// outlives a cancel keeps its sink (it cannot be killed), but the sink no
// longer points at the worker, so late texts cannot cut into our records.
struct BootSink {
    std::mutex lock;
    WorkerProc* proc;
};

void abandon(BootSink* sink) {
    {
        std::lock_guard guard(sink->lock);
        sink->proc = nullptr;
    }
    // Kept reachable for the rest of the process: the thread may still call.
    static auto* abandoned = new std::vector<BootSink*>;
    abandoned->push_back(sink);
}

// The step numbers in the error texts; the earlier generation's differ.
struct StepNumbers {
    int notRegistered, notCreated, uploadRefused, uploadFailed, execRefused, execFailed;
};
constexpr StepNumbers kCurrentSteps{333, 324, 314, 241, 304, 278};
constexpr StepNumbers kEarlierSteps{324, 315, 305, 232, 295, 269};

}  // namespace

LONG BootCallback(BootMessage* message, void* context) {
    auto* sink = static_cast<BootSink*>(context);
    if (message == nullptr || sink == nullptr) return 0;
    std::lock_guard guard(sink->lock);
    WorkerProc* proc = sink->proc;
    if (proc == nullptr) return 0;
    switch (message->code) {
    case BOOT_MSG_INFO:
        proc->SendText(message->text, pipe::kDefaultMessageClass);
        break;
    case BOOT_MSG_ERROR:
        proc->SendText(message->text, pipe::kDefaultMessageClass);
        proc->m_eBootResult = E_BOOT_FAILURE;
        break;
    case BOOT_MSG_DONE:
        proc->m_eBootResult = E_BOOT_SUCCESS;
        break;
    default:
        break;
    }
    return 0;
}

BOOL WorkerProc::uploadRemote(const BYTE* code, DWORD loadAddress, WORD size) {
    const StepNumbers& step = m_earlierGeneration ? kEarlierSteps : kCurrentSteps;
    TraceText("Inside uploadRemote");
    TraceText("Retrieving CLSID from SelkanBoot ProgID");
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(L"Tarvik.SelkanBootKL", &clsid))) {
        TraceText("failed to retrieve CLSID from ProgID");
        SendTextF("ERROR 5(l%d) - component %s not found in system registry", step.notRegistered, "SelkanBoot");
        SendStatus(pipe::E_STATUS_FAILURE, 0);
        return 0;
    }
    TraceText("Creating SelkanBoot instance");
    ISelkanBoot* boot = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISelkanBoot, reinterpret_cast<void**>(&boot))) ||
        boot == nullptr) {
        TraceText("SelkanBoot instance creation failed");
        SendTextF("ERROR 4(l%d) - failed to create %s instance", step.notCreated, "SelkanBoot");
        SendStatus(pipe::E_STATUS_FAILURE, 0);
        return 0;
    }
    TraceText("SelkanBoot instance created");

    auto* sink = new BootSink{{}, this};
    const WORD segment = static_cast<WORD>(loadAddress >> 16);
    const WORD offset = static_cast<WORD>(loadAddress & 0xFFFFu);
    const DCB dcb = m_params.dcb;
    const COMMTIMEOUTS timeouts = m_params.timeouts;
    TraceText("Setting Comm device name");
    boot->SetCommDeviceName(m_params.commDeviceName.c_str());
    TraceText("Setting DCB");
    boot->SetDCB(&dcb);
    TraceText("Setting Comm Timeouts");
    boot->SetCommTimeouts(&timeouts);
    TraceText("Setting debug level 3");
    boot->SetDebugLevel(3);
    TraceFormat("Setting CBus table, table size = %d", static_cast<int>(m_params.cbusTable.size()));
    boot->SetCBusTable(m_params.cbusTable.data(), static_cast<WORD>(m_params.cbusTable.size()));
    TraceText("Cbus table set");
    TraceFormat("Setting upload address %d", static_cast<int>(loadAddress));
    boot->SetUploadAddress(segment, offset);
    TraceText("Setting callback function");
    boot->SetCallbackFn(&BootCallback, sink);
    TraceFormat("Setting termination event %d", static_cast<int>(HandleToNumber(m_hCancelEvent)));
    boot->SetTerminationFlag(m_hCancelEvent);
    TraceText("Setting remote code pointer");
    boot->SetUploadImage(code, size);
    TraceText("Setting remote execute address");
    boot->SetExecuteAddress(segment, offset);

    // Ends the call: the sink goes with the thread's end, or is abandoned
    // with a thread that is still running.
    auto finish = [&](HANDLE thread, bool threadEnded) {
        if (thread != nullptr) CloseHandle(thread);
        boot->Release();
        if (threadEnded)
            delete sink;
        else
            abandon(sink);
    };
    // The cancel event may be missing (a number that named nothing); the
    // wait then watches the thread alone. A thread that ended without
    // success while the event is set ended on the cancel it saw itself: a
    // cancel, not a failed step (with both signalled the wait names the
    // thread first).
    auto waitForThread = [&](HANDLE thread) -> DWORD {
        const HANDLE handles[2] = {thread, m_hCancelEvent};
        const DWORD waited = WaitForMultipleObjects(m_hCancelEvent != nullptr ? 2 : 1, handles, FALSE, INFINITE);
        if (waited == WAIT_OBJECT_0 && m_eBootResult != E_BOOT_SUCCESS && cancelSignalled())
            return WAIT_OBJECT_0 + 1;
        return waited;
    };

    TraceText("calling pISelkanBoot->Upload()\n");
    HANDLE thread = nullptr;
    if (FAILED(boot->Upload(&thread)) || thread == nullptr) {
        TraceText("pISelkanBoot->Upload failed");
        SendTextF("ERROR 1(l%d) - failed to upload programmer code", step.uploadRefused);
        SendStatus(pipe::E_STATUS_FAILURE, 0);
        finish(thread, true);
        return 0;
    }
    DWORD waited = waitForThread(thread);
    if (waited == WAIT_OBJECT_0 + 1) {
        TraceText("Cancel flag raised\n");
        // The thread cannot be killed: past the grace time it is left to
        // notice the same event on its own.
        const bool ended = WaitForSingleObject(thread, kAbandonAfterMs) == WAIT_OBJECT_0;
        finish(thread, ended);
        return 0;
    }
    // A failed wait tells nothing about the thread: it counts as a failed
    // upload rather than letting an execute race an upload still running.
    if (waited != WAIT_OBJECT_0 || m_eBootResult != E_BOOT_SUCCESS) {
        TraceFormat("upload thread handle signaled, m_eBootResult = %d\n",
                    waited == WAIT_OBJECT_0 ? static_cast<int>(m_eBootResult) : -1);
        SendTextF("ERROR 1(l%d) - failed to upload programmer code", step.uploadFailed);
        SendStatus(pipe::E_STATUS_FAILURE, 0);
        finish(thread, waited == WAIT_OBJECT_0);
        return 0;
    }
    TraceText("upload thread handled signaled, m_eBootResult == E_BOOT_SUCCESS");
    SendText("programmer code uploaded successfully", pipe::kDefaultMessageClass);
    CloseHandle(thread);
    thread = nullptr;

    TraceText("Calling pISelkanBoot->Execute()");
    if (FAILED(boot->Execute(&thread)) || thread == nullptr) {
        TraceText("pISelkanBoot->Exec failed");
        SendTextF("ERROR 3(l%d) - programmer exec failed", step.execRefused);
        SendStatus(pipe::E_STATUS_FAILURE, 0);
        finish(thread, true);
        return 0;
    }
    waited = waitForThread(thread);
    if (waited == WAIT_OBJECT_0 + 1) {
        TraceText("Cancel flag raised\n");
        WaitForSingleObject(thread, INFINITE);
        finish(thread, true);
        return 0;
    }
    if (waited != WAIT_OBJECT_0 || m_eBootResult != E_BOOT_SUCCESS) {
        TraceFormat("upload thread handle signaled, m_eBootResult = %d\n",
                    waited == WAIT_OBJECT_0 ? static_cast<int>(m_eBootResult) : -1);
        SendTextF("ERROR 2(l%d) - failed to execute programmer code", step.execFailed);
        SendStatus(pipe::E_STATUS_FAILURE, 0);
        finish(thread, waited == WAIT_OBJECT_0);
        return 0;
    }
    TraceText("upload thread handled signaled, m_eBootResult == E_BOOT_SUCCESS");
    finish(thread, true);
    SendText("programmer code running", pipe::kDefaultMessageClass);
    return 1;
}

}  // namespace ombra::workers
