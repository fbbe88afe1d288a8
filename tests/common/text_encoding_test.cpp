#include <gtest/gtest.h>

#include <random>

#include "common/text_encoding.hpp"

namespace tarvel {
namespace {

std::string name(std::initializer_list<u8> bytes) { return decode_marked_text(std::vector<u8>(bytes)); }
std::string gbk(std::initializer_list<u8> bytes) { return decode_text(std::vector<u8>(bytes), TextEncoding::Gbk); }

const std::string kReplacement = "\xEF\xBF\xBD";

// Strict UTF-8 check: shortest forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const u8 b = static_cast<u8>(s[i]);
        size_t extra;
        u32 cp;
        if (b < 0x80) { ++i; continue; }
        if ((b & 0xE0) == 0xC0) { extra = 1; cp = b & 0x1F; }
        else if ((b & 0xF0) == 0xE0) { extra = 2; cp = b & 0x0F; }
        else if ((b & 0xF8) == 0xF0) { extra = 3; cp = b & 0x07; }
        else return false;
        if (i + extra >= s.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const u8 c = static_cast<u8>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const u32 min[] = {0, 0x80, 0x800, 0x10000};
        if (cp < min[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += 1 + extra;
    }
    return true;
}

TEST(CbeNames, ByteOrderMarksChooseTheEncoding) {
    EXPECT_EQ(name({0xFF, 0xFE, 0x41, 0x00}), "A");
    EXPECT_EQ(name({0xFE, 0xFF, 0x00, 0x41, 0x4E, 0x2D}), "A\xE4\xB8\xAD");
    EXPECT_EQ(name({0xEF, 0xBB, 0xBF, 0x61, 0xE4, 0xB8, 0xAD}), "a\xE4\xB8\xAD");
    EXPECT_EQ(name({0xEF, 0xBB, 0xBF}), "") << "a bare UTF-8 mark is an empty name";
    EXPECT_EQ(name({0xFF, 0xFE}), "");
    EXPECT_EQ(name({0xFE, 0xFF}), "");
    EXPECT_EQ(name({}), "");
    EXPECT_EQ(name({'i', 'c', 'o', 'n', '.', 'p', 'n', 'g'}), "icon.png");
}

TEST(CbeNames, TwoBytesOfTheUtf8MarkAreGbk) {
    // EF BB without the third byte is no mark: it is one GBK character.
    const std::string decoded = name({0xEF, 0xBB});
    EXPECT_EQ(decoded, gbk({0xEF, 0xBB}));
    EXPECT_NE(decoded.find_first_not_of('\0'), std::string::npos);
    EXPECT_EQ(decoded.size(), 3u);
}

TEST(CbeNames, MalformedUtf8IsReplacedPerMaximalPart) {
    EXPECT_EQ(name({0xEF, 0xBB, 0xBF, 0xE4, 0xB8, 0x41}), kReplacement + "A") << "truncated sequence";
    EXPECT_EQ(name({0xEF, 0xBB, 0xBF, 0xC0, 0x80}), kReplacement + kReplacement) << "overlong form";
    EXPECT_EQ(name({0xEF, 0xBB, 0xBF, 0xED, 0xA0, 0x80}), kReplacement + kReplacement + kReplacement)
        << "encoded surrogate";
    EXPECT_EQ(name({0xEF, 0xBB, 0xBF, 0x41, 0xF0, 0x9F}), "A" + kReplacement) << "cut at the end";
    EXPECT_EQ(name({0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x98, 0x80}), "\xF0\x9F\x98\x80");
}

TEST(CbeNames, MalformedUtf16IsReplaced) {
    EXPECT_EQ(name({0xFF, 0xFE, 0x41, 0x00, 0x42}), "A" + kReplacement) << "odd length";
    EXPECT_EQ(name({0xFF, 0xFE, 0x00, 0xD8, 0x41, 0x00}), kReplacement + "A") << "lone high surrogate";
    EXPECT_EQ(name({0xFE, 0xFF, 0xDC, 0x00, 0x00, 0x41}), kReplacement + "A") << "lone low surrogate";
    EXPECT_EQ(name({0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00}), "\xF0\x9F\x98\x80") << "pair";
    EXPECT_EQ(name({0xFF, 0xFE, 0x3D, 0xD8}), kReplacement) << "pair cut at the end";
}

struct GbkCase {
    std::vector<u8> bytes;
    std::string text;
    const char* why;
};

TEST(CbeNames, GbkDecodesAsTheWebDoes) {
    const std::string r = kReplacement;
    const GbkCase cases[] = {
        {{0xC4, 0xE3, 0xBA, 0xC3}, "\xE4\xBD\xA0\xE5\xA5\xBD", "two-byte codes"},
        {{0x81, 0x40}, "\xE4\xB8\x82", "first two-byte code"},
        {{0x80}, "\xE2\x82\xAC", "a lone 0x80 is the euro sign"},
        {{0x41, 0x80, 0x42}, "A\xE2\x82\xAC" "B", "the euro sign between letters"},
        {{0xA3, 0xA0}, "\xE3\x80\x80", "read as the ideographic space, not U+E5E5"},
        {{0xA6, 0xD9}, "\xEF\xB8\x90", "moved out of the private use area: U+FE10"},
        {{0xA6, 0xDA, 0xA6, 0xDB}, "\xEF\xB8\x92\xEF\xB8\x91", "U+FE12 then U+FE11"},
        {{0xA6, 0xF3}, "\xEF\xB8\x99", "U+FE19"},
        {{0xFE, 0x59}, "\xE9\xBE\xB4", "moved out of the private use area: U+9FB4"},
        {{0xFE, 0xA0}, "\xE9\xBE\xBB", "U+9FBB"},
        {{0xFE, 0x51}, "\xEE\xA0\x96", "stays private: U+E816"},
        {{0xA1, 0xA1}, "\xE3\x80\x80", "the ideographic space's own code"},
        {{0x84, 0x31, 0x82, 0x36}, "\xEF\xB8\x90", "the four-byte form of U+FE10 still reads as it"},
        {{0x82, 0x35, 0x90, 0x37}, "\xE9\xBE\xB4", "the four-byte form of U+9FB4 still reads as it"},
        {{0x81, 0x35, 0xF4, 0x37}, "\xEE\x9F\x87", "U+E7C7"},
        {{0x81, 0x30, 0x81, 0x30}, "\xC2\x80", "four-byte form of U+0080"},
        {{0x84, 0x31, 0xA4, 0x39}, "\xEF\xBF\xBF", "last basic-plane code point"},
        {{0x90, 0x30, 0x81, 0x30}, "\xF0\x90\x80\x80", "first supplementary code point"},
        {{0xE3, 0x32, 0x9A, 0x35}, "\xF4\x8F\xBF\xBF", "U+10FFFF"},
        // Malformed input: one replacement each, and bytes that may start
        // something else are read again.
        {{0x81, 0x20, 0x41}, r + " A", "an ASCII trail byte is kept"},
        {{0x81, 0x7F}, r + "\x7F", "so is DEL"},
        {{0x81, 0xFF, 0x41}, r + "A", "0xFF as a trail byte goes with its lead"},
        {{0xC4}, r, "lead byte at the end"},
        {{0xFF, 0x41}, r + "A", "0xFF never starts anything"},
        {{0x81, 0x30, 0x20}, r + "0 ", "broken four-byte form gives its bytes back"},
        {{0x81, 0x30, 0x81, 0x41}, r + "0\xE4\xB8\x84", "a fourth byte that is no digit: the last three are read again"},
        {{0x84, 0x31, 0xA5, 0x30, 0x41}, r + "A", "a four-byte form of valid shape that stands for nothing"},
        {{0xE3, 0x32, 0x9A, 0x36}, r, "past U+10FFFF"},
        {{0xFE, 0x39, 0xFE, 0x39, 0x42}, r + "B", "the last four-byte form of all"},
        {{0x81, 0x30}, r, "cut short after two bytes: one replacement"},
        {{0x81, 0x30, 0x81}, r, "cut short after three bytes"},
    };
    for (const GbkCase& c : cases) {
        EXPECT_EQ(decode_text(c.bytes, TextEncoding::Gbk), c.text) << c.why;
    }
}

TEST(CbeNames, GbkEncodesAsTheWebDoes) {
    const struct {
        char32_t code_point;
        std::vector<u8> bytes;  // empty: GBK has no form
    } cases[] = {
        {U'A', {0x41}},          {0x20AC, {0x80}},        {0x4E2D, {0xD6, 0xD0}}, {0x3000, {0xA1, 0xA1}},
        {0xFE10, {0xA6, 0xD9}},  {0x9FB4, {0xFE, 0x59}},  {0xFE19, {0xA6, 0xF3}},
        // The private-use points those codes stood for still encode to them.
        {0xE78D, {0xA6, 0xD9}},  {0xE81E, {0xFE, 0x59}},  {0xE816, {0xFE, 0x51}},
        {0xE5E5, {}},            {0x0080, {}},            {0x20087, {}},          {0x1F600, {}},
        {0xD800, {}},            {0x110000, {}},
    };
    for (const auto& c : cases) {
        std::vector<u8> out = {0xEE};
        EXPECT_EQ(encode_gbk_code_point(c.code_point, out), !c.bytes.empty()) << std::hex << u32{c.code_point};
        std::vector<u8> expected = {0xEE};
        expected.insert(expected.end(), c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(out, expected) << std::hex << u32{c.code_point};
    }
}

TEST(CbeNames, AnyBytesDecodeToValidUtf8) {
    std::mt19937 rng(99);
    const TextEncoding encodings[] = {TextEncoding::Utf8, TextEncoding::Utf16Le, TextEncoding::Utf16Be,
                                      TextEncoding::Gbk};
    for (int round = 0; round < 2000; ++round) {
        std::vector<u8> bytes(rng() % 40);
        for (auto& b : bytes) b = static_cast<u8>(rng() % 4 == 0 ? 0x80 + rng() % 0x80 : rng());
        for (TextEncoding e : encodings) {
            const std::string text = decode_text(bytes, e);
            ASSERT_TRUE(valid_utf8(text)) << "round " << round << " encoding " << static_cast<int>(e);
        }
        ASSERT_TRUE(valid_utf8(decode_marked_text(bytes)));
    }
}

}  // namespace
}  // namespace tarvel
