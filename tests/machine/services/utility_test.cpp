// The utility service: the resource directory word and resource lookups with
// their fallbacks, the group 3 aliases, cursor reads and writes, string
// equality, fixed-point trigonometry, the vector angle and rectangle overlap.

#include "machine/services/utility.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "machine/cpu_bridge.hpp"
#include "machine/services/data.hpp"
#include "support/test_machine.hpp"

namespace tarvel::machine::services {
namespace {

using cbe_writer::resource;
using test::call;
using test::guest_cstring;
using test::make_machine;
using test::put_string;

constexpr u32 kMinusOne = 0xFFFFFFFF;

// The last name is stored in UTF-8 with its mark: U+56FE ".png".
TarvelMachine resource_machine(bool big_endian = false) {
    const std::vector<u8> marked_name = {0xEF, 0xBB, 0xBF, 0xE5, 0x9B, 0xBE, '.', 'p', 'n', 'g'};
    return make_machine({.big_endian = big_endian,
                         .resources = {resource("Logo.png", {0x11}), resource("tune.mid", {0x22, 0x22}),
                                       resource("data.bin", {0x33}), resource(marked_name, {0x44})}});
}

u32 utility(TarvelMachine& m, u32 index, u32 r0 = 0, u32 r1 = 0, u32 r2 = 0, u32 r3 = 0) {
    return call(m, utility_service, index, r0, r1, r2, r3);
}

u32 loaded_directory(TarvelMachine& m) {
    const u32 record = m.heap.allocate(kResourceDirectorySize);
    call(m, data_service, 0, record, 1);
    call(m, data_service, 4, record);
    return record;
}

TEST(UtilityResources, TheDirectoryWordIsSetAndReadThroughBothGroups) {
    TarvelMachine m = resource_machine(true);
    EXPECT_EQ(utility(m, 10), 0u);
    EXPECT_EQ(utility(m, 9, 0x05001230), 0u);
    EXPECT_EQ(m.memory.read32(0x0A007FF0), 0x05001230u);
    EXPECT_EQ(m.memory.read8(0x0A007FF0), 0x05);  // guest byte order
    EXPECT_EQ(utility(m, 10), 0x05001230u);

    // Group 3's 81 and 82, through the dispatcher.
    EXPECT_EQ(call(m, 3, 81, 0x05004560), 0u);
    EXPECT_EQ(call(m, 3, 82), 0x05004560u);
    EXPECT_EQ(utility(m, 10), 0x05004560u);
}

TEST(UtilityResources, LookupsFallBackToTheMachinesCopiesAndTheMainTable) {
    TarvelMachine m = resource_machine();
    // Nothing copied yet: numbers find nothing, names still give numbers.
    EXPECT_EQ(utility(m, 11, 0), 0u);
    EXPECT_EQ(utility(m, 13, 0), 0u);
    EXPECT_EQ(utility(m, 14, put_string(m, "TUNE.MID")), 1u);
    EXPECT_EQ(utility(m, 12, put_string(m, "tune.mid")), 0u);
    EXPECT_EQ(utility(m, 14, put_string(m, "\xCD\xBC.PNG")), 3u);  // GBK asks for the marked UTF-8 name
    EXPECT_EQ(utility(m, 14, put_string(m, "tune.mid ")), kMinusOne);

    loaded_directory(m);  // copies made, but the word stays 0
    const LoadedResources& loaded = m.loaded_resources;
    EXPECT_EQ(utility(m, 11, 1), loaded.data_addresses[1]);
    EXPECT_EQ(utility(m, 11, 4), 0u);
    EXPECT_EQ(utility(m, 13, 2), loaded.name_addresses[2]);
    EXPECT_EQ(guest_cstring(m, utility(m, 13, 0)), "Logo.png");
    for (u32 index : {12u, 15u, 16u}) EXPECT_EQ(utility(m, index, put_string(m, "LOGO.PNG")), loaded.data_addresses[0]);
    EXPECT_EQ(utility(m, 14, put_string(m, "logo.png")), 0u);
    EXPECT_EQ(utility(m, 14, put_string(m, "logo")), kMinusOne);
    EXPECT_EQ(utility(m, 12, put_string(m, "logo")), 0u);
    EXPECT_EQ(utility(m, 14, 0x10), kMinusOne);  // unreadable name
}

TEST(UtilityResources, ARegisteredDirectoryAnswersFirst) {
    TarvelMachine m = resource_machine();
    const u32 record = loaded_directory(m);
    const LoadedResources& loaded = m.loaded_resources;
    utility(m, 9, record);

    // Point the directory's entry 1 somewhere else and rename entry 2.
    const u32 data = m.memory.read32(record + 16);
    m.memory.write32(data + 4, 0x05111110);
    m.memory.write32(data + 8, 0);
    m.memory.write32(m.memory.read32(record + 12) + 8, put_string(m, "other.bin"));

    EXPECT_EQ(utility(m, 11, 1), 0x05111110u);
    EXPECT_EQ(utility(m, 11, 2), loaded.data_addresses[2]);  // the directory gives 0
    EXPECT_EQ(utility(m, 14, put_string(m, "OTHER.bin")), 2u);
    EXPECT_EQ(utility(m, 12, put_string(m, "tune.mid")), 0x05111110u);
    // A name only the main table knows still resolves.
    EXPECT_EQ(utility(m, 14, put_string(m, "data.BIN")), 2u);
    EXPECT_EQ(guest_cstring(m, utility(m, 13, 2)), "other.bin");

    // The group 3 aliases give the same answers.
    EXPECT_EQ(call(m, utility_alias_from_group3, 83, 1), 0x05111110u);
    for (u32 index : {84u, 87u, 88u}) {
        EXPECT_EQ(call(m, utility_alias_from_group3, index, put_string(m, "logo.png")), loaded.data_addresses[0]);
    }
    EXPECT_EQ(call(m, utility_alias_from_group3, 85, 0), loaded.name_addresses[0]);
    EXPECT_EQ(call(m, utility_alias_from_group3, 86, put_string(m, "nope")), kMinusOne);
    for (u32 index : {0u, 80u, 89u, 200u}) EXPECT_EQ(call(m, utility_alias_from_group3, index, 5, 6), 0u);
}

TEST(UtilityStrings, EqualityComparesBytesWithoutFolding) {
    TarvelMachine m = resource_machine();
    const u32 abc = put_string(m, "abc");
    EXPECT_EQ(utility(m, 18, abc, put_string(m, "abc")), 1u);
    EXPECT_EQ(utility(m, 18, abc, put_string(m, "ABC")), 0u);
    EXPECT_EQ(utility(m, 18, abc, put_string(m, "ab")), 0u);
    EXPECT_EQ(utility(m, 18, abc, put_string(m, "abcd")), 0u);
    EXPECT_EQ(utility(m, 18, put_string(m, ""), put_string(m, "")), 1u);
    // Bytes past the 4096th do not count.
    const std::string long_a = std::string(4096, 'z') + "1";
    const std::string long_b = std::string(4096, 'z') + "2";
    EXPECT_EQ(utility(m, 18, put_string(m, long_a), put_string(m, long_b)), 1u);
    // An unreadable string reads as empty.
    EXPECT_EQ(utility(m, 18, 0x10, put_string(m, "")), 1u);
    EXPECT_EQ(utility(m, 18, 0x10, abc), 0u);
}

TEST(UtilityCursor, ReadsAndWritesAdvanceTheCursorInGuestByteOrder) {
    for (bool big_endian : {false, true}) {
        TarvelMachine m = resource_machine(big_endian);
        const u32 buffer = m.heap.allocate(64);
        const u32 cursor = m.heap.allocate(4);
        m.memory.write32(cursor, 0);

        EXPECT_EQ(utility(m, 23, buffer, cursor, 0xABCD1234), 2u);
        EXPECT_EQ(utility(m, 24, buffer, cursor, 0xCAFEF00D), 6u);
        EXPECT_EQ(m.memory.read32(cursor), 6u);
        EXPECT_EQ(m.memory.read16(buffer), 0x1234);
        EXPECT_EQ(m.memory.read32(buffer + 2), 0xCAFEF00Du);
        EXPECT_EQ(m.memory.read8(buffer), big_endian ? 0x12 : 0x34);

        m.memory.write32(cursor, 0);
        EXPECT_EQ(utility(m, 19, buffer, cursor), 0x1234u);
        EXPECT_EQ(m.memory.read32(cursor), 2u);
        EXPECT_EQ(utility(m, 20, buffer, cursor), 0xCAFEF00Du);
        EXPECT_EQ(m.memory.read32(cursor), 6u);
        // Halfwords are zero-extended.
        m.memory.write16(buffer + 6, 0xFFFE);
        EXPECT_EQ(utility(m, 19, buffer, cursor), 0xFFFEu);
    }
}

TEST(UtilityCursor, UnreadableCursorsAndBuffersNeverFail) {
    TarvelMachine m = resource_machine();
    const u32 buffer = m.heap.allocate(16);
    m.memory.write32(buffer, 0x01020304);
    // An unreadable cursor counts as 0 and its write-back is dropped; the result stands.
    EXPECT_EQ(utility(m, 20, buffer, 0x10), 0x01020304u);
    EXPECT_EQ(utility(m, 24, buffer, 0x10, 7), 4u);
    EXPECT_EQ(m.memory.read32(buffer), 7u);
    EXPECT_EQ(m.memory.unmapped_accesses().count(0x10), 1u);
    // An unreadable buffer reads as 0, and the cursor still moves.
    const u32 cursor = m.heap.allocate(4);
    m.memory.write32(cursor, 0);
    EXPECT_EQ(utility(m, 20, 0x20, cursor), 0u);
    EXPECT_EQ(m.memory.read32(cursor), 4u);
}

TEST(UtilityCursor, LengthPrefixedStrings) {
    TarvelMachine m = resource_machine(true);
    const u32 buffer = m.heap.allocate(64);
    const u32 cursor = m.heap.allocate(4);
    const std::vector<u8> bytes = {3, 'a', 'b', 'c', 0, 'x'};
    m.memory.write_bytes(buffer, bytes);
    m.memory.write32(cursor, 0);
    const u32 abc = utility(m, 25, buffer, cursor);
    EXPECT_EQ(guest_cstring(m, abc), "abc");
    EXPECT_GE(m.heap.block_size(abc), 4u);
    EXPECT_EQ(m.memory.read32(cursor), 4u);
    // A zero length gives an empty string and moves past the length byte.
    const u32 empty = utility(m, 25, buffer, cursor);
    EXPECT_NE(empty, 0u);
    EXPECT_EQ(guest_cstring(m, empty), "");
    EXPECT_EQ(m.memory.read32(cursor), 5u);

    // 32-bit lengths, in guest byte order.
    m.memory.write32(buffer + 16, 2);
    m.memory.write_bytes(buffer + 20, std::vector<u8>{'h', 'i', '!'});
    m.memory.write32(cursor, 16);
    EXPECT_EQ(guest_cstring(m, utility(m, 29, buffer, cursor)), "hi");
    EXPECT_EQ(m.memory.read32(cursor), 22u);
}

TEST(UtilityCursor, ThirtyTwoBitLengthLimitsAndUnreadableLengths) {
    TarvelMachine m = resource_machine();
    const u32 buffer = m.heap.allocate(16);
    const u32 cursor = m.heap.allocate(4);
    m.memory.write32(buffer, 0x1000001);
    m.memory.write32(cursor, 0);
    EXPECT_EQ(utility(m, 29, buffer, cursor), 0u);
    EXPECT_EQ(m.memory.read32(cursor), 0u);
    // Within the limit but beyond the heap: the heap's answer, 0.
    m.memory.write32(buffer, 0x1000000);
    EXPECT_EQ(utility(m, 29, buffer, cursor), 0u);
    EXPECT_EQ(m.memory.read32(cursor), 0x1000004u);
    // No length word to read: an empty heap string, and the cursor moves by 4.
    m.memory.write32(cursor, 8);
    const u32 empty = utility(m, 29, 0x40, cursor);
    ASSERT_NE(empty, 0u);
    EXPECT_EQ(guest_cstring(m, empty), "");
    EXPECT_EQ(m.memory.read32(cursor), 12u);
    // String bytes past backed memory copy as zeros; the block is still whole.
    const u32 tail = kRamBase + kRamSize - 6;
    m.memory.write32(tail, 5);
    m.memory.write8(tail + 4, 'q');
    m.memory.write32(cursor, 0);
    const u32 cut = utility(m, 29, tail, cursor);
    ASSERT_NE(cut, 0u);
    EXPECT_EQ(guest_cstring(m, cut), "q");
    EXPECT_EQ(m.memory.read32(cursor), 9u);
}

TEST(UtilityMisc, SystemArenaAddressAndUnknownIndices) {
    TarvelMachine m = resource_machine();
    EXPECT_EQ(utility(m, 30), 0x05800000u);
    for (u32 index : {0u, 8u, 17u, 21u, 22u, 26u, 35u, 39u, 255u}) EXPECT_EQ(utility(m, index, 1, 2, 3, 4), 0u) << index;
}

TEST(UtilityTrigonometry, SineAndCosineOnTheFixedScale) {
    TarvelMachine m = resource_machine();
    auto sine = [&](i32 degrees) { return static_cast<i32>(utility(m, 31, static_cast<u32>(degrees))); };
    auto cosine = [&](i32 degrees) { return static_cast<i32>(utility(m, 32, static_cast<u32>(degrees))); };
    EXPECT_EQ(sine(90), 4096);
    EXPECT_EQ(sine(270), -4096);
    EXPECT_EQ(sine(30), 2047);   // 2047.999..., truncated
    EXPECT_EQ(sine(-30), -2047);  // toward zero on both sides
    EXPECT_EQ(sine(0), 0);
    EXPECT_EQ(sine(180), 0);
    EXPECT_EQ(sine(-90), -4096);
    EXPECT_EQ(sine(450), 4096);
    EXPECT_EQ(cosine(0), 4096);
    EXPECT_EQ(cosine(180), -4096);
    EXPECT_EQ(cosine(90), 0);
    EXPECT_EQ(cosine(60), 2047);
    // The cosine's 90 degrees are added in 32 bits and wrap.
    constexpr i32 kMax = std::numeric_limits<i32>::max();
    EXPECT_EQ(cosine(kMax), fixed_sine(static_cast<i32>(static_cast<u32>(kMax) + 90u)));
    for (i32 d : {kMax, std::numeric_limits<i32>::min(), 123456789}) {
        EXPECT_LE(std::abs(sine(d)), 4096) << d;
        EXPECT_EQ(sine(d), static_cast<i32>(std::sin(d * std::numbers::pi / 180.0) * 4096)) << d;
    }
}

TEST(UtilityTrigonometry, VectorAngleInWholeDegrees) {
    TarvelMachine m = resource_machine();
    auto angle = [&](i32 x, i32 y) { return utility(m, 33, static_cast<u32>(x), static_cast<u32>(y)); };
    EXPECT_EQ(angle(5, 0), 0u);
    EXPECT_EQ(angle(0, 5), 90u);
    EXPECT_EQ(angle(-5, 0), 180u);
    EXPECT_EQ(angle(0, -5), 270u);
    EXPECT_EQ(angle(0, 0), 0u);
    EXPECT_EQ(angle(100000, -1), 0u);  // just below the axis rounds to 0, never 360
    EXPECT_EQ(angle(std::numeric_limits<i32>::min(), std::numeric_limits<i32>::min()), 225u);
    // Every whole degree comes back within one degree, from vectors on the fixed scale.
    for (i32 d = 0; d < 360; ++d) {
        const u32 found = angle(fixed_cosine(d), fixed_sine(d));
        const u32 diff = (found + 360 - static_cast<u32>(d)) % 360;
        EXPECT_TRUE(diff <= 1 || diff == 359) << d << " gave " << found;
        EXPECT_LT(found, 360u);
    }
}

u32 pack(i32 low, i32 high) { return (static_cast<u32>(high) << 16) | (static_cast<u32>(low) & 0xFFFF); }

TEST(UtilityRectangles, OverlapIsStrict) {
    TarvelMachine m = resource_machine();
    auto overlap = [&](u32 a, u32 as, u32 b, u32 bs) { return utility(m, 34, a, as, b, bs); };
    EXPECT_EQ(overlap(pack(0, 0), pack(10, 10), pack(10, 0), pack(5, 5)), 0u);  // touching on the right
    EXPECT_EQ(overlap(pack(0, 0), pack(10, 10), pack(9, 9), pack(5, 5)), 1u);
    EXPECT_EQ(overlap(pack(0, 0), pack(10, 10), pack(0, 10), pack(5, 5)), 0u);  // touching below
    EXPECT_EQ(overlap(pack(2, 2), pack(1, 1), pack(0, 0), pack(10, 10)), 1u);  // inside
    // Halves are signed: a rectangle at (-5, -5) of size 6 reaches (0, 0).
    EXPECT_EQ(overlap(pack(-5, -5), pack(6, 6), pack(0, 0), pack(1, 1)), 1u);
    EXPECT_EQ(overlap(pack(-5, -5), pack(5, 5), pack(0, 0), pack(1, 1)), 0u);
    // Empty and negative sizes overlap nothing.
    EXPECT_EQ(overlap(pack(0, 0), pack(0, 10), pack(0, 0), pack(10, 10)), 0u);
    EXPECT_EQ(overlap(pack(0, 0), pack(-10, 10), pack(-5, 0), pack(10, 10)), 0u);
    // Extremes of the 16-bit range do not wrap.
    EXPECT_EQ(overlap(pack(32767, 0), pack(32767, 1), pack(-32768, 0), pack(1, 1)), 0u);
    EXPECT_EQ(overlap(pack(32767, 0), pack(32767, 1), pack(32767, 0), pack(1, 1)), 1u);
}

TEST(UtilityDispatch, GuestCallsReachTheHandlersThroughTheTrapArea) {
    TarvelMachine m = resource_machine();
    m.cpu.regs.set_cpsr(0x30);
    m.cpu.regs.r[13] = kStackTop;
    ASSERT_TRUE(call_guest(m, service_stub(10, 31) | 1, 90, 0, 0, 10).ok());
    EXPECT_EQ(m.cpu.regs.r[0], 4096u);
    ASSERT_TRUE(call_guest(m, service_stub(10, 14) | 1, put_string(m, "data.bin"), 0, 0, 10).ok());
    EXPECT_EQ(m.cpu.regs.r[0], 2u);
    EXPECT_EQ((m.service_call_counts[ServiceKey{10, 14}]), 1u);
}

}  // namespace
}  // namespace tarvel::machine::services
