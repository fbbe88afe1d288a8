/* 64-bit multiply, shifts and comparisons, built from 32-bit operations. */
#include "rt.h"

/* Full 32 x 32 -> 64 product from 16-bit pieces (Thumb code has no long
 * multiply instruction). */
static u64 mul32_wide(u32 a, u32 b) {
    u32 a0 = a & 0xFFFFu, a1 = a >> 16;
    u32 b0 = b & 0xFFFFu, b1 = b >> 16;
    u32 p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    u32 mid = (p00 >> 16) + (p01 & 0xFFFFu) + (p10 & 0xFFFFu);
    u32 lo = (p00 & 0xFFFFu) | (mid << 16);
    u32 hi = p11 + (p01 >> 16) + (p10 >> 16) + (mid >> 16);
    return rt_make64(hi, lo);
}

u64 __aeabi_lmul(u64 a, u64 b) {
    u64 low = mul32_wide(rt_lo(a), rt_lo(b));
    u32 cross = rt_lo(a) * rt_hi(b) + rt_hi(a) * rt_lo(b);
    return rt_make64(rt_hi(low) + cross, rt_lo(low));
}
u64 __muldi3(u64 a, u64 b) { return __aeabi_lmul(a, b); }

/* Shift counts of 64 and more shift everything out. */
u64 __aeabi_llsl(u64 a, u32 n) {
    u32 lo = rt_lo(a), hi = rt_hi(a);
    if (n == 0) return a;
    if (n >= 64) return 0;
    if (n >= 32) return rt_make64(lo << (n - 32), 0);
    return rt_make64((hi << n) | (lo >> (32 - n)), lo << n);
}

u64 __aeabi_llsr(u64 a, u32 n) {
    u32 lo = rt_lo(a), hi = rt_hi(a);
    if (n == 0) return a;
    if (n >= 64) return 0;
    if (n >= 32) return rt_make64(0, hi >> (n - 32));
    return rt_make64(hi >> n, (lo >> n) | (hi << (32 - n)));
}

u64 __aeabi_lasr(u64 a, u32 n) {
    u32 lo = rt_lo(a), hi = rt_hi(a);
    u32 fill = (hi & 0x80000000u) ? 0xFFFFFFFFu : 0;
    if (n == 0) return a;
    if (n >= 64) return rt_make64(fill, fill);
    if (n >= 32) return rt_make64(fill, (u32)((i32)hi >> (n - 32)));
    return rt_make64((u32)((i32)hi >> n), (lo >> n) | (hi << (32 - n)));
}

u64 __ashldi3(u64 a, u32 n) { return __aeabi_llsl(a, n); }
u64 __lshrdi3(u64 a, u32 n) { return __aeabi_llsr(a, n); }
u64 __ashrdi3(u64 a, u32 n) { return __aeabi_lasr(a, n); }

/* -1, 0 or 1. */
int __aeabi_lcmp(i64 a, i64 b) { return a < b ? -1 : a > b ? 1 : 0; }
int __aeabi_ulcmp(u64 a, u64 b) { return a < b ? -1 : a > b ? 1 : 0; }
/* 0, 1 or 2 for less, equal, greater. */
int __cmpdi2(i64 a, i64 b) { return a < b ? 0 : a > b ? 2 : 1; }
int __ucmpdi2(u64 a, u64 b) { return a < b ? 0 : a > b ? 2 : 1; }
