#pragma once
// Resources for applications, made on the host. Pictures: palette
// pictures described as text ("pixel art"), written as ordinary PNG or GIF
// files, and the two encodings the phone's own tools produce from those (the
// firmware PNG and the CBE custom GIF). Text: the phone's narrow character set.

#include <span>
#include <string_view>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"

namespace tarvel::assets {

// A palette picture: one palette index per pixel, rows top to bottom.
struct IndexedPicture {
    u32 width = 0;
    u32 height = 0;
    std::vector<u8> palette;  // RGB triples, at most 256 of them
    int transparent = -1;     // the palette index that shows nothing, or -1
    std::vector<u8> indices;  // width * height
};

// Reads the pixel-art text form:
//
//   # a comment
//   size 12 8
//   color . none        (the transparent entry)
//   color a F8FC00      (a character and a hexadecimal RGB colour)
//   rows
//   ....aaaa....
//   ...          (exactly `height` rows of `width` characters)
//
// Every character of the rows must be declared by a `color` line.
Result<IndexedPicture> parse_pixel_art(std::string_view text);

// Ordinary files, written with libpng (8-bit palette, tRNS for the
// transparent entry) and giflib (GIF89a with a graphic control extension
// right after the global colour table).
Result<std::vector<u8>> encode_png(const IndexedPicture& picture);
Result<std::vector<u8>> encode_gif(const IndexedPicture& picture);

// The firmware PNG of an ordinary PNG file: the signature ends in "GAME" and
// the palette is stored as big-endian RGB565 values, two bytes per entry,
// while its chunk keeps the length of the three-byte form. The palette
// chunk's stored CRC is the one of the ordinary file; readers ignore it.
Result<std::vector<u8>> firmware_png_from_png(std::span<const u8> png);

// The CBE custom GIF of an ordinary GIF file: the file is first rewritten
// with giflib so that its first frame's palette becomes the global colour
// table and a graphic control extension follows it; then it is converted as
// cbe_gif_from_prepared_gif does.
Result<std::vector<u8>> cbe_gif_from_gif(std::span<const u8> gif);
// The CBE custom GIF of a GIF file whose global colour table is followed
// directly by a graphic control extension, converted as it stands (frames,
// interlacing and all): the header and the table are replaced by the 7-byte
// CBE header and the table's RGB565 values.
Result<std::vector<u8>> cbe_gif_from_prepared_gif(std::span<const u8> gif);

// Text in the phone's narrow character set (GBK), from UTF-8, with a final
// NUL so that the resource can be drawn as it lies in memory.
Result<std::vector<u8>> gbk_text_from_utf8(std::string_view utf8);

}  // namespace tarvel::assets
