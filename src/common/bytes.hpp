#pragma once
// Fixed-width reads and writes of host byte buffers in a chosen byte order.
// Callers check bounds first; these helpers only assemble bytes.

#include <cstdint>
#include <bit>
#include <cstring>

namespace tarvel {

static_assert(std::endian::native == std::endian::little, "the byte helpers assume a little-endian host");

using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using u64 = uint64_t;
using i8 = int8_t;
using i16 = int16_t;
using i32 = int32_t;
using i64 = int64_t;

inline u16 load_be16(const u8* p) { return static_cast<u16>((p[0] << 8) | p[1]); }
inline u16 load_le16(const u8* p) { return static_cast<u16>(p[0] | (p[1] << 8)); }
inline u32 load_be32(const u8* p) {
    u32 v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}
inline u32 load_le32(const u8* p) {
    u32 v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void store_be16(u8* p, u16 v) { p[0] = static_cast<u8>(v >> 8); p[1] = static_cast<u8>(v); }
inline void store_le16(u8* p, u16 v) { p[0] = static_cast<u8>(v); p[1] = static_cast<u8>(v >> 8); }
inline void store_be32(u8* p, u32 v) {
    v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}
inline void store_le32(u8* p, u32 v) { std::memcpy(p, &v, 4); }

inline u16 load16(const u8* p, bool big_endian) { return big_endian ? load_be16(p) : load_le16(p); }
inline u32 load32(const u8* p, bool big_endian) { return big_endian ? load_be32(p) : load_le32(p); }
inline void store16(u8* p, u16 v, bool big_endian) { big_endian ? store_be16(p, v) : store_le16(p, v); }
inline void store32(u8* p, u32 v, bool big_endian) { big_endian ? store_be32(p, v) : store_le32(p, v); }

}  // namespace tarvel
