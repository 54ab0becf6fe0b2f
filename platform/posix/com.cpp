#include "ombra/platform/com.h"

#include "ombra/platform/module.h"
#include "ombra/platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

thread_local unsigned initCount = 0;

int hexValue(unsigned c)
{
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Parses the 38-character brace form from any character type.
template <class Char>
bool parseGuid(const Char* s, std::size_t n, GUID& out)
{
    if (n != GUID_TEXT_LENGTH || s[0] != '{' || s[37] != '}') return false;
    // Positions of the hex digit pairs, in memory order of the fields' values.
    static constexpr int dashes[] = {9, 14, 19, 24};
    for (int d : dashes)
        if (s[d] != '-') return false;
    auto field = [&](int from, int digits, std::uint64_t& v) {
        v = 0;
        for (int i = 0; i < digits; ++i) {
            int h = hexValue(static_cast<unsigned>(s[from + i]));
            if (h < 0) return false;
            v = v * 16 + static_cast<unsigned>(h);
        }
        return true;
    };
    std::uint64_t a, b, c, d, e;
    if (!field(1, 8, a) || !field(10, 4, b) || !field(15, 4, c) || !field(20, 4, d) || !field(25, 12, e)) return false;
    out.Data1 = static_cast<std::uint32_t>(a);
    out.Data2 = static_cast<std::uint16_t>(b);
    out.Data3 = static_cast<std::uint16_t>(c);
    out.Data4[0] = static_cast<std::uint8_t>(d >> 8);
    out.Data4[1] = static_cast<std::uint8_t>(d);
    for (int i = 0; i < 6; ++i) out.Data4[2 + i] = static_cast<std::uint8_t>(e >> (8 * (5 - i)));
    return true;
}

std::string narrow(LPCOLESTR text)
{
    std::string out;
    for (; *text; ++text) {
        // Only ASCII can name a registry key or a GUID here.
        if (static_cast<std::uint32_t>(*text) > 0x7F) return {};
        out += static_cast<char>(*text);
    }
    return out;
}

std::mutex modulesMutex;
std::map<std::string, ombra::platform::Module*> modules;

// The InprocServer32 path of a class, empty when the class is not registered.
std::string serverPath(REFCLSID clsid)
{
    std::string key = "CLSID\\" + ombra::platform::guidToText(clsid) + "\\InprocServer32";
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return {};
    char buf[4096];
    DWORD size = sizeof buf - 1, type = 0;
    LONG r = RegQueryValueExA(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    buf[size] = 0;
    return std::string(buf, std::strlen(buf));
}

}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) { return initCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize()
{
    if (initCount > 0) --initCount;
}

void* CoTaskMemAlloc(std::size_t size) { return std::malloc(size ? size : 1); }

void* CoTaskMemRealloc(void* block, std::size_t size) { return std::realloc(block, size ? size : 1); }

void CoTaskMemFree(void* block) { std::free(block); }

int StringFromGUID2(REFGUID guid, LPOLESTR text, int max)
{
    if (!text || max < CHARS_IN_GUID) return 0;
    std::string s = ombra::platform::guidToText(guid);
    for (int i = 0; i < GUID_TEXT_LENGTH; ++i) text[i] = static_cast<OLECHAR>(s[static_cast<std::size_t>(i)]);
    text[GUID_TEXT_LENGTH] = 0;
    return CHARS_IN_GUID;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text)
{
    if (!text) return E_INVALIDARG;
    *text = static_cast<LPOLESTR>(CoTaskMemAlloc(CHARS_IN_GUID * sizeof(OLECHAR)));
    if (!*text) return E_OUTOFMEMORY;
    StringFromGUID2(clsid, *text, CHARS_IN_GUID);
    return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid)
{
    if (!clsid) return E_INVALIDARG;
    if (!text) {
        *clsid = CLSID{};
        return S_OK;
    }
    std::size_t n = 0;
    while (n <= GUID_TEXT_LENGTH && text[n]) ++n;
    GUID g{};
    if (!parseGuid(text, n, g)) return CO_E_CLASSSTRING;
    *clsid = g;
    return S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid)
{
    if (!progId || !clsid) return E_INVALIDARG;
    std::string narrowId = narrow(progId);
    if (narrowId.empty()) return CO_E_CLASSSTRING;
    return ombra::platform::clsidFromProgId(narrowId.c_str(), clsid);
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID iid, void** object)
{
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::string path = serverPath(clsid);
    if (path.empty()) return REGDB_E_CLASSNOTREG;

    ombra::platform::Module* module = nullptr;
    {
        std::lock_guard lock(modulesMutex);
        auto it = modules.find(path);
        if (it != modules.end()) {
            module = it->second;
        } else {
            std::string error;
            module = ombra::platform::loadModule(path.c_str(), error);
            if (!module) return CO_E_DLLNOTFOUND;
            modules.emplace(path, module);
        }
    }
    auto get = reinterpret_cast<DllGetClassObjectFn>(ombra::platform::findSymbol(module, "DllGetClassObject"));
    if (!get) return CO_E_ERRORINDLL;
    return get(clsid, iid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object)
{
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    if (!factory) return E_NOINTERFACE;
    hr = factory->CreateInstance(outer, iid, object);
    factory->Release();
    if (FAILED(hr)) *object = nullptr;
    return hr;
}

namespace ombra::platform {

std::string guidToText(const GUID& g)
{
    char buf[CHARS_IN_GUID + 1];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

bool guidFromText(std::string_view text, GUID& guid) { return parseGuid(text.data(), text.size(), guid); }

HRESULT clsidFromProgId(const char* progId, CLSID* clsid)
{
    if (!progId || !clsid) return E_INVALIDARG;
    std::string key = std::string(progId) + "\\CLSID";
    if (!*progId) return CO_E_CLASSSTRING;
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
        return CO_E_CLASSSTRING;
    char buf[128];
    DWORD size = sizeof buf, type = 0;
    LONG r = RegQueryValueExA(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS || type != REG_SZ) return CO_E_CLASSSTRING;
    std::size_t n = 0;
    while (n < size && buf[n]) ++n;
    GUID g{};
    if (!guidFromText(std::string_view(buf, n), g)) return CO_E_CLASSSTRING;
    *clsid = g;
    return S_OK;
}

}  // namespace ombra::platform
