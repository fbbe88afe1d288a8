// Entry point of the image decoder: strips the optional leading type byte,
// picks the encoding and hands the bytes to the matching decoder.

#include "media/image/image_decoder.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/log.hpp"
#include "media/image/formats.hpp"

namespace tarvel {
namespace image_format {

StandardFormat detect_standard_format(std::span<const u8> bytes) {
    if (bytes.size() >= kPngSignature.size() &&
        std::equal(kPngSignature.begin(), kPngSignature.end(), bytes.begin()))
        return StandardFormat::Png;
    if (bytes.size() >= 6 && (std::memcmp(bytes.data(), "GIF87a", 6) == 0 || std::memcmp(bytes.data(), "GIF89a", 6) == 0))
        return StandardFormat::Gif;
    return StandardFormat::None;
}

bool has_firmware_png_signature(std::span<const u8> bytes) {
    return bytes.size() >= kFirmwarePngSignature.size() &&
           std::equal(kFirmwarePngSignature.begin(), kFirmwarePngSignature.end(), bytes.begin());
}

Result<DecodedImage> decode_standard_image(std::span<const u8> bytes) {
    switch (detect_standard_format(bytes)) {
        case StandardFormat::Png: return decode_png(bytes);
        case StandardFormat::Gif: return decode_gif(bytes);
        case StandardFormat::None: break;
    }
    return Error("Unrecognised image format");
}

Status check_dimensions(u64 width, u64 height) {
    if (width == 0 || height == 0) return Error::format("Image has no pixels: {}x{}", width, height);
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels)
        return Error::format("Image dimensions {}x{} exceed the decoder limit", width, height);
    return {};
}

// Resources may carry a type byte before the picture. A 3 is followed by
// eight more bytes of its own when a picture follows them, and stands alone
// otherwise; a 1 always stands alone.
size_t image_resource_start(std::span<const u8> bytes) {
    if (bytes[0] == 3 && bytes.size() >= 17) {
        const auto after_header = bytes.subspan(9);
        if (detect_standard_format(after_header) != StandardFormat::None ||
            has_firmware_png_signature(after_header))
            return 9;
        return 1;
    }
    if (bytes[0] == 1 || bytes[0] == 3) return 1;
    return 0;
}

}  // namespace image_format

using namespace image_format;

Result<DecodedImage> decode_image_resource(std::span<const u8> bytes) {
    if (bytes.empty()) return Error("Empty image data");
    const auto image = bytes.subspan(image_resource_start(bytes));
    if (image.empty()) return Error("Empty image data");

    if (has_firmware_png_signature(image)) {
        TARVEL_LOG(Debug, kLogTarget, "Decoding firmware PNG");
        return decode_firmware_png(image);
    }
    if (detect_standard_format(image) != StandardFormat::None) {
        TARVEL_LOG(Debug, kLogTarget, "Decoding standard image");
        Result<DecodedImage> standard = decode_standard_image(image);
        if (standard) return standard;
        const std::string first_error = standard.error().to_string();
        TARVEL_LOG(Debug, kLogTarget, "Standard image decode failed, trying CBE custom GIF: {}", first_error);
        Result<DecodedImage> custom = decode_cbe_gif(image);
        if (custom) return custom;
        return Error::format("Failed to decode standard image ({}) or CBE custom GIF", first_error);
    }
    TARVEL_LOG(Debug, kLogTarget, "Attempting CBE custom GIF format");
    return decode_cbe_gif(image);
}

std::string format_image_decode_failure(std::string_view resource_name, std::span<const u8> bytes,
                                        const Error& error) {
    std::string head = "[";
    const size_t shown = std::min<size_t>(12, bytes.size());
    for (size_t i = 0; i < shown; ++i) head += fmt::format("{}{:02x}", i ? ", " : "", bytes[i]);
    head += "]";
    return fmt::format("image resource {} decode failed (head={}): {}\n", resource_name, head, error.to_string());
}

void report_image_decode_failure(std::string_view resource_name, std::span<const u8> bytes, const Error& error,
                                 bool traced) {
    if (traced) {
        const std::string line = format_image_decode_failure(resource_name, bytes, error);
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
    TARVEL_LOG(Warn, "tarvel_core::machine::drawing", "failed to decode CBE image resource: {}", error.to_string());
}

}  // namespace tarvel
