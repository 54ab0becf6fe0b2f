// A private registry folder for one test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

class TempRegistry {
public:
    TempRegistry() {
        std::random_device rd;
        for (;;) {
            const auto p = std::filesystem::temp_directory_path() / ("ombra-common-test-" + std::to_string(rd()));
            if (std::filesystem::create_directory(p)) {
                path_ = p.string();
                break;
            }
        }
        ::setenv("OMBRA_REGISTRY_DIR", path_.c_str(), 1);
    }
    ~TempRegistry() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
