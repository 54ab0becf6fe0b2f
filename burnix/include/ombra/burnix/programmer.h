// What every programmer component shares behind its interfaces: the object
// state the setters fill, the operations run on the platform, and the
// records handed out with the task allocator. CBurnix and the chip-family
// classes differ only in their tables, their Variant and their identity.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "ombra/burnix/drivers.h"
#include "ombra/burnix/interfaces.h"
#include "ombra/burnix/operations.h"

namespace ombra::burnix {

// Task-allocated copies; null when memory runs out.
char* taskStrDup(std::string_view text);
DeviceInfo* newDeviceInfo(const DeviceEntry& entry, WORD maker, WORD model);
void freeDeviceInfo(DeviceInfo* info);
VersionInfo* newVersionInfo(std::string_view name, std::string_view description, std::string_view notice,
                            DWORD version);
// The boot-code getters' rule: E_FAIL for a null code or length pointer,
// E_OUTOFMEMORY, else a task-allocated copy with its load address.
HRESULT handOutCode(std::span<const std::uint8_t> code, DWORD bootAddress, BYTE** out, DWORD* loadAddress,
                    WORD* length);

// The maker's notice line in VersionInfo.
inline constexpr const char* kNotice = "Copyright (C) Tarvik. All rights reserved.";

class ProgrammerCore {
public:
    // Serial settings, spans, files and handles, as the setters leave them.
    std::string portName;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    HANDLE terminationEvent = INVALID_HANDLE_VALUE;
    HANDLE callbackPipe = nullptr;
    Job job;

    HRESULT setCommSettings(const char* port, const DCB* newDcb, const COMMTIMEOUTS* newTimeouts);

    // Runs an operation on the platform's port, files and pipe. `name` is
    // the programmer name that prefixes the text records.
    HRESULT identifyFlash(const Variant& variant, std::string_view name, std::span<const DeviceEntry> devices,
                          LONG* deviceIndex, DeviceInfo** info);
    HRESULT burn(const Variant& variant, std::string_view name, std::span<const DeviceEntry> devices);
    HRESULT verify(const Variant& variant, std::string_view name, std::span<const DeviceEntry> devices);
    HRESULT dump(const Variant& variant, std::string_view name, std::span<const DeviceEntry> devices);
};

}  // namespace ombra::burnix
