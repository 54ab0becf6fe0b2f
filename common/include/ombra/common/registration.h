// Self-registration of the in-process components: the class and ProgID keys
// under HKEY_CLASSES_ROOT, and the list of installed chip-family
// programmers under HKEY_LOCAL_MACHINE. Failures are skipped, never
// reported to the caller; a diagnostic build reports failed checks on
// standard error and in the trace.
#pragma once

#include "ombra/platform/registry.h"
#include "ombra/platform/types.h"

inline constexpr int CLSID_STRING_SIZE = 128;
inline constexpr const char* kProgrammersKey = "Software\\Tarvik\\Ombra\\Programmers";

namespace ombra {

// `module` is any address inside the component (its file path is what
// InprocServer32 names); null means the module this code is linked into.
// `threadingModel` null writes no "ThreadingModel" value.
void registerComponent(const void* module, REFCLSID clsid, const char* description,
                       const char* versionIndependentProgId, const char* progId, const char* threadingModel);
void unregisterComponent(REFCLSID clsid, const char* versionIndependentProgId, const char* progId);

// Creates HKCR\key\subkey (or HKCR\key when `subkey` is null) and, with
// `data`, sets the value `valueName` (null: the default value) to it.
bool writeClassesRootValue(const char* key, const char* subkey, const char* data, const char* valueName);
// Deletes parent\name with everything below it; the registry result.
LONG deleteKeyTree(HKEY parent, const char* name);
bool classesRootKeyExists(const char* key, const char* subkey);
// The brace form into `buffer` of `length` characters, cut to fit.
bool clsidToText(REFCLSID clsid, char* buffer, int length);
void addToProgrammersList(REFCLSID clsid);

}  // namespace ombra
