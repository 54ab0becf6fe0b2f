#include "ombra/workers/programmer.h"

#include <cstdio>
#include <string>

#include "ombra/chipfamily/chipfamily.h"
#include "ombra/platform/com.h"
#include "ombra/platform/file.h"
#include "ombra/platform/messagebox.h"
#include "ombra/workers/worker_proc.h"

namespace ombra::workers {

namespace {

template <class Info, class Call>
bool onInformation(IUnknown* face, Call call, HRESULT& result) {
    Info* info = nullptr;
    if (FAILED(face->QueryInterface(IID_IBurnixInformation, reinterpret_cast<void**>(&info))) || info == nullptr)
        return false;
    result = call(info);
    info->Release();
    return true;
}

}  // namespace

bool enumSupportedDevice(IUnknown* face, bool earlier, DWORD index, DeviceInfo** info, HRESULT& result) {
    auto call = [&](auto* i) { return i->EnumSupportedDevices(index, info); };
    return earlier ? onInformation<ombra::chipfamily::IBurnixInformation>(face, call, result)
                   : onInformation<IBurnixInformation>(face, call, result);
}

bool programmerName(IUnknown* face, bool earlier, char** name, HRESULT& result) {
    auto call = [&](auto* i) { return i->GetProgrammerName(name); };
    return earlier ? onInformation<ombra::chipfamily::IBurnixInformation>(face, call, result)
                   : onInformation<IBurnixInformation>(face, call, result);
}

void freeDeviceInfo(DeviceInfo* info) {
    if (info == nullptr) return;
    CoTaskMemFree(info->manufacturerName);
    CoTaskMemFree(info->modelName);
    CoTaskMemFree(info);
}

bool imageFileSize(const std::string& path, DWORD& size) {
    const HANDLE file = CreateFileA(path.c_str(), 0, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
    std::uint64_t bytes = 0;
    const bool ok = GetFileSizeEx(file, &bytes) != 0;
    CloseHandle(file);
    size = static_cast<DWORD>(bytes);  // the low 32 bits
    return ok;
}

IUnknown* WorkerProc::prepareProgrammer(REFIID operation, const Preparation& how) {
    const CLSID& clsid = m_params.programmerClsid;
    const char* name = m_params.programmerName.c_str();
    auto creationFailed = [&]() -> IUnknown* {
        if (how.createFailed != nullptr) TraceText(how.createFailed);
        return nullptr;
    };

    IBurnixInitialization* init = nullptr;
    const HRESULT created =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBurnixInitialization, reinterpret_cast<void**>(&init));
    if (created == E_NOINTERFACE) {
        // A chip-family programmer: ready at creation, no driver files.
        void* face = nullptr;
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, operation, &face)) || face == nullptr)
            return creationFailed();
        m_earlierGeneration = true;
        return static_cast<IUnknown*>(face);
    }
    if (FAILED(created) || init == nullptr) return creationFailed();

    if (how.tracePlatformType) TraceText("Setting platform type");
    if (how.initializeProgrammers && FAILED(init->InitializeProgrammers())) {
        TraceText("failed to initialize programmers");
        init->Release();
        return nullptr;
    }
    if (FAILED(init->InitializeDevices(name))) {
        TraceText("failed to initialize devices");
        init->Release();
        return nullptr;
    }
    if (FAILED(init->InitializeRemoteCodes(name, GetName()))) {
        TraceText(how.remoteCodesFailed);
        SendTextF("loading \"%s\" remote codes failed.\n", name);
        init->Release();
        return nullptr;
    }
    void* face = nullptr;
    const HRESULT asked = init->QueryInterface(operation, &face);
    init->Release();
    if (FAILED(asked) || face == nullptr) return nullptr;
    return static_cast<IUnknown*>(face);
}

bool WorkerProc::startRemoteCode(IUnknown* face, const RemoteCodeStep& step, BootCodeGetter getCode,
                                 RunResult& result) {
    TraceText(step.requestTrace);
    BYTE* code = nullptr;
    DWORD address = 0;
    WORD size = 0;
    if (FAILED(getCode(face, &code, &address, &size))) {
        TraceText(step.failedTrace);
        CoTaskMemFree(code);
        face->Release();
        result = FAILURE;
        return false;
    }
    TraceText("calling uploadRemote");
    const BOOL running = uploadRemote(code, address, size);
    CoTaskMemFree(code);
    if (running)
        return true;

    if (step.tracesUploadFailure)
        TraceText("uploadRemote failed");
    face->Release();
    TraceText("released pIBurnix");
    result = FAILURE;
    if (cancelSignalled()) {
        TraceText(step.cancelTrace);
        result = CANCELLED;
    }
    return false;
}

RunResult WorkerProc::endOperation(IUnknown* face) {
    face->Release();
    return cancelSignalled() ? CANCELLED : FAILURE;
}

RunResult WorkerProc::failWithStatus(IUnknown* face, const char* trace) {
    if (trace != nullptr) TraceText(trace);
    SendStatus(pipe::E_STATUS_FAILURE, 0);
    face->Release();
    return FAILURE;
}

bool WorkerProc::spanLength(IUnknown* face, DWORD fileSize, bool trace, DWORD& length) {
    if (trace) TraceText("Querying for IBurnixInformation instance");
    DeviceInfo* device = nullptr;
    HRESULT hr = E_FAIL;
    if (!enumSupportedDevice(face, m_earlierGeneration, static_cast<WORD>(m_params.deviceNumber), &device, hr)) {
        if (trace) TraceText("failed to get IBurnixInformation interface pointer");
        return false;
    }
    if (trace) TraceText("calling pIBurnixInformation->EnumSupportedDevices()");
    if (hr != S_OK || device == nullptr) {
        // Without a record there is no capacity to hold the image against.
        freeDeviceInfo(device);
        SendTextF("device %u is not in the programmer's device list; its capacity is unknown",
                  static_cast<unsigned>(m_params.deviceNumber));
        return false;
    }
    const DWORD capacity = device->capacity;
    freeDeviceInfo(device);
    if (trace) TraceFormat("device supported capacity = %d", static_cast<int>(capacity));

    if (capacity >= fileSize) {
        length = fileSize;
        return true;
    }
    char text[1024];
    std::snprintf(text, sizeof text,
                  "File %s is %d bytes long, whereas flash capacity is %d bytes.\n Press 'Yes' to continue, 'No' to cancel.",
                  m_params.path.c_str(), static_cast<int>(fileSize), static_cast<int>(capacity));
    if (ombra::platform::messageBox(text, "Warning", MB_YESNO) != IDYES) return false;
    length = capacity;
    return true;
}

}  // namespace ombra::workers
