// The built-in remote programs of the three flash families, assembled from
// remote/ and carried as data by the chip-family components.
#pragma once

#include <cstdint>
#include <span>

namespace ombra::remote {

enum class Family { sst, intel, amd };
enum class Program { identify, burn, dump, verify };

// The program's bytes; its first byte is its entry point. Empty for a value
// outside the enums.
std::span<const std::uint8_t> builtinImage(Family family, Program program);

// Where the family's programs are loaded and started: segment in the high
// 16 bits, offset in the low 16 bits.
std::uint32_t loadAddress(Family family);

}  // namespace ombra::remote
