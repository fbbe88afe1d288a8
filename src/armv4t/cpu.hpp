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
extern const std::array<Handler, 4096> kArmStepHandlers[2];
extern const std::array<Handler, 4096> kArmRunHandlers[2];
extern const std::array<Handler, 1024> kThumbStepHandlers[2];
extern const std::array<Handler, 1024> kThumbRunHandlers[2];
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

    // Executes until one of the stops listed above. `on_step(pc)` is called after
    // each executed instruction with its address.
    template <typename OnStep>
    RunResult run(machine::GuestMemory& memory, const RunLimits& limits, OnStep&& on_step);
    RunResult run(machine::GuestMemory& memory, const RunLimits& limits) {
        return run(memory, limits, [](u32) {});
    }

private:
    template <bool Trace, bool BigEndian, typename OnStep>
    RunResult run_loop(machine::GuestMemory& memory, const RunLimits& limits, OnStep& on_step);

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

// Without tracing, code runs from decoded blocks; an instruction where no
// block can be had (and every instruction when tracing) is fetched and decoded
// where it stands and run as a block of one. Both ways execute the same
// handlers in the same order and stop at the same places.
template <bool Trace, bool BigEndian, typename OnStep>
RunResult Cpu::run_loop(machine::GuestMemory& memory, const RunLimits& limits, OnStep& caller_hook) {
    LocalHook<OnStep> local_hook(caller_hook);
    auto& on_step = local_hook.hook;
    Exec e{regs, memory};
    u32* const r = regs.r;
    const u8* const* const pages = memory.read_page_table();
    const Handler* const arm_handlers = detail::kArmRunHandlers[BigEndian].data();
    const Handler* const thumb_handlers = detail::kThumbRunHandlers[BigEndian].data();
    const u32 window_begin = limits.window_begin;
    const u32 window_size = limits.window_end - limits.window_begin;
    const u64 max_steps = limits.max_steps;
    u64 steps = 0;
    u32 pc = r[15];
    if (max_steps == 0) return {0, RunStop::StepLimit, pc};

    // The pc lives in a local between instructions; r[15] holds it (aligned) at
    // every exit and the architectural value while an instruction executes.
    // After an instruction that raised an event (and whose step is counted), the
    // state is examined again from `next`.
#define TARVEL_AFTER_EVENT(next)                                   \
    do {                                                           \
        ++steps;                                                   \
        on_step(pc);                                               \
        if (e.event & kEventUndefined) {                           \
            r[15] = next;                                          \
            return {steps, RunStop::Undefined, pc};                \
        }                                                          \
        if (e.event & kEventCodeWritten) blocks_.begin_epoch(e);   \
        e.event = kEventNone;                                      \
        r[15] = next;                                              \
        if (steps == max_steps) return {steps, RunStop::StepLimit, pc}; \
        pc = next;                                                 \
        goto examine_state;                                        \
    } while (false)

    if constexpr (!Trace) blocks_.begin_run(e);
    for (;;) {
    examine_state:
        if (regs.thumb()) {
            pc &= ~1u;
            for (;;) {
                if (pc - window_begin >= window_size) {
                    r[15] = pc;
                    return {steps, RunStop::OutsideWindow, pc};
                }
                // The block at pc, or the one instruction there decoded where it stands.
                const CodeBlock* block = nullptr;
                if constexpr (!Trace) block = blocks_.find<true, BigEndian>(e, pages, pc, window_size - (pc - window_begin));
                DecodedOp single;
                const DecodedOp* first;
                const DecodedOp* last_op;
                if (block && max_steps - steps >= block->count) [[likely]] {
                    first = block->ops;
                    last_op = first + block->count - 1;
                } else {
                    const u16 inst = fetch16<BigEndian>(memory, pages, pc);
                    single = {thumb_handlers[inst >> 6], inst};
                    first = last_op = &single;
                }
                for (const DecodedOp* op = first;; ++op) {
                    if constexpr (Trace) detail::trace_thumb(pc, static_cast<u16>(op->inst));
                    r[15] = pc + 4;
                    const u32 next = op->handler(e, op->inst, pc);
                    if (e.event) [[unlikely]] {
                        steps += static_cast<u64>(op - first);
                        if (e.event & kEventSpecial) {
                            r[15] = pc;
                            return {steps, RunStop::BridgeInstruction, pc};
                        }
                        TARVEL_AFTER_EVENT(next);
                    }
                    on_step(pc);
                    if (op == last_op) {
                        steps += static_cast<u64>(last_op - first) + 1;
                        const u32 last = pc;
                        pc = next & ~1u;
                        if (steps == max_steps) {
                            r[15] = pc;
                            return {steps, RunStop::StepLimit, last};
                        }
                        break;
                    }
                    pc += 2;
                }
            }
        } else {
            pc &= ~3u;
            for (;;) {
                if (pc - window_begin >= window_size) {
                    r[15] = pc;
                    return {steps, RunStop::OutsideWindow, pc};
                }
                const CodeBlock* block = nullptr;
                if constexpr (!Trace) block = blocks_.find<false, BigEndian>(e, pages, pc, window_size - (pc - window_begin));
                DecodedOp single;
                const DecodedOp* first;
                const DecodedOp* last_op;
                if (block && max_steps - steps >= block->count) [[likely]] {
                    first = block->ops;
                    last_op = first + block->count - 1;
                } else {
                    const u32 inst = fetch32<BigEndian>(memory, pages, pc);
                    single = {arm_handlers[((inst >> 16) & 0xFF0) | ((inst >> 4) & 0xF)], inst};
                    first = last_op = &single;
                }
                for (const DecodedOp* op = first;; ++op) {
                    const u32 inst = op->inst;
                    if constexpr (Trace) detail::trace_arm(pc, inst, regs.cpsr());
                    const u32 cond = inst >> 28;
                    u32 next;
                    if (cond != 0xE && !condition_passes(cond, regs)) [[unlikely]] {
                        if (cond == 0xF) {
                            r[15] = pc + 8;
                            next = arm_condition_never(e, inst, pc);
                            if (e.event) {
                                steps += static_cast<u64>(op - first);
                                TARVEL_AFTER_EVENT(next);
                            }
                        } else {
                            if constexpr (Trace) detail::trace_arm_condition_failed();
                            next = pc + 4;
                        }
                    } else {
                        r[15] = pc + 8;
                        next = op->handler(e, inst, pc);
                        if (e.event) [[unlikely]] {
                            steps += static_cast<u64>(op - first);
                            if (e.event & kEventSpecial) {
                                r[15] = pc;
                                e.event = kEventNone;
                                return {steps, RunStop::BridgeInstruction, pc};
                            }
                            TARVEL_AFTER_EVENT(next);
                        }
                    }
                    on_step(pc);
                    if (op == last_op) {
                        steps += static_cast<u64>(last_op - first) + 1;
                        const u32 last = pc;
                        pc = next & ~3u;
                        if (steps == max_steps) {
                            r[15] = pc;
                            return {steps, RunStop::StepLimit, last};
                        }
                        break;
                    }
                    pc += 4;
                }
            }
        }
    }
#undef TARVEL_AFTER_EVENT
}

}  // namespace tarvel::armv4t
