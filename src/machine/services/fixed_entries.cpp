#include "machine/services/fixed_entries.hpp"

#include "machine/drawing.hpp"
#include "machine/services/memory_blocks.hpp"
#include "machine/services/service_groups.hpp"

namespace tarvel::machine::services {

namespace {

static_assert(kArenaEntries.base == kArenaAllocateStub && kArenaResetStub == kArenaAllocateStub + 4 &&
              kArenaDestroyStub == kArenaAllocateStub + 8);

i32 arg_i16(TarvelMachine& m, unsigned n) { return static_cast<i16>(static_cast<u16>(service_arg(m, n))); }

// The code and data images of the executable as the guest sees them.
struct ImageRanges {
    u64 code_start, code_end, data_start, data_end;
};
ImageRanges image_ranges(const cbe::CbeExecutable& exe) {
    const u64 code_start = exe.load_address != 0 ? exe.load_address : kDefaultCodeBase;
    const u64 data_start = exe.load_address != 0 ? u64{exe.data_address} : u64{kDefaultCodeBase} + exe.data_offset;
    return {code_start, code_start + exe.data_offset, data_start, data_start + exe.data_size};
}

// True when `code` lies in the executable's code or data image, or in RAM
// above 0x05000000 (top byte 0x05): the guest passed an address, not a request.
bool looks_like_address(const TarvelMachine& m, u32 code) {
    const ImageRanges r = image_ranges(m.executable);
    return (code >= r.code_start && code < r.code_end) || (code >= r.data_start && code < r.data_end) ||
           (code >> 24) == 0x05;
}

u32 run_system_request(TarvelMachine& m, u32 code, u32 param) {
    if (looks_like_address(m, code)) return 0;
    GuestMemory& memory = m.memory;
    switch (code) {
        case 82:
            if (param != 0) memory.write32(static_cast<u32>(image_ranges(m.executable).data_start) + 0x1724, param);
            return 0;
        case 142: case 143: case 151: case 172: case 1050: case 1057:
            return code;
        case 1004: case 1006:
            if (param != 0) memory.write32(param, 0);
            return 0;
        case 1005:
            if (param != 0) memory.write8(param, 0);
            return 0;
        case 1950:
            if (param != 0) {
                m.native_entry = memory.read32(param);
                m.native_second_callback = memory.read32(param + 4);
                memory.write32(param + 8, kSystemEntryThumb);
            }
            return kSystemEntryThumb;
        case 2001:
            // The request answers through its output word; r0 gets 0 like any
            // call that has no result of its own.
            interface_object_request(m, param);
            return 0;
        default:
            return 0;
    }
}

constexpr u32 kClockWords[6] = {2026, 8, 7, 12, 0, 0};

}  // namespace

void interface_table_request(TarvelMachine& m, u32 k) {
    const u32 table = result(m);
    if (table == 0) return;
    const InterfaceRequestRow row = kInterfaceRequestRows[k];
    write_stub_table(m, table, row.group, row.count);
}

void direct_drawing_entry(TarvelMachine& m, u32 i) {
    // Fill rectangle: x, y, width and height (the last on the stack) and the
    // colour after them, all taken as 16-bit values; clipped to the screen.
    if (i == 4) {
        fill_screen(m.memory, arg_i16(m, 1), arg_i16(m, 2), arg_i16(m, 3), arg_i16(m, 4),
                    static_cast<u16>(service_arg(m, 5)));
    }
    set_result(m, 0);
}

// r0 is a list object: used count at +4, capacity at +8, the address of its
// slot array at +12, and two settable words at +32 and +36.
void slot_list_entry(TarvelMachine& m, u32 i) {
    GuestMemory& memory = m.memory;
    const u32 list = result(m);
    switch (i) {
        case 0:
            if (service_arg(m, 2) < 2) memory.write32(list + 32 + service_arg(m, 2) * 4, service_arg(m, 1));
            return;  // r0 unchanged
        case 4:
            memory.write32(list + 4, 0);
            break;
        case 5: {  // append: the 8 bytes at r2 into the next slot, as four halfwords
            const u32 used = memory.read32(list + 4);
            const u32 capacity = memory.read32(list + 8);
            const u32 slots = memory.read32(list + 12);
            const u32 source = service_arg(m, 2);
            if (used < capacity && source != 0 && slots != 0) {
                const u32 slot = memory.read32(slots + 4 * used);
                if (slot != 0) {
                    for (u32 h = 0; h < 4; ++h) memory.write16(slot + 2 * h, memory.read16(source + 2 * h));
                    memory.write32(list + 4, used + 1);
                }
            }
            break;
        }
        default:
            break;
    }
    set_result(m, 0);
}

void system_entry(TarvelMachine& m, u32) { set_result(m, run_system_request(m, service_arg(m, 0), service_arg(m, 1))); }

void clock_word_entry(TarvelMachine& m, u32 i) { set_result(m, kClockWords[i]); }

void arena_entry(TarvelMachine& m, u32 i) {
    const u32 record = result(m);
    if (i == 0) set_result(m, arena_allocate(m, record, service_arg(m, 1)));
    else if (i == 1) arena_reset(m, record);
    else {
        arena_destroy(m, record);
        set_result(m, 0);
    }
}

}  // namespace tarvel::machine::services
