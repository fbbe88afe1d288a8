// The resource maker behind cbe-asset: pixel art read from text, the four
// picture encodings it writes (checked by decoding them with the machine's
// own image decoder), GBK text, and tunes and effects (checked with the
// machine's own MIDI and WAV readers).
#include <gtest/gtest.h>

#include <string>

#include "asset_writer/asset_writer.hpp"
#include "media/image/image_decoder.hpp"
#include "media/image/encoders.hpp"
#include "media/audio/formats.hpp"
#include "media/audio/midi.hpp"

namespace tarvel::assets {
namespace {

constexpr const char* kArt =
    "# three colours and a hole\n"
    "size 3 2\n"
    "color . none\n"
    "color r F80000\n"
    "color g 00FC00\n"
    "color w FFFFFF\n"
    "rows\n"
    "r.g\n"
    "wwr\n";

std::vector<u8> rgba(std::initializer_list<u32> pixels) {
    std::vector<u8> out;
    for (u32 p : pixels) out.insert(out.end(), {u8(p >> 24), u8(p >> 16), u8(p >> 8), u8(p)});
    return out;
}

IndexedPicture art() {
    auto picture = parse_pixel_art(kArt);
    EXPECT_TRUE(picture.ok()) << picture.error().to_string();
    return std::move(picture).value();
}

TEST(PixelArt, ReadsSizePaletteTransparencyAndRows) {
    const IndexedPicture p = art();
    EXPECT_EQ(p.width, 3u);
    EXPECT_EQ(p.height, 2u);
    EXPECT_EQ(p.transparent, 0);
    EXPECT_EQ(p.palette, (std::vector<u8>{0, 0, 0, 0xF8, 0, 0, 0, 0xFC, 0, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(p.indices, (std::vector<u8>{1, 0, 2, 3, 3, 1}));
}

TEST(PixelArt, RejectsMalformedTextWithTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"size 2 1\ncolor a 000000\nrows\naaa\n", "line 4: a row of 3 pixels where 2 are declared"},
        {"size 2 1\ncolor a 000000\nrows\nab\n", "line 4: the pixel 'b' has no color"},
        {"size 2 1\ncolor a 000000\nrows\naa\naa\n", "line 5: more than 1 rows"},
        {"size 2 2\ncolor a 000000\nrows\naa\n", "the picture has 1 of its 2 rows"},
        {"size 2 1\ncolor a 00000G\n", "line 2: the color 00000G is not six hexadecimal digits"},
        {"size 2 1\ncolor a 000000\ncolor a FFFFFF\n", "line 3: the color 'a' is declared twice"},
        {"size 2 1\ncolor a none\ncolor b none\n", "line 3: a second transparent color"},
        {"color a 000000\nrows\n", "line 2: rows before size"},
        {"size 0 1\n", "line 1: size needs a width and a height of 1 to 4096"},
        {"size 4097 1\n", "line 1: size needs a width and a height of 1 to 4096"},
        {"shape 1 1\n", "line 1: unknown keyword shape"},
    };
    for (const auto& [text, message] : cases) {
        auto parsed = parse_pixel_art(text);
        ASSERT_FALSE(parsed.ok()) << text;
        EXPECT_EQ(parsed.error().to_string(), message) << text;
    }
}

// Every encoding decodes to the art's pixels; the two phone encodings carry
// their palette as RGB565, so their colours are the widened 5-6-5 values.
TEST(PictureEncodings, AllFourDecodeToTheArt) {
    const IndexedPicture p = art();
    const std::vector<u8> exact = rgba({0xF80000FF, 0, 0x00FC00FF, 0xFFFFFFFF, 0xFFFFFFFF, 0xF80000FF});
    const std::vector<u8> widened = rgba({0xFF0000FF, 0, 0x00FF00FF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFF0000FF});
    auto png = encode_png(p);
    auto gif = encode_gif(p);
    ASSERT_TRUE(png.ok() && gif.ok());
    auto firmware = firmware_png_from_png(*png);
    auto cbe = cbe_gif_from_gif(*gif);
    ASSERT_TRUE(firmware.ok() && cbe.ok());
    EXPECT_EQ(std::string(firmware->begin() + 4, firmware->begin() + 8), "GAME");
    EXPECT_EQ((*cbe)[4] & 0x80, 0x80);
    const std::pair<const std::vector<u8>*, const std::vector<u8>*> expected[] = {
        {&*png, &exact}, {&*gif, &exact}, {&*firmware, &widened}, {&*cbe, &widened}};
    for (const auto& [encoded, pixels] : expected) {
        auto decoded = decode_image_resource(*encoded);
        ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
        EXPECT_EQ(decoded->width, 3u);
        EXPECT_EQ(decoded->height, 2u);
        // A transparent pixel's colour is not defined; compare alpha only.
        std::vector<u8> got = decoded->pixels;
        if (got[7] == 0) std::fill(got.begin() + 4, got.begin() + 8, 0);
        EXPECT_EQ(got, *pixels);
    }
}

// Any GIF is brought into the one-frame form first: an interlaced picture
// keeps its rows and a later frame is dropped.
TEST(PictureEncodings, CbeGifFromAnyGifKeepsTheFirstFrame) {
    test::GifSpec spec;
    spec.width = 4;
    spec.height = 9;
    spec.interlaced = true;
    spec.second_frame = true;
    spec.palette = test::palette_from_rgb565({0xF800, 0x07E0, 0x001F, 0xFFFF});
    for (u8 i = 0; i < 36; ++i) spec.indices.push_back(static_cast<u8>((i / 4 + i) % 4));
    const std::vector<u8> gif = test::encode_gif(spec);
    auto original = decode_image_resource(gif);
    auto cbe = cbe_gif_from_gif(gif);
    ASSERT_TRUE(original.ok() && cbe.ok());
    auto decoded = decode_image_resource(*cbe);
    ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
    EXPECT_EQ(decoded->pixels, original->pixels);
}

TEST(PictureEncodings, RefusesInputsThatAreNotWhatTheyClaim) {
    const std::vector<u8> png = *encode_png(art());
    std::vector<u8> truncated(png.begin(), png.end() - 20);  // into the last data chunk
    std::vector<u8> no_end(png.begin(), png.end() - 12);
    EXPECT_EQ(firmware_png_from_png(std::vector<u8>{1, 2, 3}).error().to_string(), "not a PNG file");
    EXPECT_EQ(firmware_png_from_png(truncated).error().to_string(), "a PNG chunk is truncated");
    EXPECT_EQ(firmware_png_from_png(no_end).error().to_string(), "the PNG file has no IEND chunk");
    EXPECT_FALSE(cbe_gif_from_gif(png).ok());
    EXPECT_EQ(cbe_gif_from_prepared_gif(png).error().to_string(), "not a GIF file");

    IndexedPicture bad = art();
    bad.indices[0] = 9;
    EXPECT_EQ(encode_png(bad).error().to_string(), "the pixel index 9 is past the palette");
    EXPECT_FALSE(encode_gif(bad).ok());
}

TEST(GbkText, EncodesChineseAndAsciiWithAFinalNul) {
    auto text = gbk_text_from_utf8("\xE8\xBD\xA6\xE9\x81\x93 5!");  // "车道 5!"
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, (std::vector<u8>{0xB3, 0xB5, 0xB5, 0xC0, ' ', '5', '!', 0}));
    EXPECT_EQ(*gbk_text_from_utf8(""), std::vector<u8>{0});
    EXPECT_EQ(gbk_text_from_utf8("\xF0\x9F\x99\x82").error().to_string(),  // an emoji
              "the text has characters that GBK cannot hold");
    EXPECT_EQ(gbk_text_from_utf8("\xC3").error().to_string(), "the text is not valid UTF-8");
}

// Two parts from tick 0, a rest, sharps and flats, at 120 quarters a minute:
// what the engine reads back is the same notes at the same times.
TEST(Sounds, TuneBecomesAPackagedMidiFileTheEngineReads) {
    auto tune = parse_tune("# two parts\ntempo 120\npart 0 80 90\nC4/4 -/4 | C#4/2\npart 1 38 100\nBb2/8\n");
    ASSERT_TRUE(tune.ok()) << tune.error().to_string();
    auto wrapped = wrap_sound(10, write_midi_file(*tune));
    ASSERT_TRUE(wrapped.ok());
    auto recognised = audio_format::recognise(*wrapped);
    ASSERT_TRUE(recognised.ok()) << recognised.error().to_string();
    ASSERT_EQ(recognised->kind, SoundKind::Midi);
    auto song = parse_midi(recognised->payload);
    ASSERT_TRUE(song.ok()) << song.error().to_string();
    EXPECT_EQ(song->division, 96u);
    ASSERT_EQ(song->tempos.size(), 1u);
    EXPECT_EQ(song->tempos[0].micros_per_quarter, 500000u);
    struct Seen {
        u64 tick;
        u8 note;
        bool on;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    for (const MidiNoteEvent& e : song->notes) seen.push_back({e.tick, e.note, e.on});
    EXPECT_EQ(seen, (std::vector<Seen>{{0, 60, true}, {0, 46, true}, {96, 60, false}, {192, 46, false},
                                       {192, 61, true}, {240, 61, false}}))
        << "at the same tick a note ends before the next starts";
    EXPECT_NEAR(midi_tick_seconds(*song, 240), 1.25, 1e-9);

    const std::pair<const char*, const char*> bad[] = {
        {"C4/4\n", "line 1: notes before any part"},
        {"part 0 80 90\nH4/4\n", "line 2: 'H4' is not a note"},
        {"part 0 80 90\nC4\n", "line 2: 'C4' is not a note or rest with a length"},
        {"part 16 80 90\n", "line 1: part wants a channel, a program and a velocity"},
        {"tempo 5\n", "line 1: tempo wants 20 to 400"},
        {"part 0 80 90\n-/4\n", "the tune has no notes"},
    };
    for (const auto& [text, message] : bad) EXPECT_EQ(parse_tune(text).error().to_string(), message) << text;
}

// An effect is a mono 16-bit WAV the engine accepts, of the segments' total
// length, never louder than its levels, and the same bytes every time.
TEST(Sounds, EffectBecomesAWavOfItsSegments) {
    const char* text = "rate 8000\nsquare 1000 1000 50 0.5\nnoise 3000 300 100 0.25\n";
    auto wav = effect_wav_from_text(text);
    ASSERT_TRUE(wav.ok()) << wav.error().to_string();
    EXPECT_EQ(*wav, *effect_wav_from_text(text));
    auto decoded = audio_format::decode_wav(*wav);
    ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
    EXPECT_EQ(decoded->rate, 8000u);
    EXPECT_EQ(decoded->channels, 1u);
    ASSERT_EQ(decoded->samples.size(), 1200u);
    float square_peak = 0, noise_peak = 0;
    for (size_t i = 0; i < 400; ++i) square_peak = std::max(square_peak, std::abs(decoded->samples[i]));
    for (size_t i = 400; i < 1200; ++i) noise_peak = std::max(noise_peak, std::abs(decoded->samples[i]));
    EXPECT_GT(square_peak, 0.3f);
    EXPECT_LE(square_peak, 0.5f);
    EXPECT_GT(noise_peak, 0.1f);
    EXPECT_LE(noise_peak, 0.25f);
    EXPECT_EQ(decoded->samples[0], 0.0f) << "segments rise from silence";

    EXPECT_EQ(effect_wav_from_text("saw 1 1 1 1\n").error().to_string(), "line 1: unknown shape 'saw'");
    EXPECT_EQ(effect_wav_from_text("sine 1 1 0 1\n").error().to_string(),
              "line 1: a segment wants start Hz, end Hz, milliseconds and a level 0..1");
    EXPECT_EQ(effect_wav_from_text("sine 9 9 9 1\nrate 8000\n").error().to_string(),
              "line 2: rate wants 4000 to 48000, before any segment");
}

}  // namespace
}  // namespace tarvel::assets
