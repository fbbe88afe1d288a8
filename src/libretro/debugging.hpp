#pragma once
// The GDB stub's place in the core: started from the environment variable or
// the option (before the first guest instruction when a game loads), followed
// when the option changes, and told about the application between frames.

#include <memory>
#include <optional>

#include "common/bytes.hpp"
#include "debugger/gdb_server.hpp"
#include "libretro/core_state.hpp"

namespace tarvel::libretro {

// Listens on 127.0.0.1:port; a port that cannot be had is logged and gives null.
std::unique_ptr<debugger::GdbServer> start_gdb_server(u16 port);

// Starts, moves or stops the stub of a running game to match `port`.
void follow_gdb_port_setting(CoreState& state, std::optional<u16> port);

// How the application stands, as the stub reports it.
debugger::AppState application_state(const CoreState& state);

}  // namespace tarvel::libretro
