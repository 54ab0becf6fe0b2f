#include "ombra/frontend/comm_settings.h"

#include <string>

#include "ombra/frontend/list_search.h"
#include "ombra/platform/registry.h"

namespace ombra::frontend {

using platform::RegKey;

const std::array<CommValue, 32> kCommValues = {{
    {"BaudRate", 115200, 32},
    {"fBinary", 1, 1},
    {"fParity", 0, 1},
    {"fOutxCtsFlow", 0, 1},
    {"fOutxDsrFlow", 0, 1},
    {"fDtrControl", 0, 2},
    {"fDsrSensitivity", 0, 1},
    {"fTXContinueOnXoff", 0, 1},
    {"fOutX", 0, 1},
    {"fInX", 0, 1},
    {"fErrorChar", 0, 1},
    {"fNull", 0, 1},
    {"fRtsControl", 0, 2},
    {"fAbortOnError", 0, 1},
    {"fDummy2", 0, 17},
    {"wReserved", 0, 16},
    {"XonLim", 2048, 16},
    {"XoffLim", 512, 16},
    {"ByteSize", 8, 8},
    {"Parity", 0, 8},
    {"StopBits", 0, 8},
    {"XonChar", 17, 8},
    {"XoffChar", 19, 8},
    {"ErrorChar", 0, 8},
    {"EofChar", 0, 8},
    {"EvtChar", 0, 8},
    {"wReserved1", 0, 16},
    {"ReadIntervalTimeout", 0, 32},
    {"ReadTotalTimeoutMultiplier", 0, 32},
    {"ReadTotalTimeoutConstant", 0, 32},
    {"WriteTotalTimeoutMultiplier", 10, 32},
    {"WriteTotalTimeoutConstant", 1000, 32},
}};

namespace {

constexpr std::size_t kBaudIndex = 0;
constexpr std::size_t kFirstFlag = 1;
constexpr std::size_t kLastFlag = 14;
// Where the flag values sit in the DCB's flag word, in table order.
constexpr unsigned kFlagShift[] = {0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 14, 15};

DWORD mask(unsigned bits) { return bits >= 32 ? 0xFFFFFFFFu : (DWORD(1) << bits) - 1; }

DWORD fieldOf(std::size_t i, const DCB& d, const COMMTIMEOUTS& t)
{
    if (i >= kFirstFlag && i <= kLastFlag)
        return (d.flags >> kFlagShift[i - kFirstFlag]) & mask(kCommValues[i].bits);
    switch (i) {
    case 0: return d.BaudRate;
    case 15: return d.wReserved;
    case 16: return d.XonLim;
    case 17: return d.XoffLim;
    case 18: return d.ByteSize;
    case 19: return d.Parity;
    case 20: return d.StopBits;
    case 21: return static_cast<unsigned char>(d.XonChar);
    case 22: return static_cast<unsigned char>(d.XoffChar);
    case 23: return static_cast<unsigned char>(d.ErrorChar);
    case 24: return static_cast<unsigned char>(d.EofChar);
    case 25: return static_cast<unsigned char>(d.EvtChar);
    case 26: return d.wReserved1;
    case 27: return t.ReadIntervalTimeout;
    case 28: return t.ReadTotalTimeoutMultiplier;
    case 29: return t.ReadTotalTimeoutConstant;
    case 30: return t.WriteTotalTimeoutMultiplier;
    case 31: return t.WriteTotalTimeoutConstant;
    }
    return 0;
}

// `v` is already cut to the field's width.
void setField(std::size_t i, DWORD v, DCB& d, COMMTIMEOUTS& t)
{
    if (i >= kFirstFlag && i <= kLastFlag) {
        const unsigned shift = kFlagShift[i - kFirstFlag];
        d.flags = (d.flags & ~(mask(kCommValues[i].bits) << shift)) | (v << shift);
        return;
    }
    switch (i) {
    case 0: d.BaudRate = v; break;
    case 15: d.wReserved = static_cast<WORD>(v); break;
    case 16: d.XonLim = static_cast<WORD>(v); break;
    case 17: d.XoffLim = static_cast<WORD>(v); break;
    case 18: d.ByteSize = static_cast<BYTE>(v); break;
    case 19: d.Parity = static_cast<BYTE>(v); break;
    case 20: d.StopBits = static_cast<BYTE>(v); break;
    case 21: d.XonChar = static_cast<char>(v); break;
    case 22: d.XoffChar = static_cast<char>(v); break;
    case 23: d.ErrorChar = static_cast<char>(v); break;
    case 24: d.EofChar = static_cast<char>(v); break;
    case 25: d.EvtChar = static_cast<char>(v); break;
    case 26: d.wReserved1 = static_cast<WORD>(v); break;
    case 27: t.ReadIntervalTimeout = v; break;
    case 28: t.ReadTotalTimeoutMultiplier = v; break;
    case 29: t.ReadTotalTimeoutConstant = v; break;
    case 30: t.WriteTotalTimeoutMultiplier = v; break;
    case 31: t.WriteTotalTimeoutConstant = v; break;
    }
}

bool writeDword(HKEY key, const char* name, DWORD v)
{
    const BYTE data[4] = {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
    return RegSetValueExA(key, name, 0, REG_DWORD, data, sizeof data) == ERROR_SUCCESS;
}

// The Comm key, then the port's own key in `port` (the Comm key again for
// an empty name); each opened, else created.
bool openPortKey(const std::string& portName, RegKey& comm, RegKey& port)
{
    if (comm.open(HKEY_LOCAL_MACHINE, kCommKeyPath, KEY_ALL_ACCESS) != ERROR_SUCCESS &&
        comm.create(HKEY_LOCAL_MACHINE, kCommKeyPath, KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return false;
    const char* sub = portName.empty() ? nullptr : portName.c_str();
    if (port.open(comm.get(), sub, KEY_ALL_ACCESS) != ERROR_SUCCESS &&
        port.create(comm.get(), sub, KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return false;
    return true;
}

}  // namespace

bool loadCommSettings(const std::string& portName, int commandLineBaud, DCB& dcb, COMMTIMEOUTS& timeouts)
{
    RegKey comm, port;
    if (!openPortKey(portName, comm, port))
        return false;
    DCB d = dcb;
    COMMTIMEOUTS t = timeouts;
    d.flags = 0;  // every bit of it is one of the values below
    for (std::size_t i = 0; i < kCommValues.size(); ++i) {
        const CommValue& v = kCommValues[i];
        if (i == kBaudIndex && commandLineBaud >= 0) {
            d.BaudRate = static_cast<DWORD>(commandLineBaud);
            continue;
        }
        DWORD type = 0;
        BYTE data[4] = {};
        DWORD size = sizeof data;
        const LONG r = RegQueryValueExA(port.get(), v.name, nullptr, &type, data, &size);
        DWORD value = v.defaultValue;
        if (r == ERROR_SUCCESS && type == REG_DWORD && size == sizeof data)
            value = (DWORD(data[0]) | DWORD(data[1]) << 8 | DWORD(data[2]) << 16 | DWORD(data[3]) << 24) & mask(v.bits);
        else
            writeDword(port.get(), v.name, v.defaultValue);
        setField(i, value, d, t);
    }
    d.DCBlength = DCB::kSize;
    dcb = d;
    timeouts = t;
    return true;
}

bool saveCommSettings(const std::string& portName, const DCB& dcb, const COMMTIMEOUTS& timeouts)
{
    RegKey comm, port;
    if (!openPortKey(portName, comm, port))
        return false;
    bool ok = true;
    for (std::size_t i = 0; i < kCommValues.size(); ++i)
        ok = writeDword(port.get(), kCommValues[i].name, fieldOf(i, dcb, timeouts)) && ok;
    return ok;
}

BaudList baudRateList(DWORD baud)
{
    BaudList list;
    for (DWORD rate : kSupportedBaudRates)
        list.entries.push_back(std::to_string(rate));
    // "%d": a rate above INT_MAX prints negative.
    const std::string text = std::to_string(static_cast<int>(baud));
    list.selected = findStringPrefix(list.entries, text);
    if (list.selected < 0) {
        list.entries.push_back(text);
        list.selected = static_cast<int>(list.entries.size()) - 1;
    }
    return list;
}

}  // namespace ombra::frontend
