#pragma once
// The CPU bridge: the loop that drives guest code on the interpreter and turns
// every jump into the service trap area into a native service call.
//
// Per instruction the bridge, in this order: aligns and records the pc, ends
// the call at the return sentinel, stops on the guest's idle loop, performs a
// trap (then returns to lr), handles semihosting, checks that the instruction
// can be fetched, steps the interpreter (which executes every instruction,
// the later cores' BLX forms included), and counts the step against the budget.
//
// Plain code runs in long stretches on Cpu::run with a window that covers only
// memory where none of those checks can fire; everything else goes through the
// per-instruction pass. Both produce the same machine, the same instruction
// count and the same recent-pc ring.

#include "common/error.hpp"
#include "machine/machine.hpp"

namespace tarvel::machine {

// Continues the guest from its current registers until it returns to the
// sentinel, runs into its idle loop or asks to exit (success), or faults.
Status run_guest(TarvelMachine& machine, u64 step_budget);

// Calls the guest function `function` (bit 0 selects Thumb) with r0..r2 set and
// lr = the return sentinel; a function address of 0 does nothing at all.
Status call_guest(TarvelMachine& machine, u32 function, u32 a0, u32 a1, u32 a2, u64 step_budget);

// Sets pc to `target` with bit 0 cleared and the Thumb state to bit 0 of it.
void branch_exchange(TarvelMachine& machine, u32 target);

// Performs the trap at trap-area address `pc` (the stub the guest reached);
// leaves the result in r0 but does not return to the caller. Exposed for tests.
void handle_trap(TarvelMachine& machine, u32 pc);

}  // namespace tarvel::machine
