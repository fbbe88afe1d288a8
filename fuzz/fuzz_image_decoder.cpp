// Feeds arbitrary bytes to the image resource decoder. A decoded image must
// hold exactly width * height RGBA pixels within the decoder's limits.
//
// On start-up, an empty corpus directory is seeded with one small picture of
// each encoding (built here, so no binary files live in the tree), which lets
// the fuzzer reach the pixel decoders instead of stopping at the signatures.

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image_decoder.hpp"

namespace {

using tarvel::u8;
using Bytes = std::vector<u8>;

void put_be32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<u8>(v >> shift));
}

void put_chunk(Bytes& out, const char* type, const Bytes& data) {
    put_be32(out, static_cast<uint32_t>(data.size()));
    const size_t type_at = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put_be32(out, static_cast<uint32_t>(crc32(0, out.data() + type_at, static_cast<uInt>(4 + data.size()))));
}

// A 4x2 palette PNG; with `firmware` the signature ends in GAME and the
// palette is stored as RGB565, as applications ship it.
Bytes seed_png(bool firmware) {
    Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (firmware) out[4] = 'G', out[5] = 'A', out[6] = 'M', out[7] = 'E';
    put_chunk(out, "IHDR", {0, 0, 0, 4, 0, 0, 0, 2, 8, 3, 0, 0, 0});
    if (firmware) {
        Bytes palette_chunk = {0, 0, 0, 6, 'P', 'L', 'T', 'E', 0xF8, 0x00, 0x07, 0xE0, 0, 0, 0, 0};
        out.insert(out.end(), palette_chunk.begin(), palette_chunk.end());
    } else {
        put_chunk(out, "PLTE", {255, 0, 0, 0, 255, 0});
    }
    const Bytes rows = {0, 0, 1, 0, 1, 0, 1, 1, 0, 0};  // filter byte, then four indices
    Bytes packed(compressBound(static_cast<uLong>(rows.size())));
    uLongf packed_size = static_cast<uLongf>(packed.size());
    compress(packed.data(), &packed_size, rows.data(), static_cast<uLong>(rows.size()));
    packed.resize(packed_size);
    put_chunk(out, "IDAT", packed);
    put_chunk(out, "IEND", {});
    return out;
}

// A 1x1 GIF with a two-colour table; with `cbe` in the application's own
// layout (7-byte header, RGB565 palette, then the graphic control extension).
Bytes seed_gif(bool cbe) {
    Bytes out = cbe ? Bytes{0, 0, 0, 0, 0x80, 0, 0, 0xF8, 0x00, 0x00, 0x1F}
                    : Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 255, 0, 0, 0, 0, 255};
    const Bytes rest = {0x21, 0xF9, 0x04, 0x01, 0, 0, 1, 0, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0,
                        0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

void seed_corpus(const std::filesystem::path& dir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec) || !std::filesystem::is_empty(dir, ec)) return;
    Bytes with_header = {3, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes png = seed_png(false);
    with_header.insert(with_header.end(), png.begin(), png.end());
    const Bytes seeds[] = {png, seed_png(true), seed_gif(false), seed_gif(true), with_header};
    int n = 0;
    for (const Bytes& seed : seeds) {
        const std::string name = (dir / ("seed" + std::to_string(n++))).string();
        if (FILE* f = std::fopen(name.c_str(), "wb")) {
            std::fwrite(seed.data(), 1, seed.size(), f);
            std::fclose(f);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    for (int i = 1; i < *argc; ++i) {
        if ((*argv)[i][0] != '-') {
            seed_corpus((*argv)[i]);
            break;
        }
    }
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
