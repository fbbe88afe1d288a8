// The firmware PNG and the CBE custom GIF: rebuilds, decoding and each of
// their error messages.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "media/image/image_decoder.hpp"
#include "media/image/formats.hpp"
#include "media/image/encoders.hpp"
#include "support/log_capture.hpp"

namespace tarvel::test {
namespace {

using image_format::rebuild_cbe_gif;
using image_format::rebuild_firmware_png;

std::string error_of(const std::vector<u8>& bytes) {
    auto result = decode_image_resource(bytes);
    return result.ok() ? "<decoded>" : result.error().to_string();
}

// A 2-colour palette PNG, so that its PLTE chunk has L = 6.
std::vector<u8> two_colour_png() {
    PngSpec spec{.width = 3, .height = 2, .color_type = PNG_COLOR_TYPE_PALETTE, .bit_depth = 1};
    spec.palette = palette_from_rgb565({0xF800, 0x001F});
    spec.samples = {0b1010'0000, 0b0100'0000};
    return encode_png(spec);
}

TEST(Rgb565, ExpansionReplicatesTopBits) {
    using image_format::expand_rgb565;
    auto rgb = [](u16 v) {
        auto c = expand_rgb565(v);
        return std::vector<int>{c.r, c.g, c.b};
    };
    EXPECT_EQ(rgb(0xF800), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(rgb(0x07E0), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(rgb(0x001F), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(rgb(0xFFFF), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(rgb(0x8410), (std::vector<int>{132, 130, 132}));
}

TEST(FirmwarePng, RebuildRestoresTheOriginalFileWithAFreshPaletteCrc) {
    const std::vector<u8> png = two_colour_png();
    const std::vector<u8> firmware = to_firmware_png(png);
    ASSERT_EQ(firmware.size(), png.size() - 2);  // PLTE stores 4 of its 6 bytes
    auto rebuilt = rebuild_firmware_png(firmware);
    ASSERT_TRUE(rebuilt.ok()) << rebuilt.error().to_string();
    // Byte for byte the encoder's file: signature, expanded palette, and a CRC
    // computed afresh (the firmware copy carried DEADBEEF).
    EXPECT_EQ(*rebuilt, png);

    LogCapture logs;
    auto image = decode_image_resource(firmware);
    ASSERT_TRUE(image.ok()) << image.error().to_string();
    EXPECT_EQ(image->pixels, (std::vector<u8>{0, 0, 255, 255, 255, 0, 0, 255, 0, 0, 255, 255,  //
                                              255, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0, 255}));
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{"tarvel_core::image_decoder|Decoding firmware PNG"}));
}

TEST(FirmwarePng, ChunkWalkErrors) {
    const std::vector<u8> firmware = to_firmware_png(two_colour_png());
    // Everything up to and including the IHDR chunk (8 + 25 bytes), but no IEND.
    const std::vector<u8> header_only(firmware.begin(), firmware.begin() + 33);
    EXPECT_EQ(error_of(header_only), "Firmware PNG has no IEND chunk");
    EXPECT_EQ(error_of(std::vector<u8>(firmware.begin(), firmware.begin() + 36)), "Firmware PNG has no IEND chunk");
    EXPECT_EQ(error_of(std::vector<u8>(firmware.begin(), firmware.end() - 1)), "Firmware PNG chunk is truncated");

    std::vector<u8> overflow = header_only;
    overflow.insert(overflow.end(), {0xFF, 0xFF, 0xFF, 0xFF, 'I', 'D', 'A', 'T'});
    EXPECT_EQ(error_of(overflow), "Firmware PNG chunk length overflow");

    // PLTE declaring 7 bytes stores floor(14 / 3) rounded to even = 4 bytes.
    std::vector<u8> odd_palette = header_only;
    odd_palette.insert(odd_palette.end(), {0, 0, 0, 7, 'P', 'L', 'T', 'E', 0xF8, 0, 0, 0x1F, 1, 2, 3, 4});
    EXPECT_EQ(error_of(odd_palette), "Firmware PNG palette length is invalid");

    // Bytes after IEND are never looked at.
    std::vector<u8> trailing = firmware;
    trailing.insert(trailing.end(), {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3});
    EXPECT_TRUE(decode_image_resource(trailing).ok());
}

TEST(FirmwarePng, BrokenImageDataIsAPngErrorWithoutGifRetry) {
    std::vector<u8> firmware = to_firmware_png(two_colour_png());
    firmware[firmware.size() - 16] ^= 0xFF;  // the stored CRC of IDAT, just before IEND
    const std::string error = error_of(firmware);
    EXPECT_EQ(error.rfind("PNG decode failed: ", 0), 0u) << error;
}

std::vector<u8> small_gif(int transparent = -1) {
    GifSpec spec{.width = 3, .height = 2, .transparent = transparent};
    spec.palette = palette_from_rgb565({0xF800, 0x07E0, 0x001F, 0xFFFF});
    spec.indices = {0, 1, 2, 3, 2, 1};
    return encode_gif(spec);
}

TEST(CbeGif, RebuildDecodesLikeTheOriginalGif) {
    const std::vector<u8> gif = small_gif(3);
    const std::vector<u8> cbe = to_cbe_gif(gif);
    auto rebuilt = rebuild_cbe_gif(cbe);
    ASSERT_TRUE(rebuilt.ok()) << rebuilt.error().to_string();
    EXPECT_EQ(rebuilt->width, 3u);
    EXPECT_EQ(rebuilt->height, 2u);
    EXPECT_EQ(rebuilt->colors, 4u);
    EXPECT_EQ(rebuilt->bytes, gif);  // same header, table and stream as giflib wrote them

    LogCapture logs;
    auto image = decode_image_resource(cbe);
    ASSERT_TRUE(image.ok()) << image.error().to_string();
    EXPECT_EQ(image->pixels, (std::vector<u8>{255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255,  //
                                              0, 0, 0, 0, 0, 0, 255, 255, 0, 255, 0, 255}));
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{"tarvel_core::image_decoder|Attempting CBE custom GIF format",
                                                      "tarvel_core::image_decoder|CBE GIF: 3x2, 4 colors"}));
}

// The CBE layout by hand around a 2-entry palette (flags 0x80): header 7,
// palette 4, so the graphic control extension belongs at offset 11.
std::vector<u8> hand_made_cbe_gif(u16 width, u16 height, size_t gce_at = 11) {
    std::vector<u8> out = {0, 0, 0, 0, 0x80, 0, 0, 0xF8, 0x00, 0x00, 0x1F};
    out.resize(gce_at, 0);
    out.insert(out.end(), {0x21, 0xF9, 0x04, 0, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0});
    out.insert(out.end(), {u8(width), u8(width >> 8), u8(height), u8(height >> 8), 0});
    out.insert(out.end(), {0x02, 0x02, 0x44, 0x01, 0x00, 0x3B});  // one LZW block for a 1x1 picture
    return out;
}

TEST(CbeGif, HeaderAndLayoutErrors) {
    auto decoded = decode_image_resource(hand_made_cbe_gif(1, 1));
    ASSERT_TRUE(decoded.ok()) << decoded.error().to_string();
    EXPECT_EQ(decoded->pixels, (std::vector<u8>{255, 0, 0, 255}));

    EXPECT_EQ(error_of({0x05, 1, 2, 3, 0x80, 5}), "CBE GIF header is truncated");
    EXPECT_EQ(error_of({0x05, 1, 2, 3, 0x7F, 5, 6}), "CBE GIF has no local palette");
    EXPECT_EQ(error_of({0x05, 1, 2, 3, 0x80, 5, 6, 0x21, 0xF9, 0x05}), "Could not find GIF graphic control extension");
    EXPECT_EQ(error_of(hand_made_cbe_gif(1, 1, 12)), "Invalid CBE GIF format: GCE too early");
    // A GCE pattern inside the palette is found first, and is in the wrong place.
    std::vector<u8> early = hand_made_cbe_gif(1, 1);
    early[8] = 0x21, early[9] = 0xF9, early[10] = 0x04;
    EXPECT_EQ(error_of(early), "Invalid CBE GIF format: GCE too early");

    std::vector<u8> no_descriptor = hand_made_cbe_gif(1, 1);
    no_descriptor[19] = 0x2D;
    EXPECT_EQ(error_of(no_descriptor), "Could not find image descriptor");
    EXPECT_EQ(error_of(std::vector<u8>(no_descriptor.begin(), no_descriptor.begin() + 19)),
              "Could not find image descriptor");

    EXPECT_EQ(error_of(hand_made_cbe_gif(0, 5)), "Invalid image dimensions: 0x5");
    EXPECT_EQ(error_of(hand_made_cbe_gif(7, 4097)), "Invalid image dimensions: 7x4097");
    EXPECT_TRUE(decode_image_resource(hand_made_cbe_gif(4096, 1)).error().to_string().starts_with(
        "Failed to decode rebuilt CBE GIF: GIF decode failed: "));

    // Input ending inside the height field of the descriptor.
    const std::vector<u8> whole = hand_made_cbe_gif(1, 1);
    EXPECT_EQ(error_of(std::vector<u8>(whole.begin(), whole.begin() + 27)), "CBE GIF image descriptor is truncated");
}

}  // namespace
}  // namespace tarvel::test
