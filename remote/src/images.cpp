#include "ombra/remote/images.h"

#include <cstddef>

namespace ombra::remote {
namespace detail {
extern const std::span<const std::uint8_t> kBuiltinImages[];
extern const std::size_t kBuiltinImageCount;
}  // namespace detail

namespace {
constexpr std::size_t kPrograms = 4;
constexpr std::size_t kFamilies = 3;
constexpr std::uint32_t kLoadAddress[kFamilies] = {0x00300000, 0x00340000, 0x00340000};
}  // namespace

std::span<const std::uint8_t> builtinImage(Family family, Program program) {
    const auto f = static_cast<std::size_t>(family);
    const auto p = static_cast<std::size_t>(program);
    if (f >= kFamilies || p >= kPrograms || f * kPrograms + p >= detail::kBuiltinImageCount)
        return {};
    return detail::kBuiltinImages[f * kPrograms + p];
}

std::uint32_t loadAddress(Family family) {
    const auto f = static_cast<std::size_t>(family);
    return f < kFamilies ? kLoadAddress[f] : 0;
}

}  // namespace ombra::remote
