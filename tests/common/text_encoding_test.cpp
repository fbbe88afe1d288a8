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

TEST(CbeNames, GbkTwoAndFourByteSequences) {
    EXPECT_EQ(gbk({0xC4, 0xE3, 0xBA, 0xC3}), "\xE4\xBD\xA0\xE5\xA5\xBD");
    EXPECT_EQ(gbk({0x81, 0x40}), "\xE4\xB8\x82");
    EXPECT_EQ(gbk({0x81, 0x30, 0x81, 0x30}), "\xC2\x80") << "four-byte form of U+0080";
    EXPECT_EQ(gbk({0x84, 0x31, 0xA4, 0x39}), "\xEF\xBF\xBF") << "last BMP code point";
    EXPECT_EQ(gbk({0x90, 0x30, 0x81, 0x30}), "\xF0\x90\x80\x80") << "first supplementary code point";
    EXPECT_EQ(gbk({0x80}), "\xE2\x82\xAC") << "a lone 0x80 is the euro sign";
    EXPECT_EQ(gbk({0x41, 0x80, 0x42}), "A\xE2\x82\xAC" "B");
}

TEST(CbeNames, MalformedGbkIsReplacedWithoutSwallowingAscii) {
    EXPECT_EQ(gbk({0x81, 0x20, 0x41}), kReplacement + " A") << "an ASCII trail byte is kept";
    EXPECT_EQ(gbk({0xC4}), kReplacement) << "lead byte at the end";
    EXPECT_EQ(gbk({0xFF, 0x41}), kReplacement + "A");
    EXPECT_EQ(gbk({0x84, 0x31, 0xA5, 0x30}), kReplacement) << "four-byte form beyond U+FFFF's range";
    EXPECT_EQ(gbk({0x81, 0x30, 0x20}), kReplacement + "0 ") << "broken four-byte form gives its bytes back";
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
