#include "machine/services/memory_blocks.hpp"

#include <algorithm>

#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"

namespace tarvel::machine::services {

namespace {

// Arena record layout (guest words).
constexpr u32 kArenaBuffer = 0;
constexpr u32 kArenaUsed = 4;
constexpr u32 kArenaCapacity = 8;

void ensure_system_arena(TarvelMachine& m) {
    if (m.memory.read32(kSystemArenaRecord + kArenaBuffer) == 0)
        arena_init(m, kSystemArenaRecord, kSystemArenaCapacity);
}

}  // namespace

void arena_init(TarvelMachine& m, u32 record, u32 capacity) {
    const u32 buffer = record == kSystemArenaRecord ? kSystemArenaBuffer : m.heap.allocate(capacity);
    GuestMemory& memory = m.memory;
    memory.write32(record + kArenaBuffer, buffer);
    memory.write32(record + kArenaUsed, 0);
    memory.write32(record + kArenaCapacity, capacity);
    memory.write32(record + 12, kArenaAllocateStub);
    memory.write32(record + 16, kArenaResetStub);
    memory.write32(record + 20, kArenaDestroyStub);
}

u32 arena_allocate(TarvelMachine& m, u32 record, u32 size) {
    GuestMemory& memory = m.memory;
    const u32 rounded = size > 0xFFFFFFFCu ? 0xFFFFFFFCu : (size + 3) & ~3u;
    const u32 buffer = memory.read32(record + kArenaBuffer);
    const u32 used = memory.read32(record + kArenaUsed);
    const u32 capacity = memory.read32(record + kArenaCapacity);
    const u64 wanted = std::min<u64>(u64{used} + rounded, 0xFFFFFFFFu);
    if (buffer == 0 || wanted > capacity) return 0;
    memory.write32(record + kArenaUsed, used + rounded);
    return buffer + used;
}

void arena_reset(TarvelMachine& m, u32 record) { m.memory.write32(record + kArenaUsed, 0); }

void arena_destroy(TarvelMachine& m, u32 record) {
    GuestMemory& memory = m.memory;
    if (record != kSystemArenaRecord) m.heap.free(memory.read32(record + kArenaBuffer));
    memory.write32(record + kArenaBuffer, 0);
    memory.write32(record + kArenaUsed, 0);
    memory.write32(record + kArenaCapacity, 0);
}

void memory_block_service(TarvelMachine& m, u32 index) {
    GuestMemory& memory = m.memory;
    const u32 r0 = service_arg(m, 0);
    const u32 r1 = service_arg(m, 1);
    switch (index) {
        case 2:
            memory.write32(r0, m.heap.allocate(std::max<u32>(r1, 2)));
            return set_result(m, 1);
        case 3:
            if (r0 != 0) {
                m.heap.free(memory.read32(r0));
                memory.write32(r0, 0);
            }
            return set_result(m, 0);
        case 5:
            arena_init(m, r0, r1);
            return;  // r0 unchanged
        case 6: return set_result(m, arena_allocate(m, r0, r1));
        case 7:
            arena_reset(m, r0);
            return;
        case 8: return set_result(m, kSystemArenaRecord);
        case 9:
            arena_init(m, kSystemArenaRecord, kSystemArenaCapacity);
            return set_result(m, kSystemArenaRecord);
        case 10: case 11:
            if (memory.read32(kSystemArenaRecord + kArenaBuffer) == 0) arena_init(m, kSystemArenaRecord, kSystemArenaCapacity);
            else arena_reset(m, kSystemArenaRecord);
            return set_result(m, kSystemArenaRecord);
        case 12:
            ensure_system_arena(m);
            return set_result(m, arena_allocate(m, kSystemArenaRecord, r0));
        case 13: return set_result(m, m.heap.allocate(std::max<u32>(r0, 1)));
        case 14:
            m.heap.free(r0);
            return set_result(m, 0);
        default: return set_result(m, 0);
    }
}

}  // namespace tarvel::machine::services
