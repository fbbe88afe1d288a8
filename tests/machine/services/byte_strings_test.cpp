// Group 6: copies, fills, lengths and comparisons on guest memory, with
// overlapping ranges, missing NULs, unbacked and read-only memory.

#include "strings_fixture.hpp"

namespace tarvel::machine::strings_test {
namespace {

TEST(ByteStringCopy, OverlappingRangesCopyWhatTheSourceHeldBefore) {
    for (u32 index : {0u, 11u}) {
        TarvelMachine m = make_machine();
        put(m, kBuffer, "0123456789");
        // Destination above the source, then below it.
        EXPECT_EQ(call(m, kStringGroup, index, {kBuffer + 2, kBuffer, 6}), kBuffer + 2);
        EXPECT_EQ(bytes_at(m, kBuffer, 10), "0101234589");
        put(m, kBuffer, "0123456789");
        call(m, kStringGroup, index, {kBuffer, kBuffer + 3, 7});
        EXPECT_EQ(bytes_at(m, kBuffer, 10), "3456789789");
    }
}

TEST(ByteStringCopy, ZeroCountTouchesNothing) {
    TarvelMachine m = make_machine();
    put(m, kBuffer, "keep");
    EXPECT_EQ(call(m, kStringGroup, 0, {kBuffer, kUnmapped, 0}), kBuffer);
    EXPECT_EQ(bytes_at(m, kBuffer, 4), "keep");
    EXPECT_TRUE(m.memory.unmapped_accesses().empty());
}

TEST(ByteStringCopy, UnbackedSourceBytesArriveAsZerosAndAreReported) {
    TarvelMachine m = make_machine();
    // The last four bytes of the stack region, then four unbacked bytes.
    const u32 source = kStackTop - 4;
    ASSERT_TRUE(m.memory.write_bytes(source, std::vector<u8>{'a', 'b', 'c', 'd'}));
    ASSERT_TRUE(m.memory.write_bytes(kBuffer, std::vector<u8>(8, 'x')));
    call(m, kStringGroup, 0, {kBuffer, source, 8});
    EXPECT_EQ(bytes_at(m, kBuffer, 8), std::string("abcd\0\0\0\0", 8));
    EXPECT_TRUE(recorded(m, kStackTop));
}

TEST(ByteStringCopy, ReadOnlyDestinationIsSkippedAndReported) {
    TarvelMachine m = make_machine();
    put(m, kBuffer, "abcdefgh");
    call(m, kStringGroup, 0, {kReadOnly, kBuffer, 8});
    EXPECT_EQ(m.memory.read8(kReadOnly), 0);
    EXPECT_TRUE(recorded(m, kReadOnly));

    // A destination that runs from backed memory off its end: the backed part is written.
    const u32 destination = kStackTop - 3;
    call(m, kStringGroup, 0, {destination, kBuffer, 8});
    EXPECT_EQ(bytes_at(m, destination, 3), "abc");
    EXPECT_TRUE(recorded(m, kStackTop));
}

TEST(ByteStringCopy, HugeCountsEndWithinBackedMemory) {
    TarvelMachine m = make_machine();
    put(m, kBuffer, "xyz");
    m.memory.write8(kTrapAreaBase, 'q');
    // From unbacked memory into the last region: the range ends at the top of
    // the address space instead of wrapping round onto the buffer.
    call(m, kStringGroup, 0, {kTrapAreaBase, kUnmapped, 0xFFFFFFFF});
    EXPECT_EQ(m.memory.read8(kTrapAreaBase), 0);
    EXPECT_EQ(bytes_at(m, kBuffer, 3), "xyz");
    EXPECT_TRUE(recorded(m, kTrapAreaBase + kTrapAreaSize));
    // A count that would run past the top of the address space does not wrap to 0.
    call(m, kStringGroup, 2, {0xFFFFFF00, 'q', 0x200});
    EXPECT_TRUE(recorded(m, 0xFFFFFF00));
}

TEST(ByteStringFill, WritesTheLowByteAndSkipsWhatCannotBeWritten) {
    TarvelMachine m = make_machine();
    EXPECT_EQ(call(m, kStringGroup, 2, {kBuffer, 0x1FF, 5}), kBuffer);
    EXPECT_EQ(bytes_at(m, kBuffer, 6), std::string("\xFF\xFF\xFF\xFF\xFF\0", 6));
    call(m, kStringGroup, 2, {kStackTop - 2, 'z', 4});
    EXPECT_EQ(bytes_at(m, kStackTop - 2, 2), "zz");
    EXPECT_TRUE(recorded(m, kStackTop));
    call(m, kStringGroup, 2, {kReadOnly, 'z', 4});
    EXPECT_EQ(m.memory.read8(kReadOnly), 0);
    EXPECT_TRUE(recorded(m, kReadOnly));
}

TEST(ByteStringLength, StopsAtNulLimitOrUnbackedByte) {
    TarvelMachine m = make_machine();
    put(m, kBuffer, "hello");
    EXPECT_EQ(call(m, kStringGroup, 1, {kBuffer}), 5u);
    // No NUL in 70000 bytes: the answer is capped.
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>(70000, 'a')));
    EXPECT_EQ(call(m, kStringGroup, 1, {kOther}), 65536u);
    // A string that runs off the end of its region ends there.
    ASSERT_TRUE(m.memory.write_bytes(kStackTop - 3, std::vector<u8>{'a', 'b', 'c'}));
    EXPECT_EQ(call(m, kStringGroup, 1, {kStackTop - 3}), 3u);
    EXPECT_TRUE(recorded(m, kStackTop));
    EXPECT_EQ(call(m, kStringGroup, 1, {kUnmapped}), 0u);
    EXPECT_TRUE(recorded(m, kUnmapped));
}

