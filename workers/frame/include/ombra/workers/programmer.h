// What the workers need of the programmer component before its interfaces
// are declared in full: the interface it is created for.
#pragma once

#include "ombra/platform/types.h"
#include "ombra/platform/unknown.h"

namespace ombra::workers {

// {3CCE13E3-3354-4949-92CC-31BAE269A76C}
inline constexpr IID kIidBurnixInitialization = {
    0x3CCE13E3, 0x3354, 0x4949, {0x92, 0xCC, 0x31, 0xBA, 0xE2, 0x69, 0xA7, 0x6C}};

// Creates the in-process programmer for its initialisation interface.
// Null when the class cannot be created.
IUnknown* createProgrammer(REFCLSID clsid);

}  // namespace ombra::workers
