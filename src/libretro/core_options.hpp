#pragma once
// Applies the frontend's current core option values to the loaded game: after
// a load, a reset, a state restore, and whenever the frontend reports a change.

#include "common/log.hpp"
#include "libretro/core_state.hpp"

namespace tarvel::libretro {

// `line_level` is the level of the "Core options applied" line: resets and
// restores (every frame with rewind or run-ahead) log it at Debug.
void apply_options(CoreState& state, log::Level line_level = log::Level::Info);

}  // namespace tarvel::libretro