TEST(ByteStringCopies, BoundedCopyPadsToNAndLeavesLongSourcesUnterminated) {
    TarvelMachine m = make_machine();
    put(m, kBuffer, "ab");
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>(8, 'x')));
    EXPECT_EQ(call(m, kStringGroup, 7, {kOther, kBuffer, 6}), kOther);
    EXPECT_EQ(bytes_at(m, kOther, 8), std::string("ab\0\0\0\0xx", 8));

    put(m, kBuffer, "abcdef");
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>(8, 'x')));
    call(m, kStringGroup, 7, {kOther, kBuffer, 3});
    EXPECT_EQ(bytes_at(m, kOther, 4), "abcx");

    // n = 0 writes nothing.
    call(m, kStringGroup, 7, {kOther, kBuffer, 0});
    EXPECT_EQ(bytes_at(m, kOther, 4), "abcx");
}

TEST(ByteStringCopies, CopyAndAppendTerminate) {
    TarvelMachine m = make_machine();
    put(m, kBuffer, "tail");
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>(12, 'x')));
    EXPECT_EQ(call(m, kStringGroup, 8, {kOther, kBuffer}), kOther);
    EXPECT_EQ(bytes_at(m, kOther, 6), std::string("tail\0x", 6));
    EXPECT_EQ(call(m, kStringGroup, 9, {kOther, kBuffer}), kOther);
    EXPECT_EQ(bytes_at(m, kOther, 10), std::string("tailtail\0x", 10));
    // Appending a string to itself reads it before the append overwrites its NUL.
    call(m, kStringGroup, 9, {kBuffer, kBuffer});
    EXPECT_EQ(bytes_at(m, kBuffer, 9), std::string("tailtail\0", 9));
}

TEST(ByteStringCopies, CopyOfAStringWithoutNulStopsAtTheCap) {
    TarvelMachine m = make_machine();
    ASSERT_TRUE(m.memory.write_bytes(kBuffer, std::vector<u8>(70000, 'a')));
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>(70000, 'x')));
    call(m, kStringGroup, 8, {kOther, kBuffer});
    EXPECT_EQ(m.memory.read8(kOther + 65535), 'a');
    EXPECT_EQ(m.memory.read8(kOther + 65536), 0);
    EXPECT_EQ(m.memory.read8(kOther + 65537), 'x');
}

