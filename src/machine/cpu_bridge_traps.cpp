// The trap area: the bridge recognises the fixed entry points the platform
// hands to applications and runs them (services/fixed_entries.hpp), and
// decodes every other address into (group, index) and dispatches the service.

#include <algorithm>
#include <cstdio>

#include "machine/cpu_bridge.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/fixed_entries.hpp"
#include "machine/trace_filter.hpp"

namespace tarvel::machine {

namespace {

constexpr u32 kPlainReturn = 0x0C0FFFFC;

constexpr services::FixedEntryRun kFixedEntries[] = {
    services::kInterfaceRequestEntries, services::kDirectDrawingEntries, services::kSlotListEntries,
    services::kSystemEntries,           services::kClockWordEntries,
};

// The lowest fixed entry: the stubs of ordinary services (the service calls
// that matter for speed) lie below it and skip the search.
constexpr u32 kFirstFixedEntry = [] {
    u32 lowest = services::kArenaEntries.base;
    for (const services::FixedEntryRun& entries : kFixedEntries) lowest = std::min(lowest, entries.base);
    return lowest;
}();

// Index i of a run of `count` word entries starting at `base`, if pc is one of
// them. Only the entry addresses themselves count: a Thumb jump to the middle
// of an entry (pc = entry + 2) is an ordinary stub of the group it falls in.
bool entry_of(u32 pc, u32 base, u32 count, u32& i) {
    if (pc < base || pc - base >= count * 4 || (pc - base) % 4 != 0) return false;
    i = (pc - base) / 4;
    return true;
}

void count_call(TarvelMachine& m, u32 group, u32 index) { ++m.service_call_counts[ServiceKey{group, index}]; }

void service_call(TarvelMachine& m, u32 pc) {
    armv4t::RegisterFile& regs = m.cpu.regs;
    const u32 group = (pc - kTrapAreaBase) >> 10;
    const u32 index = (pc >> 2) & 0xFF;
    count_call(m, group, index);
    const bool traced = service_call_traced(group, index);
    m.recent_service_calls.push(ServiceCallRecord{group, index, regs.r[14], regs.r[0]});
    if (traced) {
        std::fprintf(stderr, "service group=%u index=%u r0=%08x r1=%08x r2=%08x r3=%08x lr=%08x\n", group, index,
                     regs.r[0], regs.r[1], regs.r[2], regs.r[3], regs.r[14]);
    }
    services::dispatch_service(m, group, index);
    if (traced) {
        std::fprintf(stderr, "service result r0=%08x\n", regs.r[0]);
        std::fflush(stderr);
    }
}

}  // namespace

void handle_trap(TarvelMachine& m, u32 pc) {
    if (pc == kPlainReturn) return;
    if (pc >= kFirstFixedEntry) {
        u32 i = 0;
        for (const services::FixedEntryRun& entries : kFixedEntries) {
            if (entry_of(pc, entries.base, entries.count, i)) return entries.run(m, i);
        }
        if (const auto& arena = services::kArenaEntries; entry_of(pc, arena.base, arena.count, i)) {
            count_call(m, services::kArenaCountGroup, i);
            return arena.run(m, i);
        }
    }
    service_call(m, pc);
}

}  // namespace tarvel::machine
