#pragma once
// The one CRC-32 of the core: the IEEE polynomial (0xEDB88320, reflected) as
// zlib computes it. It identifies content files (save states and the
// orientation lookup are tied to it), checks save-state payloads and seals
// rebuilt image chunks.

#include <cstddef>
#include <span>

#include "common/bytes.hpp"

namespace tarvel {

// zlib takes a uInt length per call; larger inputs go in pieces of at most
// this many bytes, so files and buffers beyond 4 GiB are summed whole.
inline constexpr size_t kCrc32MaxPiece = size_t{1} << 30;

// CRC-32 of all of `bytes`; 0 for an empty span. `max_piece` only bounds how
// much one zlib call sees (tests use tiny pieces to prove the joins).
u32 crc32_of(std::span<const u8> bytes, size_t max_piece = kCrc32MaxPiece);

}  // namespace tarvel
