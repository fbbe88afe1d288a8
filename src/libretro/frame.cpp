#include "libretro/frame.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "media/audio/audio_engine.hpp"
#include "common/error.hpp"
#include "common/log.hpp"
#include "libretro/core_options.hpp"
#include "libretro/debugging.hpp"
#include "libretro/frontend.hpp"
#include "libretro/input_mapping.hpp"
#include "machine/services/audio.hpp"

namespace tarvel::libretro {
namespace {

// The engine renders whole frames with the game's own volume applied (its
// audio service call); the presentation then applies the core option, the
// player's master volume. Two separate settings, so that changing an option
// never undoes a game that muted itself, and the game never overrides the
// player.
class EngineSamples final : public AudioSampleSource {
public:
    explicit EngineSamples(AudioEngine& engine) : engine_(engine) {}
    size_t take_samples(std::span<i16> out) override {
        if (out.size() >= kRenderValues) {
            engine_.render_frame(out.first<kRenderValues>());
            return kRenderValues;
        }
        // Not the presenter's batch size: render a whole frame and pass on the front.
        std::array<i16, kRenderValues> frame = engine_.render_frame();
        std::copy_n(frame.begin(), out.size(), out.begin());
        return out.size();
    }

private:
    AudioEngine& engine_;
};

// The application can no longer run, but the frontend still gets frames and
// audio until a reset, a reload or a state restore.
void stop_application(CoreState& state, const Error& reason) {
    const std::string text = fmt::format("CBE frame callback stopped: {}", reason.to_string());
    TARVEL_LOG(Warn, kApiTarget, "{}", text);
    show_message(text, RETRO_LOG_WARN);
    state.stopped = true;
}

void run_due_ticks(CoreState& state) {
    if (state.stopped) return;
    TickSchedule schedule = advance_tick_phase(state.tick_phase);
    state.tick_phase = schedule.next_phase;
    for (u32 i = 0; i < schedule.due_ticks; ++i) {
        auto ticked = machine::run_tick(*state.machine, state.step_budget);
        if (!ticked) {
            stop_application(state, ticked.error());
            // An attached debugger gets to look at the machine as the fault left it.
            if (state.debugger) state.debugger->report_fault(*state.machine, ticked.error());
            return;
        }
    }
}

// Ticks with the GDB stub looking on: it takes debuggers and interrupts
// between frames and watches every instruction while one is attached.
void run_debugged_ticks(CoreState& state, debugger::GdbServer& gdb) {
    machine::TarvelMachine& m = *state.machine;
    if (!gdb.poll(m, application_state(state)) && !state.stopped) {
        m.run_state = machine::RunState::Stopped;
        stop_application(state, Error("CBE application ended by the debugger"));
    }
    {
        machine::ScopedExecutionMonitor watch(gdb.monitor());
        run_due_ticks(state);
    }
    gdb.after_frame(m, application_state(state));
}

// Sends the geometry wanted for the effective orientation when it differs from
// the one last announced; the answer is logged and not asked again.
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

// False only when the frontend says it will not show this frame (run-ahead
// runs hidden frames before the shown one).
bool frame_shown() {
    int flags = 0;
    if (!environment(RETRO_ENVIRONMENT_GET_AUDIO_VIDEO_ENABLE, &flags)) return true;
    return (flags & 1) != 0;
}

void sample_touch(CoreState& state, retro_input_state_t read) {
    machine::PointerState& pointer = state.machine->input.pointer;
    const Orientation effective = state.effective_orientation();
    if (!state.touch_input_enabled) {
        release_pointer(pointer);  // switched off mid-press: the pen must not stay down
    } else if (state.virtual_pointer_options.enabled) {
        state.virtual_pointer.sample(read, state.virtual_pointer_options, effective, frame_shown(), pointer);
    } else {
        sample_pointer(read, effective, pointer);
    }
}

}  // namespace

void run_frame(CoreState& state) {
    bool options_updated = false;
    if (environment(RETRO_ENVIRONMENT_GET_VARIABLE_UPDATE, &options_updated) && options_updated) apply_options(state);
    announce_geometry(state);

    FrontendCallbacks& callbacks = frontend();
    if (callbacks.input_poll) callbacks.input_poll();
    machine::TarvelMachine& m = *state.machine;
    const bool virtual_pointer = state.touch_input_enabled && state.virtual_pointer_options.enabled;
    sample_keypad(callbacks.input_state, m.input,
                  virtual_pointer ? pad_claims(state.virtual_pointer_options) : PadClaims{});
    sample_touch(state, callbacks.input_state);

    if (state.debugger) run_debugged_ticks(state, *state.debugger);
    else run_due_ticks(state);

    // Presented on every frame, also once the application has stopped.
    std::span<const u8> screen = m.screen_bytes();
    const std::optional<Cursor> cursor =
        virtual_pointer ? state.virtual_pointer.cursor(state.virtual_pointer_options, m.effective_orientation)
                        : std::nullopt;
    state.presenter.present_video(callbacks.video_refresh, screen.data(), screen.size(), m.big_endian(),
                                  m.effective_orientation, cursor ? &*cursor : nullptr);
    machine::services::run_auto_bgm(m);
    EngineSamples samples(m.audio_engine);
    state.presenter.present_audio(callbacks.audio_sample_batch, &samples, m.volume);
    sync_game_saves(state.saves, m.file_system);
}

}  // namespace tarvel::libretro