TEST(ByteStringCompare, DifferenceOfTheFirstDifferingBytesAsUnsigned) {
    TarvelMachine m = make_machine();
    put(m, kBuffer, "abc");
    put(m, kOther, "abd");
    EXPECT_EQ(as_signed(call(m, kStringGroup, 14, {kBuffer, kOther})), -1);
    EXPECT_EQ(as_signed(call(m, kStringGroup, 14, {kOther, kBuffer})), 1);
    put(m, kOther, "abc");
    EXPECT_EQ(call(m, kStringGroup, 14, {kBuffer, kOther}), 0u);
    put(m, kOther, "ab");
    EXPECT_EQ(as_signed(call(m, kStringGroup, 14, {kBuffer, kOther})), 'c');
    put(m, kOther, "\xFF");
    EXPECT_EQ(as_signed(call(m, kStringGroup, 14, {kBuffer, kOther})), 'a' - 0xFF);
    // An unbacked operand reads as an empty string.
    EXPECT_EQ(as_signed(call(m, kStringGroup, 14, {kBuffer, kUnmapped})), 'a');
    EXPECT_TRUE(recorded(m, kUnmapped));
}

TEST(ByteStringCompare, IgnoringCaseFoldsToLowerCase) {
    TarvelMachine m = make_machine();
    put(m, kBuffer, "abc");
    put(m, kOther, "ABD");
    EXPECT_LT(as_signed(call(m, kStringGroup, 20, {kBuffer, kOther})), 0);
    put(m, kOther, "ABC");
    EXPECT_EQ(call(m, kStringGroup, 20, {kBuffer, kOther}), 0u);
    // 'A' folds to 'a' (0x61), which sorts after '[' (0x5B).
    put(m, kBuffer, "A");
    put(m, kOther, "[");
    EXPECT_EQ(as_signed(call(m, kStringGroup, 20, {kBuffer, kOther})), 'a' - '[');
    EXPECT_EQ(as_signed(call(m, kStringGroup, 14, {kBuffer, kOther})), 'A' - '[');
    // Bounded: only the first n bytes count.
    put(m, kBuffer, "HELLO");
    put(m, kOther, "helpx");
    EXPECT_EQ(call(m, kStringGroup, 21, {kBuffer, kOther, 3}), 0u);
    EXPECT_NE(call(m, kStringGroup, 21, {kBuffer, kOther, 4}), 0u);
    EXPECT_EQ(call(m, kStringGroup, 21, {kBuffer, kOther, 0}), 0u);
}

TEST(ByteStringCompare, MemoryCompareLooksPastNulAndBoundedStringCompareDoesNot) {
    TarvelMachine m = make_machine();
    ASSERT_TRUE(m.memory.write_bytes(kBuffer, std::vector<u8>{'a', 0, 'b'}));
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>{'a', 0, 'c'}));
    EXPECT_EQ(as_signed(call(m, kStringGroup, 15, {kBuffer, kOther, 3})), -1);
    EXPECT_EQ(call(m, kStringGroup, 16, {kBuffer, kOther, 3}), 0u);
    EXPECT_EQ(call(m, kStringGroup, 15, {kBuffer, kOther, 2}), 0u);
    EXPECT_EQ(call(m, kStringGroup, 15, {kBuffer, kOther, 0}), 0u);
    EXPECT_EQ(call(m, kStringGroup, 16, {kBuffer, kOther, 0}), 0u);
    // Unbacked bytes read as zeros, so they equal zeros in backed memory.
    EXPECT_EQ(call(m, kStringGroup, 15, {kUnmapped, kBuffer + 0x1000, 0x10000}), 0u);
    EXPECT_EQ(as_signed(call(m, kStringGroup, 15, {kUnmapped, kBuffer, 3})), -'a');
    // Two unbacked operands over a huge count compare equal without walking it byte by byte.
    EXPECT_EQ(call(m, kStringGroup, 15, {0x40000000, 0x50000000, 0xFFFFFFFF}), 0u);
}

TEST(ByteStringService, CounterAndIndicesWithoutARoutine) {
    TarvelMachine m = make_machine();
    m.instruction_count = 0x100000005ull;
    EXPECT_EQ(call(m, kStringGroup, 5), 5u);
    for (u32 index : {4u, 6u, 17u, 18u, 19u, 22u, 255u}) EXPECT_EQ(call(m, kStringGroup, index, {kBuffer, 1, 2}), 0u);
}

}  // namespace
}  // namespace tarvel::machine::strings_test
