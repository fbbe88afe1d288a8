#pragma once
// The ARMv4T interpreter: a register file and two ways to execute guest code.
//
// step() executes exactly one instruction. run() executes many in a tight loop
// and stops *before* anything a caller that supervises guest code must see
// itself, so that a supervisor checking every instruction and one that hands
// long stretches to run() see the same machine:
//   - the step limit is reached;
//   - the (aligned) pc leaves the window [window_begin, window_end);
//   - the next instruction is a software interrupt or a branch-to-self idle
//     loop (ARM 0xEAFFFFFE, Thumb 0xE7FE);
//   - an undefined instruction was executed (the exception has been entered).
// Every instruction, including the BLX forms of later cores that applications
// for this platform use, is executed here and nowhere else.
// Like such a supervisor, run() clears the low bits of the pc (bit 0 in Thumb
// state, bits 0-1 in ARM state) before each instruction.

#include <array>
#include <type_traits>

#include "armv4t/block_cache.hpp"
#include "armv4t/exec.hpp"
#include "armv4t/reg.hpp"
#include "common/log.hpp"
#include "memory/guest_memory.hpp"

namespace tarvel::armv4t {

enum class RunStop : u8 {
    StepLimit,         // max_steps instructions were executed
    OutsideWindow,     // the pc is outside the window; nothing was executed there
    BridgeInstruction, // the instruction at the pc is one run() leaves to the caller
    Undefined,         // the instruction at last_pc was undefined; the exception was entered
};

struct RunLimits {
    u64 max_steps = 0;
    u32 window_begin = 0;
    u32 window_end = 0;  // exclusive; begin == end means an empty window
};

struct RunResult {
    u64 steps = 0;     // instructions executed (a failed condition counts as one)
    RunStop stop = RunStop::StepLimit;
    u32 last_pc = 0;   // address of the last instruction executed or examined
};

namespace detail {
// One table per guest byte order (index 1: big-endian).
extern const std::array<OpHandler, 4096> kArmStepHandlers[2];
extern const std::array<OpHandler, 4096> kArmRunHandlers[2];
extern const std::array<OpHandler, 1024> kThumbStepHandlers[2];
extern const std::array<OpHandler, 1024> kThumbRunHandlers[2];
void trace_arm(u32 pc, u32 inst, u32 cpsr);
void trace_arm_condition_failed();
void trace_thumb(u32 pc, u16 inst);
}  // namespace detail

class Cpu {
public:
    RegisterFile regs;

    // Executes one instruction. Returns false when it was undefined (after the
    // Undefined exception has been entered), true otherwise, including when an
    // ARM condition failed.
    bool step(machine::GuestMemory& memory);

    // Executes until one of the stops listed above. `on_step(pc)` is called for
    // each executed instruction with its address, in order, after it (and
    // possibly after the instructions that follow it in its decoded block).
    template <typename OnStep>
    RunResult run(machine::GuestMemory& memory, const RunLimits& limits, OnStep&& on_step);
    RunResult run(machine::GuestMemory& memory, const RunLimits& limits) {
        return run(memory, limits, [](u32) {});
    }

private:
    template <bool Trace, bool BigEndian, typename OnStep>
    RunResult run_loop(machine::GuestMemory& memory, const RunLimits& limits, OnStep& on_step);
    template <bool Thumb, bool Trace, bool BigEndian, typename Hook>
    bool run_in_state(Exec& e, const RunLimits& limits, Hook& on_step, u64& steps, u32& pc, RunResult& out);

