// What the test rigs hand the boot loader and the programmers for a simulated
// board: the front end's line settings and the default C-bus table.
#pragma once

#include <cstdint>
#include <vector>

#include "ombra/common/comm_records.h"

namespace ombra::testsupport {

inline DCB boardLineDcb(DWORD baud) {
    DCB dcb;
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.setFlag(DCB::kBinary, true);
    dcb.setDtrControl(DTR_CONTROL_ENABLE);
    dcb.setRtsControl(RTS_CONTROL_ENABLE);
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

// The table the default C-bus file gives: chip selects for RAM and flash.
inline std::vector<std::uint8_t> defaultCBusTable() {
    return {0xFF, 0xA2, 0x3F, 0xFE, 0xFF, 0xA8, 0xA0, 0xBC, 0xFF, 0xA4, 0x00, 0x07, 0x0A, 0x08, 0x00, 0x04, 0xFF, 0xFF};
}

}  // namespace ombra::testsupport
