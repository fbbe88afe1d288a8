#pragma once
// The callbacks the frontend hands to the core. They are plain globals: every
// entry point is called from the frontend's thread, one at a time. Any of them
// may be missing, so every use goes through the helpers below.

#include <libretro.h>

#include <string_view>

namespace tarvel::libretro {

// Log target of every line the entry points write.
inline constexpr std::string_view kApiTarget = "tarvel::libretro::api";

struct FrontendCallbacks {
    retro_environment_t environment = nullptr;
    retro_video_refresh_t video_refresh = nullptr;
    retro_audio_sample_batch_t audio_sample_batch = nullptr;
    retro_input_poll_t input_poll = nullptr;
    retro_input_state_t input_state = nullptr;
};

FrontendCallbacks& frontend();

// Sends an environment request; a missing callback counts as a refusal.
bool environment(unsigned command, void* data);

// Shows `text` on screen for a few seconds: with the extended message
// interface where the frontend offers it (on screen only, the line is logged
// separately), else as a plain message. For failures the player must see:
// a load that fails, an application that stops.
void show_message(std::string_view text, retro_log_level level);

}  // namespace tarvel::libretro
