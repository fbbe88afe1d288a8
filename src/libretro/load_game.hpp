#pragma once
// Loading and resetting a game: negotiating with the frontend, reading and
// checking the content file, building and booting the machine. A new core
// state is installed only on full success.

#include <libretro.h>

#include "libretro/core_state.hpp"

namespace tarvel::libretro {

bool load_game(const retro_game_info* info);

// Rebuilds and reboots the machine from the kept archive. On failure the
// running game continues unchanged.
void reset_game(CoreState& state);

}  // namespace tarvel::libretro
