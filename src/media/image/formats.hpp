#pragma once
// The pieces the image decoder is built from: format detection, the standard
// PNG and GIF decoders, and the rebuilds that turn the two application-specific
// encodings into standard byte streams.

#include <array>
#include <span>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"
#include "media/image/image_decoder.hpp"

namespace tarvel::image_format {

inline constexpr const char* kLogTarget = "tarvel_core::image_decoder";

inline constexpr std::array<u8, 8> kPngSignature{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
// The PNG signature with its last four bytes replaced by the letters GAME.
inline constexpr std::array<u8, 8> kFirmwarePngSignature{0x89, 0x50, 0x4E, 0x47, 0x47, 0x41, 0x4D, 0x45};

enum class StandardFormat { None, Png, Gif };

// Recognises the formats the standard decoder handles from their leading bytes.
StandardFormat detect_standard_format(std::span<const u8> bytes);
bool has_firmware_png_signature(std::span<const u8> bytes);

// Where the picture starts in a resource that may carry a leading type byte
// (a 1, or a 3 with or without eight more bytes of its own). `bytes` is not empty.
size_t image_resource_start(std::span<const u8> bytes);

// Full decode of a standard PNG or GIF (first frame) to RGBA8.
Result<DecodedImage> decode_standard_image(std::span<const u8> bytes);
Result<DecodedImage> decode_png(std::span<const u8> bytes);
Result<DecodedImage> decode_gif(std::span<const u8> bytes);

// Refuses empty pictures and those past the decoder's size limits.
Status check_dimensions(u64 width, u64 height);

struct Rgb {
    u8 r, g, b;
};
// RGB565 to 8 bits per channel, replicating the top bits into the low ones so
// that full intensity stays full intensity.
inline Rgb expand_rgb565(u16 v) {
    const u32 r5 = (v >> 11) & 0x1F, g6 = (v >> 5) & 0x3F, b5 = v & 0x1F;
    return Rgb{static_cast<u8>(r5 << 3 | r5 >> 2), static_cast<u8>(g6 << 2 | g6 >> 4),
               static_cast<u8>(b5 << 3 | b5 >> 2)};
}

// Firmware PNG (signature ending in "GAME", RGB565 palette) to a standard PNG
// byte stream with a fresh palette CRC. Stops after IEND.
Result<std::vector<u8>> rebuild_firmware_png(std::span<const u8> bytes);

// CBE custom GIF (short header, RGB565 palette) to a standard GIF byte stream.
struct RebuiltGif {
    std::vector<u8> bytes;
    u32 width = 0;
    u32 height = 0;
    u32 colors = 0;
};
Result<RebuiltGif> rebuild_cbe_gif(std::span<const u8> bytes);

// Rebuild and decode; decoder failures carry the rebuild's context.
Result<DecodedImage> decode_cbe_gif(std::span<const u8> bytes);
Result<DecodedImage> decode_firmware_png(std::span<const u8> bytes);

}  // namespace tarvel::image_format
