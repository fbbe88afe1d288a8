#pragma once
// The core options the frontend shows, and the joypad buttons it lists for the
// keypad. Both tables end with the all-null entry the frontend expects.

#include <libretro.h>

#include <span>
#include <string_view>

namespace tarvel::libretro {

inline constexpr std::string_view kOptionVolume = "tarvel_volume";
inline constexpr std::string_view kOptionTouchInput = "tarvel_touch_input";
inline constexpr std::string_view kOptionDebugLogging = "tarvel_debug_logging";
inline constexpr std::string_view kOptionAutoBgm = "tarvel_auto_bgm";
inline constexpr std::string_view kOptionScreenOrientation = "tarvel_screen_orientation";

// For RETRO_ENVIRONMENT_SET_VARIABLES: five options, then {nullptr, nullptr}.
// The first value in each list is the frontend's default.
std::span<const retro_variable> option_definitions();

// For RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS: the joypad buttons on port 0
// that reach the keypad, then an all-zero entry.
std::span<const retro_input_descriptor> input_descriptors();

}  // namespace tarvel::libretro
