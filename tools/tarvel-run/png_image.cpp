#include "png_image.hpp"

#include <png.h>

#include <cstdio>
#include <memory>

namespace tarvel_run {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// libpng reports errors through longjmp; the handlers keep the message and the
// callers unwind only plain data, so nothing with a destructor is skipped.
void on_error(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    if (error != nullptr) *error = message ? message : "libpng error";
    png_longjmp(png, 1);
}
void on_warning(png_structp, png_const_charp) {}

}  // namespace

namespace {

// libpng unwinds with longjmp: these two functions hold only plain values in
// the frame that calls setjmp, and return false with `error` set on failure.
bool encode_rgb(std::FILE* file, unsigned width, unsigned height, png_bytepp rows, std::string* error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, on_error, on_warning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Hands the decoded rows (8-bit RGB) to `take`, which copies them out.
bool decode_rgb(std::FILE* file, void (*take)(void*, png_uint_32, png_uint_32, png_bytepp), void* context,
                std::string* error) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, error, on_error, on_warning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_png(png, info,
                 PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_STRIP_ALPHA | PNG_TRANSFORM_GRAY_TO_RGB,
                 nullptr);
    png_bytepp rows = png_get_rows(png, info);
    const bool rgb = png_get_channels(png, info) == 3 && rows != nullptr;
    if (rgb) take(context, png_get_image_width(png, info), png_get_image_height(png, info), rows);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!rgb && error != nullptr) *error = "unexpected PNG layout";
    return rgb;
}

void take_rows(void* context, png_uint_32 width, png_uint_32 height, png_bytepp rows) {
    Picture& picture = *static_cast<Picture*>(context);
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(size_t{width} * height);
    for (png_uint_32 y = 0; y < height; ++y)
        for (png_uint_32 x = 0; x < width; ++x) {
            const png_byte* p = rows[y] + size_t{x} * 3;
            picture.pixels[size_t{y} * width + x] = 0xFF000000u | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        }
}

}  // namespace

std::string write_png(const std::string& path, const Picture& picture) {
    if (picture.width == 0 || picture.height == 0 || picture.pixels.size() != size_t{picture.width} * picture.height)
        return "no frame to write to " + path;
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) return "cannot write " + path;

    std::vector<png_byte> rgb(size_t{picture.width} * picture.height * 3);
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        rgb[i * 3 + 0] = static_cast<png_byte>(picture.pixels[i] >> 16);
        rgb[i * 3 + 1] = static_cast<png_byte>(picture.pixels[i] >> 8);
        rgb[i * 3 + 2] = static_cast<png_byte>(picture.pixels[i]);
    }
    std::vector<png_bytep> rows(picture.height);
    for (unsigned y = 0; y < picture.height; ++y) rows[y] = rgb.data() + size_t{y} * picture.width * 3;

    std::string error;
    if (!encode_rgb(file.get(), picture.width, picture.height, rows.data(), &error))
        return "cannot write " + path + ": " + (error.empty() ? "libpng failed" : error);
    if (std::fflush(file.get()) != 0) return "cannot write " + path;
    return {};
}

bool read_png(const std::string& path, Picture& picture, std::string& error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    std::string why;
    if (!decode_rgb(file.get(), take_rows, &picture, &why)) {
        error = path + ": " + (why.empty() ? "not a readable PNG" : why);
        return false;
    }
    return true;
}

}  // namespace tarvel_run
