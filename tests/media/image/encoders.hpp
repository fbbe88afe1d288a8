#pragma once
// Test pictures made in code: ordinary PNG and GIF files written with libpng
// and giflib, and the two application-specific encodings derived from them.

#include <gif_lib.h>
#include <png.h>

#include <optional>
#include <vector>

#include "common/bytes.hpp"

namespace tarvel::test {

struct PngSpec {
    u32 width = 1;
    u32 height = 1;
    int color_type = 3;  // PNG_COLOR_TYPE_PALETTE
    int bit_depth = 8;
    bool interlaced = false;
    std::vector<u8> palette = {};        // RGB triples
    std::vector<u8> transparency = {};   // tRNS contents
    std::optional<double> gamma = {};    // writes a gAMA chunk
    std::vector<u8> samples = {};        // packed rows, as libpng expects them
};
std::vector<u8> encode_png(const PngSpec& spec);

struct GifSpec {
    u16 screen_width = 0;  // 0: the frame's extent
    u16 screen_height = 0;
    u16 left = 0, top = 0, width = 1, height = 1;
    bool interlaced = false;
    int transparent = -1;
    std::vector<u8> palette = {};  // RGB triples, a power of two of them
    std::vector<u8> indices = {};  // width * height
    bool second_frame = false;
};
std::vector<u8> encode_gif(const GifSpec& spec);

// RGB triples of the given RGB565 values, expanded as the decoder does.
std::vector<u8> palette_from_rgb565(const std::vector<u16>& values);

// Signature "GAME" and the palette stored as RGB565 with a stale CRC.
std::vector<u8> to_firmware_png(const std::vector<u8>& png);
// The CBE header: 7 bytes, RGB565 palette, then the GIF from its graphic
// control extension on. The GIF must carry one right after its colour table.
std::vector<u8> to_cbe_gif(const std::vector<u8>& gif);

}  // namespace tarvel::test
