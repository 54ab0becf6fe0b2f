#include "pivra_test_support.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "ombra/platform/registry.h"
#include "trace_settings.h"

namespace ombra::pivra::test {

using ombra::platform::RegKey;

TempRegistry::TempRegistry() { qputenv("OMBRA_REGISTRY_DIR", dir_.path().toLocal8Bit()); }

TempRegistry::~TempRegistry() { qunsetenv("OMBRA_REGISTRY_DIR"); }

bool keyExists(const std::string& context) {
    RegKey key;
    return key.open(HKEY_LOCAL_MACHINE, contextKeyPath(context).c_str(), KEY_READ) == ERROR_SUCCESS;
}

int valueCount(const std::string& context) {
    RegKey key;
    if (key.open(HKEY_LOCAL_MACHINE, contextKeyPath(context).c_str(), KEY_READ) != ERROR_SUCCESS) return -1;
    DWORD values = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return -1;
    return static_cast<int>(values);
}

std::optional<StoredValue> readValue(const std::string& context, const char* name) {
    RegKey key;
    if (key.open(HKEY_LOCAL_MACHINE, contextKeyPath(context).c_str(), KEY_READ) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::string bytes(size, '\0');
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    bytes.resize(size);
    return StoredValue{type, bytes};
}

std::optional<DWORD> readDword(const std::string& context, const char* name) {
    const auto v = readValue(context, name);
    if (!v || v->type != REG_DWORD || v->bytes.size() != 4) return std::nullopt;
    DWORD d = 0;
    std::memcpy(&d, v->bytes.data(), 4);
    return d;
}

std::optional<std::string> readText(const std::string& context, const char* name) {
    const auto v = readValue(context, name);
    if (!v || v->type != REG_SZ || v->bytes.empty() || v->bytes.back() != '\0') return std::nullopt;
    std::string text = v->bytes.substr(0, v->bytes.size() - 1);
    if (text.find('\0') != std::string::npos) return std::nullopt;
    return text;
}

void writeValue(const std::string& context, const char* name, DWORD type, const std::string& bytes) {
    RegKey key;
    if (key.create(HKEY_LOCAL_MACHINE, contextKeyPath(context).c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
    RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
}

void writeDword(const std::string& context, const char* name, DWORD value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    writeValue(context, name, REG_DWORD, bytes);
}

void writeText(const std::string& context, const char* name, const std::string& text) {
    writeValue(context, name, REG_SZ, text + '\0');
}

void writeContext(const std::string& context, DWORD enabled, DWORD type, const std::string& path) {
    writeDword(context, "fTraceEnabled", enabled);
    writeDword(context, "dwTraceType", type);
    writeText(context, "sTraceFile", path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace ombra::pivra::test
