// The in-process part of the component runtime: initialisation, the task
// allocator, GUID text forms, ProgID lookup and CoCreateInstance through the
// HKEY_CLASSES_ROOT registrations (CLSID\{clsid}\InprocServer32).
// Component libraries are loaded once and stay loaded for the life of the
// process: their threads may outlive the last Release.
#pragma once

#include "ombra/platform/types.h"
#include "ombra/platform/unknown.h"

#include <cstddef>
#include <string>
#include <string_view>

using OLECHAR = wchar_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using REFGUID = const GUID&;

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);

// Characters of the brace form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// without and with the terminator.
constexpr int GUID_TEXT_LENGTH = 38;
constexpr int CHARS_IN_GUID = 39;

// Counted per thread: S_OK on the first call, S_FALSE on the others.
// Creating objects does not require it (worker threads of components create
// nothing), but callers pair the calls as on Windows.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();

// malloc-based; a size of 0 still gives a distinct block. Free takes null.
void* CoTaskMemAlloc(std::size_t size);
void* CoTaskMemRealloc(void* block, std::size_t size);
void CoTaskMemFree(void* block);

// Brace form, upper-case hex. Gives the characters written with the
// terminator, 0 when `max` is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int max);
// The brace form in a CoTaskMemAlloc block the caller frees.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
// Brace form only, hex of either case; CO_E_CLASSSTRING for anything else.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
// HKEY_CLASSES_ROOT\<progId>\CLSID default value; CO_E_CLASSSTRING when the
// ProgID is unknown or its CLSID text is malformed.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);

// CLSCTX_INPROC_SERVER only. REGDB_E_CLASSNOTREG without a registration,
// CO_E_DLLNOTFOUND when the library does not load, CO_E_ERRORINDLL when it
// lacks DllGetClassObject; otherwise the result of the class factory.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID iid, void** object);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);

namespace ombra::platform {

// Narrow forms of the GUID text for registry values and traces.
std::string guidToText(const GUID& guid);
// True when `text` is exactly a brace-form GUID (either case).
bool guidFromText(std::string_view text, GUID& guid);
// CLSIDFromProgID with an ANSI ProgID.
HRESULT clsidFromProgId(const char* progId, CLSID* clsid);

}  // namespace ombra::platform
