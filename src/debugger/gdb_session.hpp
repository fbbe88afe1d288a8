#pragma once
// The commands of the GDB remote serial protocol, answered against a machine:
// registers r0-r15 and the CPSR (with a target description that names them as
// the ARM core feature, so the debugger knows ARM and Thumb), guest memory,
// breakpoints and the resume requests. Nothing here touches a socket: the
// server hands in each packet's payload and sends what comes back.
//
// Breakpoints are addresses the server compares with the pc before each
// instruction; guest memory is never written to plant them, so code checksums
// and save states stay as the application made them.
//
// Error replies: E01 a malformed request, E02 memory that is not there (or
// not writable), E03 a length over the packet size, E04 too many breakpoints,
// E05 a register value the processor refuses (a CPSR without a valid mode).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.hpp"
#include "machine/machine.hpp"

namespace tarvel::debugger {

// Register numbers as the target description gives them: r0-r15, then the CPSR.
inline constexpr unsigned kRegisterCount = 17;
inline constexpr unsigned kCpsrRegister = 16;
// Bytes one m or X request may move: what fits in a packet as hex.
inline constexpr u32 kMaxMemoryTransfer = 0x2000;
inline constexpr size_t kMaxBreakpoints = 1024;

// Signals of stop replies.
inline constexpr u8 kSignalTrap = 5;
inline constexpr u8 kSignalSegv = 11;

enum class Resume : u8 { None, Continue, Step, Detach, Kill };

struct CommandOutcome {
    std::optional<std::string> reply;  // the payload to send; none for 'k'
    Resume resume = Resume::None;
};

// The target description sent for qXfer:features:read:target.xml.
std::string_view target_description();

class GdbSession {
public:
    // Answers one packet. Unknown packets get the empty reply, which the
    // protocol reads as "not supported".
    CommandOutcome handle(machine::TarvelMachine& machine, std::string_view packet);

    // The stop reply for the last stop: "T<signal>" with sp, lr and pc, so the
    // debugger needs no register request to show where the machine is.
    std::string stop_reply(const machine::TarvelMachine& machine) const;
    void set_stop_signal(u8 signal) { stop_signal_ = signal; }

    bool has_breakpoints() const { return !breakpoints_.empty(); }
    bool is_breakpoint(u32 pc) const;
    // After QStartNoAckMode: neither side sends '+' or '-' any more.
    bool no_ack() const { return no_ack_; }

private:
    std::string read_registers(const machine::TarvelMachine& m) const;
    std::string write_registers(machine::TarvelMachine& m, std::string_view hex);
    std::string read_register(const machine::TarvelMachine& m, std::string_view args) const;
    std::string write_register(machine::TarvelMachine& m, std::string_view args);
    std::string read_memory(machine::TarvelMachine& m, std::string_view args) const;
    std::string write_memory(machine::TarvelMachine& m, std::string_view args, bool binary);
    std::string change_breakpoint(std::string_view args, bool insert);
    std::string query(std::string_view packet);
    CommandOutcome resume_request(std::string_view vcont_actions);

    std::vector<u32> breakpoints_;  // sorted
    bool no_ack_ = false;
    u8 stop_signal_ = kSignalTrap;
};

}  // namespace tarvel::debugger
