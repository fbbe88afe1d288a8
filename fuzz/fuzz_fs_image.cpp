// The game files image reader on arbitrary bytes. The first input byte picks
// how the rest is used: as a whole image (odd), or as a body behind a correct
// header and checksum (even), so that mutations reach the body's own checks.
// Nothing may crash or read out of bounds; an accepted image must describe a
// filesystem within its limits, with no open handles, that encodes back to
// exactly the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <zlib.h>

#include "common/log.hpp"
#include "machine/fs_image.hpp"
#include "seed_corpus.hpp"

namespace {

using tarvel::machine::VirtualFs;

void discard(tarvel::log::Level, std::string_view, std::string_view) {}

std::vector<uint8_t> with_header(const uint8_t* body, size_t size) {
    std::vector<uint8_t> image(tarvel::machine::kFsImageMagic, tarvel::machine::kFsImageMagic + 8);
    const uint32_t crc = static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), body, static_cast<uInt>(size)));
    for (uint32_t word : {tarvel::machine::kFsImageVersion, static_cast<uint32_t>(size), crc})
        for (int i = 0; i < 4; ++i) image.push_back(static_cast<uint8_t>(word >> (8 * i)));
    image.insert(image.end(), body, body + size);
    return image;
}

void check(const VirtualFs& fs, const std::vector<uint8_t>& image) {
    uint64_t total = 0;
    for (const auto& [path, contents] : fs.files) {
        total += contents.size();
        if (tarvel::machine::normalize_path(path) != path) std::abort();
    }
    if (total != fs.stored_bytes || total > tarvel::machine::kMaxStoredBytes) std::abort();
    if (fs.files.size() > tarvel::machine::kMaxFiles) std::abort();
    if (!fs.directories.contains("") || fs.directories.size() > tarvel::machine::kMaxDirectories + 1) std::abort();
    if (fs.open_handle_count() != 0) std::abort();
    if (tarvel::machine::encode_fs_image(fs) != image) std::abort();
}

std::vector<std::vector<uint8_t>> seed_images() {
    std::vector<std::vector<uint8_t>> seeds;
    VirtualFs fs;
    seeds.push_back(tarvel::machine::encode_fs_image(fs));
    fs.make_directory("save/slot");
    const uint32_t handle = *fs.open("save/best.dat", "w");
    const uint8_t score[] = {0x39, 0x30, 0, 0};
    fs.write(handle, score);
    fs.close(*fs.open("settings.ini", "w"));
    seeds.push_back(tarvel::machine::encode_fs_image(fs));
    for (std::vector<uint8_t>& seed : seeds) seed.insert(seed.begin(), 1);  // whole images
    // The same filesystem's body alone, behind the generated header.
    std::vector<uint8_t> body(seeds.back().begin() + 1 + tarvel::machine::kFsImageHeaderSize, seeds.back().end());
    body.insert(body.begin(), 0);
    seeds.push_back(body);
    return seeds;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    tarvel::fuzz::write_seed_corpus(*argc, *argv, seed_images());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvel::log::set_sink(&discard);
    if (size == 0) return 0;
    const std::vector<uint8_t> image =
        data[0] % 2 ? std::vector<uint8_t>(data + 1, data + size) : with_header(data + 1, size - 1);
    auto decoded = tarvel::machine::decode_fs_image(image);
    if (decoded.ok()) check(*decoded, image);
    return 0;
}
