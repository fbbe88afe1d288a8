#pragma once
// Layout of the generated glyph data. Glyphs come in runs of consecutive code
// points of one width; each run names where its bitmaps start in one shared
// byte array, 16 bytes a narrow glyph and 32 bytes a wide one.

#include <cstddef>

#include "common/bytes.hpp"

namespace tarvel::machine::glyph_data {

struct GlyphRun {
    u32 first;   // first code point of the run
    u16 count;   // number of consecutive code points
    u8 wide;     // 1: 16 pixels wide, 0: 8
    u32 offset;  // byte offset of the first glyph's rows in kBitmaps
};

// Sorted by first code point; runs never overlap.
extern const GlyphRun kRuns[];
extern const size_t kRunCount;
extern const u8 kBitmaps[];
extern const size_t kBitmapBytes;

}  // namespace tarvel::machine::glyph_data
