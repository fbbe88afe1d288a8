#include "cbe/word_sum.hpp"

#include <algorithm>

namespace tarvel::cbe {

namespace {
constexpr size_t kMinSeparator = 8;

Error missing_separator(u64 offset) { return Error::format("missing CBE segment separator at 0x{:x}", offset); }
}  // namespace

// Four independent accumulators per step, so the loop is not one long chain of
// dependent additions and the compiler can vectorise it.
u32 word_sum_le(const u8* p, size_t words) {
    u32 a = 0, b = 0, c = 0, d = 0;
    size_t i = 0;
    for (; i + 4 <= words; i += 4) {
        a += load_le32(p + 4 * i);
        b += load_le32(p + 4 * i + 4);
        c += load_le32(p + 4 * i + 8);
        d += load_le32(p + 4 * i + 12);
    }
    for (; i < words; ++i) a += load_le32(p + 4 * i);
    return a + b + c + d;
}

u32 word_sum_be(const u8* p, size_t words) {
    u32 a = 0, b = 0, c = 0, d = 0;
    size_t i = 0;
    for (; i + 4 <= words; i += 4) {
        a += load_be32(p + 4 * i);
        b += load_be32(p + 4 * i + 4);
        c += load_be32(p + 4 * i + 8);
        d += load_be32(p + 4 * i + 12);
    }
    for (; i < words; ++i) a += load_be32(p + 4 * i);
    return a + b + c + d;
}

size_t separator_run(std::span<const u8> file, u64 offset) {
    if (offset >= file.size()) return 0;
    auto begin = file.begin() + static_cast<std::ptrdiff_t>(offset);
    return static_cast<size_t>(std::find_if(begin, file.end(), [](u8 b) { return b != 0xFE; }) - begin);
}

Result<SegmentMatch> find_segment(std::span<const u8> file, u32 start, u32 length, u32 checksum, ByteOrderMode mode,
                                  std::string_view name) {
    const u64 file_size = file.size();
    if (start >= file_size) return missing_separator(start);
    const u64 run = separator_run(file, start);
    if (run < kMinSeparator) return missing_separator(start);

    const bool try_little = mode != ByteOrderMode::Big;
    const bool try_big = mode != ByteOrderMode::Little;
    auto mismatch = [&] { return Error::format("CBE {} checksum mismatch", name); };

    // An empty segment is directly followed by the next separator, so the run
    // holds both. Placing it after the whole run would leave the next separator
    // no bytes at all and reject every file with an empty segment; it goes right
    // after its own minimal separator instead whenever the rest of the run can
    // still be the next separator, and after the whole run otherwise.
    u64 first = start + kMinSeparator;
    if (length == 0 && run < 2 * kMinSeparator) first = start + run;
    const u64 last = start + run;

    if (length < 4) {
        // Too short for a whole word: the sum is 0 wherever the segment starts.
        if (checksum != 0 || first + length > file_size) return mismatch();
        return SegmentMatch{static_cast<u32>(first), !try_little};
    }

    // Candidates four bytes apart share all but one word, so each residue class
    // keeps a running sum: drop the word that leaves, add the one that enters.
    const size_t words = length / 4;
    const u64 span_bytes = 4 * static_cast<u64>(words);
    const u8* data = file.data();
    u32 little[4] = {}, big[4] = {};
    bool primed[4] = {};
    for (u64 at = first; at <= last; ++at) {
        if (at + length > file_size) break;  // later candidates end even further out
        const size_t k = static_cast<size_t>((at - first) & 3);
        if (!primed[k]) {
            if (try_little) little[k] = word_sum_le(data + at, words);
            if (try_big) big[k] = word_sum_be(data + at, words);
            primed[k] = true;
        } else {
            const u8* leaving = data + (at - 4);
            const u8* entering = data + (at - 4 + span_bytes);
            if (try_little) little[k] += load_le32(entering) - load_le32(leaving);
            if (try_big) big[k] += load_be32(entering) - load_be32(leaving);
        }
        if (try_little && little[k] == checksum) return SegmentMatch{static_cast<u32>(at), false};
        if (try_big && big[k] == checksum) return SegmentMatch{static_cast<u32>(at), true};
    }
    return mismatch();
}

}  // namespace tarvel::cbe
