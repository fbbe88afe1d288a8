// Timer, clock and system answer services, called directly through dispatch.

#include <gtest/gtest.h>

#include "support/test_machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/timer.hpp"
#include "memory/guest_strings.hpp"

namespace tarvel::machine {
namespace {

using test::blank_machine;

using test::call;

TEST(TimerService, CreateRoundsTheIntervalToTicks) {
    TarvelMachine m = blank_machine();
    EXPECT_EQ(call(m, 7, 0, 0, 0x01000001, 9), 100u);
    EXPECT_EQ(call(m, 7, 0, 150, 0x01000001, 9), 101u);
    EXPECT_EQ(call(m, 7, 0, 0xFFFFFFFF, 0x01000001, 9), 102u);
    EXPECT_EQ(call(m, 7, 0, 100, 0x01000001, 9), 103u);
    ASSERT_EQ(m.timers.size(), 4u);
    EXPECT_EQ(m.timers[0].countdown, 1u);
    EXPECT_EQ(m.timers[1].countdown, 2u);
    EXPECT_EQ(m.timers[2].countdown, 42949672u);
    EXPECT_EQ(m.timers[3].countdown, 1u);
    EXPECT_EQ(m.timers[1].argument, 9u);
    EXPECT_EQ(call(m, 7, 0, 100, 0, 9), 0u);  // no callback
    EXPECT_EQ(m.timers.size(), 4u);
}

TEST(TimerService, TwentySlotsAndKill) {
    TarvelMachine m = blank_machine();
    for (u32 i = 0; i < 20; ++i) ASSERT_EQ(call(m, 7, 0, 100, 0x01000001), 100 + i);
    EXPECT_EQ(call(m, 7, 0, 100, 0x01000001), 0u);
    EXPECT_EQ(services::active_timer_count(m), 20u);
    EXPECT_EQ(call(m, 7, 1, 99), 0u);
    EXPECT_EQ(call(m, 7, 1, 120), 0u);
    EXPECT_EQ(services::active_timer_count(m), 20u);
    EXPECT_EQ(call(m, 7, 1, 105), 0u);
    EXPECT_EQ(call(m, 7, 1, 105), 0u);  // already stopped
    EXPECT_EQ(services::active_timer_count(m), 19u);
    EXPECT_EQ(call(m, 7, 0, 100, 0x01000003), 105u);  // the first free slot
    EXPECT_EQ(m.timers[5].callback, 0x01000003u);
}

TEST(TimerService, KillOfAnIdThatWasNeverCreated) {
    TarvelMachine m = blank_machine();
    EXPECT_EQ(call(m, 7, 1, 110), 0u);
    EXPECT_TRUE(m.timers.empty());
}

TEST(TimerService, ExpiryWalksInSlotOrderAndIsOneShot) {
    TarvelMachine m = blank_machine();
    call(m, 7, 0, 200, 0xA1, 1);
    call(m, 7, 0, 100, 0xB1, 2);
    call(m, 7, 0, 200, 0xC1, 3);
    auto first = services::expire_timers(m);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].callback, 0xB1u);
    auto second = services::expire_timers(m);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].argument, 1u);
    EXPECT_EQ(second[1].argument, 3u);
    EXPECT_TRUE(services::expire_timers(m).empty());
    EXPECT_EQ(services::active_timer_count(m), 0u);
    // A restored slot with a countdown of 0 fires at the next walk.
    m.timers[0] = TimerSlot{1, 0xD1, 4, 0};
    EXPECT_EQ(services::expire_timers(m).size(), 1u);
}

TEST(TimerService, UptimeAndClock) {
    TarvelMachine m = blank_machine();
    EXPECT_EQ(call(m, 7, 3), 1786080000u);
    EXPECT_EQ(call(m, 7, 2), 0u);
    m.tick_count = 25;
    EXPECT_EQ(call(m, 7, 2), 2500u);
    EXPECT_EQ(call(m, 7, 3), 1786080002u);
    EXPECT_EQ(call(m, 7, 4), 1786080002u);
    m.tick_count = 50000000;  // 5e9 ms: the uptime wraps to its low 32 bits
    EXPECT_EQ(call(m, 7, 2), static_cast<u32>(5000000000ull));
    EXPECT_EQ(call(m, 7, 5, 7), 0u);
}

