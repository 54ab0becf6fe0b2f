// The registry: Win32 calls, names and results, kept in one REGEDIT 5 text
// file per hive (HKEY_LOCAL_MACHINE.reg, ...) in OMBRA_REGISTRY_DIR, else in
// ~/.local/share/ombra/registry/; but HKEY_LOCAL_MACHINE and
// HKEY_CLASSES_ROOT live in /var/lib/ombra/registry (OMBRA_MACHINE_REGISTRY_DIR)
// when that folder exists, shared by every user. Names compare case-insensitively and keep
// their case; keys and values enumerate in the order they were created.
//
// Safe across processes: every call re-reads the hive under a lock, and a
// write replaces the file whole (temporary file + rename). An open HKEY is a
// path, so a key deleted meanwhile by anyone gives ERROR_KEY_DELETED.
// A hive file that does not parse is never overwritten: calls on that hive
// fail with ERROR_BADDB and the file and line are reported on stderr once.
#pragma once

#include "ombra/platform/types.h"

#include <cstdint>

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));

// Value types. Any other number is stored and returned byte for byte too.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Access rights. A key opened without a right fails the calls that need it
// with ERROR_ACCESS_DENIED, as on Windows; the predefined keys have all.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;  // accepted, stored like the others
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr LONG ERROR_BAD_PATHNAME = 161;

// Longest key name (one path element) and value name, in characters.
constexpr DWORD REG_MAX_KEY_NAME = 255;
constexpr DWORD REG_MAX_VALUE_NAME = 16383;
// Largest value data this store accepts.
constexpr DWORD REG_MAX_DATA = 1u << 20;

// Creates every missing key along `subKey` ("A\B\C"); an empty or null
// `subKey` opens `key` again. `cls`, `security` are ignored.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* cls, DWORD options, REGSAM sam,
                     const void* security, PHKEY result, DWORD* disposition);
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM sam, PHKEY result);
LONG RegCloseKey(HKEY key);

// Null or empty `name` is the key's default value. With `data` null, `size`
// receives the size. A short buffer gives ERROR_MORE_DATA and the size needed.
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValueA(HKEY key, const char* name);

// Fails with ERROR_ACCESS_DENIED when the key has subkeys.
LONG RegDeleteKeyA(HKEY key, const char* subKey);
// Deletes `subKey` (or, when null, everything below `key`) with all it holds.
LONG RegDeleteTreeA(HKEY key, const char* subKey);

// By index, ERROR_NO_MORE_ITEMS past the end. `nameLen`/`dataLen` go in as
// buffer sizes (name: with its terminator) and come out as the lengths
// (name: without). A short buffer gives ERROR_MORE_DATA with the length
// needed; what does fit is still filled in. `cls`, `lastWriteTime` unused.
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD* reserved, char* cls, DWORD* clsLen,
                   void* lastWriteTime);
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameLen, DWORD* reserved, DWORD* type, BYTE* data,
                   DWORD* dataLen);

// Counts and longest lengths (names without terminator); the class,
// security and time outputs are zero.
LONG RegQueryInfoKeyA(HKEY key, char* cls, DWORD* clsLen, DWORD* reserved, DWORD* subKeys, DWORD* maxSubKeyLen,
                      DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen, DWORD* maxValueLen,
                      DWORD* securityDescriptor, void* lastWriteTime);

namespace ombra::platform {

// Owns an open key and closes it when it goes.
class RegKey {
public:
    RegKey() = default;
    explicit RegKey(HKEY key) : key_(key) {}
    RegKey(RegKey&& other) noexcept : key_(other.release()) {}
    RegKey& operator=(RegKey&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { reset(); }

    LONG open(HKEY parent, const char* subKey, REGSAM sam)
    {
        HKEY k = nullptr;
        LONG r = RegOpenKeyExA(parent, subKey, 0, sam, &k);
        reset(k);
        return r;
    }
    LONG create(HKEY parent, const char* subKey, REGSAM sam, DWORD* disposition = nullptr)
    {
        HKEY k = nullptr;
        LONG r = RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &k, disposition);
        reset(k);
        return r;
    }
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    HKEY release()
    {
        HKEY k = key_;
        key_ = nullptr;
        return k;
    }
    void reset(HKEY key = nullptr)
    {
        if (key_) RegCloseKey(key_);
        key_ = key;
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace ombra::platform
