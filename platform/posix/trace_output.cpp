#include "ombra/platform/trace_output.h"

#include <cerrno>
#include <mutex>
#include <string>

#include <syslog.h>
#include <unistd.h>

namespace ombra::platform {

void traceToConsole(const char* bytes, std::size_t length)
{
    if (!bytes) return;
    while (length > 0) {
        ssize_t n = ::write(STDERR_FILENO, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
}

void traceToDebugger(const char* name, const char* line)
{
    if (!line) return;
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    // openlog keeps the pointer to its tag; one tag at a time per process.
    static std::mutex m;
    static std::string tag;
    std::lock_guard lock(m);
    tag = name ? name : "";
    ::openlog(tag.c_str(), LOG_PID, LOG_USER);
    ::syslog(LOG_DEBUG, "%s", text.c_str());
    ::closelog();
}

}  // namespace ombra::platform
