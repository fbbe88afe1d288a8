#include "libretro/frame.hpp"

#include "common/error.hpp"
#include "common/log.hpp"
#include "libretro/frontend.hpp"

namespace tarvel::libretro {
namespace {

// One application tick. The machine that runs it is not part of this build
// yet, and no core state can exist without it.
Status run_one_tick(CoreState&) { return Error("no machine is loaded"); }

void run_due_ticks(CoreState& state) {
    if (state.stopped) return;
    TickSchedule schedule = advance_tick_phase(state.tick_phase);
    state.tick_phase = schedule.next_phase;
    for (u32 i = 0; i < schedule.due_ticks; ++i) {
        auto ticked = run_one_tick(state);
        if (!ticked) {
            // The application can no longer run, but the frontend still gets
            // frames and audio until a reset, a reload or a state restore.
            TARVEL_LOG(Warn, kApiTarget, "CBE frame callback stopped: {}", ticked.error().to_string());
            state.stopped = true;
            return;
        }
    }
}

}  // namespace

void announce_geometry(CoreState& state) {
    Geometry wanted = geometry_for(state.effective_orientation());
    if (wanted == state.geometry) return;
    retro_game_geometry geometry{};
    geometry.base_width = wanted.width;
    geometry.base_height = wanted.height;
    geometry.max_width = kMaxWidth;
    geometry.max_height = kMaxHeight;
    geometry.aspect_ratio = static_cast<float>(wanted.width) / static_cast<float>(wanted.height);
    if (environment(RETRO_ENVIRONMENT_SET_GEOMETRY, &geometry))
        TARVEL_LOG(Info, kApiTarget, "Frontend accepted display geometry {}x{}", wanted.width, wanted.height);
    else
        TARVEL_LOG(Warn, kApiTarget, "Frontend did not accept display geometry {}x{}", wanted.width, wanted.height);
    state.geometry = wanted;
}

void run_frame(CoreState& state) {
    bool options_updated = false;
    if (environment(RETRO_ENVIRONMENT_GET_VARIABLE_UPDATE, &options_updated) && options_updated) {
        // Changed options are applied here once option handling exists.
    }
    announce_geometry(state);
    if (auto poll = frontend().input_poll) poll();
    // Keypad and pointer sampling go here, before the ticks that consume them.
    run_due_ticks(state);
    // Video and audio are presented here on every frame, stopped or not.
}

}  // namespace tarvel::libretro
