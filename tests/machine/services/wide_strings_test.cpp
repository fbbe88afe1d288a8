// Group 13: 16-bit strings in the guest's byte order, their limits, copies,
// search, comparisons and the conversion from byte strings.

#include "strings_fixture.hpp"

namespace tarvel::machine::strings_test {
namespace {

class WideStrings : public ::testing::TestWithParam<bool> {
protected:
    TarvelMachine m = make_machine(GetParam());
};

INSTANTIATE_TEST_SUITE_P(ByteOrder, WideStrings, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "BigEndian" : "LittleEndian"; });

TEST_P(WideStrings, UnitsAreStoredInGuestByteOrder) {
    // The bytes 00 41 00 42 are "AB" to a big-endian guest and two other
    // characters to a little-endian one; either way the copy keeps the bytes.
    ASSERT_TRUE(m.memory.write_bytes(kBuffer, std::vector<u8>{0x00, 0x41, 0x00, 0x42, 0, 0}));
    EXPECT_EQ(call(m, kWideGroup, 0, {kBuffer}), 2u);
    EXPECT_EQ(call(m, kWideGroup, 1, {kOther, kBuffer}), kOther);
    EXPECT_EQ(bytes_at(m, kOther, 6), std::string("\0\x41\0\x42\0\0", 6));
    put_units(m, kOther + 0x100, u"AB");
    const u32 expected = GetParam() ? 0u : static_cast<u32>(0x4100 - 0x41);
    EXPECT_EQ(call(m, kWideGroup, 8, {kBuffer, kOther + 0x100}), expected);
}

TEST_P(WideStrings, LengthStopsAtZeroLimitOrUnbackedUnit) {
    put_units(m, kBuffer, u"hello");
    EXPECT_EQ(call(m, kWideGroup, 0, {kBuffer}), 5u);
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>(2 * 40000, 0x31)));
    EXPECT_EQ(call(m, kWideGroup, 0, {kOther}), 32768u);
    EXPECT_EQ(call(m, kWideGroup, 0, {kUnmapped}), 0u);
    EXPECT_TRUE(recorded(m, kUnmapped));
}

TEST_P(WideStrings, CopyIncludesTheZeroUnitAndIsAlwaysTerminated) {
    put_units(m, kBuffer, u"copy");
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>(16, 0xEE)));
    EXPECT_EQ(call(m, kWideGroup, 1, {kOther, kBuffer}), kOther);
    EXPECT_EQ(units_at(m, kOther, 6), std::u16string(u"copy\0\xEEEE", 6));

    // No zero unit in the first 32768: those are copied, then a zero unit.
    ASSERT_TRUE(m.memory.write_bytes(kBuffer, std::vector<u8>(2 * 40000, 0x31)));
    call(m, kWideGroup, 1, {kOther, kBuffer});
    EXPECT_EQ(m.memory.read16(kOther + 2 * 32767), 0x3131);
    EXPECT_EQ(m.memory.read16(kOther + 2 * 32768), 0);
}

TEST_P(WideStrings, BoundedCopyPadsWithZeroUnitsToN) {
    put_units(m, kBuffer, u"ab");
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>(16, 0xEE)));
    EXPECT_EQ(call(m, kWideGroup, 4, {kOther, kBuffer, 5}), kOther);
    EXPECT_EQ(units_at(m, kOther, 6), std::u16string(u"ab\0\0\0\xEEEE", 6));

    put_units(m, kBuffer, u"abcdef");
    call(m, kWideGroup, 4, {kOther, kBuffer, 3});
    EXPECT_EQ(units_at(m, kOther, 4), std::u16string(u"abc\0", 4));  // the zero from before, not written now

    // A count running far past the stack region only fills what is backed.
    call(m, kWideGroup, 4, {kStackTop - 8, kBuffer, 0xFFFFFFFF});
    EXPECT_EQ(units_at(m, kStackTop - 8, 4), std::u16string(u"abcd", 4));
    EXPECT_TRUE(recorded(m, kStackTop));
}

TEST_P(WideStrings, FindUnit) {
    put_units(m, kBuffer, u"abcb");
    EXPECT_EQ(call(m, kWideGroup, 7, {kBuffer, 'b'}), kBuffer + 2);
    EXPECT_EQ(call(m, kWideGroup, 7, {kBuffer, 0x10000 | 'c'}), kBuffer + 4);  // only the low 16 bits count
    EXPECT_EQ(call(m, kWideGroup, 7, {kBuffer, 0}), kBuffer + 8);              // the terminator
    EXPECT_EQ(call(m, kWideGroup, 7, {kBuffer, 'z'}), 0u);
    m.memory.write16(kBuffer + 10, 'z');  // past the terminator: not searched
    EXPECT_EQ(call(m, kWideGroup, 7, {kBuffer, 'z'}), 0u);
    EXPECT_EQ(call(m, kWideGroup, 7, {kUnmapped, 'a'}), 0u);
}

