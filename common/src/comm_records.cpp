#include "ombra/common/comm_records.h"

#include "ombra/common/byte_io.h"

namespace ombra {

std::array<std::uint8_t, DCB::kSize> toBytes(const DCB& d) {
    std::array<std::uint8_t, DCB::kSize> b{};
    le::put32(&b[0], d.DCBlength);
    le::put32(&b[4], d.BaudRate);
    le::put32(&b[8], d.flags);
    le::put16(&b[12], d.wReserved);
    le::put16(&b[14], d.XonLim);
    le::put16(&b[16], d.XoffLim);
    b[18] = d.ByteSize;
    b[19] = d.Parity;
    b[20] = d.StopBits;
    b[21] = static_cast<std::uint8_t>(d.XonChar);
    b[22] = static_cast<std::uint8_t>(d.XoffChar);
    b[23] = static_cast<std::uint8_t>(d.ErrorChar);
    b[24] = static_cast<std::uint8_t>(d.EofChar);
    b[25] = static_cast<std::uint8_t>(d.EvtChar);
    le::put16(&b[26], d.wReserved1);
    return b;
}

DCB dcbFromBytes(std::span<const std::uint8_t, DCB::kSize> b) {
    DCB d;
    d.DCBlength = le::get32(&b[0]);
    d.BaudRate = le::get32(&b[4]);
    d.flags = le::get32(&b[8]);
    d.wReserved = le::get16(&b[12]);
    d.XonLim = le::get16(&b[14]);
    d.XoffLim = le::get16(&b[16]);
    d.ByteSize = b[18];
    d.Parity = b[19];
    d.StopBits = b[20];
    d.XonChar = static_cast<char>(b[21]);
    d.XoffChar = static_cast<char>(b[22]);
    d.ErrorChar = static_cast<char>(b[23]);
    d.EofChar = static_cast<char>(b[24]);
    d.EvtChar = static_cast<char>(b[25]);
    d.wReserved1 = le::get16(&b[26]);
    return d;
}

std::array<std::uint8_t, COMMTIMEOUTS::kSize> toBytes(const COMMTIMEOUTS& t) {
    std::array<std::uint8_t, COMMTIMEOUTS::kSize> b{};
    le::put32(&b[0], t.ReadIntervalTimeout);
    le::put32(&b[4], t.ReadTotalTimeoutMultiplier);
    le::put32(&b[8], t.ReadTotalTimeoutConstant);
    le::put32(&b[12], t.WriteTotalTimeoutMultiplier);
    le::put32(&b[16], t.WriteTotalTimeoutConstant);
    return b;
}

COMMTIMEOUTS timeoutsFromBytes(std::span<const std::uint8_t, COMMTIMEOUTS::kSize> b) {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = le::get32(&b[0]);
    t.ReadTotalTimeoutMultiplier = le::get32(&b[4]);
    t.ReadTotalTimeoutConstant = le::get32(&b[8]);
    t.WriteTotalTimeoutMultiplier = le::get32(&b[12]);
    t.WriteTotalTimeoutConstant = le::get32(&b[16]);
    return t;
}

std::array<std::uint8_t, kGuidSize> toBytes(const GUID& g) {
    std::array<std::uint8_t, kGuidSize> b{};
    le::put32(&b[0], g.Data1);
    le::put16(&b[4], g.Data2);
    le::put16(&b[6], g.Data3);
    for (int i = 0; i < 8; ++i) b[8 + i] = g.Data4[i];
    return b;
}

GUID guidFromBytes(std::span<const std::uint8_t, kGuidSize> b) {
    GUID g{};
    g.Data1 = le::get32(&b[0]);
    g.Data2 = le::get16(&b[4]);
    g.Data3 = le::get16(&b[6]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = b[8 + i];
    return g;
}

}  // namespace ombra
