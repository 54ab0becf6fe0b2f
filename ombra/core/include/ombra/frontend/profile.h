// The application profile: the user's settings under HKEY_CURRENT_USER
// "Software\<registry key>\<application name>\<section>", read and written
// with the meaning of the platform's profile functions. Reads never create
// a key; every read has a default and reports nothing.
#pragma once

#include <string>
#include <string_view>

namespace ombra::frontend {

class AppProfile {
public:
    AppProfile(std::string registryKey, std::string appName);  // "Tarvik", "Ombra"

    const std::string& registryKey() const { return registryKey_; }
    const std::string& appName() const { return appName_; }
    // "Software\<registry key>\<application name>[\<section>]" under HKCU.
    std::string keyPath(const std::string& section = "") const;

    // A REG_DWORD of four bytes gives its value. A REG_SZ is read as a
    // decimal number (leading blanks, an optional sign, the digits up to
    // the first other character); text without digits or a number outside
    // the int range gives `def`, as does every other type.
    int getInt(const std::string& section, const std::string& entry, int def) const;
    // A REG_SZ (or REG_EXPAND_SZ, unexpanded) up to its first zero byte;
    // anything else gives `def`.
    std::string getString(const std::string& section, const std::string& entry, const std::string& def) const;

    bool writeInt(const std::string& section, const std::string& entry, int value);  // REG_DWORD
    bool writeString(const std::string& section, const std::string& entry, const std::string& value);  // REG_SZ
    // True when the entry is gone afterwards (also when it never existed).
    bool deleteEntry(const std::string& section, const std::string& entry);

private:
    std::string registryKey_;
    std::string appName_;
};

// The application name the platform takes from the executable's base name:
// "/x/y/Ombra" -> "Ombra", "C:\x\Ombra.exe" -> "Ombra" (the ".exe" in any case).
std::string applicationNameFromPath(std::string_view executablePath);

}  // namespace ombra::frontend
