#include "common/crc32.hpp"

#include <algorithm>

#include <zlib.h>

namespace tarvel {

u32 crc32_of(std::span<const u8> bytes, size_t max_piece) {
    max_piece = std::clamp<size_t>(max_piece, 1, kCrc32MaxPiece);
    uLong crc = ::crc32(0L, Z_NULL, 0);
    while (!bytes.empty()) {
        const size_t piece = std::min(bytes.size(), max_piece);
        crc = ::crc32(crc, bytes.data(), static_cast<uInt>(piece));
        bytes = bytes.subspan(piece);
    }
    return static_cast<u32>(crc);
}

}  // namespace tarvel
