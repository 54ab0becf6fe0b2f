// Prints how many registry writes and reads per second the hive files
// sustain as a key grows. Runs in a fresh folder under the temp folder.
#include "ombra/platform/registry.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (count <= 0) count = 1000;
    fs::path dir = fs::temp_directory_path() / ("ombra-regbench-" + std::to_string(std::rand()));
    fs::create_directories(dir);
    std::string dirText = dir.string();
    ::setenv("OMBRA_REGISTRY_DIR", dirText.c_str(), 1);

    HKEY h = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Bench", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) != 0) {
        std::fprintf(stderr, "cannot create the key\n");
        return 1;
    }
    using clock = std::chrono::steady_clock;
    auto t0 = clock::now();
    for (int i = 0; i < count; ++i) {
        std::string name = "value" + std::to_string(i);
        DWORD v = static_cast<DWORD>(i);
        RegSetValueExA(h, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
    }
    auto t1 = clock::now();
    for (int i = 0; i < count; ++i) {
        std::string name = "value" + std::to_string(i);
        DWORD v = 0, size = 4;
        RegQueryValueExA(h, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
    }
    auto t2 = clock::now();
    RegCloseKey(h);
    double w = std::chrono::duration<double>(t1 - t0).count();
    double r = std::chrono::duration<double>(t2 - t1).count();
    std::printf("%d values into one key: %.0f writes/s (%.3f ms each, mean over a growing key), "
                "%.0f reads/s at %d values (%.3f ms each)\n",
                count, count / w, 1000 * w / count, count / r, count, 1000 * r / count);
    std::printf("hive file: %ju bytes\n",
                static_cast<std::uintmax_t>(fs::file_size(dir / "HKEY_LOCAL_MACHINE.reg")));
    fs::remove_all(dir);
    return 0;
}
