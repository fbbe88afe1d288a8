#include "libretro/orientation_profile.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvel {
namespace {

std::vector<ProfileEntry> parse_ok(std::string_view text) {
    auto parsed = parse_orientation_profile(text);
    EXPECT_TRUE(parsed.ok()) << (parsed.ok() ? "" : parsed.error().to_string());
    return parsed.ok() ? *parsed : std::vector<ProfileEntry>{};
}

std::string parse_error(std::string_view text) {
    auto parsed = parse_orientation_profile(text);
    EXPECT_FALSE(parsed.ok()) << "parsed " << (parsed.ok() ? parsed->size() : 0) << " entries";
    return parsed.ok() ? std::string() : parsed.error().to_string();
}

TEST(ProfileParse, EmptyTextAndOnlyCommentsGiveNoEntries) {
    EXPECT_TRUE(parse_ok("").empty());
    EXPECT_TRUE(parse_ok("\n\n   \n\t\n").empty());
    EXPECT_TRUE(parse_ok("# crc32,length,orientation\n  # indented comment, with, commas, galore\n").empty());
}

TEST(ProfileParse, ReadsEntriesInFileOrderSkippingCommentsAndBlanks) {
    auto entries = parse_ok(
        "# my landscape games\n"
        "\n"
        "0xDEADBEEF,1234,landscape\n"
        "  cafe0001,99,portrait  \n"
        "# done\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (ProfileEntry{1234, 0xDEADBEEF, Orientation::Landscape}));
    EXPECT_EQ(entries[1], (ProfileEntry{99, 0xCAFE0001, Orientation::Portrait}));
}

TEST(ProfileParse, WindowsLineEndsAndUnicodeSpacesAreTrimmed) {
    // A no-break space (U+00A0) and an ideographic space (U+3000) count as white space.
    auto entries = parse_ok("1,2,portrait\r\n\xC2\xA0" "3,4,landscape\xE3\x80\x80\r\n\r\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1], (ProfileEntry{4, 3, Orientation::Landscape}));
}

TEST(ProfileParse, CrcAcceptsPrefixCaseAndPlusSign) {
    for (const char* crc : {"0xabcdef01", "0XABCDEF01", "abcdef01", "ABCDEF01", "+abcdef01", "0x+abcdef01",
                            "00000000abcdef01"}) {
        auto entries = parse_ok(std::string(crc) + ",1,portrait");
        ASSERT_EQ(entries.size(), 1u) << crc;
        EXPECT_EQ(entries[0].crc32, 0xABCDEF01u) << crc;
    }
    EXPECT_EQ(parse_ok("FFFFFFFF,1,portrait")[0].crc32, 0xFFFFFFFFu);
}

TEST(ProfileParse, CrcRejectsEverythingElseWithItsCause) {
    for (const char* crc : {"100000000", "", "0x", "+", "-1", "0x-1", "+0x12", "0x0x12", "12 ", "12g", "1 2"}) {
        EXPECT_EQ(parse_error(std::string("# header\n") + crc + ",1,portrait\n"),
                  "line 2: invalid crc32: crc32 must be a hex number")
            << "crc field '" << crc << "'";
    }
}

TEST(ProfileParse, LengthIsAnUnsigned64BitDecimal) {
    EXPECT_EQ(parse_ok("1,+42,portrait")[0].length, 42u);
    EXPECT_EQ(parse_ok("1,18446744073709551615,portrait")[0].length, 18446744073709551615u);
    for (const char* length : {"18446744073709551616", "", "+", "-5", "0x10", "12a", " 12", "1.5"}) {
        EXPECT_EQ(parse_error(std::string("1,") + length + ",portrait"), "line 1: invalid length")
            << "length field '" << length << "'";
    }
}

TEST(ProfileParse, OrientationMustBeExactLowerCase) {
    EXPECT_EQ(parse_error("1,2,Landscape"), "line 1: unknown orientation Landscape (use landscape or portrait)");
    EXPECT_EQ(parse_error("1,2,auto"), "line 1: unknown orientation auto (use landscape or portrait)");
    // Fields are not trimmed: only the line's own ends are.
    EXPECT_EQ(parse_error("1,2, portrait"), "line 1: unknown orientation  portrait (use landscape or portrait)");
    EXPECT_EQ(parse_error("1,2,"), "line 1: unknown orientation  (use landscape or portrait)");
}

TEST(ProfileParse, WrongFieldCountQuotesTheTrimmedLine) {
    EXPECT_EQ(parse_error("\n  1,2  \r\n"), "line 2: expected `crc32,length,orientation`, found 1,2");
    EXPECT_EQ(parse_error("1,2,portrait,extra"),
              "line 1: expected `crc32,length,orientation`, found 1,2,portrait,extra");
    EXPECT_EQ(parse_error("landscape"), "line 1: expected `crc32,length,orientation`, found landscape");
}

TEST(ProfileParse, SpaceAfterCommaSpoilsTheNextField) {
    EXPECT_EQ(parse_error("1, 2,portrait"), "line 1: invalid length");
}

TEST(ProfileParse, FirstBadLineStopsTheParseAndCountsEveryLine) {
    // Comments and blank lines still count towards the line number.
    EXPECT_EQ(parse_error("1,2,portrait\n# c\n\n3,4,sideways\nzz,5,portrait\n"),
              "line 4: unknown orientation sideways (use landscape or portrait)");
}

TEST(ProfileParse, HashOnlyCountsAtTheStartOfTheTrimmedLine) {
    EXPECT_EQ(parse_error("1,2,portrait # note"),
              "line 1: unknown orientation portrait # note (use landscape or portrait)");
    EXPECT_TRUE(parse_ok("   # indented\n").empty());
}

}  // namespace
}  // namespace tarvel
