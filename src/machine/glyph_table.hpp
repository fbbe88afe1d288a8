#pragma once
// The bitmap font of the text service: 16-pixel-high glyphs, 8 or 16 pixels
// wide, for the Basic Multilingual Plane. The table is generated from GNU
// Unifont's hex file at build time and compiled into the core, so no font
// file is read at run time.

#include <optional>

#include "common/bytes.hpp"

namespace tarvel::machine {

inline constexpr int kGlyphHeight = 16;
// How far the pen moves over a character that has no glyph.
inline constexpr u32 kMissingGlyphAdvance = 16;
inline constexpr u32 kGlyphCount = 57084;

// Glyphs are numbered densely over the code points that have one. Two code
// points inside the first ranges, U+211F and U+3164, have none; nor do the
// surrogates, the private use area, U+FFFE, U+FFFF and everything past the
// Basic Multilingual Plane.
constexpr std::optional<u32> glyph_number(char32_t cp) {
    if (cp <= 0x211E) return static_cast<u32>(cp);
    if (cp >= 0x2120 && cp <= 0x3163) return static_cast<u32>(cp - 1);
    if (cp >= 0x3165 && cp <= 0xD7FF) return static_cast<u32>(cp - 2);
    if (cp >= 0xF900 && cp <= 0xFFFD) return static_cast<u32>(cp - 0xF900 + 55294);
    return std::nullopt;
}

struct Glyph {
    // 8 or 16 for a glyph; 0 when the code point has none.
    u8 width = 0;
    // 16 rows top to bottom: one byte each for a narrow glyph, two bytes each
    // (big-endian) for a wide one; the most significant bit is the leftmost pixel.
    const u8* rows = nullptr;

    bool present() const { return width != 0; }
    u32 advance() const { return width ? width : kMissingGlyphAdvance; }
    // Row `row` with the leftmost pixel in bit 15, for either width.
    u16 row_bits(int row) const {
        if (width == 16) return load_be16(rows + 2 * row);
        return width == 8 ? static_cast<u16>(rows[row] << 8) : u16{0};
    }
    bool pixel(int row, int column) const { return (row_bits(row) << column) & 0x8000; }
};

// The glyph of a code point, or an absent glyph (width 0) when it has none.
Glyph find_glyph(char32_t code_point);

}  // namespace tarvel::machine
