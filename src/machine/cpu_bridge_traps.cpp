// The trap area: fixed entry points the platform hands to applications (plain
// return, interface tables, direct drawing, slot lists, the system entry, the
// clock words and the arena operations), and the service stubs, which are
// decoded into (group, index) and dispatched.

#include <algorithm>
#include <cstdio>

#include "machine/cpu_bridge.hpp"
#include "machine/drawing.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/memory_blocks.hpp"
#include "machine/services/timer.hpp"
#include "machine/trace_filter.hpp"

namespace tarvel::machine {

namespace {

constexpr u32 kPlainReturn = 0x0C0FFFFC;
constexpr u32 kInterfaceRequestBase = 0x0C00E000;
constexpr u32 kDirectDrawingBase = 0x0C00D000;
constexpr u32 kSlotListBase = 0x0C00D100;
constexpr u32 kClockWordsBase = 0x0C00F100;
constexpr u32 kArenaBase = services::kArenaAllocateStub;
constexpr u32 kArenaCountGroup = 27;

// Index i of a run of `count` word entries starting at `base`, if pc is one of
// them. Only the entry addresses themselves count: a Thumb jump to the middle
// of an entry (pc = entry + 2) is an ordinary stub of the group it falls in.
bool entry_of(u32 pc, u32 base, u32 count, u32& i) {
    if (pc < base || pc - base >= count * 4 || (pc - base) % 4 != 0) return false;
    i = (pc - base) / 4;
    return true;
}

void interface_table_request(TarvelMachine& m, u32 k) {
    const u32 table = m.cpu.regs.r[0];
    if (table == 0) return;
    const InterfaceRequestRow row = kInterfaceRequestRows[k];
    services::write_stub_table(m, table, row.group, row.count);
}

i32 as_i16(u32 value) { return static_cast<i16>(static_cast<u16>(value)); }

// Fills a rectangle of the screen buffer, clipped to the screen; the
// arguments are 16-bit signed values.
void direct_fill_rectangle(TarvelMachine& m) {
    fill_screen(m.memory, as_i16(services::service_arg(m, 1)), as_i16(services::service_arg(m, 2)),
                as_i16(services::service_arg(m, 3)), as_i16(services::service_arg(m, 4)),
                static_cast<u16>(services::service_arg(m, 5)));
}

void slot_list(TarvelMachine& m, u32 i) {
    armv4t::RegisterFile& regs = m.cpu.regs;
    GuestMemory& memory = m.memory;
    const u32 list = regs.r[0];
    switch (i) {
        case 0:
            if (regs.r[2] < 2) memory.write32(list + 32 + regs.r[2] * 4, regs.r[1]);
            return;  // r0 unchanged
        case 4:
            memory.write32(list + 4, 0);
            break;
        case 5: {
            const u32 used = memory.read32(list + 4);
            const u32 capacity = memory.read32(list + 8);
            const u32 slots = memory.read32(list + 12);
            const u32 source = regs.r[2];
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
    regs.r[0] = 0;
}

// True when `code` lies in the executable's code or data image, or in RAM
// above 0x05000000 (top byte 0x05): the guest passed an address, not a request.
bool looks_like_address(const TarvelMachine& m, u32 code) {
    const cbe::CbeExecutable& exe = m.executable;
    const u64 code_start = exe.load_address != 0 ? exe.load_address : kDefaultCodeBase;
    const u64 code_end = code_start + exe.data_offset;
    const u64 data_start = exe.load_address != 0 ? u64{exe.data_address} : u64{kDefaultCodeBase} + exe.data_offset;
    const u64 data_end = data_start + exe.data_size;
    return (code >= code_start && code < code_end) || (code >= data_start && code < data_end) || (code >> 24) == 0x05;
}

u32 system_entry(TarvelMachine& m, u32 code, u32 param) {
    if (looks_like_address(m, code)) return 0;
    GuestMemory& memory = m.memory;
    switch (code) {
        case 82: {
            if (param != 0) {
                const cbe::CbeExecutable& exe = m.executable;
                const u32 data_start = exe.load_address != 0 ? exe.data_address : kDefaultCodeBase + exe.data_offset;
                memory.write32(data_start + 0x1724, param);
            }
            return 0;
        }
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
            services::interface_object_request(m, param);
            return 0;
        default:
            return 0;
    }
}

constexpr u32 kClockWords[6] = {2026, 8, 7, 12, 0, 0};

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
    u32* const r = m.cpu.regs.r;
    u32 i = 0;
    if (pc == kPlainReturn) return;
    if (entry_of(pc, kInterfaceRequestBase, 18, i)) return interface_table_request(m, i);
    if (entry_of(pc, kDirectDrawingBase, 15, i)) {
        if (i == 4) direct_fill_rectangle(m);
        r[0] = 0;
        return;
    }
    if (entry_of(pc, kSlotListBase, 8, i)) return slot_list(m, i);
    if (pc == kSystemEntry) {
        r[0] = system_entry(m, r[0], r[1]);
        return;
    }
    if (entry_of(pc, kClockWordsBase, 6, i)) {
        r[0] = kClockWords[i];
        return;
    }
    if (entry_of(pc, kArenaBase, 3, i)) {
        count_call(m, kArenaCountGroup, i);
        const u32 record = r[0];
        if (i == 0) r[0] = services::arena_allocate(m, record, r[1]);
        else if (i == 1) services::arena_reset(m, record);
        else {
            services::arena_destroy(m, record);
            r[0] = 0;
        }
        return;
    }
    service_call(m, pc);
}

}  // namespace tarvel::machine
