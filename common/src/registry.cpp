#include <cstdio>
#include <cstring>
#include <string>

#include "ombra/common/registration.h"
#include "ombra/common/trace.h"
#include "ombra/platform/com.h"
#include "ombra/platform/module.h"
#include "ombra/platform/trace_output.h"

namespace {

constexpr const char* kSourceStem = "registry";

[[maybe_unused]] void reportFailedCheck(const char* condition, int line) {
    char text[TRACE_LINE_SIZE];
    const int n = std::snprintf(text, sizeof text, "%s(%d): check failed: %s\n", kSourceStem, line, condition);
    if (n > 0) ombra::platform::traceToConsole(text, std::strlen(text));
    TraceText(text);
}

}  // namespace

// A failed check is reported and the routine goes on; release builds do
// not test.
#ifndef NDEBUG
#define REG_CHECK(cond) ((cond) ? (void)0 : reportFailedCheck(#cond, __LINE__))
#else
#define REG_CHECK(cond) ((void)sizeof(cond))  // not evaluated; keeps its names used
#endif

namespace ombra {

namespace {

std::string classKeyName(REFCLSID clsid) {
    char text[CLSID_STRING_SIZE];
    clsidToText(clsid, text, sizeof text);
    return std::string("CLSID\\") + text;
}

}  // namespace

bool clsidToText(REFCLSID clsid, char* buffer, int length) {
    REG_CHECK(length >= CLSID_STRING_SIZE);
    if (buffer == nullptr || length <= 0) return false;
    buffer[0] = '\0';
    LPOLESTR wide = nullptr;
    const HRESULT hr = StringFromCLSID(clsid, &wide);
    REG_CHECK(SUCCEEDED(hr));
    if (FAILED(hr) || wide == nullptr) return false;
    // The brace form is plain ASCII.
    int i = 0;
    for (; wide[i] != 0 && i < length - 1; ++i) buffer[i] = static_cast<char>(wide[i]);
    buffer[i] = '\0';
    const bool whole = wide[i] == 0;
    CoTaskMemFree(wide);
    return whole;
}

bool writeClassesRootValue(const char* key, const char* subkey, const char* data, const char* valueName) {
    std::string path = key != nullptr ? key : "";
    if (subkey != nullptr) path += std::string("\\") + subkey;
    HKEY h = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &h, &disposition) != ERROR_SUCCESS)
        return false;
    if (data != nullptr)
        RegSetValueExA(h, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                       static_cast<DWORD>(std::strlen(data) + 1));
    RegCloseKey(h);
    return true;
}

LONG deleteKeyTree(HKEY parent, const char* name) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS) return result;
    for (;;) {
        char sub[257];
        DWORD length = sizeof sub;
        if (RegEnumKeyExA(key, 0, sub, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        result = deleteKeyTree(key, sub);
        if (result != ERROR_SUCCESS) {
            RegCloseKey(key);
            return result;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyA(parent, name);
}

bool classesRootKeyExists(const char* key, const char* subkey) {
    std::string path = key != nullptr ? key : "";
    if (subkey != nullptr) path += std::string("\\") + subkey;
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

void registerComponent(const void* module, REFCLSID clsid, const char* description,
                       const char* versionIndependentProgId, const char* progId, const char* threadingModel) {
    if (module == nullptr) module = reinterpret_cast<const void*>(&registerComponent);
    // The whole path: a cut one would register a file that does not exist.
    const std::string modulePath = ombra::platform::modulePathOf(module);
    const bool dwResult = !modulePath.empty();
    REG_CHECK(dwResult != 0);

    char clsidText[CLSID_STRING_SIZE];
    clsidToText(clsid, clsidText, sizeof clsidText);
    const std::string classKey = std::string("CLSID\\") + clsidText;

    writeClassesRootValue(classKey.c_str(), nullptr, description, nullptr);
    writeClassesRootValue(classKey.c_str(), "InprocServer32", modulePath.c_str(), nullptr);
    if (threadingModel != nullptr)
        writeClassesRootValue(classKey.c_str(), "InprocServer32", threadingModel, "ThreadingModel");
    writeClassesRootValue(classKey.c_str(), "ProgID", progId, nullptr);
    writeClassesRootValue(classKey.c_str(), "VersionIndependentProgID", versionIndependentProgId, nullptr);
    writeClassesRootValue(versionIndependentProgId, nullptr, description, nullptr);
    writeClassesRootValue(versionIndependentProgId, "CLSID", clsidText, nullptr);
    writeClassesRootValue(versionIndependentProgId, "CurVer", progId, nullptr);
    writeClassesRootValue(progId, nullptr, description, nullptr);
    writeClassesRootValue(progId, "CLSID", clsidText, nullptr);
}

void unregisterComponent(REFCLSID clsid, const char* versionIndependentProgId, const char* progId) {
    const std::string classKey = classKeyName(clsid);
    LONG lResult = ERROR_SUCCESS;
    if (classesRootKeyExists(classKey.c_str(), "LocalServer32")) {
        // Also served out of process: leave everything but our own server.
        lResult = deleteKeyTree(HKEY_CLASSES_ROOT, (classKey + "\\InprocServer32").c_str());
        REG_CHECK(lResult == ERROR_SUCCESS);
        return;
    }
    lResult = deleteKeyTree(HKEY_CLASSES_ROOT, classKey.c_str());
    REG_CHECK((lResult == ERROR_SUCCESS) || (lResult == ERROR_FILE_NOT_FOUND));
    lResult = deleteKeyTree(HKEY_CLASSES_ROOT, versionIndependentProgId);
    REG_CHECK((lResult == ERROR_SUCCESS) || (lResult == ERROR_FILE_NOT_FOUND));
    lResult = deleteKeyTree(HKEY_CLASSES_ROOT, progId);
    REG_CHECK((lResult == ERROR_SUCCESS) || (lResult == ERROR_FILE_NOT_FOUND));
}

void addToProgrammersList(REFCLSID clsid) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProgrammersKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, &disposition) != ERROR_SUCCESS)
        return;

    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        DWORD type = 0;
        char data[256] = {};
        DWORD dataLength = sizeof data - 1;  // room for our own terminator
        const LONG r = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                     &dataLength);
        if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) break;
        if (type != REG_SZ) continue;
        data[sizeof data - 1] = '\0';
        wchar_t wide[256] = {};
        for (int i = 0; data[i] != '\0'; ++i) wide[i] = static_cast<unsigned char>(data[i]);
        CLSID listed{};
        if (FAILED(CLSIDFromString(wide, &listed))) continue;
        if (listed == clsid) {
            RegCloseKey(key);
            return;
        }
    }

    DWORD values = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return;
    }
    // Numbered by the count of values; a number already taken (an entry
    // removed by hand below it) moves on to the next free one rather than
    // overwriting another programmer's entry.
    char valueName[16];
    for (DWORD n = values;; ++n) {
        std::snprintf(valueName, sizeof valueName, "%d", static_cast<int>(n));
        if (RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND) break;
        if (n - values > values) {  // every number up to 2x the count taken: cannot happen in a sane key
            RegCloseKey(key);
            return;
        }
    }
    char text[CLSID_STRING_SIZE];
    clsidToText(clsid, text, sizeof text);
    RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(key);
}

}  // namespace ombra
