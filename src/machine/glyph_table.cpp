#include "machine/glyph_table.hpp"

#include <algorithm>

#include "machine/glyph_table_data.hpp"

namespace tarvel::machine {

Glyph find_glyph(char32_t code_point) {
    using glyph_data::GlyphRun;
    const GlyphRun* begin = glyph_data::kRuns;
    const GlyphRun* end = begin + glyph_data::kRunCount;
    // The last run that starts at or before the code point.
    const GlyphRun* run = std::upper_bound(begin, end, static_cast<u32>(code_point),
                                           [](u32 cp, const GlyphRun& r) { return cp < r.first; });
    if (run == begin) return {};
    --run;
    const u32 index = static_cast<u32>(code_point) - run->first;
    if (index >= run->count) return {};
    const u32 bytes_per_glyph = run->wide ? 32 : 16;
    return Glyph{static_cast<u8>(run->wide ? 16 : 8), glyph_data::kBitmaps + run->offset + index * bytes_per_glyph};
}

}  // namespace tarvel::machine
