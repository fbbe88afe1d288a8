// Rebuilds of the two application-specific picture encodings into standard
// PNG and GIF byte streams. Every read is bounds-checked against the input
// before it happens.

#include <cstring>

#include "common/crc32.hpp"
#include "common/log.hpp"
#include "media/image/formats.hpp"

namespace tarvel::image_format {
namespace {

void append(std::vector<u8>& out, const u8* first, size_t count) { out.insert(out.end(), first, first + count); }

void append_be32(std::vector<u8>& out, u32 v) {
    u8 b[4];
    store_be32(b, v);
    append(out, b, 4);
}

void append_le16(std::vector<u8>& out, u16 v) {
    out.push_back(static_cast<u8>(v));
    out.push_back(static_cast<u8>(v >> 8));
}

void append_rgb565(std::vector<u8>& out, const u8* be_value) {
    const Rgb c = expand_rgb565(load_be16(be_value));
    out.push_back(c.r);
    out.push_back(c.g);
    out.push_back(c.b);
}

}  // namespace

Result<std::vector<u8>> rebuild_firmware_png(std::span<const u8> bytes) {
    const u64 size = bytes.size();
    std::vector<u8> out;
    out.reserve(bytes.size() + 256);
    append(out, kPngSignature.data(), kPngSignature.size());

    u64 p = 8;
    for (;;) {
        if (p + 8 > size) return Error("Firmware PNG has no IEND chunk");
        const u8* chunk = bytes.data() + p;
        const u32 length = load_be32(chunk);
        const bool palette = std::memcmp(chunk + 4, "PLTE", 4) == 0;
        // The palette chunk keeps its standard declared length (3 bytes an
        // entry) but stores 2-byte RGB565 entries.
        const u64 stored = palette ? ((u64{length} * 2 / 3) & ~u64{1}) : u64{length};
        const u64 end = p + 12 + stored;
        if (end > 0xFFFFFFFFu) return Error("Firmware PNG chunk length overflow");
        if (end > size) return Error("Firmware PNG chunk is truncated");

        const size_t type_at = out.size() + 4;
        append(out, chunk, 8);
        if (palette) {
            if (length % 3 != 0) return Error("Firmware PNG palette length is invalid");
            for (u64 k = 0; k < stored / 2; ++k) append_rgb565(out, chunk + 8 + 2 * k);
            // The stored CRC covered the short form; the expanded chunk needs its own.
            append_be32(out, crc32_of({out.data() + type_at, size_t{4} + length}));
        } else {
            append(out, chunk + 8, static_cast<size_t>(stored) + 4);
        }
        p = end;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) break;
    }
    return out;
}

Result<RebuiltGif> rebuild_cbe_gif(std::span<const u8> bytes) {
    const size_t size = bytes.size();
    const u8* b = bytes.data();
    if (size < 7) return Error("CBE GIF header is truncated");
    const u8 flags = b[4];
    if (!(flags & 0x80)) return Error("CBE GIF has no local palette");
    const u32 size_bits = flags & 0x07;
    const u32 colors = 2u << size_bits;
    const size_t palette_end = 7 + 2 * size_t{colors};

    size_t gce = size;
    for (size_t k = 0; k + 3 <= size; ++k) {
        if (b[k] == 0x21 && b[k + 1] == 0xF9 && b[k + 2] == 0x04) {
            gce = k;
            break;
        }
    }
    if (gce == size) return Error("Could not find GIF graphic control extension");
    if (gce != palette_end || size < palette_end) return Error("Invalid CBE GIF format: GCE too early");
    // The graphic control extension is 8 bytes; the image descriptor follows.
    if (gce + 8 >= size || b[gce + 8] != 0x2C) return Error("Could not find image descriptor");
    if (gce + 16 >= size) return Error("CBE GIF image descriptor is truncated");
    const u16 width = load_le16(b + gce + 13);
    const u16 height = load_le16(b + gce + 15);
    if (width < 1 || width > 4096 || height < 1 || height > 4096)
        return Error::format("Invalid image dimensions: {}x{}", width, height);
    TARVEL_LOG(Debug, kLogTarget, "CBE GIF: {}x{}, {} colors", width, height, colors);

    RebuiltGif gif;
    gif.width = width;
    gif.height = height;
    gif.colors = colors;
    std::vector<u8>& out = gif.bytes;
    out.reserve(13 + 3 * size_t{colors} + (size - gce));
    static constexpr u8 kHeader[] = {'G', 'I', 'F', '8', '9', 'a'};
    append(out, kHeader, sizeof kHeader);
    append_le16(out, width);
    append_le16(out, height);
    out.push_back(static_cast<u8>(0x80 | size_bits << 4 | size_bits));  // global table, its size
    out.push_back(0);  // background colour index
    out.push_back(0);  // pixel aspect
    for (u32 k = 0; k < colors; ++k) append_rgb565(out, b + 7 + 2 * k);
    append(out, b + gce, size - gce);
    return gif;
}

Result<DecodedImage> decode_cbe_gif(std::span<const u8> bytes) {
    TARVEL_TRY_ASSIGN(RebuiltGif gif, rebuild_cbe_gif(bytes));
    Result<DecodedImage> image = decode_gif(gif.bytes);
    if (!image) return std::move(image).error().context("Failed to decode rebuilt CBE GIF");
    return image;
}

Result<DecodedImage> decode_firmware_png(std::span<const u8> bytes) {
    TARVEL_TRY_ASSIGN(std::vector<u8> png, rebuild_firmware_png(bytes));
    return decode_png(png);
}

}  // namespace tarvel::image_format
