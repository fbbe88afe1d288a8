#pragma once
// One video frame of a loaded game: option updates, geometry, input, the
// application's due ticks, then presentation.

#include "libretro/core_state.hpp"

namespace tarvel::libretro {

void run_frame(CoreState& state);

// Sends the geometry wanted for the effective orientation when it differs from
// the one last announced; the answer is logged and not asked again.
void announce_geometry(CoreState& state);

}  // namespace tarvel::libretro
