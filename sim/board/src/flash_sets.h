#pragma once
// The command-set state machines behind FlashChip::create.
#include "ombra/sim/flash.h"

namespace ombra::sim {

// SST (unlock at word addresses 0x5555/0x2AAA) or AMD (0x555/0x2AA).
std::unique_ptr<FlashChip> makeJedecChip(const FlashPart& part, bool amd);
std::unique_ptr<FlashChip> makeIntelChip(const FlashPart& part);

} // namespace ombra::sim
