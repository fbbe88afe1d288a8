/* memcpy, memmove, memset and memcmp, which gcc calls for block copies and
 * clears even in freestanding code. Built with
 * -fno-tree-loop-distribute-patterns so these loops are not turned back into
 * calls of themselves. Aligned blocks move a word at a time. */
#include "rt.h"

#define TV_ADDR(p) ((u32)(uintptr_t)(p))

void *memcpy(void *dst, const void *src, size_t n) {
    unsigned char *d = dst;
    const unsigned char *s = src;
    if (((TV_ADDR(d) | TV_ADDR(s)) & 3u) == 0) {
        while (n >= 16) {
            u32 *dw = (u32 *)(void *)d;
            const u32 *sw = (const u32 *)(const void *)s;
            dw[0] = sw[0];
            dw[1] = sw[1];
            dw[2] = sw[2];
            dw[3] = sw[3];
            d += 16;
            s += 16;
            n -= 16;
        }
        while (n >= 4) {
            *(u32 *)(void *)d = *(const u32 *)(const void *)s;
            d += 4;
            s += 4;
            n -= 4;
        }
    }
    while (n--) *d++ = *s++;
    return dst;
}

void *memmove(void *dst, const void *src, size_t n) {
    unsigned char *d = dst;
    const unsigned char *s = src;
    if (d == s || n == 0) return dst;
    if (d < s || d >= s + n) return memcpy(dst, src, n);
    /* Overlap with the destination above the source: copy from the end. */
    d += n;
    s += n;
    while (n--) *--d = *--s;
    return dst;
}

void *memset(void *dst, int value, size_t n) {
    unsigned char *d = dst;
    unsigned char byte = (unsigned char)value;
    while (n && (TV_ADDR(d) & 3u)) {
        *d++ = byte;
        --n;
    }
    if (n >= 4) {
        u32 word = byte * 0x01010101u;
        while (n >= 16) {
            u32 *dw = (u32 *)(void *)d;
            dw[0] = word;
            dw[1] = word;
            dw[2] = word;
            dw[3] = word;
            d += 16;
            n -= 16;
        }
        while (n >= 4) {
            *(u32 *)(void *)d = word;
            d += 4;
            n -= 4;
        }
    }
    while (n--) *d++ = byte;
    return dst;
}

int memcmp(const void *a, const void *b, size_t n) {
    const unsigned char *x = a, *y = b;
    for (; n; --n, ++x, ++y) {
        if (*x != *y) return (int)*x - (int)*y;
    }
    return 0;
}

/* The run-time ABI's names for the same operations (argument order of
 * memset differs). */
void __aeabi_memcpy(void *d, const void *s, size_t n) { memcpy(d, s, n); }
void __aeabi_memcpy4(void *d, const void *s, size_t n) { memcpy(d, s, n); }
void __aeabi_memcpy8(void *d, const void *s, size_t n) { memcpy(d, s, n); }
void __aeabi_memmove(void *d, const void *s, size_t n) { memmove(d, s, n); }
void __aeabi_memmove4(void *d, const void *s, size_t n) { memmove(d, s, n); }
void __aeabi_memmove8(void *d, const void *s, size_t n) { memmove(d, s, n); }
void __aeabi_memset(void *d, size_t n, int v) { memset(d, v, n); }
void __aeabi_memset4(void *d, size_t n, int v) { memset(d, v, n); }
void __aeabi_memset8(void *d, size_t n, int v) { memset(d, v, n); }
void __aeabi_memclr(void *d, size_t n) { memset(d, 0, n); }
void __aeabi_memclr4(void *d, size_t n) { memset(d, 0, n); }
void __aeabi_memclr8(void *d, size_t n) { memset(d, 0, n); }