TEST(InterfaceTables, FillAndAddressIndices) {
    TarvelMachine m = blank_machine();
    GuestMemory& mem = m.memory;
    const u32 t = 0x05000000;
    EXPECT_EQ(call(m, 0, 2, t), t);
    EXPECT_EQ(mem.read32(t + 94 * 4), service_stub(4, 94));
    EXPECT_EQ(mem.read32(t + 95 * 4), 0u);
    EXPECT_EQ(call(m, 0, 3, t), 0x0A000400u + 4 * 0x400);
    EXPECT_EQ(call(m, 0, 36), 0x0A000400u + 19 * 0x400);
    EXPECT_EQ(call(m, 0, 46), 0x0A000400u + 20 * 0x400);
    EXPECT_EQ(call(m, 0, 0, 0), 0u);

    // Index 26 writes exactly entries 8 and 10 of group 11.
    const u32 u = 0x05001000;
    for (u32 i = 0; i < 16; ++i) mem.write32(u + 4 * i, 0xEEEEEEEE);
    EXPECT_EQ(call(m, 0, 26, u), u);
    for (u32 i = 0; i < 16; ++i) {
        const u32 expected = i == 8 ? service_stub(11, 8) : i == 10 ? service_stub(11, 10) : 0xEEEEEEEE;
        EXPECT_EQ(mem.read32(u + 4 * i), expected) << i;
    }
    EXPECT_EQ(call(m, 0, 28, u), u);
    EXPECT_EQ(mem.read32(u + 240), service_stub(17, 60));

    EXPECT_EQ(call(m, 0, 34, u), 0u);
    EXPECT_EQ(mem.read32(u + 51 * 4), service_stub(0, 51));
    EXPECT_EQ(call(m, 0, 39, u), u);
    EXPECT_EQ(mem.read32(u + 10 * 4), service_stub(22, 10));
    EXPECT_EQ(call(m, 0, 49, 0), 0u);
    EXPECT_EQ(call(m, 0, 40), 0x0A0E0000u);
    EXPECT_EQ(call(m, 0, 50), 0x0A0E0400u);
    EXPECT_EQ(call(m, 0, 51), 0x0A0E0800u);
    EXPECT_EQ(call(m, 0, 41), 0x0A0E0C00u);
    EXPECT_EQ(call(m, 0, 43), 0x0A0E1000u);
    EXPECT_EQ(call(m, 0, 47, u), 0u);
    EXPECT_EQ(call(m, 0, 52, u), 0u);
}

// Every fill/address row of group 0: the fill writes exactly `count` stubs of
// its group and returns the table; the index beside it names the prebuilt table.
TEST(InterfaceTables, EveryRowOfTheTable) {
    struct Row {
        u32 fill, address, group, count;
    };
    const Row rows[] = {
        {0, 1, 5, 30},   {2, 3, 4, 95},    {4, 5, 7, 10},   {6, 7, 8, 21},   {8, 9, 2, 27},
        {10, 11, 12, 38}, {12, 13, 14, 12}, {14, 15, 9, 43}, {16, 17, 13, 11}, {18, 19, 1, 115},
        {20, 21, 15, 256}, {22, 23, 16, 24}, {24, 25, 10, 40}, {30, 31, 18, 31}, {32, 33, 3, 144},
        {35, 36, 19, 11}, {37, 38, 6, 22},  {45, 46, 20, 6},
    };
    TarvelMachine m = blank_machine();
    GuestMemory& mem = m.memory;
    const u32 t = 0x05000000;
    for (const Row& row : rows) {
        for (u32 i = 0; i <= 256; ++i) mem.write32(t + 4 * i, 0xEEEEEEEE);
        EXPECT_EQ(call(m, 0, row.fill, t), t) << row.fill;
        EXPECT_EQ(mem.read32(t), service_stub(row.group, 0)) << row.fill;
        EXPECT_EQ(mem.read32(t + 4 * (row.count - 1)), service_stub(row.group, row.count - 1)) << row.fill;
        EXPECT_EQ(mem.read32(t + 4 * row.count), 0xEEEEEEEEu) << row.fill;
        EXPECT_EQ(call(m, 0, row.fill, 0), 0u) << row.fill;
        EXPECT_EQ(call(m, 0, row.address, t), 0x0A000400u + row.group * 0x400) << row.address;
    }
    // The stub lists that return r0 unchanged, and their fixed blocks.
    const Row lists[] = {{39, 40, 22, 11}, {42, 41, 25, 20}, {44, 43, 26, 12}, {49, 50, 23, 38}};
    const u32 blocks[] = {0x0A0E0000, 0x0A0E0C00, 0x0A0E1000, 0x0A0E0400};
    for (size_t n = 0; n < 4; ++n) {
        const Row& row = lists[n];
        for (u32 i = 0; i <= 64; ++i) mem.write32(t + 4 * i, 0xEEEEEEEE);
        EXPECT_EQ(call(m, 0, row.fill, t), t) << row.fill;
        EXPECT_EQ(mem.read32(t + 4 * (row.count - 1)), service_stub(row.group, row.count - 1)) << row.fill;
        EXPECT_EQ(mem.read32(t + 4 * row.count), 0xEEEEEEEEu) << row.fill;
        EXPECT_EQ(call(m, 0, row.address, t), blocks[n]) << row.address;
        // The fixed block laid out at build holds the same stubs.
        EXPECT_EQ(mem.read32(blocks[n] + 4 * (row.count - 1)), service_stub(row.group, row.count - 1));
    }
    EXPECT_EQ(call(m, 0, 51), 0x0A0E0800u);
    EXPECT_EQ(mem.read32(0x0A0E0800 + 4 * 15), service_stub(24, 15));
    EXPECT_EQ(call(m, 0, 48, t), 0u);
    EXPECT_EQ(call(m, 0, 255, t), 0u);
}

