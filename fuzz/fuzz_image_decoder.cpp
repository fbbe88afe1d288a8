// Feeds arbitrary bytes to the image resource decoder. A decoded image must
// hold exactly width * height RGBA pixels within the decoder's limits.
//
// On start-up, an empty corpus directory is seeded with one small picture of
// each encoding (made here with the asset writer, so no binary files live in
// the tree), which lets the fuzzer reach the pixel decoders instead of
// stopping at the signatures.

#include <cstdlib>
#include <vector>

#include "asset_writer/asset_writer.hpp"
#include "media/image/image_decoder.hpp"
#include "seed_corpus.hpp"

namespace {

using tarvel::u8;
using Bytes = std::vector<u8>;

// A 4x2 picture with a transparent pixel, in every encoding the decoder reads.
std::vector<Bytes> seed_pictures() {
    namespace assets = tarvel::assets;
    const auto art = assets::parse_pixel_art("size 4 2\ncolor . none\ncolor r F80000\ncolor g 07E000\n"
                                             "rows\nrg.r\ngrrg\n");
    if (!art.ok()) std::abort();
    const auto png = assets::encode_png(*art);
    const auto gif = assets::encode_gif(*art);
    if (!png.ok() || !gif.ok()) std::abort();
    const auto firmware = assets::firmware_png_from_png(*png);
    const auto cbe = assets::cbe_gif_from_gif(*gif);
    if (!firmware.ok() || !cbe.ok()) std::abort();
    Bytes with_header = {3, 0, 0, 0, 0, 0, 0, 0, 0};
    with_header.insert(with_header.end(), png->begin(), png->end());
    return {*png, *firmware, *gif, *cbe, with_header};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    tarvel::fuzz::write_seed_corpus(*argc, *argv, seed_pictures());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto result = tarvel::decode_image_resource(std::span<const u8>(data, size));
    if (result.ok()) {
        const tarvel::DecodedImage& image = *result;
        if (image.width == 0 || image.height == 0 || image.width > tarvel::kMaxImageSide ||
            image.height > tarvel::kMaxImageSide ||
            image.pixels.size() != size_t{image.width} * image.height * 4)
            std::abort();
    } else if (result.error().to_string().empty()) {
        std::abort();
    }
    return 0;
}
