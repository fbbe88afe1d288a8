#pragma once
// Image decoding for application resources.
//
// Applications ship pictures in three encodings: ordinary image files (PNG and
// GIF), the firmware PNG (altered signature, palette stored as RGB565) and the
// CBE custom GIF (GIF header replaced, palette stored as RGB565). The two odd
// encodings are rebuilt into ordinary PNG/GIF byte streams, so that libpng and
// giflib do all pixel work. The decoder knows nothing of guest memory and keeps
// no state between calls.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"

namespace tarvel {

// A decoded picture: rows top to bottom, each exactly width * 4 bytes of RGBA8.
struct DecodedImage {
    u32 width = 0;
    u32 height = 0;
    std::vector<u8> pixels;
};

// Decoded pictures larger than this are refused before any pixel buffer is
// allocated, so a tiny file that declares a huge canvas cannot exhaust memory.
// The guest heap is 4 MiB, and a loaded image costs 2 bytes per pixel there,
// so nothing near these limits could ever reach the guest anyway.
inline constexpr u32 kMaxImageSide = 16384;
inline constexpr u64 kMaxImagePixels = u64{2048} * 2048;

// Turns the bytes of an image resource (any of the three encodings, with the
// optional leading type byte) into RGBA8 pixels.
Result<DecodedImage> decode_image_resource(std::span<const u8> bytes);

// Reports a final decode failure of the named resource: a warning on the
// drawing log target and, when the caller's trace filter selects the image
// stream load call, a line on standard error naming the first bytes.
void report_image_decode_failure(std::string_view resource_name, std::span<const u8> bytes,
                                 const Error& error, bool traced);

// The standard-error line of report_image_decode_failure, with its line end.
std::string format_image_decode_failure(std::string_view resource_name, std::span<const u8> bytes,
                                        const Error& error);

}  // namespace tarvel
