// Ordinary PNG and GIF files through the resource decoder.

#include <gtest/gtest.h>

#include "media/image/image_decoder.hpp"
#include "media/image/encoders.hpp"

namespace tarvel::test {
namespace {

using Pixels = std::vector<u8>;

DecodedImage decode_ok(const std::vector<u8>& bytes) {
    auto result = decode_image_resource(bytes);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().to_string());
    return result.ok() ? std::move(result).value() : DecodedImage{};
}

TEST(StandardPng, ColourTypesAndDepthsBecomeRgba8) {
    // Palette with a tRNS entry: index 0 is fully transparent, index 2 half.
    PngSpec palette{.width = 3, .height = 1, .color_type = PNG_COLOR_TYPE_PALETTE, .bit_depth = 8};
    palette.palette = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    palette.transparency = {0, 255, 128};
    palette.samples = {2, 1, 0};
    DecodedImage image = decode_ok(encode_png(palette));
    EXPECT_EQ(image.width, 3u);
    EXPECT_EQ(image.height, 1u);
    EXPECT_EQ(image.pixels, (Pixels{70, 80, 90, 128, 40, 50, 60, 255, 10, 20, 30, 0}));

    // 1-bit grey: packed pixels expand to full-intensity RGB, opaque.
    PngSpec grey{.width = 4, .height = 1, .color_type = PNG_COLOR_TYPE_GRAY, .bit_depth = 1};
    grey.samples = {0b1010'0000};
    EXPECT_EQ(decode_ok(encode_png(grey)).pixels,
              (Pixels{255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255}));

    // 16-bit grey with alpha is scaled to 8 bits.
    PngSpec deep{.width = 1, .height = 1, .color_type = PNG_COLOR_TYPE_GRAY_ALPHA, .bit_depth = 16};
    deep.samples = {0xFF, 0xFF, 0x80, 0x00};
    EXPECT_EQ(decode_ok(encode_png(deep)).pixels, (Pixels{255, 255, 255, 128}));
}

TEST(StandardPng, GammaChunkLeavesStoredColoursAlone) {
    PngSpec rgb{.width = 2, .height = 1, .color_type = PNG_COLOR_TYPE_RGB, .bit_depth = 8, .gamma = 1.0};
    rgb.samples = {100, 50, 200, 1, 2, 3};
    EXPECT_EQ(decode_ok(encode_png(rgb)).pixels, (Pixels{100, 50, 200, 255, 1, 2, 3, 255}));
}

TEST(StandardPng, InterlacedMatchesProgressive) {
    PngSpec spec{.width = 11, .height = 9, .color_type = PNG_COLOR_TYPE_RGB_ALPHA, .bit_depth = 8};
    for (u32 i = 0; i < spec.width * spec.height * 4; ++i) spec.samples.push_back(static_cast<u8>(i * 37 + 5));
    const Pixels progressive = decode_ok(encode_png(spec)).pixels;
    spec.interlaced = true;
    EXPECT_EQ(decode_ok(encode_png(spec)).pixels, progressive);
    EXPECT_EQ(progressive, spec.samples);
}

TEST(StandardPng, HugeDeclaredSizeIsRefusedBeforeDecoding) {
    // 3000 x 3000 is within libpng's limits but past the decoder's pixel budget.
    PngSpec spec{.width = 3000, .height = 3000, .color_type = PNG_COLOR_TYPE_GRAY, .bit_depth = 1};
    spec.samples.assign(375 * 3000, 0);
    auto result = decode_image_resource(encode_png(spec));
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().to_string().find("3000x3000 exceed the decoder limit"), std::string::npos)
        << result.error().to_string();
}

GifSpec four_colour_gif(u16 width, u16 height) {
    GifSpec spec{.width = width, .height = height};
    spec.palette = palette_from_rgb565({0xF800, 0x07E0, 0x001F, 0xFFFF});
    for (int i = 0; i < width * height; ++i) spec.indices.push_back(static_cast<u8>((i * 7 + i / width) % 4));
    return spec;
}

Pixels expected_rgba(const GifSpec& spec) {
    Pixels out;
    for (u8 index : spec.indices) {
        if (index == spec.transparent) {
            out.insert(out.end(), {0, 0, 0, 0});
            continue;
        }
        out.insert(out.end(), spec.palette.begin() + 3 * index, spec.palette.begin() + 3 * index + 3);
        out.push_back(255);
    }
    return out;
}

TEST(StandardGif, FirstFrameWithTransparencyAndInterlace) {
    GifSpec spec = four_colour_gif(5, 10);
    spec.transparent = 1;
    spec.second_frame = true;
    DecodedImage image = decode_ok(encode_gif(spec));
    EXPECT_EQ(image.width, 5u);
    EXPECT_EQ(image.height, 10u);
    EXPECT_EQ(image.pixels, expected_rgba(spec));

    spec.interlaced = true;
    EXPECT_EQ(decode_ok(encode_gif(spec)).pixels, expected_rgba(spec));
}

TEST(StandardGif, FrameIsPlacedOnTheLogicalScreen) {
    GifSpec spec = four_colour_gif(2, 2);
    spec.left = 3;
    spec.top = 1;
    spec.screen_width = 6;
    spec.screen_height = 4;
    DecodedImage image = decode_ok(encode_gif(spec));
    ASSERT_EQ(image.width, 6u);
    ASSERT_EQ(image.height, 4u);
    const Pixels frame = expected_rgba(spec);
    for (u32 y = 0; y < 4; ++y) {
        for (u32 x = 0; x < 6; ++x) {
            const u8* got = &image.pixels[(y * 6 + x) * 4];
            const bool inside = x >= 3 && x < 5 && y >= 1 && y < 3;
            const Pixels want = inside ? Pixels(frame.begin() + ((y - 1) * 2 + x - 3) * 4,
                                                frame.begin() + ((y - 1) * 2 + x - 3) * 4 + 4)
                                       : Pixels{0, 0, 0, 0};
            EXPECT_EQ(Pixels(got, got + 4), want) << x << "," << y;
        }
    }
    // A frame that reaches past a smaller declared screen widens the picture.
    spec.screen_width = 2;
    EXPECT_EQ(decode_ok(encode_gif(spec)).width, 5u);
}

TEST(StandardGif, HugeLogicalScreenIsRefused) {
    GifSpec spec = four_colour_gif(1, 1);
    spec.screen_width = 4000;
    spec.screen_height = 4000;
    auto result = decode_image_resource(encode_gif(spec));
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().to_string().find("4000x4000 exceed the decoder limit"), std::string::npos);
}

}  // namespace
}  // namespace tarvel::test
