#pragma once
// Bounds-checked reads shared by the package parsers and the archive scan.
// Positions are 64-bit so that offset + length never wraps.

#include <optional>
#include <span>

#include "common/bytes.hpp"

namespace tarvel::cbe::detail {

inline std::optional<u32> read_le32_at(std::span<const u8> file, u64 offset) {
    if (offset > file.size() || file.size() - offset < 4) return std::nullopt;
    return load_le32(file.data() + offset);
}

// A stored name: one length byte, then that many bytes, all before `limit`.
// On success `pos` moves past the name.
inline std::optional<std::span<const u8>> read_name_bytes(std::span<const u8> file, u64& pos, u64 limit) {
    if (limit > file.size()) limit = file.size();
    if (pos >= limit) return std::nullopt;
    const u64 length = file[pos];
    if (pos + 1 + length > limit) return std::nullopt;
    auto bytes = file.subspan(pos + 1, length);
    pos += 1 + length;
    return bytes;
}

}  // namespace tarvel::cbe::detail
