// The serial settings of each port, a whole DCB and COMMTIMEOUTS, kept as
// 32 REG_DWORD values under HKEY_LOCAL_MACHINE
// "Software\Tarvik\Ombra\Comm\<port name>", and the baud rate list.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "ombra/common/comm_records.h"

namespace ombra::frontend {

inline constexpr const char* kCommKeyPath = "Software\\Tarvik\\Ombra\\Comm";

// One stored value: its name, its default and how many bits of the stored
// number the record keeps.
struct CommValue {
    const char* name;
    DWORD defaultValue;
    unsigned bits;
};
// In the order they are read and written.
extern const std::array<CommValue, 32> kCommValues;

// Fills `dcb` and `timeouts` from the port's key (an empty name: the Comm
// key itself), creating keys as needed. A value that is missing, not a
// REG_DWORD or not four bytes long is written back as its default; a stored
// number is cut to its field's width. A `commandLineBaud` of 0 or more is
// the baud rate, and "BaudRate" is then neither read nor written; negative
// means none. DCBlength is always 28. False, with both records untouched,
// when a key can be neither opened nor created.
bool loadCommSettings(const std::string& portName, int commandLineBaud, DCB& dcb, COMMTIMEOUTS& timeouts);
// Writes all 32 values. False when a key cannot be opened or created or a
// value cannot be written.
bool saveCommSettings(const std::string& portName, const DCB& dcb, const COMMTIMEOUTS& timeouts);

// The rates the baud list offers, in its order, and the only ones the
// command line accepts.
inline constexpr std::array<DWORD, 6> kSupportedBaudRates = {19200, 38400, 57600, 115200, 230400, 460800};

struct BaudList {
    std::vector<std::string> entries;
    int selected = -1;
};
// The baud list's fill: the supported rates, and the first entry that
// begins with `baud` written in decimal (the list's prefix search)
// selected; when there is none, that text is appended and selected. After
// a port change the list is not refilled: the new rate is only looked up
// with findStringPrefix (list_search.h), and may leave nothing selected.
BaudList baudRateList(DWORD baud);

}  // namespace ombra::frontend
