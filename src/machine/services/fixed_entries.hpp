#pragma once
// The fixed entry points of the trap area that are not service stubs. The
// platform hands their addresses to applications directly: interface table
// requests, direct drawing, slot lists, the system entry, the clock words and
// the arena operations. The bridge recognises an entry by its address and runs
// it with the entry's number; each leaves its result in r0.

#include "common/bytes.hpp"
#include "machine/services/dispatch.hpp"

namespace tarvel::machine::services {

// Interface table request k writes `count` stubs of `group` at r0.
struct InterfaceRequestRow {
    u32 group;
    u32 count;
};
inline constexpr InterfaceRequestRow kInterfaceRequestRows[18] = {
    {5, 24},  {4, 63},  {7, 6},   {8, 15}, {2, 18},  {12, 16}, {14, 11}, {9, 7},   {13, 12},
    {1, 27},  {15, 22}, {16, 40}, {10, 40}, {11, 15}, {17, 60}, {18, 9}, {3, 159}, {19, 7},
};

void interface_table_request(TarvelMachine& machine, u32 k);
// Only entry 4 acts: it fills a rectangle of the screen.
void direct_drawing_entry(TarvelMachine& machine, u32 i);
void slot_list_entry(TarvelMachine& machine, u32 i);
// Request r0 with parameter r1. The entry number is always 0.
void system_entry(TarvelMachine& machine, u32 unused);
void clock_word_entry(TarvelMachine& machine, u32 i);
// Allocate (0), reset (1) and destroy (2) on the arena record in r0.
void arena_entry(TarvelMachine& machine, u32 i);

// A run of `count` consecutive word entries from `base`.
struct FixedEntryRun {
    u32 base;
    u32 count;
    ServiceHandler run;
};
inline constexpr FixedEntryRun kInterfaceRequestEntries{0x0C00E000, 18, interface_table_request};
inline constexpr FixedEntryRun kDirectDrawingEntries{0x0C00D000, 15, direct_drawing_entry};
inline constexpr FixedEntryRun kSlotListEntries{0x0C00D100, 8, slot_list_entry};
inline constexpr FixedEntryRun kSystemEntries{kSystemEntry, 1, system_entry};
inline constexpr FixedEntryRun kClockWordEntries{0x0C00F100, 6, clock_word_entry};
// Its calls are counted under this group (its own indices), as it has none.
inline constexpr FixedEntryRun kArenaEntries{0x0C00F148, 3, arena_entry};
inline constexpr u32 kArenaCountGroup = 27;

}  // namespace tarvel::machine::services
