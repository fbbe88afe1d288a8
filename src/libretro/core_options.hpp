#pragma once
// Reading the core options and applying them to the loaded game: after a
// load, a reset, a state restore, and whenever the frontend reports a change.
// The options themselves (keys, labels, values) are in options.hpp.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <libretro.h>

#include "common/bytes.hpp"
#include "common/log.hpp"
#include "common/orientation.hpp"
#include "libretro/core_state.hpp"
#include "libretro/virtual_pointer.hpp"

namespace tarvel::libretro {

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
// "l3" and "r2"; anything else is R3.
TouchButton parse_pointer_button_option(std::optional<std::string_view> value);
// An unsigned decimal from 1 to 40 frame pixels per frame; anything else is 6.
u32 parse_pointer_speed_option(std::optional<std::string_view> value);
// "black" and "hidden"; anything else is White.
CursorStyle parse_pointer_arrow_option(std::optional<std::string_view> value);
// A decimal port number from 1 to 65535 ("disabled", unset and anything else: none).
std::optional<u16> parse_port(std::optional<std::string_view> value);

// The environment variable that turns the GDB stub on at a port, ahead of the option.
inline constexpr const char* kGdbPortVariable = "TARVEL_GDB_PORT";
// Where the GDB stub listens: the environment variable when it is set (a value
// that is no port is logged and ignored), else the option; none when off.
std::optional<u16> gdb_port_setting(const OptionReader& read);

struct AppliedOptions {
    u32 volume = 100;
    bool touch_input = true;
    bool debug_logging = false;
    bool auto_bgm = false;
    bool enhanced_sound = false;
    Orientation orientation_option = Orientation::Auto;
    Orientation effective_orientation = Orientation::Portrait;  // never Auto
    VirtualPointerOptions virtual_pointer;
    std::optional<u16> gdb_port;
};

// Reads the options and the GDB stub's environment variable. For the Auto
// orientation option the effective orientation is `content_orientation`, the
// one the orientation profile gave the loaded file. Touches nothing: the caller stores the values, moves the log
// filter and hands the Auto BGM option to the audio service.
AppliedOptions apply_core_options(const OptionReader& read, Orientation content_orientation);

// The text of the "options applied" log line (prints the option, not the
// effective orientation).
std::string describe_applied_options(const AppliedOptions& options);

// Reads the options from the frontend and stores them in the core state and
// its machine, moves the log filter, hands the Auto BGM option to the audio
// service and starts or stops the GDB stub. `line_level` is the level of the
// "Core options applied" line: resets and restores (every frame with rewind or
// run-ahead) log it at Debug.
void apply_options(CoreState& state, log::Level line_level = log::Level::Info);

}  // namespace tarvel::libretro
