#include "libretro/options.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "libretro/frontend.hpp"

namespace tarvel::libretro {
namespace {

constexpr OptionValue kVolumeValues[] = {{"100"}, {"90"}, {"80"}, {"70"}, {"60"}, {"50"},
                                         {"40"},  {"30"}, {"20"}, {"10"}, {"0"}};
constexpr OptionValue kEnabledByDefault[] = {{"enabled"}, {"disabled"}};
constexpr OptionValue kDisabledByDefault[] = {{"disabled"}, {"enabled"}};
constexpr OptionValue kGdbPortValues[] = {{"disabled"}, {"1234"}, {"2345"}, {"3333"}};
constexpr OptionValue kOrientationValues[] = {
    {"auto", "Auto (per application)"}, {"landscape", "Landscape"}, {"portrait", "Portrait"}};
constexpr OptionValue kPointerButtonValues[] = {
    {"r3", "R3 (right stick click)"}, {"l3", "L3 (left stick click)"}, {"r2", "R2 (no longer Hash)"}};
constexpr OptionValue kPointerSpeedValues[] = {
    {"6", "Normal"}, {"3", "Slow"}, {"10", "Fast"}, {"15", "Very fast"}};
constexpr OptionValue kPointerArrowValues[] = {{"white", "White"}, {"black", "Black"}, {"hidden", "Hidden"}};

constexpr OptionCategory kCategories[] = {
    {"video", "Video", "How the application's screen is shown."},
    {"audio", "Audio", "Loudness, background music and sound quality."},
    {"input", "Input", "How the frontend's devices reach the handheld's touch screen."},
    {"advanced", "Advanced", "Diagnostics for application and core developers."},
};

constexpr CoreOption kOptions[] = {
    {option_keys::volume, "Audio Volume (%)",
     "Master volume of everything the application plays. The application's own volume setting applies as well.",
     "audio", kVolumeValues},
    {option_keys::touch_input, "Touch/Pointer Input",
     "The mouse or a touch screen acts as the handheld's touch screen. When disabled, pointer input is ignored.",
     "input", kEnabledByDefault},
    {option_keys::debug_logging, "CPU/HLE Debug Logging",
     "Writes debug lines from the interpreter and the emulated services to the frontend's log. Slows the game "
     "down; for finding out why an application misbehaves.",
     "advanced", kDisabledByDefault},
    {option_keys::auto_bgm, "Auto BGM (packaged MIDI)",
     "Plays the first MIDI music packaged with the application as endless background music, until the "
     "application plays sound itself.",
     "audio", kDisabledByDefault},
    {option_keys::enhanced_sound, "Enhanced Sound",
     "Sound effects mixed over the music instead of waiting behind it, a band-limited resampler, MIDI music "
     "through the General MIDI SoundFont (Debian's fluid-soundfont-gm) and short fades instead of clicks. "
     "Disabled, applications sound as they do on the handheld.",
     "audio", kDisabledByDefault},
    {option_keys::screen_orientation, "Screen Orientation",
     "Auto shows each application the way it was made for: portrait, or turned a quarter into landscape, from "
     "the built-in list and tarvel_orientation.csv in the system directory.",
     "video", kOrientationValues},
    {option_keys::virtual_pointer, "Virtual Pointer (Right Stick)",
     "For pads without a mouse or touch screen: the right stick moves an arrow over the screen and the touch "
     "button taps and drags with it. The right stick then no longer steers. Needs Touch/Pointer Input; a mouse "
     "or touch screen takes over whenever it is used.",
     "input", kDisabledByDefault},
    {option_keys::pointer_button, "Virtual Pointer Touch Button",
     "The pad button that touches the screen at the arrow's tip while held. R2 then no longer types the Hash "
     "key.",
     "input", kPointerButtonValues},
    {option_keys::pointer_speed, "Virtual Pointer Speed",
     "How fast the arrow crosses the screen with the right stick fully tilted.", "input", kPointerSpeedValues},
    {option_keys::pointer_arrow, "Virtual Pointer Arrow",
     "How the arrow is drawn over the picture (never into the application's screen). It turns amber while "
     "touching.",
     "input", kPointerArrowValues},
    {option_keys::gdb_port, "GDB Remote Debugging Port",
     "Listens for gdb on 127.0.0.1 at this port (target remote :PORT). Set before loading a game, the game "
     "waits at its first instruction until a debugger attaches. The environment variable TARVEL_GDB_PORT "
     "overrides this.",
     "advanced", kGdbPortValues},
};

struct LegacyTable {
    std::vector<std::string> texts;
    std::vector<retro_variable> variables;
};

LegacyTable build_legacy_table() {
    LegacyTable table;
    table.texts.reserve(std::size(kOptions));
    for (const CoreOption& option : kOptions) {
        std::string text = std::string(option.label) + "; ";
        for (size_t i = 0; i < option.values.size(); ++i) {
            if (i > 0) text += '|';
            text += option.values[i].value;
        }
        table.texts.push_back(std::move(text));
    }
    for (size_t i = 0; i < std::size(kOptions); ++i)
        table.variables.push_back({kOptions[i].key, table.texts[i].c_str()});
    table.variables.push_back({nullptr, nullptr});
    return table;
}

struct V2Table {
    std::vector<retro_core_option_v2_category> categories;
    std::vector<retro_core_option_v2_definition> definitions;
    retro_core_options_v2 options{};
};

V2Table build_v2_table() {
    V2Table table;
    for (const OptionCategory& category : kCategories)
        table.categories.push_back({category.key, category.label, category.info});
    table.categories.push_back({nullptr, nullptr, nullptr});
    for (const CoreOption& option : kOptions) {
        retro_core_option_v2_definition d{};
        d.key = option.key;
        d.desc = option.label;
        d.info = option.info;
        d.category_key = option.category;
        // The frontend needs an empty entry after the last value; longer
        // lists are cut rather than overrun (the table test keeps them short).
        const size_t count = std::min<size_t>(option.values.size(), RETRO_NUM_CORE_OPTION_VALUES_MAX - 1);
        for (size_t i = 0; i < count; ++i) d.values[i] = {option.values[i].value, option.values[i].label};
        d.default_value = option.values.empty() ? nullptr : option.values[0].value;
        table.definitions.push_back(d);
    }
    table.definitions.push_back(retro_core_option_v2_definition{});
    table.options.categories = table.categories.data();
    table.options.definitions = table.definitions.data();
    return table;
}

}  // namespace

std::span<const OptionCategory> option_categories() { return kCategories; }
std::span<const CoreOption> core_options() { return kOptions; }

std::span<const retro_variable> legacy_option_variables() {
    static const LegacyTable table = build_legacy_table();
    return table.variables;
}

const retro_core_options_v2& option_definitions_v2() {
    static const V2Table table = build_v2_table();
    return table.options;
}

void announce_core_options() {
    unsigned version = 0;
    if (environment(RETRO_ENVIRONMENT_GET_CORE_OPTIONS_VERSION, &version) && version >= 2) {
        environment(RETRO_ENVIRONMENT_SET_CORE_OPTIONS_V2, const_cast<retro_core_options_v2*>(&option_definitions_v2()));
        return;
    }
    environment(RETRO_ENVIRONMENT_SET_VARIABLES, const_cast<retro_variable*>(legacy_option_variables().data()));
}

}  // namespace tarvel::libretro
