/* Shared pieces of the SDK runtime. The runtime stands in for the parts of
 * libgcc and the C library that gcc calls by itself; it must never call any
 * of those helpers either, so it avoids variable 64-bit shifts and 64-bit
 * multiplies outside the files that define them. */
#ifndef TARVEL_RT_H
#define TARVEL_RT_H

#include <stdint.h>
#include <stddef.h>

typedef uint32_t u32;
typedef int32_t i32;
typedef uint64_t u64;
typedef int64_t i64;

static inline u32 rt_lo(u64 v) { return (u32)v; }
static inline u32 rt_hi(u64 v) { return (u32)(v >> 32); }
static inline u64 rt_make64(u32 hi, u32 lo) { return ((u64)hi << 32) | lo; }

/* A 64-bit value whose first register (r0) holds a and second (r1) holds b,
 * whichever the byte order: big-endian code keeps the high word in r0. */
static inline u64 rt_pair(u32 r0, u32 r1) {
#if defined(__ARM_BIG_ENDIAN)
    return rt_make64(r0, r1);
#else
    return rt_make64(r1, r0);
#endif
}

/* Leading zeros of a nonzero word, by halving (no loop gcc could fold into
 * a call to the clz helper). */
static inline int rt_clz_nonzero(u32 x) {
    int n = 0;
    if (!(x & 0xFFFF0000u)) { n += 16; x <<= 16; }
    if (!(x & 0xFF000000u)) { n += 8; x <<= 8; }
    if (!(x & 0xF0000000u)) { n += 4; x <<= 4; }
    if (!(x & 0xC0000000u)) { n += 2; x <<= 2; }
    if (!(x & 0x80000000u)) { n += 1; }
    return n;
}

u32 rt_udivmod32(u32 n, u32 d, u32 *rem);
u64 rt_udivmod64(u64 n, u64 d, u64 *rem);
i64 rt_sdivmod64(i64 n, i64 d, i64 *rem);

#endif
