#pragma once
// Text on the screen: guest strings decoded to Unicode (a byte-order mark picks
// UTF-8 or UTF-16, anything else is GBK), measured and drawn with the built-in
// 16-pixel bitmap font. Glyph pixels are written into the screen buffer and
// the background is left alone. In Landscape the text is laid out on the
// 400 x 240 frame the player sees and turned into the portrait buffer.

#include <string>
#include <string_view>

#include "common/bytes.hpp"
#include "memory/guest_strings.hpp"

namespace tarvel::machine {

class GuestMemory;
struct TarvelMachine;

// Longest guest text shown in the trace line.
inline constexpr u32 kTraceTextByteLimit = 256;

// The string at `address` as a narrow guest string (guest_strings.hpp): up to
// its NUL, or its zero unit when marked as UTF-16, at most `limit` bytes; an
// unreadable byte also ends it. Malformed sequences become U+FFFD.
std::u32string read_guest_text(GuestMemory& memory, u32 address, u32 limit = kTextLimit);

// Width in pixels: 8 or 16 per character by its glyph, 16 for one without.
u32 measure_text(std::u32string_view text);

// Draws the text with its pen starting at (x, y) of the logical frame: the
// portrait screen, or the landscape frame when the machine's effective
// orientation is Landscape. Pixels outside the frame are dropped; the column
// and row tests are unsigned, so negative positions fall outside too.
void draw_text(TarvelMachine& machine, std::u32string_view text, i32 x, i32 y, u16 colour);

// Converts the guest text at `source` to UTF-16 at `destination`: at most
// capacity - 1 units in guest byte order and a terminating zero unit. Returns
// the units written before the zero; 0 when any argument is 0.
u32 convert_text_to_utf16(TarvelMachine& machine, u32 source, u32 destination, u32 capacity);

}  // namespace tarvel::machine
