#pragma once
// The core options the frontend shows: one table holds each option's key,
// label, description, category and values. The frontend gets it with
// categories and descriptions when it takes core options v2, otherwise as the
// plain list of variables (label, then the values with the default first);
// keys and values are the same either way, so saved settings keep working.
//
// Adding an option: its key below, its row in the table in options.cpp, and
// the line that reads it in apply_core_options (core_options.cpp). Nothing
// else names the key.

#include <libretro.h>

#include <span>
#include <string_view>

namespace tarvel::libretro {

namespace option_keys {
inline constexpr const char* volume = "tarvel_volume";
inline constexpr const char* touch_input = "tarvel_touch_input";
inline constexpr const char* debug_logging = "tarvel_debug_logging";
inline constexpr const char* auto_bgm = "tarvel_auto_bgm";
inline constexpr const char* enhanced_sound = "tarvel_enhanced_sound";
inline constexpr const char* screen_orientation = "tarvel_screen_orientation";
inline constexpr const char* virtual_pointer = "tarvel_virtual_pointer";
inline constexpr const char* pointer_button = "tarvel_pointer_button";
inline constexpr const char* pointer_speed = "tarvel_pointer_speed";
inline constexpr const char* pointer_arrow = "tarvel_pointer_arrow";
inline constexpr const char* gdb_port = "tarvel_gdb_port";
}  // namespace option_keys

struct OptionValue {
    const char* value;
    const char* label = nullptr;  // null: the frontend shows the value itself
};

struct OptionCategory {
    const char* key;
    const char* label;
    const char* info;
};

struct CoreOption {
    const char* key;
    const char* label;     // also the legacy description, so it stays as it was
    const char* info;      // the sublabel
    const char* category;  // key of one of option_categories()
    std::span<const OptionValue> values;  // the first is the default
};

std::span<const OptionCategory> option_categories();
std::span<const CoreOption> core_options();

// The option table as RETRO_ENVIRONMENT_SET_VARIABLES takes it: "Label;
// first|second|..." per key, then {nullptr, nullptr}.
std::span<const retro_variable> legacy_option_variables();

// The option table as RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2 takes it.
const retro_core_options_v2& option_definitions_v2();

// Sent from retro_set_environment: v2 when the frontend reports core options
// version 2 or later, else the legacy variables. The answer is not needed.
void announce_core_options();

}  // namespace tarvel::libretro
