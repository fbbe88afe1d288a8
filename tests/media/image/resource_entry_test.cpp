// The resource entry point: leading type bytes, the choice of decoder, the
// fallback from a failed standard decode, truncated input and failure reports.

#include <gtest/gtest.h>

#include <memory>

#include "media/image/image_decoder.hpp"
#include "media/image/encoders.hpp"
#include "support/log_capture.hpp"

namespace tarvel::test {
namespace {

using Bytes = std::vector<u8>;

std::string error_of(const Bytes& bytes) {
    auto result = decode_image_resource(bytes);
    return result.ok() ? "<decoded>" : result.error().to_string();
}

Bytes one_pixel_png() {
    PngSpec spec{.width = 1, .height = 1, .color_type = PNG_COLOR_TYPE_RGB, .bit_depth = 8};
    spec.samples = {1, 2, 3};
    return encode_png(spec);
}

Bytes two_colour_palette_png() {
    PngSpec spec{.width = 2, .height = 1, .color_type = PNG_COLOR_TYPE_PALETTE, .bit_depth = 8};
    spec.palette = palette_from_rgb565({0xF800, 0x07E0});
    spec.samples = {1, 0};
    return encode_png(spec);
}

Bytes small_gif() {
    GifSpec spec{.width = 2, .height = 2};
    spec.palette = palette_from_rgb565({0xF800, 0x07E0});
    spec.indices = {0, 1, 1, 0};
    return encode_gif(spec);
}

Bytes prefixed(Bytes prefix, const Bytes& image) {
    prefix.insert(prefix.end(), image.begin(), image.end());
    return prefix;
}

TEST(ImageResource, EmptyInputAndLoneTypeBytes) {
    EXPECT_EQ(error_of({}), "Empty image data");
    EXPECT_EQ(error_of({1}), "Empty image data");
    EXPECT_EQ(error_of({3}), "Empty image data");
}

TEST(ImageResource, LeadingTypeBytesAreSkipped) {
    const Bytes png = one_pixel_png();
    const Bytes rgba = {1, 2, 3, 255};
    const Bytes header = {3, 9, 9, 9, 9, 9, 9, 9, 9};  // a 3 and eight bytes of its own
    for (const Bytes& input : {png, prefixed({1}, png), prefixed(header, png), prefixed({3}, png),
                               prefixed(header, to_firmware_png(two_colour_palette_png())),
                               prefixed({1}, to_firmware_png(two_colour_palette_png())),
                               prefixed({3}, to_cbe_gif(small_gif())), prefixed({1}, small_gif())}) {
        auto result = decode_image_resource(input);
        ASSERT_TRUE(result.ok()) << result.error().to_string();
        if (result->width == 1) {
            EXPECT_EQ(result->pixels, rgba);
        }
    }
    // Under 17 bytes a leading 3 stands alone: the CBE flags byte is then
    // input[5] (clear), not input[4] (set).
    EXPECT_EQ(error_of({3, 'a', 'b', 'c', 0x80, 0x00, 0, 0, 0}), "CBE GIF has no local palette");
    // Any other first byte is part of the picture.
    EXPECT_EQ(error_of({2, 'a', 'b', 'c', 0x80, 0x00, 0, 0, 0}), "Could not find GIF graphic control extension");
}

TEST(ImageResource, FailedStandardDecodeIsRetriedAsCbeGif) {
    Bytes png = one_pixel_png();
    png[29] ^= 0x01;  // the IHDR CRC
    LogCapture logs;
    const std::string error = error_of(png);
    const std::string head = "Failed to decode standard image (", tail = ") or CBE custom GIF";
    ASSERT_TRUE(error.starts_with(head + "PNG decode failed: ")) << error;
    ASSERT_TRUE(error.ends_with(tail)) << error;
    const std::string first = error.substr(head.size(), error.size() - head.size() - tail.size());
    EXPECT_EQ(logs.lines(),
              (std::vector<std::string>{"tarvel_core::image_decoder|Decoding standard image",
                                        "tarvel_core::image_decoder|Standard image decode failed, trying CBE custom GIF: " + first}));

    Bytes gif = small_gif();
    gif.resize(15);
    EXPECT_TRUE(error_of(gif).starts_with("Failed to decode standard image (GIF decode failed: ")) << error_of(gif);
}

// Every prefix of every kind of input either decodes or fails cleanly. The
// copies are exactly as long as the prefix so the sanitizers see any read past it.
TEST(ImageResource, TruncatedInputNeverReadsPastTheEnd) {
    GifSpec interlaced{.width = 9, .height = 9, .interlaced = true};
    interlaced.palette = palette_from_rgb565({0xF800, 0x07E0, 0x001F, 0xFFFF});
    for (int i = 0; i < 81; ++i) interlaced.indices.push_back(static_cast<u8>(i % 4));
    const Bytes inputs[] = {one_pixel_png(), to_firmware_png(two_colour_palette_png()), encode_gif(interlaced),
                            to_cbe_gif(encode_gif(interlaced)), prefixed({3, 0, 0, 0, 0, 0, 0, 0, 0}, one_pixel_png())};
    for (const Bytes& input : inputs) {
        ASSERT_TRUE(decode_image_resource(input).ok()) << error_of(input);
        for (size_t length = 0; length < input.size(); ++length) {
            std::unique_ptr<u8[]> exact(new u8[length ? length : 1]);
            std::copy(input.begin(), input.begin() + length, exact.get());
            auto result = decode_image_resource(std::span<const u8>(exact.get(), length));
            if (!result.ok()) {
                EXPECT_FALSE(result.error().to_string().empty());
            }
        }
    }
}

TEST(ImageResource, FailureReportShowsTheFirstTwelveBytes) {
    const Error error = Error("inner").context("outer");
    const Bytes many = {0x03, 0x89, 0x50, 0x4E, 0x47, 0x47, 0x41, 0x4D, 0x45, 0x00, 0x0A, 0xFF, 0x77, 0x78};
    EXPECT_EQ(format_image_decode_failure("title.png", many, error),
              "image resource title.png decode failed (head=[03, 89, 50, 4e, 47, 47, 41, 4d, 45, 00, 0a, ff]): "
              "outer: inner\n");
    EXPECT_EQ(format_image_decode_failure("guest stream", Bytes{1, 0xAB}, error),
              "image resource guest stream decode failed (head=[01, ab]): outer: inner\n");

    LogCapture logs;
    testing::internal::CaptureStderr();
    report_image_decode_failure("a", Bytes{7}, error, false);
    report_image_decode_failure("b", Bytes{}, error, true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "image resource b decode failed (head=[]): outer: inner\n");
    EXPECT_EQ(logs.lines(), (std::vector<std::string>(
                                2, "tarvel_core::machine::drawing|failed to decode CBE image resource: outer: inner")));
}

}  // namespace
}  // namespace tarvel::test
