// The save-state entry points: the container and payload live in the
// save_state module; here the core state is checked, the restored machine is
// installed, and what belongs to the frontend is set again.
#include <libretro.h>

#include <span>

#include "common/log.hpp"
#include "libretro/core_options.hpp"
#include "libretro/core_state.hpp"
#include "libretro/frontend.hpp"
#include "state/save_state.hpp"

using namespace tarvel;
using namespace tarvel::libretro;

static_assert(kSerializeSize == kSaveStateCapacity);
static_assert(kTickPeriod == kTickPhaseLimit);

RETRO_API size_t retro_serialize_size(void) { return core_state() ? kSerializeSize : 0; }

RETRO_API bool retro_serialize(void* data, size_t size) {
    auto& state = core_state();
    if (!state || data == nullptr || size < kSerializeSize) return false;
    Status written = write_save_state(*state->machine, state->tick_phase, state->content_crc,
                                      std::span<u8>(static_cast<u8*>(data), kSerializeSize), state->save_buffers);
    if (!written) {
        TARVEL_LOG(Error, kApiTarget, "Failed to serialize game state: {}", written.error().to_string());
        return false;
    }
    return true;
}

RETRO_API bool retro_unserialize(const void* data, size_t size) {
    auto& state = core_state();
    if (!state || data == nullptr || size == 0) return false;
    auto restored = read_save_state(std::span<const u8>(static_cast<const u8*>(data), size), state->content_crc,
                                    *state->machine, state->save_buffers);
    if (!restored) {
        TARVEL_LOG(Error, kApiTarget, "Failed to restore game state: {}", restored.error().to_string());
        return false;
    }
    // The restored memory goes into the buffers the frontend points at.
    state->tick_phase = restored->tick_phase;
    install_saved_game(std::move(restored).value(), state->machine);
    // The restored files are what the game sees from here on; they reach the
    // disk only once the game changes them, so loading an older state never
    // by itself overwrites newer saves.
    adopt_file_system(state->saves, state->machine->file_system);
    machine::TarvelMachine& m = *state->machine;
    // The state carries the key events still waiting for their tick; nothing
    // is being delivered between frames.
    m.input.newly_pressed_mask = 0;
    state->stopped = false;
    apply_options(*state, log::Level::Debug);
    state->geometry = geometry_for(state->effective_orientation());
    // Rewind and run-ahead restore every frame: a line each time would drown the log.
    TARVEL_LOG(Debug, kApiTarget, "Game state restored");
    return true;
}
