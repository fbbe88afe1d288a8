#pragma once
// Guest memory blocks and arenas. An arena record is six guest words: buffer
// address, used bytes, capacity, and the stubs of its allocate, reset and
// destroy operations, which the guest calls with the record in r0. The system
// arena's record lives at a fixed address and its buffer is the fixed 4 MiB
// above the heap, which is never freed.

#include "common/bytes.hpp"

namespace tarvel::machine {
struct TarvelMachine;
}

namespace tarvel::machine::services {

inline constexpr u32 kArenaAllocateStub = 0x0C00F148;
inline constexpr u32 kArenaResetStub = 0x0C00F14C;
inline constexpr u32 kArenaDestroyStub = 0x0C00F150;

// Lays out an arena record at `record` with room for `capacity` bytes.
void arena_init(TarvelMachine& machine, u32 record, u32 capacity);
// Hands out `size` bytes (rounded up to 4) or 0 when they do not fit.
u32 arena_allocate(TarvelMachine& machine, u32 record, u32 size);
void arena_reset(TarvelMachine& machine, u32 record);
// Frees the buffer (except the system arena's) and clears the first three words.
void arena_destroy(TarvelMachine& machine, u32 record);

}  // namespace tarvel::machine::services
