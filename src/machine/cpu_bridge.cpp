#include "machine/cpu_bridge.hpp"

#include <cstdio>
#include <optional>
#include <string>

#include "common/log.hpp"
#include "common/utf8.hpp"
#include "machine/execution_monitor.hpp"
#include "machine/trace_filter.hpp"
#include "memory/guest_strings.hpp"

namespace tarvel::machine {

namespace {

thread_local ExecutionMonitor* current_monitor = nullptr;

constexpr const char* kBridgeTarget = "tarvel_core::machine::cpu_bridge";

constexpr u16 kThumbIdleLoop = 0xE7FE;
constexpr u32 kArmIdleLoop = 0xEAFFFFFE;
constexpr u16 kThumbSemihosting = 0xDFAB;
constexpr u32 kSemihostingExit = 0x18;
constexpr u32 kSemihostingWriteString = 4;
constexpr u32 kSemihostingWriteChar = 3;

bool in_trap_area(u32 pc) { return pc - kTrapAreaBase < kTrapAreaSize; }

Error budget_error(TarvelMachine& m, u64 budget) {
    m.run_state = RunState::Faulted;
    return Error::format("CBE execution exceeded {} instructions at 0x{:08x}", budget, m.last_pc);
}

// The stretch of memory around `pc` where Cpu::run may execute without the
// bridge looking: backed by one region for whole words, and clear of the trap
// area and the return sentinel. Empty when pc is not in such memory.
armv4t::RunLimits plain_window(const TarvelMachine& m, u32 pc) {
    armv4t::RunLimits limits;
    const auto region_index = m.memory.find_region(pc, 4);
    if (!region_index) return limits;
    const GuestRegion& region = m.memory.regions()[*region_index];
    u64 begin = (u64{region.base} + 3) & ~u64{3};
    u64 end = (u64{region.base} + region.size()) & ~u64{3};
    auto exclude = [&](u64 lo, u64 hi) {  // remove [lo, hi) keeping the side that holds pc
        if (hi <= begin || lo >= end) return;
        if (pc < lo) end = lo;
        else if (pc >= hi) begin = hi;
        else end = begin;  // pc is inside the excluded range
    };
    exclude(kTrapAreaBase, u64{kTrapAreaBase} + kTrapAreaSize);
    exclude(kReturnSentinel, u64{kReturnSentinel} + 4);
    if (begin >= end || pc < begin || pc >= end) return limits;
    limits.window_begin = static_cast<u32>(begin);
    // A window reaching the top of the address space is cut one word short so
    // that its end fits in 32 bits; the last word then goes through the pass.
    limits.window_end = static_cast<u32>(end > 0xFFFFFFFCu ? 0xFFFFFFFCu : end);
    return limits;
}

void semihosting_write_string(TarvelMachine& m, u32 address) {
    const std::string raw = read_byte_string(m.memory, address, kTextLimit);
    const std::string text = utf8::replace_invalid(raw);
    if (trace_variable_set()) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
}

void semihosting_write_char(TarvelMachine& m, u32 address) {
    if (!trace_variable_set()) return;
    u8 byte = 0;
    if (!m.memory.try_read8(address, byte)) byte = 0;
    std::fputc(byte, stderr);
    std::fflush(stderr);
}

struct RecentPcRecorder {
    u32* ring;
    u64 pushed;
    void operator()(u32 executed) { ring[pushed++ & (RecentPcs::capacity() - 1)] = executed; }
};

enum class PassEnd { Next, Done, Failed };

// One pass of the step loop for the instruction at the current pc. `steps` is
// the step counter of this run. A failure leaves its error in `failure`; the
// loop keeps no Status of its own, since even a successful one allocates.
// Inlined into both loops, so that the unwatched one stays as fast as it was
// before the watched one existed.
[[gnu::always_inline]] inline PassEnd run_pass(TarvelMachine& m, u64& steps, u64 budget, std::optional<Error>& failure) {
    armv4t::RegisterFile& regs = m.cpu.regs;
    GuestMemory& memory = m.memory;
    ++steps;
    const bool thumb = regs.thumb();
    const u32 pc = regs.r[15] & (thumb ? ~1u : ~3u);
    regs.r[15] = pc;
    m.last_pc = pc;
    m.recent_pcs.push(pc);

    if ((pc & ~1u) == kReturnSentinel) return PassEnd::Done;

    const u32 inst = thumb ? memory.read16(pc) : memory.read32(pc);
    if (thumb ? inst == kThumbIdleLoop : inst == kArmIdleLoop) {
        m.run_state = RunState::Stopped;
        return PassEnd::Done;
    }

    bool performed = false;
    if (in_trap_area(pc)) {
        handle_trap(m, pc);
        branch_exchange(m, regs.r[14]);
        performed = true;
    }

    if (!performed) {
        const bool semihosting = thumb ? inst == kThumbSemihosting
                                       : (inst >> 24) == 0xEF && ((inst & 0xFFFFFF) == 0xAB || (inst & 0xFFFFFF) == 0x123456);
        if (semihosting) {
            const u32 reason = regs.r[0];
            const u32 parameter = regs.r[1];
            if (reason == kSemihostingExit) {
                TARVEL_LOG(Info, kBridgeTarget, "guest requested exit through semihosting report 0x{:08x}", parameter);
                regs.set(15, pc + 4);
                m.run_state = RunState::Stopped;
                return PassEnd::Done;
            }
            if (reason == kSemihostingWriteString) {
                semihosting_write_string(m, parameter);
            } else if (reason == kSemihostingWriteChar) {
                semihosting_write_char(m, parameter);
            } else {
                failure = Error::format("unhandled semihosting call reason={} at 0x{:08x}", reason, pc);
                return PassEnd::Failed;
            }
            regs.set(15, pc + (thumb ? 2 : 4));
            performed = true;
        }
    }

    if (!performed) {
        if (!memory.find_region(pc, thumb ? 2 : 4)) {
            m.run_state = RunState::Faulted;
            failure = Error::format("instruction fetch from unmapped address 0x{:08x}", pc);
            return PassEnd::Failed;
        }
        if (!m.cpu.step(memory)) {
            m.run_state = RunState::Faulted;
            failure = Error::format("unsupported ARM instruction at 0x{:08x}", pc);
            return PassEnd::Failed;
        }
    }

    ++m.instruction_count;
    if (steps >= budget) {
        failure = budget_error(m, budget);
        return PassEnd::Failed;
    }
    return PassEnd::Next;
}

// With a monitor every instruction goes through the pass, and the monitor is
// asked before each one. The pass alone gives the same machine as the stretches.
[[gnu::noinline]] Status run_monitored(TarvelMachine& m, u64 budget, ExecutionMonitor& monitor) {
    u64 steps = 0;
    for (;;) {
        const bool thumb = m.cpu.regs.thumb();
        const u32 pc = m.cpu.regs.r[15] & (thumb ? ~1u : ~3u);
        if (!in_trap_area(pc)) {
            m.cpu.regs.set(15, pc);
            if (!monitor.before_instruction(m)) {
                m.run_state = RunState::Stopped;
                return Error::format("CBE application ended by the debugger at 0x{:08x}", m.cpu.regs.r[15]);
            }
        }
        std::optional<Error> failure;
        switch (run_pass(m, steps, budget, failure)) {
            case PassEnd::Next: break;
            case PassEnd::Done: return {};
            case PassEnd::Failed: return std::move(*failure);
        }
    }
}

}  // namespace

ExecutionMonitor* execution_monitor() { return current_monitor; }

ScopedExecutionMonitor::ScopedExecutionMonitor(ExecutionMonitor* monitor) : previous_(current_monitor) {
    current_monitor = monitor;
}

ScopedExecutionMonitor::~ScopedExecutionMonitor() { current_monitor = previous_; }

void branch_exchange(TarvelMachine& machine, u32 target) {
    machine.cpu.regs.set_thumb(target & 1);
    machine.cpu.regs.r[15] = target & ~1u;
}

Status run_guest(TarvelMachine& m, u64 budget) {
    if (budget == 0) return budget_error(m, budget);
    // The frontend may have written guest memory through the memory map
    // since the last call; the interpreter then compares its decoded code again.
    m.memory.note_outside_writes();
    const TraceSnapshot trace_switch;
    // While a debugger watches, every instruction takes the pass and the
    // monitor is asked before each.
    if (current_monitor) return run_monitored(m, budget, *current_monitor);
    u64 steps = 0;
    for (;;) {
        // Long stretch of plain code, if the pc is in plain memory.
        const bool thumb = m.cpu.regs.thumb();
        const u32 pc = m.cpu.regs.r[15] & (thumb ? ~1u : ~3u);
        armv4t::RunLimits limits = plain_window(m, pc);
        if (limits.window_begin != limits.window_end) {
            limits.max_steps = budget - steps;
            // The recorder holds the ring's count by value, so that the loop
            // keeps it in a register (see Cpu::run).
            RecentPcRecorder record{m.recent_pcs.items.data(), m.recent_pcs.pushed};
            const armv4t::RunResult run = m.cpu.run(m.memory, limits, record);
            m.recent_pcs.pushed = record.pushed;
            steps += run.steps;
            m.instruction_count += run.steps;
            if (run.steps) m.last_pc = m.recent_pcs.newest();
            if (run.stop == armv4t::RunStop::Undefined) {
                --m.instruction_count;  // the failing step does not complete
                m.run_state = RunState::Faulted;
                return Error::format("unsupported ARM instruction at 0x{:08x}", run.last_pc);
            }
            if (run.stop == armv4t::RunStop::StepLimit) return budget_error(m, budget);
        }
        // Whatever stopped the stretch (or kept it from starting) gets one full pass.
        std::optional<Error> failure;
        switch (run_pass(m, steps, budget, failure)) {
            case PassEnd::Next: break;
            case PassEnd::Done: return {};
            case PassEnd::Failed: return std::move(*failure);
        }
    }
}

Status call_guest(TarvelMachine& m, u32 function, u32 a0, u32 a1, u32 a2, u64 budget) {
    if (function == 0) return {};
    armv4t::RegisterFile& regs = m.cpu.regs;
    regs.r[0] = a0;
    regs.r[1] = a1;
    regs.r[2] = a2;
    regs.set(14, kReturnAddress);
    branch_exchange(m, function);
    return run_guest(m, budget);
}

}  // namespace tarvel::machine
