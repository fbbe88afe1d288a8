// The compiled glyph table against the Unifont hex file it is generated from.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <fstream>
#include <map>
#include <string>

#include "machine/glyph_table.hpp"

namespace tarvel::machine {
namespace {

// Code point -> hex digits of its rows, as the font file lists them.
const std::map<u32, std::string>& hex_font() {
    static const std::map<u32, std::string> font = [] {
        std::map<u32, std::string> out;
        std::ifstream in(TARVEL_UNIFONT_HEX);
        std::string line;
        while (std::getline(in, line)) {
            const size_t colon = line.find(':');
            if (colon != std::string::npos) out[std::stoul(line.substr(0, colon), nullptr, 16)] = line.substr(colon + 1);
        }
        return out;
    }();
    return font;
}

// The glyph's rows printed back in the file's notation.
std::string as_hex(const Glyph& glyph) {
    std::string out;
    for (int row = 0; row < kGlyphHeight; ++row)
        out += glyph.width == 16 ? fmt::format("{:04X}", glyph.row_bits(row))
                                 : fmt::format("{:02X}", glyph.row_bits(row) >> 8);
    return out;
}

TEST(GlyphTable, KnownGlyphsMatchTheFontFile) {
    ASSERT_FALSE(hex_font().empty()) << "cannot read " << TARVEL_UNIFONT_HEX;
    // ASCII, Latin-1, a CJK ideograph, a Hangul syllable, a compatibility
    // ideograph and the replacement character.
    for (u32 cp : {0x41u, 0x7Eu, 0xE9u, 0x4E2Du, 0xAC00u, 0xF900u, 0xFFFDu}) {
        const Glyph glyph = find_glyph(cp);
        const std::string& expected = hex_font().at(cp);
        ASSERT_TRUE(glyph.present()) << std::hex << cp;
        EXPECT_EQ(glyph.width, expected.size() == 64 ? 16 : 8) << std::hex << cp;
        EXPECT_EQ(as_hex(glyph), expected) << std::hex << cp;
    }
    // "A" is narrow; its fifth row is 0x18: the two middle pixels.
    const Glyph a = find_glyph(U'A');
    EXPECT_EQ(a.advance(), 8u);
    for (int column = 0; column < 8; ++column) EXPECT_EQ(a.pixel(4, column), column == 3 || column == 4);
    EXPECT_EQ(find_glyph(U'中').advance(), 16u);
}

TEST(GlyphTable, CodePointsWithoutGlyph) {
    for (u32 cp : {0x211Fu, 0x3164u, 0xD800u, 0xDFFFu, 0xE000u, 0xF8FFu, 0xFFFEu, 0xFFFFu, 0x10000u, 0x1F600u,
                   0x10FFFFu, 0xFFFFFFFFu}) {
        const Glyph glyph = find_glyph(cp);
        EXPECT_FALSE(glyph.present()) << std::hex << cp;
        EXPECT_EQ(glyph.advance(), 16u);
        EXPECT_EQ(glyph.row_bits(0), 0);
    }
}

TEST(GlyphTable, NumberingEdges) {
    EXPECT_EQ(glyph_number(0x211E), 0x211Eu);
    EXPECT_EQ(glyph_number(0x2120), 0x211Fu);
    EXPECT_EQ(glyph_number(0x3163), 0x3162u);
    EXPECT_EQ(glyph_number(0x3165), 0x3163u);
    EXPECT_EQ(glyph_number(0xD7FF), 55293u);
    EXPECT_EQ(glyph_number(0xF900), 55294u);
    EXPECT_EQ(glyph_number(0xFFFD), kGlyphCount - 1);
    EXPECT_FALSE(glyph_number(0xD800));
    EXPECT_FALSE(glyph_number(0xF8FF));
}

// Every numbered code point the font file has is in the table with the file's
// rows, and nothing else is.
TEST(GlyphTable, WholeTableMatchesTheFontFile) {
    u32 present = 0;
    for (u32 cp = 0; cp <= 0xFFFF; ++cp) {
        const Glyph glyph = find_glyph(cp);
        const auto in_file = hex_font().find(cp);
        const bool expected = glyph_number(cp) && in_file != hex_font().end();
        ASSERT_EQ(glyph.present(), expected) << std::hex << cp;
        if (!expected) continue;
        ++present;
        ASSERT_EQ(as_hex(glyph), in_file->second) << std::hex << cp;
    }
    // The packaged font covers every numbered code point.
    EXPECT_EQ(present, kGlyphCount);
}

}  // namespace
}  // namespace tarvel::machine
