#include "ombra/frontend/list_search.h"

#include <cctype>

namespace ombra::frontend {

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

int findStringPrefix(const std::vector<std::string>& entries, std::string_view prefix)
{
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].size() >= prefix.size() && equalsIgnoreCase(std::string_view(entries[i]).substr(0, prefix.size()), prefix))
            return static_cast<int>(i);
    }
    return -1;
}

int findStringExact(const std::vector<std::string>& entries, std::string_view text)
{
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (equalsIgnoreCase(entries[i], text))
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace ombra::frontend
