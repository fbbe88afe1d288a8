#include "media/image/encoders.hpp"

#include "asset_writer/asset_writer.hpp"

#include <gif_lib.h>
#include <png.h>

#include <cstdlib>
#include <cstring>

namespace tarvel::test {
namespace {

void png_write_to_vector(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<u8>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void png_flush(png_structp) {}
[[noreturn]] void png_abort(png_structp, png_const_charp) { std::abort(); }

int gif_write_to_vector(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<u8>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

void check(bool ok) {
    if (!ok) std::abort();  // a broken test encoder is a bug in the test itself
}

}  // namespace

std::vector<u8> encode_png(const PngSpec& spec) {
    std::vector<u8> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &png_abort, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, &png_write_to_vector, &png_flush);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bit_depth, spec.color_type,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!spec.palette.empty())
        png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(spec.palette.data()),
                     static_cast<int>(spec.palette.size() / 3));
    if (!spec.transparency.empty())
        png_set_tRNS(png, info, spec.transparency.data(), static_cast<int>(spec.transparency.size()), nullptr);
    if (spec.gamma) png_set_gAMA(png, info, *spec.gamma);
    png_write_info(png, info);
    const size_t row_bytes = png_get_rowbytes(png, info);
    check(spec.samples.size() == row_bytes * spec.height);
    std::vector<png_bytep> rows(spec.height);
    for (u32 y = 0; y < spec.height; ++y) rows[y] = const_cast<u8*>(spec.samples.data()) + y * row_bytes;
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<u8> encode_gif(const GifSpec& spec) {
    std::vector<u8> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, &gif_write_to_vector, &error);
    check(gif != nullptr);
    EGifSetGifVersion(gif, true);
    const int colors = static_cast<int>(spec.palette.size() / 3);
    ColorMapObject* map = GifMakeMapObject(colors, reinterpret_cast<const GifColorType*>(spec.palette.data()));
    check(map != nullptr);
    const int sw = spec.screen_width ? spec.screen_width : spec.left + spec.width;
    const int sh = spec.screen_height ? spec.screen_height : spec.top + spec.height;
    check(EGifPutScreenDesc(gif, sw, sh, map->BitsPerPixel, 0, map) == GIF_OK);

    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.TransparentColor = spec.transparent < 0 ? NO_TRANSPARENT_COLOR : spec.transparent;
    GifByteType block[4];
    const size_t block_size = EGifGCBToExtension(&gcb, block);
    const int frames = spec.second_frame ? 2 : 1;
    for (int frame = 0; frame < frames; ++frame) {
        check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(block_size), block) == GIF_OK);
        check(EGifPutImageDesc(gif, spec.left, spec.top, spec.width, spec.height, spec.interlaced, nullptr) ==
              GIF_OK);
        // giflib takes the rows in file order: for an interlaced frame that
        // is the four passes one after another.
        std::vector<int> order;
        if (spec.interlaced) {
            static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = kStart[pass]; y < spec.height; y += kStep[pass]) order.push_back(y);
        } else {
            for (int y = 0; y < spec.height; ++y) order.push_back(y);
        }
        for (int y : order) {
            std::vector<GifPixelType> line(spec.indices.begin() + y * spec.width,
                                           spec.indices.begin() + (y + 1) * spec.width);
            if (frame == 1) line.assign(spec.width, 0);  // a later frame the decoder must not show
            check(EGifPutLine(gif, line.data(), spec.width) == GIF_OK);
        }
    }
    GifFreeMapObject(map);
    check(EGifCloseFile(gif, &error) == GIF_OK);
    return out;
}

std::vector<u8> palette_from_rgb565(const std::vector<u16>& values) {
    std::vector<u8> out;
    for (u16 v : values) {
        const u32 r = v >> 11, g = (v >> 5) & 0x3F, b = v & 0x1F;
        out.push_back(static_cast<u8>(r << 3 | r >> 2));
        out.push_back(static_cast<u8>(g << 2 | g >> 4));
        out.push_back(static_cast<u8>(b << 3 | b >> 2));
    }
    return out;
}

std::vector<u8> to_firmware_png(const std::vector<u8>& png) {
    auto firmware = assets::firmware_png_from_png(png);
    check(firmware.ok());
    // The palette chunk's stored CRC is made stale, so that a decoder that
    // checked it would fail.
    std::vector<u8>& bytes = *firmware;
    for (size_t p = 8; p + 12 <= bytes.size();) {
        const u32 length = load_be32(&bytes[p]);
        const bool palette = std::memcmp(&bytes[p + 4], "PLTE", 4) == 0;
        const u32 stored = palette ? (length * 2 / 3) & ~1u : length;
        if (palette) store_be32(&bytes[p + 8 + stored], 0xDEADBEEF);
        p += 12 + stored;
    }
    return std::move(firmware).value();
}

std::vector<u8> to_cbe_gif(const std::vector<u8>& gif) {
    auto cbe = assets::cbe_gif_from_prepared_gif(gif);
    check(cbe.ok());
    return std::move(cbe).value();
}

}  // namespace tarvel::test
