// GetVersionExA from uname: the NT family, the kernel release as
// major.minor.build and "<sysname> <release>" as the service-pack text.
#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "ombra/platform/handle.h"
#include "ombra/platform/version.h"

BOOL GetVersionExA(OSVERSIONINFOA* info)
{
    if (!info ||
        (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) && info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA))) {
        SetLastError(ERROR_OS_INVALID_PARAMETER);
        return FALSE;
    }
    struct utsname name {};
    if (::uname(&name) != 0) {
        SetLastError(static_cast<DWORD>(errno));
        return FALSE;
    }
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(name.release, "%u.%u.%u", &major, &minor, &build);
    const DWORD size = info->dwOSVersionInfoSize;
    // Only the record the caller declared is touched.
    std::memset(static_cast<void*>(info), 0, size);
    info->dwOSVersionInfoSize = size;
    info->dwMajorVersion = major;
    info->dwMinorVersion = minor;
    info->dwBuildNumber = build;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::string text = std::string(name.sysname) + " " + name.release;
    text.copy(info->szCSDVersion, sizeof info->szCSDVersion - 1);
    return TRUE;
}
