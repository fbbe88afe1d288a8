#include "libretro/core_options.hpp"

#include <charconv>
#include <cstdlib>
#include <utility>

#include <fmt/format.h>

#include "common/utf8.hpp"
#include "libretro/debugging.hpp"
#include "libretro/frontend.hpp"
#include "libretro/input_mapping.hpp"
#include "libretro/options.hpp"
#include "machine/services/audio.hpp"
#include "media/audio/sound_font.hpp"

namespace tarvel::libretro {

OptionReader frontend_option_reader(retro_environment_t environment) {
    return [environment](const char* key) -> std::optional<std::string> {
        if (!environment) return std::nullopt;
        retro_variable variable{key, nullptr};
        if (!environment(RETRO_ENVIRONMENT_GET_VARIABLE, &variable) || !variable.value) return std::nullopt;
        std::string value(variable.value);
        if (!utf8::is_valid(value)) return std::nullopt;
        return value;
    };
}

namespace {

// An unsigned decimal with an optional leading "+" and nothing else.
std::optional<u32> parse_unsigned(std::optional<std::string_view> value) {
    if (!value) return std::nullopt;
    std::string_view text = *value;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    u32 number = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, number, 10);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return number;
}

}  // namespace

u32 parse_volume_option(std::optional<std::string_view> value) {
    const std::optional<u32> number = parse_unsigned(value);
    if (!number) return 100;
    return *number < 100 ? *number : 100;
}

bool parse_touch_input_option(std::optional<std::string_view> value) { return !(value && *value == "disabled"); }

bool parse_enabled_option(std::optional<std::string_view> value) { return value && *value == "enabled"; }

Orientation parse_orientation_option(std::optional<std::string_view> value) {
    if (value && *value == "portrait") return Orientation::Portrait;
    if (value && *value == "landscape") return Orientation::Landscape;
    return Orientation::Auto;
}

TouchButton parse_pointer_button_option(std::optional<std::string_view> value) {
    if (value && *value == "l3") return TouchButton::L3;
    if (value && *value == "r2") return TouchButton::R2;
    return TouchButton::R3;
}

u32 parse_pointer_speed_option(std::optional<std::string_view> value) {
    const std::optional<u32> number = parse_unsigned(value);
    return number && *number >= 1 && *number <= 40 ? *number : VirtualPointerOptions{}.speed;
}

CursorStyle parse_pointer_arrow_option(std::optional<std::string_view> value) {
    if (value && *value == "black") return CursorStyle::Black;
    if (value && *value == "hidden") return CursorStyle::Hidden;
    return CursorStyle::White;
}

std::optional<u16> parse_port(std::optional<std::string_view> value) {
    if (!value || value->empty()) return std::nullopt;
    u32 number = 0;
    const char* end = value->data() + value->size();
    auto [ptr, ec] = std::from_chars(value->data(), end, number, 10);
    if (ec != std::errc() || ptr != end || number == 0 || number > 65535) return std::nullopt;
    return static_cast<u16>(number);
}

std::optional<u16> gdb_port_setting(const OptionReader& read) {
    if (const char* variable = std::getenv(kGdbPortVariable)) {
        if (auto port = parse_port(variable)) return port;
        static bool warned = false;  // options are read again on every restore
        if (!std::exchange(warned, true))
            TARVEL_LOG(Warn, kApiTarget, "{} is not a port number from 1 to 65535: \"{}\"; ignored", kGdbPortVariable,
                   variable);
    }
    return parse_port(read ? read(option_keys::gdb_port) : std::nullopt);
}

AppliedOptions apply_core_options(const OptionReader& read, Orientation content_orientation) {
    auto get = [&read](const char* key) -> std::optional<std::string> { return read ? read(key) : std::nullopt; };
    AppliedOptions options;
    options.volume = parse_volume_option(get(option_keys::volume));
    options.touch_input = parse_touch_input_option(get(option_keys::touch_input));
    options.debug_logging = parse_enabled_option(get(option_keys::debug_logging));
    options.auto_bgm = parse_enabled_option(get(option_keys::auto_bgm));
    options.enhanced_sound = parse_enabled_option(get(option_keys::enhanced_sound));
    options.orientation_option = parse_orientation_option(get(option_keys::screen_orientation));
    options.gdb_port = gdb_port_setting(read);
    options.effective_orientation = options.orientation_option == Orientation::Auto
                                        ? content_orientation
                                        : options.orientation_option;
    VirtualPointerOptions& pointer = options.virtual_pointer;
    pointer.enabled = parse_enabled_option(get(option_keys::virtual_pointer));
    pointer.button = parse_pointer_button_option(get(option_keys::pointer_button));
    pointer.speed = parse_pointer_speed_option(get(option_keys::pointer_speed));
    pointer.style = parse_pointer_arrow_option(get(option_keys::pointer_arrow));
    return options;
}

std::string describe_applied_options(const AppliedOptions& options) {
    return fmt::format("Core options applied: volume={} touch_input={} auto_bgm={} debug_logging={} orientation={}",
                       options.volume, options.touch_input, options.auto_bgm, options.debug_logging,
                       orientation_name(options.orientation_option));
}

void apply_options(CoreState& state, log::Level line_level) {
    machine::TarvelMachine& m = *state.machine;
    AppliedOptions applied = apply_core_options(frontend_option_reader(frontend().environment), m.orientation);
    // The player's master volume; the game's own volume stays in the engine.
    m.volume = applied.volume;
    state.touch_input_enabled = applied.touch_input;
    state.virtual_pointer_options = applied.virtual_pointer;
    const PadClaims claims = applied.touch_input ? pad_claims(applied.virtual_pointer) : PadClaims{};
    if (claims != state.described_claims) {
        // The loaded game was described as the plain keypad; tell the
        // frontend what the pointer's stick and button do now.
        environment(RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS,
                    const_cast<retro_input_descriptor*>(input_descriptors(claims).data()));
        state.described_claims = claims;
    }
    machine::services::set_auto_bgm_option(m, applied.auto_bgm);
    // Loading the SoundFont takes a moment: it happens here, once per
    // process, never while a frame renders.
    if (applied.enhanced_sound) sound_font::prepare();
    m.audio_engine.set_enhanced(applied.enhanced_sound);
    m.orientation_option = applied.orientation_option;
    m.effective_orientation = applied.effective_orientation;
    log::set_debug_flag(applied.debug_logging);
    log::set_filter(applied.debug_logging ? log::Level::Debug : log::Level::Info);
    follow_gdb_port_setting(state, applied.gdb_port);
    if (log::enabled(line_level)) log::write(line_level, kApiTarget, "{}", describe_applied_options(applied));
}

}  // namespace tarvel::libretro
