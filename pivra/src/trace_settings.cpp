#include "trace_settings.h"

#include <cstring>

#include "ombra/common/trace.h"
#include "ombra/platform/registry.h"

namespace ombra::pivra {
namespace {

using ombra::platform::RegKey;

bool readDword(HKEY key, const char* name, DWORD& out) {
    DWORD type = 0;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) return false;
    if (type != REG_DWORD || size != sizeof data) return false;
    std::memcpy(&out, data, sizeof out);
    return true;
}

// Up to TRACE_PATH_SIZE bytes, as the trace log reads it; a longer value
// does not fit and counts as missing.
bool readPath(HKEY key, std::string& out) {
    char data[TRACE_PATH_SIZE] = {};
    DWORD type = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, "sTraceFile", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    // A hand-made value may lack its zero, or hold one early.
    const void* zero = std::memchr(data, '\0', size);
    out.assign(data, zero ? static_cast<const char*>(zero) - data : size);
    return true;
}

bool writeDword(HKEY key, const char* name, DWORD value) {
    BYTE data[4];
    std::memcpy(data, &value, sizeof data);
    return RegSetValueExA(key, name, 0, REG_DWORD, data, sizeof data) == ERROR_SUCCESS;
}

}  // namespace

bool isContextName(std::string_view context) {
    return !context.empty() && context.size() <= REG_MAX_KEY_NAME &&
           context.find('\\') == std::string_view::npos && context.find('\0') == std::string_view::npos;
}

std::string contextKeyPath(std::string_view context) {
    std::string path = kDebugKey;
    path += '\\';
    path += context;
    return path;
}

LoadOutcome loadTraceValues(std::string_view context, TraceValues& values) {
    if (!isContextName(context)) return LoadOutcome::failed;
    RegKey key;
    DWORD disposition = 0;
    if (key.create(HKEY_LOCAL_MACHINE, contextKeyPath(context).c_str(), KEY_ALL_ACCESS, &disposition) !=
        ERROR_SUCCESS)
        return LoadOutcome::failed;
    if (disposition == REG_CREATED_NEW_KEY) return LoadOutcome::created;

    DWORD enabled = 0;
    if (readDword(key.get(), "fTraceEnabled", enabled)) values.enabled = enabled != 0 ? 1 : 0;
    DWORD type = 0;
    if (readDword(key.get(), "dwTraceType", type)) {
        values.file = (type & TRACE_FILE) ? 1 : 0;
        values.console = (type & TRACE_CONSOLE) ? 1 : 0;
    }
    if (!readPath(key.get(), values.path)) values.path.clear();
    return LoadOutcome::loaded;
}

bool saveTraceValues(std::string_view context, const TraceValues& values) {
    if (!isContextName(context)) return false;
    // Written with its zero up to the first one: the registry holds C text.
    const std::string path(values.path.c_str());
    if (path.size() > static_cast<std::size_t>(kMaxPathBytes)) return false;

    RegKey key;
    if (key.create(HKEY_LOCAL_MACHINE, contextKeyPath(context).c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    if (values.console) type |= TRACE_CONSOLE;
    if (values.file) type |= TRACE_FILE;
    bool ok = writeDword(key.get(), "fTraceEnabled", values.enabled ? 1 : 0);
    ok = writeDword(key.get(), "dwTraceType", type) && ok;
    ok = RegSetValueExA(key.get(), "sTraceFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                        static_cast<DWORD>(path.size() + 1)) == ERROR_SUCCESS &&
         ok;
    return ok;
}

}  // namespace ombra::pivra
