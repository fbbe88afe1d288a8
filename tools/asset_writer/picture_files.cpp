#include <gif_lib.h>
#include <png.h>

#include <cstring>
#include <memory>

#include "asset_writer.hpp"

namespace tarvel::assets {
namespace {

constexpr u8 kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

u16 rgb565(const u8* rgb) { return static_cast<u16>((rgb[0] >> 3) << 11 | (rgb[1] >> 2) << 5 | rgb[2] >> 3); }

void append_rgb565_be(std::vector<u8>& out, const u8* rgb) {
    const u16 v = rgb565(rgb);
    out.push_back(static_cast<u8>(v >> 8));
    out.push_back(static_cast<u8>(v));
}

Status check_picture(const IndexedPicture& p) {
    const size_t colors = p.palette.size() / 3;
    if (p.width == 0 || p.height == 0 || p.width > 4096 || p.height > 4096)
        return Error::format("a picture of {}x{} pixels cannot be written", p.width, p.height);
    if (colors == 0 || colors > 256 || p.palette.size() % 3 != 0) return Error("the palette needs 1 to 256 colors");
    if (p.indices.size() != size_t{p.width} * p.height) return Error("the pixel count does not match the size");
    for (u8 index : p.indices)
        if (index >= colors) return Error::format("the pixel index {} is past the palette", index);
    return {};
}

int gif_write_to_vector(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<std::vector<u8>*>(gif->UserData)->insert(static_cast<std::vector<u8>*>(gif->UserData)->end(),
                                                         data, data + length);
    return length;
}

struct GifReadCursor {
    std::span<const u8> bytes;
    size_t at = 0;
};
int gif_read_from_span(GifFileType* gif, GifByteType* out, int length) {
    auto* cursor = static_cast<GifReadCursor*>(gif->UserData);
    const size_t n = std::min<size_t>(static_cast<size_t>(length), cursor->bytes.size() - cursor->at);
    std::memcpy(out, cursor->bytes.data() + cursor->at, n);
    cursor->at += n;
    return static_cast<int>(n);
}

struct GifReaderClose {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

// Writes a one-frame GIF89a: global colour table, graphic control extension,
// image descriptor at (0, 0), rows in order.
Result<std::vector<u8>> write_gif(u32 width, u32 height, const ColorMapObject& colors, int transparent,
                                  const GifByteType* rows) {
    std::vector<u8> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, &gif_write_to_vector, &error);
    if (!gif) return Error::format("giflib: {}", GifErrorString(error));
    EGifSetGifVersion(gif, true);
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.TransparentColor = transparent < 0 ? NO_TRANSPARENT_COLOR : transparent;
    GifByteType extension[4];
    const size_t extension_size = EGifGCBToExtension(&gcb, extension);
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    bool ok = EGifPutScreenDesc(gif, w, h, colors.BitsPerPixel, 0, &colors) == GIF_OK &&
              EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(extension_size), extension) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < h; ++y)
        ok = EGifPutLine(gif, const_cast<GifByteType*>(rows + size_t{width} * y), w) == GIF_OK;
    const int write_error = gif->Error;
    if (EGifCloseFile(gif, &error) != GIF_OK || !ok)
        return Error::format("giflib: {}", GifErrorString(ok ? error : write_error));
    return out;
}

}  // namespace

Result<std::vector<u8>> encode_png(const IndexedPicture& picture) {
    TARVEL_TRY(check_picture(picture));
    const size_t colors = picture.palette.size() / 3;
    std::vector<u8> colormap;  // RGBA entries for the simplified writer
    for (size_t i = 0; i < colors; ++i) {
        colormap.insert(colormap.end(), picture.palette.begin() + 3 * i, picture.palette.begin() + 3 * i + 3);
        colormap.push_back(static_cast<int>(i) == picture.transparent ? 0 : 255);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = picture.width;
    image.height = picture.height;
    image.format = PNG_FORMAT_RGBA_COLORMAP;
    image.colormap_entries = static_cast<png_uint_32>(colors);
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, picture.indices.data(), 0, colormap.data()))
        return Error::format("libpng: {}", image.message);
    std::vector<u8> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, picture.indices.data(), 0, colormap.data()))
        return Error::format("libpng: {}", image.message);
    out.resize(size);
    return out;
}

