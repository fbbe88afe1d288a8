#pragma once
// Applies the frontend's current core option values to the loaded game: after
// a load, a reset, a state restore, and whenever the frontend reports a change.

#include "libretro/core_state.hpp"

namespace tarvel::libretro {

void apply_options(CoreState& state);

}  // namespace tarvel::libretro
