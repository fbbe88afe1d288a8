#pragma once
// The GDB stub: a TCP listener on 127.0.0.1 (never another address) that
// serves one debugger at a time, all on the frontend's thread. There is no
// thread of its own: the core asks it to look at the socket between frames
// (poll, non-blocking), and while a debugger is attached it is the machine's
// ExecutionMonitor, checked before every guest instruction. While the
// debugger holds the machine (a breakpoint, a step, an interrupt) the call
// that reached it blocks, serving packets until the debugger resumes,
// detaches or disconnects.
//
// The server never keeps a machine: every call is handed the one that runs
// now, so a reset or a state restore while attached leaves the session usable.

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "debugger/gdb_session.hpp"
#include "debugger/rsp_packet.hpp"
#include "machine/execution_monitor.hpp"
#include "machine/machine.hpp"

namespace tarvel::debugger {

// How the application stands when the core looks at the debugger.
enum class AppState : u8 { Running, Ended, Faulted };

class GdbServer final : public machine::ExecutionMonitor {
public:
    // Listens on 127.0.0.1:port (port 0 picks a free one).
    static Result<std::unique_ptr<GdbServer>> listen(u16 port);
    ~GdbServer() override;
    GdbServer(const GdbServer&) = delete;
    GdbServer& operator=(const GdbServer&) = delete;

    u16 port() const { return port_; }
    bool attached() const { return client_ >= 0; }

    // Makes the next guest instruction wait (blocking) for a debugger and halt
    // there, so that it can set breakpoints before the application starts.
    void wait_for_debugger();

    // What the core sets as the execution monitor while guest code runs: null
    // when no debugger is attached or awaited, so guest code runs at full speed.
    machine::ExecutionMonitor* monitor() { return (attached() && !closing_) || waiting_ ? this : nullptr; }

    // Between frames, before the application's ticks: takes a new debugger
    // (halting right here for its first questions) and reads what the attached
    // one sent. An interrupt halts before the next guest instruction, or right
    // here when the application no longer runs. False when the debugger asked
    // to kill the application.
    bool poll(machine::TarvelMachine& machine, AppState app);

    // After the ticks: a debugger waiting for the running application to stop
    // learns that it has ended (exit code 0) or been ended by a fault, and the
    // session closes.
    void after_frame(machine::TarvelMachine& machine, AppState app);

    // The application faulted (`reason` says how): an attached debugger gets a
    // SIGSEGV stop to look at the machine as the fault left it. False when the
    // debugger asked to kill the application.
    bool report_fault(machine::TarvelMachine& machine, const Error& reason);

    bool before_instruction(machine::TarvelMachine& machine) override;

private:
    GdbServer(int listener, u16 port) : listener_(listener), port_(port) {}

    // Halts and serves packets until the debugger resumes or goes.
    Resume halt(machine::TarvelMachine& machine, u8 signal);
    bool accept_client(bool blocking);
    void close_client();
    // Reads what arrived without waiting (or waiting when `blocking`) into
    // pending_; false when the debugger went away.
    bool receive(bool blocking);
    // Takes interrupts out of pending_; true when there was one.
    bool take_interrupt();
    void send_raw(const std::string& bytes);
    void send_packet(std::string_view payload);

    int listener_ = -1;
    int client_ = -1;
    u16 port_ = 0;
    bool waiting_ = false;
    bool closing_ = false;  // the end was reported; waiting for the debugger to hang up

    PacketDecoder decoder_;
    GdbSession session_;
    std::deque<PacketEvent> pending_;
    std::vector<PacketEvent> decoded_;
    std::string last_packet_;  // sent again on '-'

    // While the debugger has resumed the machine:
    bool running_ = false;             // a stop reply is owed
    bool halt_requested_ = false;  // an interrupt: halt before the next instruction
    bool step_pending_ = false;    // a step: the halted instruction ran; halt before the next
    u32 poll_countdown_ = 0;
};

}  // namespace tarvel::debugger
