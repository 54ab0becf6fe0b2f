#include "ombra/common/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "ombra/common/names.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/registry.h"
#include "ombra/platform/trace_output.h"
#include "trace_internal.h"

namespace {

constexpr const char* kDebugKey = "Software\\Tarvik\\Ombra\\Debug";

// One per module: this library is linked statically with hidden symbols.
struct TraceState {
    DWORD outputs = 0;
    std::FILE* file = nullptr;
    char path[TRACE_PATH_SIZE + 1] = {};
    bool opened = false;
    std::string name;  // the syslog tag
    DWORD (*tick)() = nullptr;
};

TraceState& state() {
    static TraceState s;
    return s;
}

DWORD tickNow() {
    auto& s = state();
    return s.tick ? s.tick() : GetTickCount();
}

bool readDword(HKEY key, const char* name, DWORD& out) {
    DWORD type = 0;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) return false;
    if (type != REG_DWORD || size != sizeof data) return false;
    std::memcpy(&out, data, sizeof out);
    return true;
}

// "%d : <text>\r\n" cut to TRACE_LINE_SIZE with the line end kept. The tick
// prints signed: past 2147483647 it is negative.
int buildLine(char (&line)[TRACE_LINE_SIZE], DWORD tick, const char* text) {
    int n = std::snprintf(line, sizeof line, "%d : ", static_cast<int>(tick));
    if (n < 0) n = 0;
    const std::size_t room = sizeof line - static_cast<std::size_t>(n) - 3;  // CR, LF, zero
    std::size_t len = std::strlen(text);
    if (len > room) len = room;
    std::memcpy(line + n, text, len);
    n += static_cast<int>(len);
    line[n++] = '\r';
    line[n++] = '\n';
    line[n] = '\0';
    return n;
}

}  // namespace

int TraceOpen(const char* name) {
    auto& s = state();
    if (s.opened) return 1;
    // The name is one key below Debug: a nested or empty one would read
    // another context's settings.
    if (name == nullptr || !ombra::isPlainName(name)) return 0;

    HKEY debug = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDebugKey, 0, KEY_READ, &debug) != ERROR_SUCCESS) return 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(debug, name, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        RegCloseKey(debug);
        return 0;
    }
    auto closeBoth = [&] {
        RegCloseKey(key);
        RegCloseKey(debug);
    };

    DWORD enabled = 0;
    if (!readDword(key, "fTraceEnabled", enabled)) {
        closeBoth();
        return 0;
    }
    if (enabled == 0) {
        closeBoth();
        return 1;
    }
    DWORD outputs = 0;
    if (!readDword(key, "dwTraceType", outputs)) {
        closeBoth();
        return 0;
    }
    s.outputs = outputs;
    s.name = name;

    if (outputs & TRACE_FILE) {
        char path[TRACE_PATH_SIZE + 1] = {};
        DWORD type = 0;
        DWORD size = TRACE_PATH_SIZE;
        if (RegQueryValueExA(key, "sTraceFile", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ) {
            closeBoth();
            return 0;
        }
        if (s.file == nullptr) {
            std::memcpy(s.path, path, sizeof s.path);
            // Binary: the line end "\r\n" is written as such.
            s.file = std::fopen(s.path, "wb");
        }
    }
    // The console is the process's standard error: there is nothing to
    // create and no title to set.

    closeBoth();
    s.opened = true;
    return 1;
}

void TraceText(const char* text) {
    if (text == nullptr) text = "";
    char line[TRACE_LINE_SIZE];
    const int length = buildLine(line, tickNow(), text);
    auto& s = state();
    if ((s.outputs & TRACE_FILE) && s.file != nullptr) {
        char fileLine[TRACE_LINE_SIZE];
        const int n = buildLine(fileLine, tickNow(), text);
        std::fwrite(fileLine, 1, static_cast<std::size_t>(n), s.file);
        std::fflush(s.file);
    }
    if (s.outputs & TRACE_CONSOLE) ombra::platform::traceToConsole(line, static_cast<std::size_t>(length));
    if (s.outputs & TRACE_DEBUGGER) ombra::platform::traceToDebugger(s.name.c_str(), line);
}

void TraceFormat(const char* format, ...) {
    char text[TRACE_LINE_SIZE];
    text[0] = '\0';
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    TraceText(text);
}

namespace ombra::trace_detail {

void reset() {
    auto& s = state();
    if (s.file != nullptr) std::fclose(s.file);
    auto tick = s.tick;
    s = TraceState{};
    s.tick = tick;
}

DWORD outputBits() { return state().outputs; }
bool isOpened() { return state().opened; }
void setTickSource(DWORD (*source)()) { state().tick = source; }

}  // namespace ombra::trace_detail
