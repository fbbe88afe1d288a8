#pragma once
// Turns the frontend's devices into the handheld's keypad and touch screen, and
// turns core option values into the settings the core stores.
//
// Everything here reads the frontend through plain function pointers and writes
// into records it is handed, so it runs the same with a real frontend and with
// a test that feeds the callbacks.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <libretro.h>

#include "common/bytes.hpp"
#include "common/orientation.hpp"
#include "machine/input_state.hpp"

namespace tarvel::libretro {

// ---- Keypad ---------------------------------------------------------------

// The key mask the devices on port 0 ask for right now: joypad (with the
// SELECT digit layer), both analog sticks and the keyboard. A null reader
// reads every input as released.
u32 read_keypad(retro_input_state_t read);

// Brings the held-key mask to `wanted` for the keys the keypad can produce,
// walking them in a fixed order (digits, soft keys, confirm, directions, star,
// hash, then 10 and 11) and queueing one event per key whose state changed.
void update_held_keys(u32 wanted, machine::InputState& input);

// Once per video frame, after the frontend polled its input.
void sample_keypad(retro_input_state_t read, machine::InputState& input);

// ---- Pointer --------------------------------------------------------------

struct GuestPoint {
    u32 x = 0;  // guest screen column 0..239
    u32 y = 0;  // guest screen row 0..399
};

// Maps a frontend pointer position (-0x7FFF..0x7FFF across the presented frame)
// to the guest screen, undoing the quarter turn of the landscape frame.
GuestPoint pointer_to_guest(i16 x, i16 y, Orientation effective);

// Once per video frame while touch input is enabled. A frame where position
// and pressed all read 0 carries no position: it keeps the last one and only
// ends a press that is still held.
void sample_pointer(retro_input_state_t read, Orientation effective, machine::PointerState& pointer);

// Ends a held press where it is (no press in progress: nothing changes).
void release_pointer(machine::PointerState& pointer);

// ---- Core options -----------------------------------------------------------

namespace option_keys {
inline constexpr const char* volume = "tarvel_volume";
inline constexpr const char* touch_input = "tarvel_touch_input";
inline constexpr const char* debug_logging = "tarvel_debug_logging";
inline constexpr const char* auto_bgm = "tarvel_auto_bgm";
inline constexpr const char* screen_orientation = "tarvel_screen_orientation";
}  // namespace option_keys

// Returns the option's current value, or nothing when it is unset.
using OptionReader = std::function<std::optional<std::string>(const char* key)>;

// Reads options with RETRO_ENVIRONMENT_GET_VARIABLE. Unset: no callback, the
// request refused, a null value, or a value that is not valid UTF-8.
OptionReader frontend_option_reader(retro_environment_t environment);

// Unset or unparsable: 100. Otherwise an unsigned decimal ("+" allowed) capped at 100.
u32 parse_volume_option(std::optional<std::string_view> value);
// Only "disabled" turns touch input off.
bool parse_touch_input_option(std::optional<std::string_view> value);
// Only "enabled" turns these on.
bool parse_enabled_option(std::optional<std::string_view> value);
// "portrait" and "landscape"; anything else is Auto.
Orientation parse_orientation_option(std::optional<std::string_view> value);

struct AppliedOptions {
    u32 volume = 100;
    bool touch_input = true;
    bool debug_logging = false;
    bool auto_bgm = false;
    Orientation orientation_option = Orientation::Auto;
    Orientation effective_orientation = Orientation::Portrait;  // never Auto
};

// Reads the five options. For the Auto orientation option the effective
// orientation is `content_orientation`, the one the orientation profile gave
// the loaded file. Touches nothing: the caller stores the values, moves the log
// filter and hands the Auto BGM option to the audio service.
AppliedOptions apply_core_options(const OptionReader& read, Orientation content_orientation);

// The text of the "options applied" log line (prints the option, not the
// effective orientation).
std::string describe_applied_options(const AppliedOptions& options);

}  // namespace tarvel::libretro
