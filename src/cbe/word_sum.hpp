#pragma once
// Segment checksums of the CBE container and the search for a segment behind
// a separator run of 0xFE bytes.

#include <cstddef>
#include <span>
#include <string_view>

#include "common/bytes.hpp"
#include "common/error.hpp"

namespace tarvel::cbe {

// Wrapping 32-bit sums of `words` whole words starting at `p`.
u32 word_sum_le(const u8* p, size_t words);
u32 word_sum_be(const u8* p, size_t words);

enum class ByteOrderMode : u8 { Little, Big, Either };

struct SegmentMatch {
    u32 offset = 0;
    bool big_endian = false;
};

// Finds the segment of `length` bytes whose word sum is `checksum` behind the
// separator run that starts at `start`. Segment data may itself begin with
// 0xFE bytes, so every start from eight bytes into the run to the run's end is
// a candidate, earliest first; the little-endian sum is compared first.
Result<SegmentMatch> find_segment(std::span<const u8> file, u32 start, u32 length, u32 checksum, ByteOrderMode mode,
                                  std::string_view name);

// Length of the run of 0xFE bytes at `offset` (0 when offset is at or past the end).
size_t separator_run(std::span<const u8> file, u64 offset);

}  // namespace tarvel::cbe
