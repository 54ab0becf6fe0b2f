// The system's texts for the Win32 error numbers that the registry store
// gives (the store reports Win32 numbers, not errno values).
#pragma once

#include <string>

#include "ombra/platform/types.h"

namespace ombra::install {

std::string registryErrorText(LONG error);

// What a missing resource reports.
inline constexpr const char* kResourceNotFoundText = "The specified resource name cannot be found in the image file.";

}  // namespace ombra::install
