#pragma once
// Guest memory as the frontend sees it: the memory descriptors (for cheats
// and achievements) and the blocks behind retro_get_memory_data.

#include "common/bytes.hpp"
#include "libretro/core_state.hpp"

namespace tarvel::libretro {

// The host address of guest `address`: the first region that starts at or
// below it and holds a byte there. Null when no region does.
u8* host_address(machine::TarvelMachine& machine, u32 address);

// Sends one descriptor per guest region, then an all-zero one, and logs the
// frontend's answer. The table is kept in `state`.
void register_memory_descriptors(CoreState& state);

}  // namespace tarvel::libretro
