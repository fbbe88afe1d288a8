#pragma once
// Resources for applications, made on the host. Pictures: palette
// pictures described as text ("pixel art"), written as ordinary PNG or GIF
// files, and the two encodings the phone's own tools produce from those (the
// firmware PNG and the CBE custom GIF). Text: the phone's narrow character set.

#include <span>
#include <string_view>
#include <utility>
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

// ---- The plain-text sources (pixel art, tunes, effects) are read line by
// line and word by word: blanks are spaces and tabs, a line may end in CR.
std::string_view trim_blanks(std::string_view s);
// Splits off the first word of `line`.
std::string_view next_word(std::string_view& line);

}  // namespace tarvel::assets

namespace tarvel::assets {

// ---- Sounds: tunes written as Standard MIDI Files and short effects as WAV.

struct MidiNote {
    u32 tick = 0;    // start, in ticks from the beginning
    u32 length = 0;  // ticks, at least 1
    u8 channel = 0;
    u8 key = 60;
    u8 velocity = 100;
};

struct MidiTune {
    u16 division = 96;                 // ticks per quarter note
    u32 micros_per_quarter = 500000;
    std::vector<std::pair<u8, u8>> programs;  // (channel, program) set at tick 0
    std::vector<MidiNote> notes;
};

// Reads the tune text form:
//
//   # a comment
//   tempo 160                  (quarter notes per minute)
//   part 0 80 90               (channel, program, velocity; later lines are its notes)
//   A4/2 C5/2 - /4 E5/4 | ...  (note name, sharp '#' or flat 'b', octave, then
//                               '/' and sixteenths; '-/n' rests; '|' is ignored)
//
// Every part starts at the beginning of the tune.
Result<MidiTune> parse_tune(std::string_view text);

// A type-0 Standard MIDI File: tempo and programs at tick 0, then the notes
// (at equal ticks a note ends before the next starts).
std::vector<u8> write_midi_file(const MidiTune& tune);

// The platform's packaged sound: a 5-byte header (type as little-endian u16,
// payload length as big-endian 24-bit) and the payload. Type 10 is MIDI.
Result<std::vector<u8>> wrap_sound(u16 type, std::span<const u8> payload);

// Reads the effect text form, segments played one after the other:
//
//   rate 22050
//   square 988 988 50 0.5      (shape, start Hz, end Hz, milliseconds, level)
//   noise 4000 300 300 0.6     (noise held at a rate that sweeps like a pitch)
//
// Shapes: square, sine, noise. Each segment rises over 2 ms and falls to
// silence at its end, so joins never click.
Result<std::vector<u8>> effect_wav_from_text(std::string_view text);

}  // namespace tarvel::assets
