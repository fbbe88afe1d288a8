#include <gtest/gtest.h>

#include <random>

#include "cbe/archive.hpp"
#include "cbe/word_sum.hpp"
#include "cbe_test_support.hpp"

namespace tarvel::cbe {
namespace {

using cbe_writer::CbeBuilder;
using cbe_writer::word_sum;
using test::counting_bytes;
using test::valid_builder;

std::string error_of(const std::vector<u8>& file) {
    auto result = parse_executable(file);
    if (result.ok()) return "<parsed>";
    EXPECT_EQ(result.error().chain().size(), 1u) << "container errors are a single message";
    return result.error().to_string();
}

std::string error_of(const CbeBuilder& b) { return error_of(b.build()); }

TEST(CbeContainer, RoundTripsEveryField) {
    CbeBuilder b = valid_builder();
    b.trailing = {1, 2, 3, 4, 5};
    auto built = b.build_with_layout();
    auto exe = parse_executable(built.bytes);
    ASSERT_TRUE(exe.ok()) << exe.error().to_string();
    EXPECT_EQ(exe->load_address, 0x01000000u);
    EXPECT_EQ(exe->data_offset, 0x100u);
    EXPECT_EQ(exe->data_address, 0x01000100u);
    EXPECT_EQ(exe->data_size, 0x40u);
    EXPECT_EQ(exe->code_offset, built.layout.code_offset);
    EXPECT_EQ(exe->code_length, 32u);
    EXPECT_EQ(exe->init_data_offset, built.layout.init_data_offset);
    EXPECT_EQ(exe->init_data_length, 12u);
    EXPECT_EQ(exe->embedded_offset, built.layout.embedded_offset);
    EXPECT_EQ(exe->embedded_length, 9u);
    EXPECT_EQ(exe->resource_offset, built.layout.resource_offset);
    EXPECT_EQ(exe->resource_length, b.resource_package.size());
    EXPECT_EQ(exe->big_endian, 0);
}

TEST(CbeContainer, BigEndianChecksumsSelectBigEndianOrder) {
    CbeBuilder b = valid_builder();
    b.big_endian = true;
    auto built = b.build_with_layout();
    auto exe = parse_executable(built.bytes);
    ASSERT_TRUE(exe.ok()) << exe.error().to_string();
    EXPECT_EQ(exe->big_endian, 1);
    EXPECT_EQ(exe->init_data_offset, built.layout.init_data_offset);
    EXPECT_EQ(exe->embedded_offset, built.layout.embedded_offset);
}

TEST(CbeContainer, CodeWithEqualSumsInBothOrdersIsLittleEndian) {
    CbeBuilder b = valid_builder();
    b.code = {0x12, 0x34, 0x34, 0x12, 0xAB, 0xCD, 0xCD, 0xAB};  // byte-palindromic words
    ASSERT_EQ(word_sum(b.code, false), word_sum(b.code, true));
    b.big_endian = true;  // the code's checksum reads the same either way
    b.init_data_big_endian = false;
    b.embedded_big_endian = false;
    auto exe = parse_executable(b.build());
    ASSERT_TRUE(exe.ok()) << exe.error().to_string();
    EXPECT_EQ(exe->big_endian, 0);
}

TEST(CbeContainer, SegmentsMayStartWithSeparatorBytes) {
    CbeBuilder b = valid_builder();
    b.code = {0xFE, 0xFE, 0xFE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    b.init_data = {0xFE, 0x10, 0x20, 0x30, 0x40};
    b.separators = {20, 9, 8, 30, 8};
    auto built = b.build_with_layout();
    auto exe = parse_executable(built.bytes);
    ASSERT_TRUE(exe.ok()) << exe.error().to_string();
    EXPECT_EQ(exe->code_offset, built.layout.code_offset);
    EXPECT_EQ(exe->init_data_offset, built.layout.init_data_offset);
    EXPECT_EQ(exe->resource_offset, built.layout.resource_offset);
}

TEST(CbeContainer, ShortSegmentsMatchOnlyAZeroChecksum) {
    CbeBuilder b = valid_builder();
    b.embedded = {7, 8, 9};  // shorter than a word: its sum is 0
    auto built = b.build_with_layout();
    auto exe = parse_executable(built.bytes);
    ASSERT_TRUE(exe.ok()) << exe.error().to_string();
    EXPECT_EQ(exe->embedded_offset, built.layout.embedded_offset);
    b.embedded_checksum = 5;
    EXPECT_EQ(error_of(b), "CBE embedded package checksum mismatch");
}

// An empty segment's separator and the next one form a single run. The file
// must still parse, with the next segment found behind the rest of the run.
TEST(CbeContainer, EmptySegmentsShareTheirRunWithTheNextSeparator) {
    for (bool big : {false, true}) {
        CbeBuilder b = valid_builder();
        b.big_endian = big;
        b.init_data = {};
        b.embedded = {};
        b.separators = {8, 8, 8, 12, 8};
        auto built = b.build_with_layout();
        auto exe = parse_executable(built.bytes);
        ASSERT_TRUE(exe.ok()) << exe.error().to_string();
        EXPECT_EQ(exe->big_endian, big ? 1 : 0);
        EXPECT_EQ(exe->init_data_length, 0u);
        EXPECT_EQ(exe->init_data_offset, built.layout.init_data_offset);
        EXPECT_EQ(exe->embedded_length, 0u);
        EXPECT_EQ(exe->resource_offset, built.layout.resource_offset);

        b.init_data_checksum = 1;
        EXPECT_EQ(error_of(b), "CBE initialized data checksum mismatch");
    }
    // The segment after an empty one may itself begin with separator bytes.
    CbeBuilder b = valid_builder();
    b.init_data = {};
    b.embedded = {0xFE, 0xFE, 0x10, 0x20, 0x30, 0x40, 0x50};
    auto built = b.build_with_layout();
    auto exe = parse_executable(built.bytes);
    ASSERT_TRUE(exe.ok()) << exe.error().to_string();
    EXPECT_EQ(exe->embedded_offset, built.layout.embedded_offset);
    // A run that is only the empty segment's separator ends the file's layout
    // there: nothing is left for the next separator.
    b = valid_builder();
    b.init_data = {};
    b.separators[2] = 0;
    EXPECT_EQ(error_of(b), fmt::format("missing CBE segment separator at 0x{:x}", built.layout.init_data_offset));
}

TEST(CbeContainer, TrailingPartialWordIsNotSummed) {
    CbeBuilder b = valid_builder();
    b.code = {1, 0, 0, 0, 2, 0, 0, 0, 0xAA, 0xBB};
    b.code_checksum = 3;
    EXPECT_TRUE(parse_executable(b.build()).ok());
}

TEST(CbeContainer, HeaderSizeLimits) {
    std::vector<u8> file = valid_builder().build();
    file.resize(151);
    EXPECT_EQ(error_of(file), "CBE executable header is truncated");
    EXPECT_EQ(error_of(std::vector<u8>(152, 0)), "invalid CBE header marker at 0x0")
        << "152 bytes proceed to the marker checks";
    EXPECT_EQ(error_of(std::vector<u8>{}), "CBE executable header is truncated");
}

TEST(CbeContainer, EachFixedMarkerIsCheckedInOrder) {
    for (u32 marker : cbe_writer::kHeaderMarkerOffsets) {
        CbeBuilder b = valid_builder();
        b.patch(marker + 7, 0xFF);
        b.patch(48 + 3, 0x00);  // a later marker is broken too; the first one is reported
        EXPECT_EQ(error_of(b), fmt::format("invalid CBE header marker at 0x{:x}", marker));
    }
    CbeBuilder b = valid_builder();
    b.patch(13, 0xFD);
    EXPECT_EQ(error_of(b), "invalid CBE header marker at 0xc");
}

TEST(CbeContainer, SegmentHeaderOffsetLimits) {
    CbeBuilder b = valid_builder();
    b.segment_header_offset = 0xFFFFFFBC;
    EXPECT_EQ(error_of(b), "CBE segment header offset overflow");
    b.segment_header_offset = 0xFFFFFFBB;
    EXPECT_EQ(error_of(b), "invalid CBE segment marker at 0xffffffff");
    b.segment_header_offset = 0xFFFFFFB4;
    EXPECT_EQ(error_of(b), "invalid CBE segment marker at 0xfffffff8");
    b.segment_header_offset = 0xFFFFFFB3;
    EXPECT_EQ(error_of(b), "invalid CBE segment marker at 0xfffffff7");
    b.segment_header_offset = 0x1000;  // past the end of this small file
    EXPECT_EQ(error_of(b), "invalid CBE segment marker at 0x1044");
}

TEST(CbeContainer, SegmentMarkersAndFields) {
    CbeBuilder b = valid_builder();
    b.header_gap = 100;  // pushes the segment header towards the end of a short file
    const u32 s = b.build_with_layout().layout.segment_header;
    ASSERT_EQ(s, 168u);
    for (u32 i = 0; i < 6; ++i) {
        CbeBuilder broken = b;
        broken.patch(s + 12 * i, 0x00);
        EXPECT_EQ(error_of(broken), fmt::format("invalid CBE segment marker at 0x{:x}", s + 12 * i));
    }
    CbeBuilder cut = b;
    cut.truncate_to = s + 36 + 5;  // the fourth marker only partly inside
    EXPECT_EQ(error_of(cut), fmt::format("invalid CBE segment marker at 0x{:x}", s + 36));
    cut.truncate_to = s + 70;  // the last value only partly inside
    EXPECT_EQ(error_of(cut), fmt::format("CBE header field at 0x{:x} is truncated", s + 68));
}

TEST(CbeContainer, MissingSeparators) {
    for (size_t i = 0; i < 5; ++i) {
        CbeBuilder b = valid_builder();
        b.separators[i] = 7;
        auto layout = valid_builder().build_with_layout().layout;
        const u32 expected[5] = {layout.segment_header + 72, layout.code_offset + 32, layout.init_data_offset + 12,
                                 layout.embedded_offset + 9, layout.resource_length_offset + 4};
        // Everything before the shortened separator stays where it was.
        EXPECT_EQ(error_of(b), fmt::format("missing CBE segment separator at 0x{:x}", expected[i])) << "separator " << i;
    }
}

TEST(CbeContainer, FileEndingWhereASeparatorShouldStart) {
    CbeBuilder b = valid_builder();
    auto layout = b.build_with_layout().layout;
    b.truncate_to = layout.code_offset + 32;
    EXPECT_EQ(error_of(b), fmt::format("missing CBE segment separator at 0x{:x}", layout.code_offset + 32));
    b.truncate_to = layout.embedded_offset + 9;
    EXPECT_EQ(error_of(b), fmt::format("missing CBE segment separator at 0x{:x}", layout.embedded_offset + 9));
}

TEST(CbeContainer, ResourceLengthMustBeWhole) {
    CbeBuilder b = valid_builder();
    auto layout = b.build_with_layout().layout;
    b.truncate_to = layout.resource_length_offset + 2;
    EXPECT_EQ(error_of(b), fmt::format("CBE header field at 0x{:x} is truncated", layout.resource_length_offset));
    // A file ending in the separator itself: the length would start at the end.
    b.truncate_to = layout.resource_length_offset;
    EXPECT_EQ(error_of(b), fmt::format("CBE header field at 0x{:x} is truncated", layout.resource_length_offset));
}

TEST(CbeContainer, ChecksumMismatchNamesTheSegment) {
    CbeBuilder b = valid_builder();
    b.code_checksum = word_sum(b.code, false) + 1;
    EXPECT_EQ(error_of(b), "CBE code checksum mismatch");

    // Data whose checksum holds only in the other byte order than the code.
    b = valid_builder();
    b.big_endian = true;
    b.init_data_big_endian = false;
    ASSERT_NE(word_sum(b.init_data, false), word_sum(b.init_data, true));
    EXPECT_EQ(error_of(b), "CBE initialized data checksum mismatch");

    b = valid_builder();
    b.embedded_big_endian = true;
    EXPECT_EQ(error_of(b), "CBE embedded package checksum mismatch");
}

TEST(CbeContainer, SegmentLongerThanTheFileIsAChecksumMismatch) {
    CbeBuilder b = valid_builder();
    b.code_length = 0xFFFFFFF0;  // no candidate start leaves room for it
    EXPECT_EQ(error_of(b), "CBE code checksum mismatch");
}

TEST(CbeContainer, ResourcePackageRange) {
    CbeBuilder b = valid_builder();
    b.resource_length = static_cast<u32>(b.resource_package.size() + 1);
    EXPECT_EQ(error_of(b), "resource package extends beyond the CBE file");
    b.resource_length = 0xFFFFFFFF;
    EXPECT_EQ(error_of(b), "resource package range overflow");
    b.resource_length = 0;
    b.resource_package.clear();
    EXPECT_TRUE(parse_executable(b.build()).ok()) << "an empty resource package at the end of the file is fine";
}

// The segment search keeps running sums per candidate; check it against a
// direct sum at every candidate on random files whose segments begin with
// separator bytes.
TEST(CbeContainer, SegmentSearchAgreesWithDirectSums) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        const u32 run = 8 + rng() % 40;
        const u32 length = rng() % 64;
        std::vector<u8> file(run, 0xFE);
        for (u32 i = 0; i < length + 16; ++i) file.push_back(rng() % 3 == 0 ? 0xFE : static_cast<u8>(rng()));
        const bool big = rng() % 2;
        // The checksum of some later candidate, so that earlier ones must be passed over.
        const u32 target_start = 8 + rng() % (run - 7 + 4);
        const u32 checksum = target_start + length <= file.size()
                                 ? word_sum(std::span<const u8>(file).subspan(target_start, length), big)
                                 : 0;

        std::optional<SegmentMatch> expected;
        const u32 real_run = static_cast<u32>(separator_run(file, 0));
        const u32 first = length == 0 && real_run < 16 ? real_run : 8;
        for (u32 a = first; a <= real_run && !expected; ++a) {
            if (a + length > file.size()) break;
            auto segment = std::span<const u8>(file).subspan(a, length);
            if (word_sum(segment, false) == checksum) expected = SegmentMatch{a, false};
            else if (word_sum(segment, true) == checksum) expected = SegmentMatch{a, true};
        }
        auto found = find_segment(file, 0, length, checksum, ByteOrderMode::Either, "code");
        ASSERT_EQ(found.ok(), expected.has_value()) << "round " << round;
        if (expected) {
            EXPECT_EQ(found->offset, expected->offset) << "round " << round;
            EXPECT_EQ(found->big_endian, expected->big_endian) << "round " << round;
        }
    }
}

TEST(CbeContainer, WordSumsWrapAndUseEveryWholeWord) {
    std::vector<u8> bytes(4 * 37 + 3, 0xFF);
    EXPECT_EQ(word_sum_le(bytes.data(), 37), static_cast<u32>(37u * 0xFFFFFFFFu));
    std::mt19937 rng(7);
    for (auto& b : bytes) b = static_cast<u8>(rng());
    for (size_t words = 0; words <= 37; ++words) {
        auto prefix = std::span<const u8>(bytes).first(words * 4);
        EXPECT_EQ(word_sum_le(bytes.data(), words), word_sum(prefix, false));
        EXPECT_EQ(word_sum_be(bytes.data(), words), word_sum(prefix, true));
    }
}

}  // namespace
}  // namespace tarvel::cbe
