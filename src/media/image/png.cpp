// Standard PNG decoding with libpng's classic interface.
//
// The classic interface is used rather than the simplified one because the
// latter applies gamma correction to files with a gAMA chunk; application
// pictures are palette art whose stored colours must come out unchanged.
//
// libpng reports errors by longjmp. Every function that sets a jump target
// below holds only plain values, and all C++ objects live in the caller, so
// no destructor is ever skipped.

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "media/image/formats.hpp"

namespace tarvel::image_format {
namespace {

struct PngInput {
    const u8* data;
    size_t size;
    size_t pos;
    char message[160];
};

void read_from_memory(png_structp png, png_bytep out, size_t count) {
    auto* in = static_cast<PngInput*>(png_get_io_ptr(png));
    if (count > in->size - in->pos) png_error(png, "PNG data is truncated");
    std::memcpy(out, in->data + in->pos, count);
    in->pos += count;
}

[[noreturn]] void on_error(png_structp png, png_const_charp message) {
    auto* in = static_cast<PngInput*>(png_get_error_ptr(png));
    std::snprintf(in->message, sizeof in->message, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

struct Layout {
    u32 width;
    u32 height;
    size_t row_bytes;
};

// Reads the header and sets up the conversion of every colour type and depth
// to 8-bit RGBA, without gamma handling.
bool read_header(png_structp png, png_infop info, Layout* layout) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->width = png_get_image_width(png, info);
    layout->height = png_get_image_height(png, info);
    layout->row_bytes = png_get_rowbytes(png, info);
    return true;
}

bool read_pixels(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    return true;
}

class ReadStruct {
public:
    explicit ReadStruct(PngInput* input) {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, input, &on_error, &on_warning);
        if (png_) info_ = png_create_info_struct(png_);
        if (png_ && info_) png_set_read_fn(png_, input, &read_from_memory);
    }
    ~ReadStruct() {
        if (png_) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
    }
    ReadStruct(const ReadStruct&) = delete;
    ReadStruct& operator=(const ReadStruct&) = delete;

    bool ok() const { return png_ && info_; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

Error png_failure(const PngInput& input) {
    return Error::format("PNG decode failed: {}", input.message[0] ? input.message : "unknown error");
}

}  // namespace

Result<DecodedImage> decode_png(std::span<const u8> bytes) {
    PngInput input{bytes.data(), bytes.size(), 0, {}};
    ReadStruct reader(&input);
    if (!reader.ok()) return Error("PNG decode failed: cannot create the PNG reader");

    Layout layout{};
    if (!read_header(reader.png(), reader.info(), &layout)) return png_failure(input);
    TARVEL_TRY(check_dimensions(layout.width, layout.height));
    if (layout.row_bytes != size_t{layout.width} * 4)
        return Error::format("PNG decode failed: unexpected row size {} for width {}", layout.row_bytes,
                             layout.width);

    DecodedImage image;
    image.width = layout.width;
    image.height = layout.height;
    image.pixels.resize(layout.row_bytes * layout.height);
    std::vector<png_bytep> rows(layout.height);
    for (u32 y = 0; y < layout.height; ++y) rows[y] = image.pixels.data() + y * layout.row_bytes;
    if (!read_pixels(reader.png(), rows.data())) return png_failure(input);
    return image;
}

}  // namespace tarvel::image_format