Result<std::vector<u8>> encode_gif(const IndexedPicture& picture) {
    TARVEL_TRY(check_picture(picture));
    int colors = 2;
    while (colors < static_cast<int>(picture.palette.size() / 3)) colors *= 2;
    std::vector<u8> table(static_cast<size_t>(colors) * 3, 0);
    std::copy(picture.palette.begin(), picture.palette.end(), table.begin());
    std::unique_ptr<ColorMapObject, void (*)(ColorMapObject*)> map(
        GifMakeMapObject(colors, reinterpret_cast<const GifColorType*>(table.data())), &GifFreeMapObject);
    if (!map) return Error("giflib could not make the colour table");
    return write_gif(picture.width, picture.height, *map, picture.transparent, picture.indices.data());
}

Result<std::vector<u8>> firmware_png_from_png(std::span<const u8> png) {
    if (png.size() < 8 || std::memcmp(png.data(), kPngSignature, 8) != 0) return Error("not a PNG file");
    std::vector<u8> out(png.begin(), png.begin() + 8);
    std::memcpy(out.data() + 4, "GAME", 4);
    for (size_t p = 8;;) {
        if (png.size() - p < 12) return Error("the PNG file has no IEND chunk");
        const u32 length = load_be32(&png[p]);
        if (png.size() - p - 12 < length) return Error("a PNG chunk is truncated");
        const u8* type = &png[p + 4];
        if (std::memcmp(type, "PLTE", 4) == 0) {
            if (length % 3 != 0) return Error("the PNG palette length is not a multiple of 3");
            out.insert(out.end(), png.begin() + p, png.begin() + p + 8);
            for (u32 k = 0; k < length; k += 3) append_rgb565_be(out, &png[p + 8 + k]);
            out.insert(out.end(), png.begin() + p + 8 + length, png.begin() + p + 12 + length);
        } else {
            out.insert(out.end(), png.begin() + p, png.begin() + p + 12 + length);
        }
        p += 12 + length;
        if (std::memcmp(type, "IEND", 4) == 0) return out;
    }
}

Result<std::vector<u8>> cbe_gif_from_gif(std::span<const u8> gif_bytes) {
    GifReadCursor cursor{gif_bytes};
    int error = 0;
    std::unique_ptr<GifFileType, GifReaderClose> gif(DGifOpen(&cursor, &gif_read_from_span, &error));
    if (!gif) return Error::format("not a GIF file: {}", GifErrorString(error));
    if (DGifSlurp(gif.get()) != GIF_OK) return Error::format("the GIF file does not read: {}", GifErrorString(gif->Error));
    if (gif->ImageCount < 1) return Error("the GIF file has no picture");
    const SavedImage& frame = gif->SavedImages[0];
    const ColorMapObject* colors = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
    if (!colors) return Error("the GIF file has no colour table");
    const u32 width = static_cast<u32>(frame.ImageDesc.Width), height = static_cast<u32>(frame.ImageDesc.Height);
    if (width == 0 || height == 0 || width > 4096 || height > 4096)
        return Error::format("a GIF picture of {}x{} pixels cannot be written", width, height);
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    DGifSavedExtensionToGCB(gif.get(), 0, &gcb);
    TARVEL_TRY_ASSIGN(std::vector<u8> normal, write_gif(width, height, *colors, gcb.TransparentColor, frame.RasterBits));
    return cbe_gif_from_prepared_gif(normal);
}

Result<std::vector<u8>> cbe_gif_from_prepared_gif(std::span<const u8> gif) {
    // 13 bytes of header and screen descriptor, the colour table, then the
    // graphic control extension.
    if (gif.size() < 13 || std::memcmp(gif.data(), "GIF8", 4) != 0) return Error("not a GIF file");
    const u8 packed = gif[10];
    const size_t entries = size_t{2} << (packed & 7), table_end = 13 + 3 * entries;
    if (!(packed & 0x80)) return Error("the GIF file has no global colour table");
    if (gif.size() < table_end + 3 || gif[table_end] != 0x21 || gif[table_end + 1] != 0xF9 || gif[table_end + 2] != 0x04)
        return Error("the GIF file has no graphic control extension right after its colour table");
    std::vector<u8> out = {'c', 'b', 'e', '!', packed, 0x00, 0x00};
    for (size_t k = 0; k < entries; ++k) append_rgb565_be(out, &gif[13 + 3 * k]);
    out.insert(out.end(), gif.begin() + static_cast<std::ptrdiff_t>(table_end), gif.end());
    return out;
}

}  // namespace tarvel::assets
