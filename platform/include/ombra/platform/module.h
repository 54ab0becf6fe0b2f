// Shared libraries: load one for good and look up its exports, and name the
// file a piece of code was loaded from (a component registers its own path).
#pragma once

#include <string>

namespace ombra::platform {

struct Module;  // opaque; never unloaded

// Loads `path` (a file path; no search) with every symbol bound at once.
// Null on failure, with the loader's reason in `error`.
Module* loadModule(const char* path, std::string& error);
// Null when the library has no such export.
void* findSymbol(Module* module, const char* name);
// Resolved real path of the executable or library holding `address`;
// empty when it cannot be told.
std::string modulePathOf(const void* address);

}  // namespace ombra::platform