TEST_P(WideStrings, ComparisonsFoldToUpperCaseAndCompareUnsigned) {
    put_units(m, kBuffer, u"abc");
    put_units(m, kOther, u"ABD");
    EXPECT_EQ(as_signed(call(m, kWideGroup, 9, {kBuffer, kOther})), 'C' - 'D');
    EXPECT_EQ(as_signed(call(m, kWideGroup, 8, {kBuffer, kOther})), 'a' - 'A');
    // 'a' folds to 'A' (0x41), which sorts before '[' (0x5B).
    put_units(m, kBuffer, u"a");
    put_units(m, kOther, u"[");
    EXPECT_EQ(as_signed(call(m, kWideGroup, 9, {kBuffer, kOther})), 'A' - '[');
    put_units(m, kBuffer, u"\xFFFF");
    put_units(m, kOther, u"\x0001");
    EXPECT_EQ(as_signed(call(m, kWideGroup, 8, {kBuffer, kOther})), 0xFFFE);
    // Bounded: min(n, 32768) units.
    put_units(m, kBuffer, u"same-x");
    put_units(m, kOther, u"same-y");
    EXPECT_EQ(call(m, kWideGroup, 10, {kBuffer, kOther, 5}), 0u);
    EXPECT_NE(call(m, kWideGroup, 10, {kBuffer, kOther, 6}), 0u);
    EXPECT_EQ(call(m, kWideGroup, 10, {kBuffer, kOther, 0}), 0u);
    ASSERT_TRUE(m.memory.write_bytes(kBuffer, std::vector<u8>(2 * 40000, 0x31)));
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>(2 * 40000, 0x31)));
    m.memory.write16(kOther + 2 * 32768, 0x3132);  // a difference just past the limit
    EXPECT_EQ(call(m, kWideGroup, 8, {kBuffer, kOther}), 0u);
    EXPECT_EQ(call(m, kWideGroup, 10, {kBuffer, kOther, 0xFFFFFFFF}), 0u);
}

TEST_P(WideStrings, ConversionFromByteStrings) {
    // GBK by default: D6 D0 is U+4E2D.
    put(m, kBuffer, "A\xD6\xD0" "b");
    ASSERT_TRUE(m.memory.write_bytes(kOther, std::vector<u8>(12, 0xEE)));
    EXPECT_EQ(call(m, kWideGroup, 3, {kOther, kBuffer}), kOther);
    EXPECT_EQ(units_at(m, kOther, 5), std::u16string(u"A\x4E2D" "b\0\xEEEE", 5));
    EXPECT_EQ(bytes_at(m, kOther, 4), GetParam() ? std::string("\0A\x4E\x2D", 4) : std::string("A\0\x2D\x4E", 4));
    // A UTF-8 byte-order mark selects UTF-8 and is dropped.
    put(m, kBuffer, "\xEF\xBB\xBF\xC3\xA9");
    call(m, kWideGroup, 3, {kOther, kBuffer});
    EXPECT_EQ(units_at(m, kOther, 2), std::u16string(u"\x00E9\0", 2));
    // An unbacked source gives an empty string.
    call(m, kWideGroup, 3, {kOther, kUnmapped});
    EXPECT_EQ(m.memory.read16(kOther), 0);
}

TEST_P(WideStrings, IndicesWithoutARoutineAnswerZeroAndWriteNothing) {
    put_units(m, kBuffer, u"ab");
    put_units(m, kOther, u"cd");
    for (u32 index : {2u, 5u, 6u, 11u, 200u}) {
        EXPECT_EQ(call(m, kWideGroup, index, {kBuffer, kOther, 4}), 0u);
        EXPECT_EQ(units_at(m, kBuffer, 3), std::u16string(u"ab\0", 3));
    }
}

TEST_P(WideStrings, OverlappingCopyIsAMove) {
    put_units(m, kBuffer, u"abcdef");
    call(m, kWideGroup, 1, {kBuffer + 4, kBuffer});
    EXPECT_EQ(units_at(m, kBuffer, 9), std::u16string(u"ababcdef\0", 9));
}

}  // namespace
}  // namespace tarvel::machine::strings_test
