#include "ombra/common/names.h"

namespace ombra {

bool isPlainName(std::string_view name) {
    if (name.empty() || name.size() > kMaxPlainNameLength) return false;
    // "." is the folder itself; ".." anywhere may climb out of it.
    if (name == "." || name.find("..") != std::string_view::npos) return false;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || b < 0x20 || b == 0x7F) return false;
    }
    return true;
}

}  // namespace ombra
