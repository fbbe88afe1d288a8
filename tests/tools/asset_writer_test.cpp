// The resource maker behind cbe-asset: pixel art read from text, the four
// picture encodings it writes (checked by decoding them with the machine's
// own image decoder) and GBK text.
#include <gtest/gtest.h>

#include <string>

#include "asset_writer/asset_writer.hpp"
#include "media/image/image_decoder.hpp"
#include "media/image/encoders.hpp"

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

}  // namespace
}  // namespace tarvel::assets
