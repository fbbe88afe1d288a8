#pragma once
// Copies between registers and a host view of a guest block, for LDM/STM, PUSH
// and POP once the whole block is known to lie in one fast page. Internal to the
// interpreter.
//
// A register list is taken a byte at a time: a table gives the register numbers
// of each byte in ascending order, and a switch on their count runs straight-line
// copies (one load and one store per register), rather than a loop that finds the
// next set bit on every pass.

#include "armv4t/exec.hpp"
#include "common/bytes.hpp"

namespace tarvel::armv4t {

// Register numbers (0..7) set in each 8-bit list, lowest first.
struct RegisterOrderTable {
    u8 order[256][8]{};
    constexpr RegisterOrderTable() {
        for (u32 list = 0; list < 256; ++list) {
            u32 k = 0;
            for (u32 n = 0; n < 8; ++n)
                if (list & (1u << n)) order[list][k++] = static_cast<u8>(n);
        }
    }
};
inline constexpr RegisterOrderTable kRegisterOrder{};

// Calls copy(register, word) for each register in the 8-bit `list`, where
// register is First plus its number in the byte and word is its position among
// the listed registers. Copies are independent of each other, so they run
// highest first (the switch falls through downwards).
template <u32 First, typename Copy>
TARVEL_HOT void for_each_listed(u32 list, Copy&& copy) {
    const u8* order = kRegisterOrder.order[list];
    const u32 count = kRegisterCounts.count[list];
#define TARVEL_COPY_CASE(k)                 \
    case k:                                 \
        copy(First + order[k - 1], k - 1); \
        [[fallthrough]]
    switch (count) {
        TARVEL_COPY_CASE(8);
        TARVEL_COPY_CASE(7);
        TARVEL_COPY_CASE(6);
        TARVEL_COPY_CASE(5);
        TARVEL_COPY_CASE(4);
        TARVEL_COPY_CASE(3);
        TARVEL_COPY_CASE(2);
        TARVEL_COPY_CASE(1);
        default: break;
    }
#undef TARVEL_COPY_CASE
}

template <bool BigEndian>
TARVEL_HOT u32 load_guest32(const u8* p) { return BigEndian ? load_be32(p) : load_le32(p); }
template <bool BigEndian>
TARVEL_HOT void store_guest32(u8* p, u32 value) { BigEndian ? store_be32(p, value) : store_le32(p, value); }

// r[n] = the next word of `host` for each n in the 16-bit `list`, ascending.
// HighHalf false promises that the list has no register above r7.
template <bool BigEndian, bool HighHalf = true>
TARVEL_HOT void load_listed(u32* r, u32 list, const u8* host) {
    const u32 low = list & 0xFF;
    for_each_listed<0>(low, [&](u32 n, u32 word) { r[n] = load_guest32<BigEndian>(host + word * 4); });
    if constexpr (HighHalf) {
        const u32 high = (list >> 8) & 0xFF;
        if (high == 0) return;
        const u8* high_host = host + kRegisterCounts.count[low] * 4;
        for_each_listed<8>(high, [&](u32 n, u32 word) { r[n] = load_guest32<BigEndian>(high_host + word * 4); });
    }
}

// The next word of `host` = r[n] for each n in the 16-bit `list`, ascending.
template <bool BigEndian, bool HighHalf = true>
TARVEL_HOT void store_listed(const u32* r, u32 list, u8* host) {
    const u32 low = list & 0xFF;
    for_each_listed<0>(low, [&](u32 n, u32 word) { store_guest32<BigEndian>(host + word * 4, r[n]); });
    if constexpr (HighHalf) {
        const u32 high = (list >> 8) & 0xFF;
        if (high == 0) return;
        u8* high_host = host + kRegisterCounts.count[low] * 4;
        for_each_listed<8>(high, [&](u32 n, u32 word) { store_guest32<BigEndian>(high_host + word * 4, r[n]); });
    }
}

}  // namespace tarvel::armv4t
