// The trap area: fixed entries (plain return, interface table requests, the
// direct fill, slot lists, the system entry, clock words, arenas), service
// call decoding with its bookkeeping and trace lines, and the small groups.

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/test_machine.hpp"
#include "machine/cpu_bridge.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/trace_filter.hpp"

namespace tarvel::machine {
namespace {

using test::blank_machine;
using test::Layout;
using test::make_machine;

// Calls a trap-area address the way guest code does (lr = the sentinel) and
// returns r0. Stack arguments are pushed below the initial sp.
u32 call_trap(TarvelMachine& m, u32 address, u32 r0 = 0, u32 r1 = 0, u32 r2 = 0, u32 r3 = 0,
              std::vector<u32> stack = {}) {
    auto& regs = m.cpu.regs;
    regs.set_cpsr(0x30);
    regs.r[13] = kStackTop - 0x100;
    for (size_t i = 0; i < stack.size(); ++i) m.memory.write32(regs.r[13] + 4 * static_cast<u32>(i), stack[i]);
    regs.r[3] = r3;
    const Status status = call_guest(m, address | 1, r0, r1, r2, 10);
    EXPECT_TRUE(status.ok()) << (status.ok() ? "" : status.error().to_string());
    EXPECT_EQ(regs.r[15], kReturnSentinel);
    return regs.r[0];
}

u16 pixel(TarvelMachine& m, u32 column, u32 row) { return m.memory.read16(kScreenBuffer + (row * 240 + column) * 2); }

TEST(Traps, PlainReturnKeepsR0AndReturnsInTheCallersState) {
    TarvelMachine m = blank_machine();
    EXPECT_EQ(call_trap(m, 0x0C0FFFFC, 1234), 1234u);
    EXPECT_EQ(m.instruction_count, 1u);  // the trap pass; the sentinel pass is not a step
    EXPECT_TRUE(m.service_call_counts.empty());
    EXPECT_TRUE(m.recent_service_calls.empty());
}

TEST(Traps, InterfaceTableRequests) {
    TarvelMachine m = blank_machine();
    EXPECT_EQ(call_trap(m, 0x0C00E000 + 4 * 16, 0), 0u);
    EXPECT_EQ(m.memory.unmapped_accesses().size(), 0u);

    m.memory.write32(0x05000000 + 159 * 4, 0xDEADBEEF);
    EXPECT_EQ(call_trap(m, 0x0C00E000 + 4 * 16, 0x05000000), 0x05000000u);
    for (u32 i = 0; i < 159; ++i) ASSERT_EQ(m.memory.read32(0x05000000 + 4 * i), 0x0C000C00 + 4 * i);
    EXPECT_EQ(m.memory.read32(0x05000000 + 159 * 4), 0xDEADBEEFu);

    // Every row writes exactly its count of its group's stubs.
    const std::pair<u32, u32> rows[18] = {{5, 24},  {4, 63},  {7, 6},   {8, 15}, {2, 18},  {12, 16},
                                          {14, 11}, {9, 7},   {13, 12}, {1, 27}, {15, 22}, {16, 40},
                                          {10, 40}, {11, 15}, {17, 60}, {18, 9}, {3, 159}, {19, 7}};
    const u32 t = 0x05001000;
    for (u32 k = 0; k < 18; ++k) {
        const auto [group, count] = rows[k];
        for (u32 i = 0; i <= 160; ++i) m.memory.write32(t + 4 * i, 0xEEEEEEEE);
        EXPECT_EQ(call_trap(m, 0x0C00E000 + 4 * k, t), t) << k;
        EXPECT_EQ(m.memory.read32(t), service_stub(group, 0)) << k;
        EXPECT_EQ(m.memory.read32(t + 4 * (count - 1)), service_stub(group, count - 1)) << k;
        EXPECT_EQ(m.memory.read32(t + 4 * count), 0xEEEEEEEEu) << k;
    }

    // Row 17 (group 19, seven stubs); a table running off RAM's end is skipped word by word.
    const u32 near_end = kRamBase + kRamSize - 8;
    EXPECT_EQ(call_trap(m, 0x0C00E000 + 4 * 17, near_end), near_end);
    EXPECT_EQ(m.memory.read32(near_end + 4), service_stub(19, 1));
    EXPECT_EQ(m.memory.unmapped_accesses().count(kRamBase + kRamSize), 1u);
}

TEST(Traps, DirectFillRectangleClipsToTheScreen) {
    for (bool big_endian : {false, true}) {
        TarvelMachine m = blank_machine(big_endian);
        // x = -10, width 20: columns 0..9; y = 390, height 30: rows 390..399.
        EXPECT_EQ(call_trap(m, 0x0C00D010, 77, static_cast<u32>(-10), 390, 20, {30, 0x1234F81F}), 0u);
        EXPECT_EQ(pixel(m, 0, 390), 0xF81F);
        EXPECT_EQ(pixel(m, 9, 399), 0xF81F);
        EXPECT_EQ(pixel(m, 10, 395), 0);
        EXPECT_EQ(pixel(m, 5, 389), 0);
        EXPECT_EQ(m.memory.read8(kScreenBuffer + (390 * 240) * 2), big_endian ? 0xF8 : 0x1F);
        EXPECT_EQ(m.memory.read16(kScreenBuffer + kScreenBufferBytes), 0);  // nothing past the last row
    }
}

TEST(Traps, DirectFillTakesSixteenBitSignedArguments) {
    TarvelMachine m = blank_machine();
    // 0x1_0005 is x = 5; a width of 0xFFFF is -1 and fills nothing.
    call_trap(m, 0x0C00D010, 0, 0x10005, 0, 0xFFFF, {10, 0xFFFF});
    EXPECT_EQ(pixel(m, 5, 0), 0);
    call_trap(m, 0x0C00D010, 0, 0x10005, 0, 2, {1, 0xFFFF});
    EXPECT_EQ(pixel(m, 5, 0), 0xFFFF);
    EXPECT_EQ(pixel(m, 6, 0), 0xFFFF);
    EXPECT_EQ(pixel(m, 7, 0), 0);
    // Other direct drawing entries do nothing and answer 0.
    EXPECT_EQ(call_trap(m, 0x0C00D000, 55, 0, 0, 10, {10, 0x1111}), 0u);
    EXPECT_EQ(pixel(m, 0, 0), 0);
}

TEST(Traps, SlotListOperations) {
    TarvelMachine m = blank_machine();
    GuestMemory& mem = m.memory;
    const u32 list = 0x05000000, slots = 0x05000100, slot0 = 0x05000200, slot1 = 0x05000210, source = 0x05000300;
    mem.write32(list + 8, 2);  // capacity
    mem.write32(list + 12, slots);
    mem.write32(slots, slot0);
    mem.write32(slots + 4, slot1);
    for (u32 h = 0; h < 4; ++h) mem.write16(source + 2 * h, static_cast<u16>(0x1111 * (h + 1)));

    EXPECT_EQ(call_trap(m, 0x0C00D114, list, 0, source), 0u);
    EXPECT_EQ(mem.read32(list + 4), 1u);
    EXPECT_EQ(mem.read16(slot0 + 6), 0x4444);
    EXPECT_EQ(call_trap(m, 0x0C00D114, list, 0, 0), 0u);  // r2 = 0: nothing
    EXPECT_EQ(mem.read32(list + 4), 1u);
    call_trap(m, 0x0C00D114, list, 0, source);
    call_trap(m, 0x0C00D114, list, 0, source);  // full
    EXPECT_EQ(mem.read32(list + 4), 2u);
    EXPECT_EQ(mem.read16(slot1), 0x1111);

    EXPECT_EQ(call_trap(m, 0x0C00D100, list, 0xAB, 1), list);
    EXPECT_EQ(mem.read32(list + 36), 0xABu);
    call_trap(m, 0x0C00D100, list, 0xCD, 2);  // index 2 is out of range
    EXPECT_EQ(mem.read32(list + 40), 0u);
    EXPECT_EQ(call_trap(m, 0x0C00D110, list), 0u);
    EXPECT_EQ(mem.read32(list + 4), 0u);
    EXPECT_EQ(call_trap(m, 0x0C00D104, list), 0u);
}

TEST(Traps, SystemEntryCodes) {
    Layout layout;  // load address 0, data at 0x01002000
    layout.data_size = 0x2000;
    TarvelMachine m = make_machine({0xC0, 0x46}, layout);
    EXPECT_EQ(call_trap(m, kSystemEntry, 142), 142u);
    EXPECT_EQ(call_trap(m, kSystemEntry, 1057), 1057u);
    EXPECT_EQ(call_trap(m, kSystemEntry, 9999, 0x05000000), 0u);

    EXPECT_EQ(call_trap(m, kSystemEntry, 82, 0xCAFE), 0u);
    EXPECT_EQ(m.memory.read32(0x01002000 + 0x1724), 0xCAFEu);

    m.memory.write32(0x05000000, 0xFFFFFFFF);
    EXPECT_EQ(call_trap(m, kSystemEntry, 1004, 0x05000000), 0u);
    EXPECT_EQ(m.memory.read32(0x05000000), 0u);
    m.memory.write32(0x05000000, 0xFFFFFFFF);
    EXPECT_EQ(call_trap(m, kSystemEntry, 1005, 0x05000000), 0u);
    EXPECT_EQ(m.memory.read32(0x05000000), 0xFFFFFF00u);

    // Codes that look like addresses are not requests.
    EXPECT_EQ(call_trap(m, kSystemEntry, 0x01000010, 0x05000000), 0u);
    EXPECT_EQ(call_trap(m, kSystemEntry, 0x01002010, 0x05000000), 0u);
    EXPECT_EQ(call_trap(m, kSystemEntry, 0x05001950), 0u);

    m.memory.write32(0x05000040, 0x01000101);
    m.memory.write32(0x05000044, 0x01000201);
    EXPECT_EQ(call_trap(m, kSystemEntry, 1950, 0x05000040), kSystemEntryThumb);
    EXPECT_EQ(m.native_entry, 0x01000101u);
    EXPECT_EQ(m.native_second_callback, 0x01000201u);
    EXPECT_EQ(m.memory.read32(0x05000048), kSystemEntryThumb);
    EXPECT_EQ(call_trap(m, kSystemEntry, 1950, 0), kSystemEntryThumb);
}

TEST(Traps, InterfaceObjectRequest) {
    TarvelMachine m = blank_machine();
    GuestMemory& mem = m.memory;
    const u32 block = 0x02000000, out = 0x02000010;
    auto request = [&](u32 id, u32 size = 4) {
        mem.write32(block, out);
        mem.write32(block + 4, id);
        mem.write32(block + 8, size);
        mem.write32(out, 0x77777777);
        call_trap(m, kSystemEntry, 2001, block);
        return mem.read32(out);
    };
    const u32 object143 = request(143);
    ASSERT_NE(object143, 0u);
    EXPECT_EQ(mem.read32(object143 + 36), service_stub(4, 9));
    EXPECT_EQ(mem.read32(object143 + 156), service_stub(2, 13));
    EXPECT_EQ(mem.read32(object143 + 172), 0x0C00F100u);
    EXPECT_EQ(mem.read32(object143 + 240), kSystemEntryThumb);
    EXPECT_EQ(mem.read32(object143 + 524), service_stub(6, 0));
    EXPECT_EQ(mem.read32(object143 + 608), service_stub(6, 21));
    const std::pair<u32, u32> stubs[] = {
        {88, service_stub(4, 19)}, {112, service_stub(4, 5)}, {116, service_stub(4, 5)}, {120, service_stub(4, 6)},
        {160, service_stub(2, 14)}, {164, 0x0C00F108},         {168, 0x0C00F104},        {176, 0x0C00F10C},
        {180, 0x0C00F110},          {184, 0x0C00F114},         {564, service_stub(6, 10)},
    };
    for (const auto& [offset, value] : stubs) EXPECT_EQ(mem.read32(object143 + offset), value) << offset;
    EXPECT_EQ(m.heap.block_size(object143), 1024u);
    EXPECT_EQ(request(143), object143);  // created once

    const u32 object142 = request(142);
    ASSERT_NE(object142, 0u);
    EXPECT_NE(object142, object143);
    EXPECT_EQ(mem.read32(object142 + 20), kSystemEntryThumb);
    EXPECT_EQ(m.heap.block_size(object142), 256u);
    EXPECT_EQ(request(1050), 0xFFFFFFFFu);
    EXPECT_EQ(request(7), 0u);
    EXPECT_EQ(request(142, 3), 0x77777777u);  // too small an output area: untouched
}

TEST(Traps, FixedEntriesAnswerOnlyAtTheirOwnAddresses) {
    // A Thumb jump two bytes into an entry is an ordinary stub of the group that
    // address falls in (groups 52..63 here), which answers 0 and is counted.
    TarvelMachine m = blank_machine();
    EXPECT_EQ(call_trap(m, 0x0C00F102, 99), 0u);  // not the year
    EXPECT_EQ((m.service_call_counts[ServiceKey{60, 64}]), 1u);
    EXPECT_EQ(call_trap(m, kSystemEntry + 2, 142), 0u);
    EXPECT_EQ(call_trap(m, 0x0C00E000 + 4 * 16 + 2, 0x05000000), 0u);
    EXPECT_EQ(m.memory.read32(0x05000000), 0u);  // no table written
    call_trap(m, 0x0C00D012, 0, 0, 0, 5, {5, 0xFFFF});
    EXPECT_EQ(pixel(m, 0, 0), 0);  // no fill
    EXPECT_EQ(call_trap(m, 0x0C00F14A, 0x02000100, 8), 0u);  // not the arena allocate
    EXPECT_EQ((m.service_call_counts[ServiceKey{27, 0}]), 0u);
    EXPECT_EQ(m.recent_service_calls.size(), 5u);
}

TEST(Traps, FixedClockWords) {
    TarvelMachine m = blank_machine();
    const u32 expected[6] = {2026, 8, 7, 12, 0, 0};
    for (u32 i = 0; i < 6; ++i) EXPECT_EQ(call_trap(m, 0x0C00F100 + 4 * i, 99), expected[i]);
}

TEST(Traps, ArenaServiceAndGroupTwo) {
    TarvelMachine m = blank_machine();
    GuestMemory& mem = m.memory;
    const u32 arena = 0x02000100;
    EXPECT_EQ(call_trap(m, service_stub(2, 5), arena, 12), arena);
    const u32 buffer = mem.read32(arena);
    ASSERT_NE(buffer, 0u);
    EXPECT_EQ(mem.read32(arena + 8), 12u);
    EXPECT_EQ(mem.read32(arena + 12), 0x0C00F148u);
    EXPECT_EQ(mem.read32(arena + 20), 0x0C00F150u);

    EXPECT_EQ(call_trap(m, 0x0C00F148, arena, 5), buffer);  // rounded to 8
    EXPECT_EQ(call_trap(m, 0x0C00F148, arena, 5), 0u);      // 4 left
    EXPECT_EQ(mem.read32(arena + 4), 8u);
    EXPECT_EQ(call_trap(m, service_stub(2, 6), arena, 4), buffer + 8);
    EXPECT_EQ(call_trap(m, 0x0C00F148, arena, 0xFFFFFFFF), 0u);  // saturating, no wrap
    EXPECT_EQ(call_trap(m, 0x0C00F14C, arena), arena);
    EXPECT_EQ(mem.read32(arena + 4), 0u);
    EXPECT_EQ(call_trap(m, 0x0C00F150, arena), 0u);
    EXPECT_EQ(mem.read32(arena), 0u);
    EXPECT_EQ(m.heap.block_size(buffer), 0u);  // freed
    EXPECT_EQ(call_trap(m, 0x0C00F148, arena, 4), 0u);  // destroyed: no buffer
    EXPECT_EQ((m.service_call_counts[ServiceKey{27, 0}]), 4u);
    EXPECT_EQ((m.service_call_counts[ServiceKey{27, 2}]), 1u);

    // The system arena: fixed buffer, never freed.
    EXPECT_EQ(call_trap(m, service_stub(2, 12), 16), kSystemArenaBuffer);
    EXPECT_EQ(mem.read32(kSystemArenaRecord + 8), kSystemArenaCapacity);
    EXPECT_EQ(call_trap(m, service_stub(2, 12), 16), kSystemArenaBuffer + 16);
    EXPECT_EQ(call_trap(m, service_stub(2, 10)), kSystemArenaRecord);  // exists: reset
    EXPECT_EQ(call_trap(m, service_stub(2, 12), 4), kSystemArenaBuffer);
    const u32 heap_top = m.heap.top;
    EXPECT_EQ(call_trap(m, 0x0C00F150, kSystemArenaRecord), 0u);
    EXPECT_EQ(mem.read32(kSystemArenaRecord), 0u);
    EXPECT_EQ(m.heap.top, heap_top);
    EXPECT_EQ(call_trap(m, service_stub(2, 8)), kSystemArenaRecord);
    EXPECT_EQ(call_trap(m, service_stub(2, 11)), kSystemArenaRecord);  // buffer word 0: initialised
    EXPECT_EQ(mem.read32(kSystemArenaRecord), kSystemArenaBuffer);
}

TEST(Traps, GroupTwoHeapBlocks) {
    TarvelMachine m = blank_machine();
    GuestMemory& mem = m.memory;
    const u32 word = 0x02000000;
    EXPECT_EQ(call_trap(m, service_stub(2, 2), word, 0), 1u);
    const u32 block = mem.read32(word);
    EXPECT_EQ(m.heap.block_size(block), 8u);
    EXPECT_EQ(call_trap(m, service_stub(2, 3), word), 0u);
    EXPECT_EQ(mem.read32(word), 0u);
    EXPECT_EQ(m.heap.block_size(block), 0u);
    EXPECT_EQ(call_trap(m, service_stub(2, 3), 0), 0u);

    const u32 b = call_trap(m, service_stub(2, 13), 0);
    EXPECT_EQ(m.heap.block_size(b), 8u);
    EXPECT_EQ(call_trap(m, service_stub(2, 14), b), 0u);
    EXPECT_EQ(m.heap.block_size(b), 0u);
    EXPECT_EQ(call_trap(m, service_stub(2, 1), 5), 0u);
}

TEST(Traps, SmallGroups) {
    TarvelMachine m = blank_machine();
    GuestMemory& mem = m.memory;
    EXPECT_EQ(call_trap(m, service_stub(28, 30)), 1u);
    EXPECT_EQ(call_trap(m, service_stub(28, 29), 5), 0u);
    EXPECT_EQ(call_trap(m, service_stub(22, 4)), 0xFFFFFFFFu);
    EXPECT_EQ(call_trap(m, service_stub(22, 3), 5), 0u);
    EXPECT_EQ(call_trap(m, service_stub(12, 0), 5), 0u);
    EXPECT_EQ(call_trap(m, service_stub(40, 0), 5), 0u);  // above the table

    const u32 block = call_trap(m, service_stub(26, 4), 100);
    EXPECT_EQ(m.heap.block_size(block), 104u);
    EXPECT_EQ(call_trap(m, service_stub(26, 5), 100), 0u);

    mem.write32(0x02000000, 1);
    mem.write32(0x02000004, 2);
    mem.write32(0x02000008, 3);
    EXPECT_EQ(call_trap(m, service_stub(16, 11), 0x02000000), 0u);
    EXPECT_EQ(mem.read32(0x02000008), 0u);

    // Group 20 index 6: at most 40 stubs of group 28.
    const u32 record = 0x02000040, table = 0x02000400;
    mem.write32(record, table);
    mem.write16(record + 4, 400);
    mem.write32(table + 40 * 4, 0x5A5A5A5A);
    EXPECT_EQ(call_trap(m, service_stub(20, 6), record), 0x0A0E1400u);
    EXPECT_EQ(mem.read32(table + 39 * 4), service_stub(28, 39));
    EXPECT_EQ(mem.read32(table + 40 * 4), 0x5A5A5A5Au);
    mem.write16(record + 4, 7);  // one whole stub
    mem.write32(table + 4, 0);
    call_trap(m, service_stub(20, 6), record);
    EXPECT_EQ(mem.read32(table + 4), 0u);
}

TEST(ServiceCalls, CountsAndRecentCallsIncludeUnknownGroups) {
    TarvelMachine m = blank_machine();
    for (u32 i = 0; i < 20; ++i) call_trap(m, service_stub(12, i % 2), 100 + i);
    EXPECT_EQ((m.service_call_counts[ServiceKey{12, 0}]), 10u);
    EXPECT_EQ((m.service_call_counts[ServiceKey{12, 1}]), 10u);
    ASSERT_EQ(m.recent_service_calls.size(), 16u);
    const ServiceCallRecord oldest = m.recent_service_calls.at(0);
    EXPECT_EQ(oldest, (ServiceCallRecord{12, 0, kReturnAddress, 104}));
    EXPECT_EQ(m.recent_service_calls.newest(), (ServiceCallRecord{12, 1, kReturnAddress, 119}));
}

TEST(TraceFilter, Values) {
    EXPECT_FALSE(trace_filter_matches(std::nullopt, 3, 23));
    EXPECT_TRUE(trace_filter_matches("1", 0, 0));
    EXPECT_TRUE(trace_filter_matches("all", 28, 255));
    EXPECT_FALSE(trace_filter_matches("ALL", 3, 23));
    EXPECT_FALSE(trace_filter_matches("", 3, 23));
    EXPECT_FALSE(trace_filter_matches("0", 3, 23));
    const std::string_view list = " 3:23 ,\t4:10 ";
    EXPECT_TRUE(trace_filter_matches(list, 3, 23));
    EXPECT_TRUE(trace_filter_matches(list, 4, 10));
    EXPECT_FALSE(trace_filter_matches(list, 3, 2));
    EXPECT_FALSE(trace_filter_matches(list, 4, 1));
    EXPECT_FALSE(trace_filter_matches(list, 23, 4));
    EXPECT_FALSE(trace_filter_matches("03:23", 3, 23));
    EXPECT_FALSE(trace_filter_matches("3: 23", 3, 23));
    EXPECT_FALSE(trace_filter_matches("3:23\xFF", 3, 23));
    EXPECT_FALSE(trace_filter_matches("3:23,\xFF", 3, 23));  // not text at all: nothing
    EXPECT_TRUE(trace_filter_matches(",,7:1,", 7, 1));
}

// A guest call reads the switch once when it starts; outside one, every
// question reads it afresh.
TEST(TraceFilter, ASnapshotHoldsTheSwitchAsItWas) {
    setenv("CBE_TRACE", "4:10", 1);
    {
        const TraceSnapshot outer;
        unsetenv("CBE_TRACE");
        EXPECT_TRUE(service_call_traced(4, 10));
        EXPECT_TRUE(trace_variable_set());
        {
            const TraceSnapshot inner;
            EXPECT_FALSE(service_call_traced(4, 10));
        }
        EXPECT_TRUE(service_call_traced(4, 10));
    }
    EXPECT_FALSE(service_call_traced(4, 10));
    setenv("CBE_TRACE", "all", 1);
    EXPECT_TRUE(service_call_traced(4, 10));
    unsetenv("CBE_TRACE");
}

TEST(TraceFilter, TracedCallsWriteTheirLines) {
    TarvelMachine m = blank_machine();
    setenv("CBE_TRACE", "28:30", 1);
    ::testing::internal::CaptureStderr();
    m.cpu.regs.r[3] = 0;
    call_trap(m, service_stub(28, 30), 0xAB, 0x1, 0x2, 0x3);
    call_trap(m, service_stub(28, 29), 0xAB);
    const std::string err = ::testing::internal::GetCapturedStderr();
    unsetenv("CBE_TRACE");
    EXPECT_EQ(err,
              "service group=28 index=30 r0=000000ab r1=00000001 r2=00000002 r3=00000003 lr=0f000001\n"
              "service result r0=00000001\n");
}

TEST(ServiceArguments, StackArgumentsAndUnbackedStack) {
    TarvelMachine m = blank_machine();
    m.cpu.regs.r[2] = 22;
    m.cpu.regs.r[13] = kStackTop - 8;
    m.memory.write32(kStackTop - 8, 44);
    m.memory.write32(kStackTop - 4, 55);
    EXPECT_EQ(services::service_arg(m, 2), 22u);
    EXPECT_EQ(services::service_arg(m, 4), 44u);
    EXPECT_EQ(services::service_arg(m, 5), 55u);
    EXPECT_EQ(services::service_arg(m, 6), 0u);  // past the stack region
    EXPECT_EQ(m.memory.unmapped_accesses().count(kStackTop), 1u);
}

}  // namespace
}  // namespace tarvel::machine
