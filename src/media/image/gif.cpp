// Standard GIF decoding with giflib: the first frame only, read record by
// record so that later frames and their memory are never touched.
//
// The picture is the logical screen with the first frame placed at its offset;
// pixels the frame does not cover are transparent. A frame that reaches past
// the declared screen enlarges the picture instead of being cut, so no pixel
// of the file is lost.

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "media/image/formats.hpp"

namespace tarvel::image_format {
namespace {

struct GifInput {
    const u8* data;
    size_t size;
    size_t pos;
};

int read_from_memory(GifFileType* gif, GifByteType* out, int count) {
    auto* in = static_cast<GifInput*>(gif->UserData);
    if (count <= 0) return 0;
    const size_t n = std::min(static_cast<size_t>(count), in->size - in->pos);
    std::memcpy(out, in->data + in->pos, n);
    in->pos += n;
    return static_cast<int>(n);
}

Error gif_failure(int code) {
    const char* text = GifErrorString(code);
    return Error::format("GIF decode failed: {}", text ? text : "unknown error");
}

class GifFile {
public:
    explicit GifFile(GifInput* input) { gif_ = DGifOpen(input, &read_from_memory, &open_error_); }
    ~GifFile() {
        int ignored = 0;
        if (gif_) DGifCloseFile(gif_, &ignored);
    }
    GifFile(const GifFile&) = delete;
    GifFile& operator=(const GifFile&) = delete;

    GifFileType* get() const { return gif_; }
    int open_error() const { return open_error_; }

private:
    GifFileType* gif_ = nullptr;
    int open_error_ = 0;
};

// Reads an extension and all its sub-blocks; remembers the transparent index
// of a graphic control extension (the one before the first frame applies).
Status read_extension(GifFileType* gif, int* transparent_index) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return gif_failure(gif->Error);
    if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
        *transparent_index = (block[1] & 0x01) ? block[4] : -1;
    while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return gif_failure(gif->Error);
    }
    return {};
}

Result<DecodedImage> read_first_frame(GifFileType* gif, int transparent_index) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) return gif_failure(gif->Error);
    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0 || desc.Left < 0 || desc.Top < 0)
        return Error::format("GIF decode failed: invalid frame {}x{} at {},{}", desc.Width, desc.Height,
                             desc.Left, desc.Top);
    const ColorMapObject* colors = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!colors || !colors->Colors || colors->ColorCount <= 0)
        return Error("GIF decode failed: the image has no colour table");

    const u64 width = std::max<u64>(u64(gif->SWidth > 0 ? gif->SWidth : 0), u64(desc.Left) + u64(desc.Width));
    const u64 height = std::max<u64>(u64(gif->SHeight > 0 ? gif->SHeight : 0), u64(desc.Top) + u64(desc.Height));
    TARVEL_TRY(check_dimensions(width, height));

    DecodedImage image;
    image.width = static_cast<u32>(width);
    image.height = static_cast<u32>(height);
    image.pixels.assign(width * height * 4, 0);

    // Interlaced frames arrive in four passes of every 8th, 8th, 4th and 2nd row.
    static constexpr int kPassStart[4] = {0, 4, 2, 1};
    static constexpr int kPassStep[4] = {8, 8, 4, 2};
    const int passes = desc.Interlace ? 4 : 1;
    std::vector<GifPixelType> line(static_cast<size_t>(desc.Width));
    for (int pass = 0; pass < passes; ++pass) {
        const int start = desc.Interlace ? kPassStart[pass] : 0;
        const int step = desc.Interlace ? kPassStep[pass] : 1;
        for (int row = start; row < desc.Height; row += step) {
            if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR) return gif_failure(gif->Error);
            u8* out = image.pixels.data() + ((u64(desc.Top) + u64(row)) * width + u64(desc.Left)) * 4;
            for (int x = 0; x < desc.Width; ++x, out += 4) {
                const int index = line[static_cast<size_t>(x)];
                if (index == transparent_index) continue;
                if (index < colors->ColorCount) {
                    const GifColorType& c = colors->Colors[index];
                    out[0] = c.Red;
                    out[1] = c.Green;
                    out[2] = c.Blue;
                } else {
                    out[0] = out[1] = out[2] = 0;  // an index past the table shows black
                }
                out[3] = 0xFF;
            }
        }
    }
    return image;
}

}  // namespace

Result<DecodedImage> decode_gif(std::span<const u8> bytes) {
    GifInput input{bytes.data(), bytes.size(), 0};
    GifFile file(&input);
    GifFileType* gif = file.get();
    if (!gif) return gif_failure(file.open_error());

    int transparent_index = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return gif_failure(gif->Error);
        switch (type) {
            case EXTENSION_RECORD_TYPE:
                TARVEL_TRY(read_extension(gif, &transparent_index));
                break;
            case IMAGE_DESC_RECORD_TYPE:
                return read_first_frame(gif, transparent_index);
            case TERMINATE_RECORD_TYPE:
                return Error("GIF decode failed: the file holds no image");
            default:
                return Error("GIF decode failed: unknown record type");
        }
    }
}

}  // namespace tarvel::image_format
