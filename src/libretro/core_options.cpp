#include "libretro/core_options.hpp"

#include "common/log.hpp"
#include "libretro/frontend.hpp"
#include "libretro/input_mapping.hpp"
#include "machine/services/audio.hpp"

namespace tarvel::libretro {

void apply_options(CoreState& state, log::Level line_level) {
    machine::TarvelMachine& m = *state.machine;
    AppliedOptions applied = apply_core_options(frontend_option_reader(frontend().environment), m.orientation);
    // The player's master volume; the game's own volume stays in the engine.
    m.volume = applied.volume;
    state.touch_input_enabled = applied.touch_input;
    m.auto_bgm = applied.auto_bgm;
    machine::services::set_auto_bgm_option(m, applied.auto_bgm);
    m.orientation_option = applied.orientation_option;
    m.effective_orientation = applied.effective_orientation;
    log::set_debug_flag(applied.debug_logging);
    log::set_filter(applied.debug_logging ? log::Level::Debug : log::Level::Info);
    if (log::enabled(line_level)) log::write(line_level, kApiTarget, "{}", describe_applied_options(applied));
}

}  // namespace tarvel::libretro
