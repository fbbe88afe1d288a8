// The drawing-context and slot-list objects the image group lays out in guest
// memory. Their entry words point at the direct drawing and slot-list entries
// of the trap area, which guest code calls with the object in r0.

#include <algorithm>

#include "machine/drawing.hpp"
#include "machine/machine.hpp"

namespace tarvel::machine {

namespace {

constexpr u32 kDirectDrawingEntries = 0x0C00D000;
constexpr u32 kDirectDrawingEntryCount = 15;
constexpr u32 kSlotListEntries = 0x0C00D100;
constexpr u32 kSlotListEntryCount = 8;
constexpr u32 kSlotBytes = 8;

// A heap block of `size` bytes, or 0 when the size does not fit the heap's
// 32-bit sizes or the heap is full.
u32 allocate_wide(TarvelMachine& m, u64 size) { return size > 0xFFFFFFFFull ? 0 : m.heap.allocate(static_cast<u32>(size)); }

}  // namespace

bool build_drawing_context(TarvelMachine& m, u32 object, u32 n) {
    GuestMemory& memory = m.memory;
    const u32 line = m.heap.allocate(480);
    const u32 halfwords = allocate_wide(m, std::max<u64>(2 * u64{n}, 2));
    const u32 words = allocate_wide(m, std::max<u64>(4 * u64{n}, 4));
    memory.write32(object, line);
    memory.write16(object + 8, static_cast<u16>(n));
    memory.write32(object + 12, halfwords);
    memory.write32(object + 16, words);
    memory.write16(object + 20, 0);
    for (u32 j = 0; j < kDirectDrawingEntryCount; ++j) memory.write32(object + 24 + 4 * j, kDirectDrawingEntries + 4 * j);
    return line != 0 && halfwords != 0 && words != 0;
}

bool build_slot_list(TarvelMachine& m, u32 object, const SlotListArguments& a) {
    GuestMemory& memory = m.memory;
    const u32 slots = allocate_wide(m, std::max<u64>(4 * u64{a.count}, 4));
    if (slots != 0) {
        // Once the heap is full every further slot stays empty (0), which the
        // append entry skips; asking again per slot would only repeat the failure.
        bool heap_full = false;
        for (u32 j = 0; j < a.count; ++j) {
            u32 slot = 0;
            if (!heap_full) {
                slot = m.heap.allocate(kSlotBytes);
                heap_full = slot == 0;
            }
            memory.write32(slots + 4 * j, slot);
        }
    }
    memory.write32(object + 4, 0);
    memory.write32(object + 8, a.count);
    memory.write32(object + 12, slots);
    memory.write32(object + 16, a.word16);
    memory.write32(object + 20, a.word20);
    memory.write32(object + 24, a.first);
    memory.write32(object + 28, a.second);
    memory.write32(object + 32, 0);
    memory.write32(object + 36, 0);
    for (u32 j = 0; j < kSlotListEntryCount; ++j) memory.write32(object + 40 + 4 * j, kSlotListEntries + 4 * j);
    if (slots != 0 && a.count > 0) {
        const u32 first_slot = memory.read32(slots);
        if (first_slot != 0) {
            memory.write32(first_slot, a.first);
            memory.write32(first_slot + 4, a.second);
            memory.write32(object + 4, 1);
        }
    }
    return slots != 0;
}

}  // namespace tarvel::machine
