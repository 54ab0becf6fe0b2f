// Nickel.so: the chip-family programmer for its family's flash parts.
#include "../src/family.h"

namespace ombra::chipfamily {
const Family& thisFamily() { return nickel(); }
}  // namespace ombra::chipfamily
