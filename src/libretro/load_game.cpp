#include "libretro/load_game.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "cbe/archive.hpp"
#include "common/error.hpp"
#include "common/file_io.hpp"
#include "common/log.hpp"
#include "common/utf8.hpp"
#include "libretro/core_state.hpp"
#include "libretro/frontend.hpp"
#include "libretro/options.hpp"
#include "libretro/user_profile.hpp"

namespace tarvel::libretro {
namespace {

constexpr std::string_view kArchiveTarget = "tarvel_core::cbe::archive";
constexpr unsigned kPerformanceLevel = 3;

// Everything a successful load hands over to the new core state.
struct LoadedContent {
    cbe::CbeArchive archive;
};

Result<LoadedContent> read_content(const std::string& path) {
    TARVEL_LOG(Info, kArchiveTarget, "Loading CBE archive: {}", path);
    auto file = read_whole_file(path);
    if (!file) return std::move(file).error().context("Failed to read CBE file: {}", path);
    TARVEL_TRY_ASSIGN(auto archive, cbe::parse_archive(std::move(file).value()));
    return LoadedContent{std::move(archive)};
}

// Builds the machine from the parsed content. The machine is not part of this
// build yet, so a load ends here, saying so once.
Status build_machine(const LoadedContent&) {
    TARVEL_LOG(Info, kApiTarget, "CBE archive parsed; the machine that runs it is not built yet");
    return Error("no machine can run CBE applications in this build yet");
}

// Tells the frontend which pad buttons mean something and how demanding the
// core is. Neither answer matters to the load.
void describe_input_and_performance() {
    environment(RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS, const_cast<retro_input_descriptor*>(input_descriptors().data()));
    unsigned level = kPerformanceLevel;
    environment(RETRO_ENVIRONMENT_SET_PERFORMANCE_LEVEL, &level);
}

void install_core_state(const std::string& path, LoadedContent content) {
    TARVEL_LOG(Info, kApiTarget, "Game loaded: {}", path);
    auto state = std::make_unique<CoreState>();
    state->content_crc = content_crc32(content.archive.bytes);
    state->archive = std::move(content.archive);
    state->geometry = geometry_for(state->effective_orientation());
    // Replaces a previous game only now that the new one is complete.
    core_state() = std::move(state);
}

}  // namespace

bool load_game(const retro_game_info* info) {
    if (info == nullptr) {
        TARVEL_LOG(Error, kApiTarget, "Game info is null");
        return false;
    }
    if (info->path == nullptr) {
        TARVEL_LOG(Error, kApiTarget, "Game path is null");
        return false;
    }
    std::string path(info->path);
    if (auto bad = utf8::validate(path)) {
        TARVEL_LOG(Error, kApiTarget, "Invalid game path: {}", bad->describe());
        return false;
    }

    unsigned pixel_format = RETRO_PIXEL_FORMAT_XRGB8888;
    if (!environment(RETRO_ENVIRONMENT_SET_PIXEL_FORMAT, &pixel_format)) {
        TARVEL_LOG(Error, kApiTarget, "Failed to set pixel format");
        return false;
    }
    describe_input_and_performance();
    load_user_profile_once();

    auto content = read_content(path);
    Status built = content ? build_machine(*content) : Status(content.error());
    if (!built) {
        TARVEL_LOG(Error, kApiTarget, "Failed to load game: {}", built.error().to_string());
        return false;
    }
    install_core_state(path, std::move(content).value());
    return true;
}

}  // namespace tarvel::libretro
