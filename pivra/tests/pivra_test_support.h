// Shared by Pivra's tests: a private registry folder and direct access to
// the context keys, past the code under test.
#pragma once

#include <QTemporaryDir>
#include <optional>
#include <string>

#include "ombra/platform/types.h"

namespace ombra::pivra::test {

// OMBRA_REGISTRY_DIR points at a fresh folder while this lives.
class TempRegistry {
public:
    TempRegistry();
    ~TempRegistry();
    std::string folder() const { return dir_.path().toStdString(); }
    std::string hiveFile() const { return folder() + "/HKEY_LOCAL_MACHINE.reg"; }

private:
    QTemporaryDir dir_;
};

struct StoredValue {
    DWORD type = 0;
    std::string bytes;
};

bool keyExists(const std::string& context);
// Values under the context's key; -1 when the key is missing.
int valueCount(const std::string& context);
std::optional<StoredValue> readValue(const std::string& context, const char* name);
std::optional<DWORD> readDword(const std::string& context, const char* name);
// The text without its zero; nullopt unless a REG_SZ ending in one zero.
std::optional<std::string> readText(const std::string& context, const char* name);

void writeValue(const std::string& context, const char* name, DWORD type, const std::string& bytes);
void writeDword(const std::string& context, const char* name, DWORD value);
void writeText(const std::string& context, const char* name, const std::string& text);
// The three values at once, as a user would set them by hand.
void writeContext(const std::string& context, DWORD enabled, DWORD type, const std::string& path);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace ombra::pivra::test
