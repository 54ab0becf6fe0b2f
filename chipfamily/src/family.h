// What sets one chip family apart: its identity, its device table, its
// built-in remote programs and its variation of the shared operations.
#pragma once

#include <span>

#include "ombra/burnix/drivers.h"
#include "ombra/burnix/operations.h"
#include "ombra/platform/types.h"
#include "ombra/remote/images.h"

namespace ombra::chipfamily {

struct Family {
    const char* name;  // text prefix, trace name, programmer name
    CLSID clsid;
    const char* registryDescription;
    const char* versionIndependentProgId;
    const char* progId;
    const char* versionDescription;
    remote::Family programs;
    std::span<const burnix::DeviceEntry> devices;
    burnix::Variant variant;
};

const Family& cobalt();
const Family& nickel();
const Family& copper();

inline constexpr DWORD kFamilyVersion = 55;

}  // namespace ombra::chipfamily
