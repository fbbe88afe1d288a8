// Measuring, drawing and converting guest text.

#include "machine/text.hpp"

#include <algorithm>
#include <cstring>

#include "machine/glyph_table.hpp"
#include "memory/guest_strings.hpp"
#include "machine/machine.hpp"

namespace tarvel::machine {

std::u32string read_guest_text(GuestMemory& memory, u32 address, u32 limit) {
    return to_code_points(read_narrow_string(memory, address, limit));
}

u32 measure_text(std::u32string_view text) {
    u32 width = 0;
    for (char32_t c : text) width += find_glyph(c).advance();
    return width;
}

namespace {

// Where a glyph pixel goes: the logical frame's size and the turn into the
// portrait screen buffer.
struct TextFrame {
    u32 columns = kScreenWidth;
    u32 rows = kScreenHeight;
    bool landscape = false;

    // Pixel index in the screen buffer of logical pixel (column, row).
    u32 screen_pixel(u32 column, u32 row) const {
        return landscape ? column * kScreenWidth + (kScreenWidth - 1 - row) : row * kScreenWidth + column;
    }
};

}  // namespace

void draw_text(TarvelMachine& m, std::u32string_view text, i32 x, i32 y, u16 colour) {
    TextFrame frame;
    if (m.effective_orientation == Orientation::Landscape) frame = TextFrame{kScreenHeight, kScreenWidth, true};
    GuestMemory& memory = m.memory;
    u8* screen = memory.host_write_view(kScreenBuffer, kScreenBufferBytes);
    u8 pixel[2];
    store16(pixel, colour, memory.big_endian());

    // Positions are 32-bit and wrap: a pen left of the frame is a huge unsigned
    // column, which the unsigned test drops.
    u32 pen = static_cast<u32>(x);
    const u32 top = static_cast<u32>(y);
    for (char32_t c : text) {
        const Glyph glyph = find_glyph(c);
        if (glyph.present()) {
            for (int i = 0; i < kGlyphHeight; ++i) {
                const u32 row = top + static_cast<u32>(i);
                if (row >= frame.rows) continue;
                const u16 bits = glyph.row_bits(i);
                for (u32 j = 0; j < glyph.width; ++j) {
                    const u32 column = pen + j;
                    if (!((bits << j) & 0x8000) || column >= frame.columns) continue;
                    const u32 index = frame.screen_pixel(column, row);
                    if (screen) std::memcpy(screen + 2 * index, pixel, 2);
                    else memory.write16(kScreenBuffer + 2 * index, colour);
                }
            }
        }
        pen += glyph.advance();
    }
}

u32 convert_text_to_utf16(TarvelMachine& m, u32 source, u32 destination, u32 capacity) {
    if (source == 0 || destination == 0 || capacity == 0) return 0;
    const std::u16string units = to_utf16(read_narrow_string(m.memory, source, kTextLimit));
    const u32 count = static_cast<u32>(std::min<size_t>(units.size(), capacity - 1));
    for (u32 k = 0; k < count; ++k) m.memory.write16(destination + 2 * k, units[k]);
    m.memory.write16(destination + 2 * count, 0);
    return count;
}

}  // namespace tarvel::machine
