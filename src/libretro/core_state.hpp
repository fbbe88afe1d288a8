#pragma once
// The one core state that exists while a game is loaded, and the small rules
// about it that several entry points share.

#include <memory>
#include <span>
#include <vector>

#include "cbe/archive.hpp"
#include "common/bytes.hpp"
#include "common/orientation.hpp"
#include "debugger/gdb_server.hpp"
#include "libretro/game_saves.hpp"
#include "libretro/presentation.hpp"
#include "libretro/virtual_pointer.hpp"
#include "machine/machine.hpp"
#include "state/save_state.hpp"

namespace tarvel::libretro {

// Guest steps allowed for every call into the application.
inline constexpr u64 kStepBudget = 100'000'000;

// Every retro_run adds this to the tick phase; a tick is due per kTickPeriod,
// so the application gets ten ticks per second at 60 frames per second.
inline constexpr u32 kTickPhasePerFrame = 10;
inline constexpr u32 kTickPeriod = 60;

// The fixed size of a save state while a game is loaded.
inline constexpr size_t kSerializeSize = 0x3000000;

struct Geometry {
    u32 width = machine::kScreenWidth;
    u32 height = machine::kScreenHeight;
    bool operator==(const Geometry&) const = default;
};

// Either orientation fits in a square of the screen's longer side.
inline constexpr u32 kMaxWidth = machine::kScreenHeight;
inline constexpr u32 kMaxHeight = machine::kScreenHeight;

// Landscape turns the guest screen a quarter turn.
constexpr Geometry geometry_for(Orientation effective) {
    using machine::kScreenHeight, machine::kScreenWidth;
    return effective == Orientation::Landscape ? Geometry{kScreenHeight, kScreenWidth}
                                               : Geometry{kScreenWidth, kScreenHeight};
}

struct TickSchedule {
    u32 due_ticks = 0;
    u32 next_phase = 0;
};

// Advances the tick phase by one frame's share and says how many ticks are due.
constexpr TickSchedule advance_tick_phase(u32 phase) {
    u32 sum = phase + kTickPhasePerFrame;
    if (sum < kTickPeriod) return {0, sum};
    return {(sum - kTickPeriod) / kTickPeriod + 1, sum % kTickPeriod};
}

struct CoreState {
    // The running application. Never null while the state exists.
    std::unique_ptr<machine::TarvelMachine> machine;
    // The parsed content with the whole file, kept for resets and for the
    // orientation lookup.
    cbe::CbeArchive archive;
    u64 step_budget = kStepBudget;
    u32 content_crc = 0;
    Geometry geometry;  // last announced to the frontend
    u32 tick_phase = 0;
    bool stopped = false;  // a tick failed; frames are still presented
    bool touch_input_enabled = true;
    // The right stick's arrow: its options, and its position and whether it
    // drives the touch screen. Kept out of save states (virtual_pointer.hpp).
    VirtualPointerOptions virtual_pointer_options;
    VirtualPointer virtual_pointer;
    // What the input descriptors last sent describe: the plain keypad, or the
    // keypad with the virtual pointer's stick and button.
    PadClaims described_claims;
    // Where the game's files are kept between sessions.
    GameSaves saves;

    // Frame and audio buffers handed to the frontend each frame.
    Presenter presenter;
    // What the frontend was given with SET_MEMORY_MAPS; kept alive in case it
    // reads the table later rather than copying it.
    std::vector<retro_memory_descriptor> memory_descriptors;
    // Kept between save-state calls (rewind and run-ahead make one a frame).
    SaveStateBuffers save_buffers;
    // The GDB stub while one is wanted, and the port it was last asked for
    // (so that a port that cannot be had is not tried again on every restore).
    std::unique_ptr<debugger::GdbServer> debugger;
    std::optional<u16> gdb_port;

    Orientation effective_orientation() const { return machine->effective_orientation; }
};

// Absent (null) while no game is loaded.
std::unique_ptr<CoreState>& core_state();

}  // namespace tarvel::libretro
