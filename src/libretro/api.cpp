// The exported entry points. Each one checks for a loaded game itself and
// hands the work to the module that owns it.
#include <libretro.h>

#include <cstring>

#include "common/log.hpp"
#include "libretro/core_state.hpp"
#include "libretro/frame.hpp"
#include "libretro/frontend.hpp"
#include "libretro/frontend_log.hpp"
#include "libretro/input_mapping.hpp"
#include "libretro/load_game.hpp"
#include "libretro/memory_map.hpp"
#include "libretro/options.hpp"

using namespace tarvel;
using namespace tarvel::libretro;

namespace {

constexpr double kFramesPerSecond = 60.0;
constexpr double kSampleRate = 44100.0;

// The run's totals go to the debug log before the machine is dropped, so that
// a frontend that wants them (the headless runner's summary) can read them.
void drop_core_state() {
    auto& state = core_state();
    if (state && state->machine) flush_game_saves(state->saves, state->machine->file_system);
    if (state && state->machine)
        TARVEL_LOG(Debug, kApiTarget, "Machine ran {} ticks and {} guest instructions", state->machine->tick_count,
                   state->machine->instruction_count);
    state.reset();
}

}  // namespace

RETRO_API unsigned retro_api_version(void) { return RETRO_API_VERSION; }

RETRO_API void retro_get_system_info(struct retro_system_info* info) {
    if (info == nullptr) return;
    std::memset(info, 0, sizeof *info);
    info->library_name = "Tarvel";
    info->library_version = "0.1.0";
    info->valid_extensions = "cbe";
    info->need_fullpath = true;
    info->block_extract = false;
}

RETRO_API void retro_get_system_av_info(struct retro_system_av_info* info) {
    if (info == nullptr) return;
    std::memset(info, 0, sizeof *info);
    const auto& state = core_state();
    Geometry base = geometry_for(state ? state->effective_orientation() : Orientation::Portrait);
    info->geometry.base_width = base.width;
    info->geometry.base_height = base.height;
    info->geometry.max_width = kMaxWidth;
    info->geometry.max_height = kMaxHeight;
    info->geometry.aspect_ratio = static_cast<float>(base.width) / static_cast<float>(base.height);
    info->timing.fps = kFramesPerSecond;
    info->timing.sample_rate = kSampleRate;
}

RETRO_API void retro_set_environment(retro_environment_t callback) {
    frontend().environment = callback;
    announce_core_options();
    // The game owns port 0 and the keyboard; neither answer is needed.
    environment(RETRO_ENVIRONMENT_SET_CONTROLLER_INFO, const_cast<retro_controller_info*>(controller_info()));
    environment(RETRO_ENVIRONMENT_SET_KEYBOARD_CALLBACK, const_cast<retro_keyboard_callback*>(&keyboard_callback()));
}

RETRO_API void retro_set_video_refresh(retro_video_refresh_t callback) { frontend().video_refresh = callback; }
RETRO_API void retro_set_audio_sample(retro_audio_sample_t) {}
RETRO_API void retro_set_audio_sample_batch(retro_audio_sample_batch_t callback) {
    frontend().audio_sample_batch = callback;
}
RETRO_API void retro_set_input_poll(retro_input_poll_t callback) { frontend().input_poll = callback; }
RETRO_API void retro_set_input_state(retro_input_state_t callback) { frontend().input_state = callback; }
RETRO_API void retro_set_controller_port_device(unsigned, unsigned) {}

RETRO_API void retro_init(void) {
    install_frontend_logging();
    TARVEL_LOG(Info, kApiTarget, "Tarvel libretro core initialized");
}

RETRO_API void retro_deinit(void) {
    drop_core_state();
    TARVEL_LOG(Info, kApiTarget, "Tarvel libretro core deinitialized");
}

RETRO_API bool retro_load_game(const struct retro_game_info* info) { return load_game(info); }

RETRO_API bool retro_load_game_special(unsigned, const struct retro_game_info*, size_t) { return false; }

RETRO_API void retro_unload_game(void) {
    drop_core_state();
    TARVEL_LOG(Info, kApiTarget, "Game unloaded");
}

RETRO_API void retro_reset(void) {
    auto& state = core_state();
    if (!state) {
        TARVEL_LOG(Warn, kApiTarget, "retro_reset called before loading a game");
        return;
    }
    reset_game(*state);
}

RETRO_API void retro_run(void) {
    auto& state = core_state();
    if (!state) {
        TARVEL_LOG(Warn, kApiTarget, "retro_run called before loading a game");
        return;
    }
    run_frame(*state);
}

// retro_serialize_size, retro_serialize and retro_unserialize: serialize.cpp.

RETRO_API void retro_cheat_reset(void) {}
RETRO_API void retro_cheat_set(unsigned, bool, const char*) {}

RETRO_API unsigned retro_get_region(void) { return RETRO_REGION_NTSC; }

RETRO_API void* retro_get_memory_data(unsigned id) {
    auto& state = core_state();
    if (!state) return nullptr;
    switch (id) {
        case RETRO_MEMORY_SYSTEM_RAM: return host_address(*state->machine, machine::kRamBase);
        case RETRO_MEMORY_VIDEO_RAM: return host_address(*state->machine, machine::kScreenBuffer);
        default: return nullptr;
    }
}

RETRO_API size_t retro_get_memory_size(unsigned id) {
    if (!core_state()) return 0;
    switch (id) {
        case RETRO_MEMORY_SYSTEM_RAM: return machine::kRamSize;
        case RETRO_MEMORY_VIDEO_RAM: return machine::kScreenBufferBytes;
        default: return 0;
    }
}
