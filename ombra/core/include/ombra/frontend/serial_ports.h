// The serial ports the dialog offers, the port switch's check and the path
// a port is opened by.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ombra::frontend {

inline constexpr const char* kSerialCommKeyPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The REG_SZ values of HKLM "HARDWARE\DEVICEMAP\SERIALCOMM" (where virtual
// ports such as the board simulator's register), enumerated from the last
// index down to 0, names of any length; empty ones are left out. Then the
// hardware ports the platform finds that are not listed yet.
std::vector<std::string> getSerialPortsList();

// The port switch's check: the name is an existing device, not a file.
bool serialDeviceExists(const std::string& portName);

// The path the port is opened by. A name holding a '/' is a device path and
// is used as it is (POSIX ports need no digit). Otherwise the name needs a
// decimal digit (nullopt without one): when the number from the first digit
// on is above 9 the path is "\\.\" + name, else the name itself
// (COM9 -> COM9, COM10 -> \\.\COM10).
std::optional<std::string> portPathFromName(const std::string& portName);

}  // namespace ombra::frontend
