#include "libretro/debugging.hpp"

#include "common/log.hpp"
#include "libretro/frontend.hpp"

namespace tarvel::libretro {

std::unique_ptr<debugger::GdbServer> start_gdb_server(u16 port) {
    auto server = debugger::GdbServer::listen(port);
    if (!server) {
        TARVEL_LOG(Error, kApiTarget, "GDB stub not started: {}", server.error().to_string());
        return nullptr;
    }
    return std::move(server).value();
}

void follow_gdb_port_setting(CoreState& state, std::optional<u16> port) {
    if (port == state.gdb_port) return;
    state.gdb_port = port;
    state.debugger.reset();
    if (port) state.debugger = start_gdb_server(*port);
}

debugger::AppState application_state(const CoreState& state) {
    if (state.stopped) return debugger::AppState::Faulted;
    if (state.machine->run_state == machine::RunState::Stopped) return debugger::AppState::Ended;
    return debugger::AppState::Running;
}

}  // namespace tarvel::libretro
