#pragma once
// retro_load_game: negotiates with the frontend, reads and checks the content
// file and, on full success only, installs a new core state.

#include <libretro.h>

namespace tarvel::libretro {

bool load_game(const retro_game_info* info);

}  // namespace tarvel::libretro
