#pragma once
// Service dispatch: every call into the service trap area is decoded into a
// service group and an index and handed to that group's handler. A handler
// reads its arguments from r0-r3 and the guest stack and leaves its result in
// r0; an index it does not know yields r0 = 0.
//
// Adding a service family: write its handler in its own file under
// machine/services/, declare it in service_groups.hpp and put it in the table
// in dispatch.cpp.

#include "common/bytes.hpp"
#include "machine/machine.hpp"

namespace tarvel::machine::services {

using ServiceHandler = void (*)(TarvelMachine& machine, u32 index);

// Groups 0..28 have a table entry; everything above answers 0.
inline constexpr u32 kServiceGroupCount = 29;

// The handler of `group` (the zero answer for groups without one).
ServiceHandler handler_for_group(u32 group);

// Runs the handler of `group` for `index`.
void dispatch_service(TarvelMachine& machine, u32 group, u32 index);

// The handler of every group that has no service behind it: r0 = 0.
void answer_zero(TarvelMachine& machine, u32 index);

// Argument n of the current service call: r0..r3 for n < 4, then the words at
// SP, SP + 4, ... An unbacked stack word reads as 0 (and is recorded as an
// unmapped access); the call never fails.
inline u32 service_arg(TarvelMachine& machine, unsigned n) {
    if (n < 4) return machine.cpu.regs.r[n];
    return machine.memory.read32(machine.cpu.regs.r[13] + 4 * (n - 4));
}
// Signed views for services whose arguments are coordinates.
inline i32 service_arg_i32(TarvelMachine& machine, unsigned n) { return static_cast<i32>(service_arg(machine, n)); }

inline u32 result(const TarvelMachine& machine) { return machine.cpu.regs.r[0]; }
inline void set_result(TarvelMachine& machine, u32 value) { machine.cpu.regs.r[0] = value; }

// Writes the stubs of `group`, indices 0..count-1, as consecutive words at
// `table`. Writes that miss backed memory are recorded and skipped.
void write_stub_table(TarvelMachine& machine, u32 table, u32 group, u32 count);

}  // namespace tarvel::machine::services
