#pragma once
// One video frame of a loaded game: option updates, geometry, input, the
// application's due ticks, then presentation.

#include "libretro/core_state.hpp"

namespace tarvel::libretro {

void run_frame(CoreState& state);

}  // namespace tarvel::libretro