TEST(SystemInfo, ConstantsAndStrings) {
    for (bool big_endian : {false, true}) {
        TarvelMachine m = blank_machine(big_endian);
        GuestMemory& mem = m.memory;
        const std::pair<u32, u32> constants[] = {{3, 3},  {89, 1}, {22, 255}, {33, 1002}, {65, 5}, {15, 1},
                                                 {37, 1}, {80, 1}, {30, 46},  {64, 14},   {4, 0}};
        for (const auto& [index, value] : constants) EXPECT_EQ(call(m, 1, index), value) << "1." << index;
        EXPECT_EQ(call(m, 1, 107, 5), 0u);
        EXPECT_EQ(call(m, 1, 17, 0x05000000), 4u);
        EXPECT_EQ(mem.read16(0x05000000), u'.');
        EXPECT_EQ(mem.read16(0x05000002), u'/');
        EXPECT_EQ(mem.read8(big_endian ? 0x05000001 : 0x05000000), '.');

        mem.write32(0x05000100, 0xFFFFFFFF);
        EXPECT_EQ(call(m, 1, 25, 0x05000100, 3), 0u);
        EXPECT_EQ(read_byte_string(mem, 0x05000100, 3), "cbe");
        EXPECT_EQ(mem.read8(0x05000103), 0xFF);  // no terminator
        EXPECT_EQ(call(m, 1, 25, 0x05000200, 100), 0u);
        EXPECT_EQ(read_byte_string(mem, 0x05000200, 100), "cbe_emu");

        m.instruction_count = 0x100000005ull;
        EXPECT_EQ(call(m, 1, 47), 5u);
        mem.write8(0x05000300, 9);
        EXPECT_EQ(call(m, 1, 106, 0, 0x05000300, 0), 0u);
        EXPECT_EQ(mem.read8(0x05000300), 9);
        call(m, 1, 106, 0, 0x05000300, 1);
        EXPECT_EQ(mem.read8(0x05000300), 0);
    }
}

TEST(SystemWords, GroupsElevenTwentyFourTwentyFive) {
    TarvelMachine m = blank_machine(true);
    GuestMemory& mem = m.memory;
    mem.write32(kSystemWordA, 0x12345678);
    EXPECT_EQ(call(m, 25, 0), 0x12345678u);
    EXPECT_EQ(call(m, 11, 8), 0u);
    EXPECT_EQ(mem.read32(kSystemWordA), 0u);
    EXPECT_EQ(mem.read32(kSystemWordB), 0x05800000u);
    EXPECT_EQ(mem.read8(kSystemWordB), 0x05);  // stored in guest byte order
    EXPECT_EQ(call(m, 11, 9), 0u);
    EXPECT_EQ(call(m, 25, 1), 0u);

    // Index 10 is the data service's resource directory constructor.
    call(m, 11, 10, 0x05000400, 2);
    EXPECT_EQ(mem.read8(0x05000400), 1);
    EXPECT_EQ(mem.read32(0x05000400 + 32), service_stub(21, 0));

    mem.write32(0x05000000 + 16, 0xAAAAAAAA);
    EXPECT_EQ(call(m, 24, 7, 0x05000000, 100), 0u);
    EXPECT_EQ(read_byte_string(mem, 0x05000000, 100), "111111111111111");
    EXPECT_EQ(mem.read8(0x05000010), 0xAA);
    EXPECT_EQ(call(m, 24, 7, 0x05000100, 4), 0u);
    EXPECT_EQ(read_byte_string(mem, 0x05000100, 100), "111");
    EXPECT_EQ(call(m, 24, 7, 0x05000200, 0), 0u);
    EXPECT_EQ(mem.read8(0x05000200), 0);
    EXPECT_EQ(call(m, 24, 6, 0x05000200, 10), 0u);
}

}  // namespace
}  // namespace tarvel::machine
