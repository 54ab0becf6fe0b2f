// A private registry and scratch folder for one test, and small registry
// helpers for looking at what the code under test stored.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ombra/platform/registry.h"

namespace ombra::frontend::test {

class Scratch {
public:
    Scratch()
    {
        std::random_device rd;
        for (;;) {
            const auto p = std::filesystem::temp_directory_path() / ("ombra-core-test-" + std::to_string(rd()));
            if (std::filesystem::create_directory(p)) {
                dir_ = p;
                break;
            }
        }
        std::filesystem::create_directory(dir_ / "registry");
        ::setenv("OMBRA_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
    }
    ~Scratch()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

struct StoredValue {
    DWORD type = 0;
    std::vector<BYTE> data;
    DWORD dword() const
    {
        return data.size() == 4 ? DWORD(data[0]) | DWORD(data[1]) << 8 | DWORD(data[2]) << 16 | DWORD(data[3]) << 24
                                : 0xDEADBEEF;
    }
};

inline std::optional<StoredValue> readValue(HKEY root, const std::string& key, const std::string& name)
{
    platform::RegKey k;
    if (k.open(root, key.c_str(), KEY_READ) != ERROR_SUCCESS)
        return std::nullopt;
    StoredValue v;
    DWORD size = 0;
    if (RegQueryValueExA(k.get(), name.c_str(), nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    v.data.resize(size);
    if (RegQueryValueExA(k.get(), name.c_str(), nullptr, &v.type, v.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return v;
}

inline bool keyExists(HKEY root, const std::string& key)
{
    platform::RegKey k;
    return k.open(root, key.c_str(), KEY_READ) == ERROR_SUCCESS;
}

inline DWORD valueCount(HKEY root, const std::string& key)
{
    platform::RegKey k;
    if (k.open(root, key.c_str(), KEY_READ) != ERROR_SUCCESS)
        return 0;
    DWORD values = 0;
    RegQueryInfoKeyA(k.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                     nullptr, nullptr);
    return values;
}

inline void setValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                     const std::vector<BYTE>& data)
{
    platform::RegKey k;
    k.create(root, key.c_str(), KEY_ALL_ACCESS);
    RegSetValueExA(k.get(), name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
}

inline void setDword(HKEY root, const std::string& key, const std::string& name, DWORD v)
{
    setValue(root, key, name, REG_DWORD, {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)});
}

inline void setText(HKEY root, const std::string& key, const std::string& name, const std::string& text)
{
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    setValue(root, key, name, REG_SZ, data);
}

}  // namespace ombra::frontend::test
