#include "libretro/load_game.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "cbe/archive.hpp"
#include "common/crc32.hpp"
#include "common/error.hpp"
#include "common/log.hpp"
#include "common/utf8.hpp"
#include "libretro/core_options.hpp"
#include "libretro/debugging.hpp"
#include "libretro/frontend.hpp"
#include "libretro/input_mapping.hpp"
#include "libretro/memory_map.hpp"
#include "libretro/orientation_profile.hpp"
#include "libretro/user_profile.hpp"

namespace tarvel::libretro {
namespace {

constexpr unsigned kPerformanceLevel = 3;

struct LoadedContent {
    cbe::CbeArchive archive;
    std::unique_ptr<machine::TarvelMachine> machine;
    GameSaves saves;
    std::unique_ptr<debugger::GdbServer> debugger;
    std::optional<u16> gdb_port;
};

Result<std::unique_ptr<machine::TarvelMachine>> build(const cbe::CbeArchive& archive) {
    TARVEL_TRY_ASSIGN(auto built, machine::build_machine(archive));
    built.orientation = lookup_orientation(archive.bytes);
    return std::make_unique<machine::TarvelMachine>(std::move(built));
}

// Reading, parsing and building: the failures reported as "Failed to load game".
Result<LoadedContent> read_and_build(const std::string& path) {
    TARVEL_TRY_ASSIGN(auto archive, cbe::load_archive(path));
    TARVEL_TRY_ASSIGN(auto machine, build(archive));
    return LoadedContent{std::move(archive), std::move(machine), {}, {}, {}};
}

// Tells the frontend which pad buttons mean something, how demanding the
// core is and what its save states leave out. No answer matters to the load.
void describe_input_and_performance() {
    environment(RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS, const_cast<retro_input_descriptor*>(input_descriptors().data()));
    unsigned level = kPerformanceLevel;
    environment(RETRO_ENVIRONMENT_SET_PERFORMANCE_LEVEL, &level);
    // A state holds everything a run depends on, key events still waiting
    // for their tick included, and always has the same size: no quirks, so
    // run-ahead and netplay may rely on restores.
    uint64_t quirks = 0;
    environment(RETRO_ENVIRONMENT_SET_SERIALIZATION_QUIRKS, &quirks);
}

void install_core_state(LoadedContent content) {
    auto state = std::make_unique<CoreState>();
    state->content_crc = crc32_of(content.archive.bytes);
    state->archive = std::move(content.archive);
    state->machine = std::move(content.machine);
    state->saves = std::move(content.saves);
    state->debugger = std::move(content.debugger);
    state->gdb_port = content.gdb_port;
    state->geometry = geometry_for(state->effective_orientation());
    // A previous game goes only now that the new one is complete.
    if (core_state()) flush_game_saves(core_state()->saves, core_state()->machine->file_system);
    core_state() = std::move(state);

    CoreState& installed = *core_state();
    apply_options(installed);
    installed.geometry = geometry_for(installed.effective_orientation());
    register_memory_descriptors(installed);
}

// The player sees why nothing runs: the line goes to the log and on screen.
bool fail(const std::string& text) {
    TARVEL_LOG(Error, kApiTarget, "{}", text);
    show_message(text, RETRO_LOG_ERROR);
    return false;
}

}  // namespace

bool load_game(const retro_game_info* info) {
    if (info == nullptr) return fail("Game info is null");
    if (info->path == nullptr) return fail("Game path is null");
    std::string path(info->path);
    if (auto bad = utf8::validate(path)) return fail(fmt::format("Invalid game path: {}", bad->describe()));

    unsigned pixel_format = RETRO_PIXEL_FORMAT_XRGB8888;
    if (!environment(RETRO_ENVIRONMENT_SET_PIXEL_FORMAT, &pixel_format)) return fail("Failed to set pixel format");
    describe_input_and_performance();
    load_user_profile_once();

    auto content = read_and_build(path);
    if (!content) return fail(fmt::format("Failed to load game: {}", content.error().to_string()));
    // The game's kept files are in place before its first code runs.
    content->saves = open_game_saves(path, content->machine->file_system);
    // With the GDB stub on, the first instruction waits for the debugger, so
    // that it can break anywhere, the start-up code included.
    content->gdb_port = gdb_port_setting(frontend_option_reader(frontend().environment));
    if (content->gdb_port) content->debugger = start_gdb_server(*content->gdb_port);
    debugger::GdbServer* gdb = content->debugger.get();
    machine::TarvelMachine& m = *content->machine;
    if (gdb) gdb->wait_for_debugger();
    Status booted;
    {
        machine::ScopedExecutionMonitor watch(gdb ? gdb->monitor() : nullptr);
        booted = machine::boot(m, kStepBudget);
    }
    if (!booted) {
        if (gdb && gdb->report_fault(m, booted.error())) gdb->after_frame(m, debugger::AppState::Faulted);
        return fail(fmt::format("Failed to boot CBE application: {}", booted.error().to_string()));
    }
    TARVEL_LOG(Info, kApiTarget, "Game loaded: {}", path);
    install_core_state(std::move(content).value());
    return true;
}

void reset_game(CoreState& state) {
    auto rebuilt = build(state.archive);
    if (!rebuilt) {
        fail(fmt::format("Failed to reset game: {}", rebuilt.error().to_string()));
        return;
    }
    machine::TarvelMachine& fresh = **rebuilt;
    fresh.volume = std::min<u32>(state.machine->volume, 100);
    // A reset restarts the game, not its saves: the files (not the open
    // handles) are there for the new start.
    flush_game_saves(state.saves, state.machine->file_system);
    const machine::VirtualFs& kept = state.machine->file_system;
    fresh.file_system.files = kept.files;
    fresh.file_system.directories = kept.directories;
    fresh.file_system.stored_bytes = kept.stored_bytes;
    // What the new start itself writes is a change to be kept.
    const u64 carried_changes = fresh.file_system.changes;
    Status booted;
    {
        machine::ScopedExecutionMonitor watch(state.debugger ? state.debugger->monitor() : nullptr);
        booted = machine::boot(fresh, state.step_budget);
    }
    if (!booted) {
        fail(fmt::format("Failed to reset game: {}", booted.error().to_string()));
        return;
    }
    // The frontend keeps the pointers of retro_get_memory_data and of the
    // memory map from load to unload: the fresh memory moves into the buffers
    // it points at. The same archive always builds the same regions.
    if (!fresh.memory.take_buffers_of(state.machine->memory)) {
        fail("Failed to reset game: the rebuilt machine's memory regions differ from the running one's");
        return;
    }
    state.machine = std::move(rebuilt).value();
    state.saves.synced_changes = carried_changes;
    state.stopped = false;
    state.virtual_pointer.reset();
    apply_options(state, log::Level::Debug);
    TARVEL_LOG(Debug, kApiTarget, "Game reset");
}

}  // namespace tarvel::libretro
