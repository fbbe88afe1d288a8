// tarvel-run: runs one CBE file in the Tarvel core without a window and
// reports what happened.
#include <cstdint>
#include <cstdio>
#include <string>

#include <fmt/format.h>

#include "command_line.hpp"
#include "core_library.hpp"
#include "headless_frontend.hpp"

using namespace tarvel_run;

namespace {

int fail(const std::string& message) {
    fmt::print(stderr, "tarvel-run: {}\n", message);
    return 2;
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

    HeadlessFrontend frontend(request.options, request.system_directory);
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
    for (long i = 0; i < request.frames; ++i) core.run();
    core.unload_game();
    core.deinit();

    const PresentedFrame& last = frontend.last_frame();
    uint32_t centre = last.pixels.empty() ? 0 : last.pixels[size_t{last.height / 2} * last.width + last.width / 2];
    fmt::print("tarvel-run: ran {} frames of {} at {}x{}: {} video frames (last {}x{}, centre pixel 0x{:08x}), "
               "{} audio frames at {} Hz\n",
               request.frames, request.content_path, av.geometry.base_width, av.geometry.base_height,
               frontend.video_frames(), last.width, last.height, centre, frontend.audio_frames(),
               av.timing.sample_rate);
    return 0;
}
