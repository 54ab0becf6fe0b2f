// Serial settings as they travel from the front end through the worker into
// the components: the 28-byte DCB and the 20-byte COMMTIMEOUTS records, and
// the 16-byte GUID layout. Serialised field by field, little-endian; the
// DCB flag word is taken apart with masks so the layout never depends on
// how a compiler packs bitfields.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "ombra/platform/types.h"

// Values of the DCB's byte fields and two-bit flag fields.
inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;
inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;
inline constexpr DWORD DTR_CONTROL_DISABLE = 0;
inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_TOGGLE = 3;

struct DCB {
    // Positions of the flags inside `flags` (offset 8 of the record).
    enum : DWORD {
        kBinary = 1u << 0,
        kParity = 1u << 1,
        kOutxCtsFlow = 1u << 2,
        kOutxDsrFlow = 1u << 3,
        kDtrControlShift = 4,
        kDtrControlMask = 3u << 4,
        kDsrSensitivity = 1u << 6,
        kTXContinueOnXoff = 1u << 7,
        kOutX = 1u << 8,
        kInX = 1u << 9,
        kErrorChar = 1u << 10,
        kNull = 1u << 11,
        kRtsControlShift = 12,
        kRtsControlMask = 3u << 12,
        kAbortOnError = 1u << 14,
    };
    static constexpr std::size_t kSize = 28;

    DWORD DCBlength = kSize;
    DWORD BaudRate = 0;
    DWORD flags = 0;  // kept whole, reserved bits included, so a copy is exact
    WORD wReserved = 0;
    WORD XonLim = 0;
    WORD XoffLim = 0;
    BYTE ByteSize = 8;
    BYTE Parity = NOPARITY;
    BYTE StopBits = ONESTOPBIT;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    WORD wReserved1 = 0;

    bool flag(DWORD mask) const { return (flags & mask) != 0; }
    void setFlag(DWORD mask, bool on) { flags = on ? (flags | mask) : (flags & ~mask); }
    DWORD dtrControl() const { return (flags & kDtrControlMask) >> kDtrControlShift; }
    void setDtrControl(DWORD v) { flags = (flags & ~kDtrControlMask) | ((v << kDtrControlShift) & kDtrControlMask); }
    DWORD rtsControl() const { return (flags & kRtsControlMask) >> kRtsControlShift; }
    void setRtsControl(DWORD v) { flags = (flags & ~kRtsControlMask) | ((v << kRtsControlShift) & kRtsControlMask); }

    friend bool operator==(const DCB&, const DCB&) = default;
};

struct COMMTIMEOUTS {
    static constexpr std::size_t kSize = 20;

    DWORD ReadIntervalTimeout = 0;
    DWORD ReadTotalTimeoutMultiplier = 0;
    DWORD ReadTotalTimeoutConstant = 0;
    DWORD WriteTotalTimeoutMultiplier = 0;
    DWORD WriteTotalTimeoutConstant = 0;

    friend bool operator==(const COMMTIMEOUTS&, const COMMTIMEOUTS&) = default;
};

namespace ombra {

inline constexpr std::size_t kGuidSize = 16;

std::array<std::uint8_t, DCB::kSize> toBytes(const DCB& dcb);
DCB dcbFromBytes(std::span<const std::uint8_t, DCB::kSize> bytes);

std::array<std::uint8_t, COMMTIMEOUTS::kSize> toBytes(const COMMTIMEOUTS& t);
COMMTIMEOUTS timeoutsFromBytes(std::span<const std::uint8_t, COMMTIMEOUTS::kSize> bytes);

// In-memory GUID layout: Data1, Data2, Data3 little-endian, then Data4.
std::array<std::uint8_t, kGuidSize> toBytes(const GUID& g);
GUID guidFromBytes(std::span<const std::uint8_t, kGuidSize> bytes);

}  // namespace ombra
