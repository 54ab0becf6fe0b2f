// Which serial ports exist: libserialport lists the hardware ones, a stat
// tells a device from a file.
#include <libserialport.h>
#include <sys/stat.h>

#include "ombra/platform/serial.h"

namespace ombra::platform {

std::vector<std::string> listSerialPorts()
{
    std::vector<std::string> names;
    sp_port** ports = nullptr;
    if (sp_list_ports(&ports) != SP_OK)
        return names;
    for (sp_port** p = ports; p != nullptr && *p != nullptr; ++p) {
        if (const char* name = sp_get_port_name(*p); name != nullptr && *name != '\0')
            names.emplace_back(name);
    }
    sp_free_port_list(ports);
    return names;
}

bool isCharacterDevice(std::string_view path)
{
    if (path.empty() || path.find('\0') != std::string_view::npos)
        return false;
    const std::string p(path);
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace ombra::platform
