/* Bit counting helpers. Zero inputs give the width (32 or 64). */
#include "rt.h"

int __clzsi2(u32 x) { return x ? rt_clz_nonzero(x) : 32; }

int __ctzsi2(u32 x) {
    if (!x) return 32;
    /* x & -x keeps the lowest set bit; its leading zeros locate it. */
    return 31 - rt_clz_nonzero(x & (0u - x));
}

int __clzdi2(u64 x) {
    u32 hi = rt_hi(x);
    if (hi) return rt_clz_nonzero(hi);
    return 32 + __clzsi2(rt_lo(x));
}

int __ctzdi2(u64 x) {
    u32 lo = rt_lo(x);
    if (lo) return __ctzsi2(lo);
    return 32 + __ctzsi2(rt_hi(x));
}

int __popcountsi2(u32 x) {
    x = x - ((x >> 1) & 0x55555555u);
    x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0Fu;
    x = x + (x >> 8);
    x = x + (x >> 16);
    return (int)(x & 0x3Fu);
}

int __popcountdi2(u64 x) { return __popcountsi2(rt_lo(x)) + __popcountsi2(rt_hi(x)); }
