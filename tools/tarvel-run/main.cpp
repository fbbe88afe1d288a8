// tarvel-run: runs one CBE file in the Tarvel core without a window, with
// scripted input, and reports what happened.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include <fmt/format.h>

#include "command_line.hpp"
#include "core_library.hpp"
#include "headless_frontend.hpp"
#include "wav_writer.hpp"

using namespace tarvel_run;

namespace {

constexpr const char* kDebugOption = "tarvel_debug_logging";

int fail(const std::string& message) {
    fmt::print(stderr, "tarvel-run: {}\n", message);
    return 2;
}

struct FrameTiming {
    double total_ms = 0;
    double worst_ms = 0;
};

// Writes the screenshots asked for at `frame` (kLastFrame: the end of the run).
bool take_screenshots(const RunRequest& request, const HeadlessFrontend& frontend, long frame) {
    bool ok = true;
    for (const Screenshot& shot : request.script.screenshots) {
        if (shot.frame != frame) continue;
        std::string error = write_png(shot.path, frontend.last_frame());
        if (!error.empty()) {
            fmt::print(stderr, "tarvel-run: {}\n", error);
            ok = false;
        } else {
            fmt::print("tarvel-run: frame {} written to {}\n",
                       frame == kLastFrame ? frontend.video_frames() : frame, shot.path);
        }
    }
    std::fflush(stdout);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    auto parsed = parse_command_line(argc, argv);
    if (std::holds_alternative<ShowUsage>(parsed)) {
        std::fputs(usage_text(), stdout);
        return 0;
    }
    if (auto* message = std::get_if<std::string>(&parsed)) {
        fmt::print(stderr, "tarvel-run: {}\n{}", *message, usage_text());
        return 2;
    }
    const RunRequest& request = std::get<RunRequest>(parsed);
    if (request.script.last_input_frame() > request.frames)
        fmt::print(stderr, "tarvel-run: warning: input reaches frame {}, the run ends at frame {}\n",
                   request.script.last_input_frame(), request.frames);

    std::string error;
    auto library = CoreLibrary::open(request.core_path, error);
    if (!library) return fail(error);
    const CoreApi& core = library->api();
    if (core.api_version() != RETRO_API_VERSION)
        return fail(fmt::format("the core speaks libretro API {}, this runner {}", core.api_version(),
                                RETRO_API_VERSION));

    retro_system_info info{};
    core.get_system_info(&info);
    fmt::print("tarvel-run: core {} {}\n", info.library_name ? info.library_name : "?",
               info.library_version ? info.library_version : "?");
    std::fflush(stdout);

    // The core logs its totals at debug level; ask for them unless told not to.
    FrontendSettings settings;
    settings.options = request.options;
    settings.system_directory = request.system_directory;
    settings.save_directory = request.save_directory;
    settings.show_debug_lines = request.verbose;
    if (auto it = settings.options.find(kDebugOption); it == settings.options.end())
        settings.options[kDebugOption] = "enabled";
    else if (it->second == "enabled")
        settings.show_debug_lines = true;

    WavWriter wav;
    HeadlessFrontend frontend(settings, &request.script, request.wav_path ? &wav : nullptr);
    frontend.attach(core);
    if (auto unknown = frontend.unknown_option_keys(); !unknown.empty())
        return fail(fmt::format("the core has no option {} (it has {})", fmt::join(unknown, ", "),
                                fmt::join(frontend.announced_keys(), ", ")));
    core.init();

    retro_game_info game{};
    game.path = request.content_path.c_str();
    if (!core.load_game(&game)) {
        core.deinit();
        fmt::print("tarvel-run: the core did not load {}; no frames were run\n", request.content_path);
        return 1;
    }

    retro_system_av_info av{};
    core.get_system_av_info(&av);
    frontend.set_geometry(av.geometry.base_width, av.geometry.base_height);
    if (request.wav_path) {
        std::string wav_error = wav.open(*request.wav_path, static_cast<unsigned>(av.timing.sample_rate + 0.5));
        if (!wav_error.empty()) {
            core.unload_game();
            core.deinit();
            return fail(wav_error);
        }
    }

    bool outputs_ok = true;
    FrameTiming timing;
    for (long frame = 1; frame <= request.frames; ++frame) {
        frontend.begin_frame(frame);
        auto start = std::chrono::steady_clock::now();
        core.run();
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        timing.total_ms += ms;
        timing.worst_ms = std::max(timing.worst_ms, ms);
        outputs_ok = take_screenshots(request, frontend, frame) && outputs_ok;
    }
    outputs_ok = take_screenshots(request, frontend, kLastFrame) && outputs_ok;
    core.unload_game();
    core.deinit();
    if (request.wav_path) {
        std::string wav_error = wav.close();
        if (!wav_error.empty()) {
            fmt::print(stderr, "tarvel-run: {}\n", wav_error);
            outputs_ok = false;
        } else {
            fmt::print("tarvel-run: {} audio frames written to {}\n", wav.frames_written(), *request.wav_path);
        }
    }

    const Picture& last = frontend.last_frame();
    uint32_t centre = last.pixels.empty() ? 0 : last.pixels[size_t{last.height / 2} * last.width + last.width / 2];
    fmt::print("tarvel-run: ran {} at {}x{}: {} video frames (last {}x{}, centre pixel 0x{:08x}), "
               "{} audio frames at {} Hz\n",
               request.content_path, av.geometry.base_width, av.geometry.base_height, frontend.video_frames(),
               last.width, last.height, centre, frontend.audio_frames(), av.timing.sample_rate);
    const double mean_ms = request.frames > 0 ? timing.total_ms / static_cast<double>(request.frames) : 0.0;
    if (const auto& totals = frontend.totals())
        fmt::print("tarvel-run: {} frames, {} ticks, {} guest instructions, {:.3f} ms per frame on average, "
                   "{:.3f} ms at worst\n",
                   request.frames, totals->ticks, totals->instructions, mean_ms, timing.worst_ms);
    else
        fmt::print("tarvel-run: {} frames, ticks and guest instructions unknown (the core's debug logging is off), "
                   "{:.3f} ms per frame on average, {:.3f} ms at worst\n",
                   request.frames, mean_ms, timing.worst_ms);
    return outputs_ok ? 0 : 2;
}
