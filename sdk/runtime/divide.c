/* Integer division helpers. Division by zero gives quotient 0 and leaves the
 * dividend as the remainder, so n == q * d + r still holds; signed overflow
 * (minimum / -1) wraps to the minimum with remainder 0. */
#include "rt.h"

u32 rt_udivmod32(u32 n, u32 d, u32 *rem) {
    if (d == 0 || n < d) {
        *rem = n;
        return 0;
    }
    int shift = rt_clz_nonzero(d) - rt_clz_nonzero(n);
    d <<= shift;
    u32 bit = 1u << shift;
    u32 q = 0;
    for (;;) {
        if (n >= d) {
            n -= d;
            q |= bit;
        }
        if (bit == 1) break;
        d >>= 1;
        bit >>= 1;
    }
    *rem = n;
    return q;
}

static int clz64_nonzero(u64 v) {
    u32 hi = rt_hi(v);
    return hi ? rt_clz_nonzero(hi) : 32 + rt_clz_nonzero(rt_lo(v));
}

/* Shifts by one bit at a time so that no 64-bit shift helper is needed. */
u64 rt_udivmod64(u64 n, u64 d, u64 *rem) {
    if (d == 0 || n < d) {
        *rem = n;
        return 0;
    }
    if (rt_hi(n) == 0) { /* both fit in 32 bits */
        u32 r32;
        u32 q32 = rt_udivmod32(rt_lo(n), rt_lo(d), &r32);
        *rem = r32;
        return q32;
    }
    int shift = clz64_nonzero(d) - clz64_nonzero(n);
    for (int i = 0; i < shift; ++i) d += d;
    u64 q = 0;
    for (int i = 0; i <= shift; ++i) {
        q += q;
        if (n >= d) {
            n -= d;
            q |= 1;
        }
        d = rt_make64(rt_hi(d) >> 1, (rt_lo(d) >> 1) | (rt_hi(d) << 31));
    }
    *rem = n;
    return q;
}

i64 rt_sdivmod64(i64 n, i64 d, i64 *rem) {
    u64 un = n < 0 ? 0 - (u64)n : (u64)n;
    u64 ud = d < 0 ? 0 - (u64)d : (u64)d;
    u64 ur;
    u64 uq = rt_udivmod64(un, ud, &ur);
    if (d == 0) uq = 0;
    *rem = (i64)(n < 0 ? 0 - ur : ur);
    return (i64)(((n < 0) != (d < 0)) ? 0 - uq : uq);
}

u32 __aeabi_uidiv(u32 n, u32 d) {
    u32 r;
    return rt_udivmod32(n, d, &r);
}

i32 __aeabi_idiv(i32 n, i32 d) {
    u32 un = n < 0 ? 0u - (u32)n : (u32)n;
    u32 ud = d < 0 ? 0u - (u32)d : (u32)d;
    u32 r;
    u32 q = rt_udivmod32(un, ud, &r);
    return (i32)(((n < 0) != (d < 0)) ? 0u - q : q);
}

/* Quotient in r0 and remainder in r1, returned as one 64-bit value laid out
 * to land in those registers. */
u64 __aeabi_uidivmod(u32 n, u32 d) {
    u32 r;
    u32 q = rt_udivmod32(n, d, &r);
    return rt_pair(q, r);
}

u64 __aeabi_idivmod(i32 n, i32 d) {
    u32 un = n < 0 ? 0u - (u32)n : (u32)n;
    u32 ud = d < 0 ? 0u - (u32)d : (u32)d;
    u32 r;
    u32 q = rt_udivmod32(un, ud, &r);
    if (((n < 0) != (d < 0)) && d != 0) q = 0u - q;
    if (n < 0) r = 0u - r;
    return rt_pair(q, r);
}

/* The names older gcc versions call. */
u32 __udivsi3(u32 n, u32 d) { return __aeabi_uidiv(n, d); }
i32 __divsi3(i32 n, i32 d) { return __aeabi_idiv(n, d); }
u32 __umodsi3(u32 n, u32 d) {
    u32 r;
    rt_udivmod32(n, d, &r);
    return r;
}
i32 __modsi3(i32 n, i32 d) {
    u32 un = n < 0 ? 0u - (u32)n : (u32)n;
    u32 ud = d < 0 ? 0u - (u32)d : (u32)d;
    u32 r;
    rt_udivmod32(un, ud, &r);
    return (i32)(n < 0 ? 0u - r : r);
}
u64 __udivdi3(u64 n, u64 d) {
    u64 r;
    return rt_udivmod64(n, d, &r);
}
u64 __umoddi3(u64 n, u64 d) {
    u64 r;
    rt_udivmod64(n, d, &r);
    return r;
}
i64 __divdi3(i64 n, i64 d) {
    i64 r;
    return rt_sdivmod64(n, d, &r);
}
i64 __moddi3(i64 n, i64 d) {
    i64 r;
    rt_sdivmod64(n, d, &r);
    return r;
}
