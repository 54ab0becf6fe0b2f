#include "ombra/burnix/programmer.h"

#include <cstring>

#include "ombra/burnix/platform_host.h"
#include "ombra/platform/com.h"

namespace ombra::burnix {

char* taskStrDup(std::string_view text) {
    auto* copy = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

DeviceInfo* newDeviceInfo(const DeviceEntry& entry, WORD maker, WORD model) {
    auto* info = static_cast<DeviceInfo*>(CoTaskMemAlloc(sizeof(DeviceInfo)));
    if (!info) return nullptr;
    *info = DeviceInfo{0, taskStrDup(entry.manufacturerName), taskStrDup(entry.modelName), maker, model,
                       entry.capacity};
    if (!info->manufacturerName || !info->modelName) {
        freeDeviceInfo(info);
        return nullptr;
    }
    return info;
}

void freeDeviceInfo(DeviceInfo* info) {
    if (!info) return;
    CoTaskMemFree(info->manufacturerName);
    CoTaskMemFree(info->modelName);
    CoTaskMemFree(info);
}

VersionInfo* newVersionInfo(std::string_view name, std::string_view description, std::string_view notice,
                            DWORD version) {
    auto* info = static_cast<VersionInfo*>(CoTaskMemAlloc(sizeof(VersionInfo)));
    if (!info) return nullptr;
    *info = VersionInfo{taskStrDup(name), taskStrDup(description), taskStrDup(notice), version};
    if (!info->programmerName || !info->description || !info->notice) {
        CoTaskMemFree(info->programmerName);
        CoTaskMemFree(info->description);
        CoTaskMemFree(info->notice);
        CoTaskMemFree(info);
        return nullptr;
    }
    return info;
}

HRESULT handOutCode(std::span<const std::uint8_t> code, DWORD bootAddress, BYTE** out, DWORD* loadAddress,
                    WORD* length) {
    if (!out || !length) return E_FAIL;
    auto* copy = static_cast<BYTE*>(CoTaskMemAlloc(code.size()));
    if (!copy) return E_OUTOFMEMORY;
    if (!code.empty()) std::memcpy(copy, code.data(), code.size());
    *length = static_cast<WORD>(code.size());
    if (loadAddress) *loadAddress = bootAddress;
    *out = copy;
    return S_OK;
}

HRESULT ProgrammerCore::setCommSettings(const char* port, const DCB* newDcb, const COMMTIMEOUTS* newTimeouts) {
    if (!port || !newDcb || !newTimeouts) return E_POINTER;
    try {
        portName = port;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    dcb = *newDcb;
    timeouts = *newTimeouts;
    job.baudRate = newDcb->BaudRate;
    return S_OK;
}

HRESULT ProgrammerCore::identifyFlash(const Variant& variant, std::string_view name,
                                      std::span<const DeviceEntry> devices, LONG* deviceIndex, DeviceInfo** info) {
    PlatformHost host(*this);
    PipeSink sink(callbackPipe);
    ModuleTrace trace;
    Operations ops(host, sink, trace, variant, std::string(name), devices);
    const IdentifyOutcome out = ops.identifyFlash(job);
    if (out.result != S_OK || !out.answered) return out.result;
    if (deviceIndex) *deviceIndex = out.index;
    if (out.index >= 0 && info) {
        *info = newDeviceInfo(devices[static_cast<std::size_t>(out.index)], out.maker, out.model);
        if (!*info) return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT ProgrammerCore::burn(const Variant& variant, std::string_view name, std::span<const DeviceEntry> devices) {
    PlatformHost host(*this);
    PipeSink sink(callbackPipe);
    ModuleTrace trace;
    return Operations(host, sink, trace, variant, std::string(name), devices).burn(job);
}

HRESULT ProgrammerCore::verify(const Variant& variant, std::string_view name, std::span<const DeviceEntry> devices) {
    PlatformHost host(*this);
    PipeSink sink(callbackPipe);
    ModuleTrace trace;
    return Operations(host, sink, trace, variant, std::string(name), devices).verify(job);
}

HRESULT ProgrammerCore::dump(const Variant& variant, std::string_view name, std::span<const DeviceEntry> devices) {
    PlatformHost host(*this);
    PipeSink sink(callbackPipe);
    ModuleTrace trace;
    return Operations(host, sink, trace, variant, std::string(name), devices).dump(job);
}

}  // namespace ombra::burnix
