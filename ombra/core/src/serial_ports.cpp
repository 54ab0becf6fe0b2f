#include "ombra/frontend/serial_ports.h"

#include <algorithm>

#include "ombra/platform/registry.h"
#include "ombra/platform/serial.h"

namespace ombra::frontend {

using platform::RegKey;

namespace {

// The value's data as text up to its first zero; nullopt when it is gone or
// is not a REG_SZ.
std::optional<std::string> readPortValue(HKEY key, DWORD index, DWORD nameRoom, DWORD dataRoom)
{
    std::vector<char> name;
    std::vector<BYTE> data;
    // A value may grow between the size query and the read (another process).
    for (int attempt = 0; attempt < 4; ++attempt) {
        name.assign(nameRoom + 1, '\0');
        data.assign(std::max<DWORD>(dataRoom, 1), 0);
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG r = RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
        if (r == ERROR_SUCCESS) {
            if (type != REG_SZ)
                return std::nullopt;
            data.resize(dataLength);
            const auto end = std::find(data.begin(), data.end(), BYTE(0));
            return std::string(data.begin(), end);
        }
        if (r != ERROR_MORE_DATA)
            return std::nullopt;
        nameRoom = std::max(nameRoom, nameLength + 1);
        dataRoom = std::max(dataRoom, dataLength);
        if (dataRoom > REG_MAX_DATA || nameRoom > REG_MAX_VALUE_NAME + 1)
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::string> getSerialPortsList()
{
    std::vector<std::string> ports;
    RegKey key;
    if (key.open(HKEY_LOCAL_MACHINE, kSerialCommKeyPath, KEY_READ) == ERROR_SUCCESS) {
        DWORD values = 0, longestName = 0, longestData = 0;
        if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                             &longestData, nullptr, nullptr) == ERROR_SUCCESS) {
            for (DWORD i = values; i-- > 0;) {
                if (auto port = readPortValue(key.get(), i, longestName + 1, longestData); port && !port->empty())
                    ports.push_back(std::move(*port));
            }
        }
    }
    for (std::string& hardware : platform::listSerialPorts()) {
        if (std::find(ports.begin(), ports.end(), hardware) == ports.end())
            ports.push_back(std::move(hardware));
    }
    return ports;
}

bool serialDeviceExists(const std::string& portName)
{
    return platform::isCharacterDevice(portName);
}

std::optional<std::string> portPathFromName(const std::string& portName)
{
    if (portName.find('/') != std::string::npos)
        return portName;
    const auto first = portName.find_first_of("0123456789");
    if (first == std::string::npos)
        return std::nullopt;
    // The number's digits without its leading zeros: two or more means above 9,
    // however long the number is.
    std::size_t i = first;
    while (i < portName.size() && portName[i] == '0')
        ++i;
    std::size_t significant = 0;
    while (i + significant < portName.size() && portName[i + significant] >= '0' && portName[i + significant] <= '9')
        ++significant;
    if (significant >= 2)
        return "\\\\.\\" + portName;
    return portName;
}

}  // namespace ombra::frontend