    // Decoded code for run() (not part of the machine's state: it is checked
    // against guest memory whenever it is used).
    BlockCache blocks_;
};

template <typename OnStep>
RunResult Cpu::run(machine::GuestMemory& memory, const RunLimits& limits, OnStep&& on_step) {
    if (log::enabled(log::Level::Trace)) {
        blocks_.close_epoch();
        return memory.big_endian() ? run_loop<true, true>(memory, limits, on_step)
                                   : run_loop<true, false>(memory, limits, on_step);
    }
    const RunResult result = memory.big_endian() ? run_loop<false, true>(memory, limits, on_step)
                                                 : run_loop<false, false>(memory, limits, on_step);
    blocks_.end_run(memory);
    return result;
}

// Instruction fetch through the page table: aligned values never cross a page.
template <bool BigEndian>
TARVEL_HOT u32 fetch32(machine::GuestMemory& memory, const u8* const* pages, u32 pc) {
    if (const u8* page = pages[pc >> machine::GuestMemory::kPageBits]) [[likely]] {
        const u8* p = page + (pc & machine::GuestMemory::kPageMask);
        return BigEndian ? load_be32(p) : load_le32(p);
    }
    return memory.read32(pc);
}
template <bool BigEndian>
TARVEL_HOT u16 fetch16(machine::GuestMemory& memory, const u8* const* pages, u32 pc) {
    if (const u8* page = pages[pc >> machine::GuestMemory::kPageBits]) [[likely]] {
        const u8* p = page + (pc & machine::GuestMemory::kPageMask);
        return BigEndian ? load_be16(p) : load_le16(p);
    }
    return memory.read16(pc);
}

// The run loop calls its step hook on a local copy when the hook can be
// assigned back (one that holds its state by value): the copy's state then
// stays in registers across the handler calls instead of going through memory
// after every instruction. The copy goes back to the caller at every exit.
template <typename Hook, bool Copy = std::is_copy_assignable_v<Hook>>
struct LocalHook {
    explicit LocalHook(Hook& outer) : outer(outer), hook(outer) {}
    ~LocalHook() { outer = hook; }
    LocalHook(const LocalHook&) = delete;
    LocalHook& operator=(const LocalHook&) = delete;
    Hook& outer;
    Hook hook;
};
template <typename Hook>
struct LocalHook<Hook, false> {
    explicit LocalHook(Hook& outer) : hook(outer) {}
    Hook& hook;
};

// Runs code in one state (Thumb or ARM) until it stops or the state may have
// changed. Without tracing, code runs from decoded blocks; an instruction
// where no block can be had (and every instruction when tracing) is fetched
// and decoded where it stands and run as a block of one. Both ways execute
// the same handlers in the same order and stop at the same places. Returns
// true when the run is over (`out` says how), false when the state must be
// examined again.
template <bool Thumb, bool Trace, bool BigEndian, typename Hook>
TARVEL_HOT bool Cpu::run_in_state(Exec& e, const RunLimits& limits, Hook& on_step, u64& steps, u32& pc,
                                  RunResult& out) {
    constexpr u32 kSize = Thumb ? 2 : 4;
    u32* const r = regs.r;
    machine::GuestMemory& memory = e.mem;
    const u8* const* const pages = e.read_pages;
    const u32 window_begin = limits.window_begin;
    const u32 window_size = limits.window_end - limits.window_begin;
    const u64 max_steps = limits.max_steps;
    pc &= ~(kSize - 1);
    for (;;) {
        if (pc - window_begin >= window_size) {
            r[15] = pc;
            out = {steps, RunStop::OutsideWindow, pc};
            return true;
        }
        const CodeBlock* block = nullptr;
        if constexpr (!Trace) block = blocks_.find<Thumb, BigEndian>(e, pages, pc, window_size - (pc - window_begin));
        DecodedOp single;
        const DecodedOp* first;
        if (block && max_steps - steps >= block->count) [[likely]] {
            first = block->ops;
        } else {
            if constexpr (Thumb) {
                const u16 inst = fetch16<BigEndian>(memory, pages, pc);
                if constexpr (Trace) detail::trace_thumb(pc, inst);
                single = {detail::kThumbRunHandlers[BigEndian][inst >> 6], inst, 1};
            } else {
                const u32 inst = fetch32<BigEndian>(memory, pages, pc);
                if constexpr (Trace) detail::trace_arm(pc, inst, regs.cpsr());
                single = {detail::kArmRunHandlers[BigEndian][((inst >> 16) & 0xFF0) | ((inst >> 4) & 0xF)], inst, 1};
            }
            r[15] = pc + 2 * kSize;  // what a read of r15 sees
            first = &single;
        }
        const u32 next = first->handler(e, first, pc);
        // The instructions before the one that stopped ran one after another.
        const u32 before = static_cast<u32>(e.stopped_at - first);
        for (u32 i = 0; i < before; ++i) on_step(pc + i * kSize);
        steps += before;
        const u32 stop_pc = pc + before * kSize;
        if (e.event) [[unlikely]] {
            if (e.event & kEventSpecial) {  // stopped before it
                e.event = kEventNone;
                r[15] = stop_pc;
                out = {steps, RunStop::BridgeInstruction, stop_pc};
                return true;
            }
            ++steps;
            on_step(stop_pc);
            r[15] = next;
            if (e.event & kEventUndefined) {
                out = {steps, RunStop::Undefined, stop_pc};
                return true;
            }
            if (e.event & kEventCodeWritten) blocks_.begin_epoch(e);
            e.event = kEventNone;
            pc = next;
            if (steps == max_steps) {
                out = {steps, RunStop::StepLimit, stop_pc};
                return true;
            }
            return false;
        }
        ++steps;
        on_step(stop_pc);
        pc = next & ~(kSize - 1);
        if (steps == max_steps) {
            r[15] = pc;
            out = {steps, RunStop::StepLimit, stop_pc};
            return true;
        }
    }
}

// The pc lives in a local between instructions; r[15] holds it (aligned) at
// every exit and the architectural value while an instruction executes.
template <bool Trace, bool BigEndian, typename OnStep>
RunResult Cpu::run_loop(machine::GuestMemory& memory, const RunLimits& limits, OnStep& caller_hook) {
    LocalHook<OnStep> local_hook(caller_hook);
    Exec e{regs, memory};
    u64 steps = 0;
    u32 pc = regs.r[15];
    if (limits.max_steps == 0) return {0, RunStop::StepLimit, pc};
    if constexpr (!Trace) blocks_.begin_run(e);
    RunResult out;
    for (;;) {
        const bool over = regs.thumb()
                              ? run_in_state<true, Trace, BigEndian>(e, limits, local_hook.hook, steps, pc, out)
                              : run_in_state<false, Trace, BigEndian>(e, limits, local_hook.hook, steps, pc, out);
        if (over) return out;
    }
}

}  // namespace tarvel::armv4t
