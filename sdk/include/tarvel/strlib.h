/* The platform's string and number routines (groups 6 and 13). They work
 * on guest memory natively, which is faster than guest loops for long runs.
 * memcpy/memset/memmove/memcmp themselves come from the SDK runtime. */
#ifndef TARVEL_STRLIB_H
#define TARVEL_STRLIB_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

void *memcpy(void *dst, const void *src, size_t n);
void *memmove(void *dst, const void *src, size_t n);
void *memset(void *dst, int value, size_t n);
int memcmp(const void *a, const void *b, size_t n);

/* Byte strings (group 6). Copies behave like a move when ranges overlap. A
 * bad pointer never stops the program: unreadable bytes read as 0 and writes
 * to memory that cannot be written are skipped. Strings are read up to 65536
 * bytes by length, copy, append and compare. */
static inline void *tv_mem_copy(void *dst, const void *src, uint32_t n) {
    return TV_PTR(void *, tv_service(TV_GROUP_STRING, 0, TV_U32(dst), TV_U32(src), n, 0));
}
static inline void *tv_mem_fill(void *dst, int value, uint32_t n) {
    return TV_PTR(void *, tv_service(TV_GROUP_STRING, 2, TV_U32(dst), (uint32_t)value, n, 0));
}
static inline int32_t tv_mem_compare(const void *a, const void *b, uint32_t n) {
    return (int32_t)tv_service(TV_GROUP_STRING, 15, TV_U32(a), TV_U32(b), n, 0);
}
/* Bytes before the NUL, at most 65536. */
static inline uint32_t tv_str_length(const char *s) {
    return tv_service(TV_GROUP_STRING, 1, TV_U32(s), 0, 0, 0);
}
static inline char *tv_str_copy(char *dst, const char *src) {
    return TV_PTR(char *, tv_service(TV_GROUP_STRING, 8, TV_U32(dst), TV_U32(src), 0, 0));
}
/* Copies at most n bytes and pads the rest of the n bytes with zeros. */
static inline char *tv_str_copy_n(char *dst, const char *src, uint32_t n) {
    return TV_PTR(char *, tv_service(TV_GROUP_STRING, 7, TV_U32(dst), TV_U32(src), n, 0));
}
static inline char *tv_str_append(char *dst, const char *src) {
    return TV_PTR(char *, tv_service(TV_GROUP_STRING, 9, TV_U32(dst), TV_U32(src), 0, 0));
}
static inline int32_t tv_str_compare(const char *a, const char *b) {
    return (int32_t)tv_service(TV_GROUP_STRING, 14, TV_U32(a), TV_U32(b), 0, 0);
}
static inline int32_t tv_str_compare_n(const char *a, const char *b, uint32_t n) {
    return (int32_t)tv_service(TV_GROUP_STRING, 16, TV_U32(a), TV_U32(b), n, 0);
}
/* Comparisons return the difference of the first differing bytes (as
 * unsigned values), or 0. The case-blind ones fold A..Z to a..z. */
static inline int32_t tv_str_compare_nocase(const char *a, const char *b) {
    return (int32_t)tv_service(TV_GROUP_STRING, 20, TV_U32(a), TV_U32(b), 0, 0);
}
static inline int32_t tv_str_compare_n_nocase(const char *a, const char *b, uint32_t n) {
    return (int32_t)tv_service(TV_GROUP_STRING, 21, TV_U32(a), TV_U32(b), n, 0);
}
/* A decimal integer with optional sign and surrounding blanks (the first
 * 256 bytes are read); 0 when the text is not one or does not fit in 32 bits. */
static inline int32_t tv_str_to_int(const char *s) {
    return (int32_t)tv_service(TV_GROUP_STRING, 10, TV_U32(s), 0, 0, 0);
}

/* x to the power y, computed by the host. */
static inline float tv_power(float x, float y) {
    union { float f; uint32_t u; } a, b, r;
    a.f = x;
    b.f = y;
    r.u = tv_service(TV_GROUP_STRING, 13, a.u, b.u, 0, 0);
    return r.f;
}

/* Formats into dst and terminates it: %d %i %u %x %X %c %s with an optional
 * 0 flag and width; l and h are accepted and ignored. Every conversion takes
 * one 32-bit argument (pass pointers with TV_U32). There is no "-" flag: "%-5s"
 * prints "%-" (and uses up an argument), then "5s". Padding goes before the
 * sign: %05d of -12 is "00-12". The format and each %s string are read up to
 * 4096 bytes. */
static inline char *tv_format_words(char *dst, const char *format, const uint32_t *args) {
    return TV_PTR(char *, tv_service8(TV_GROUP_STRING, 3, TV_U32(dst), TV_U32(format),
                                      args[0], args[1], args[2], args[3], args[4], args[5]));
}
/* tv_format(dst, format, arguments...) with one to six arguments. */
#define tv_format(dst, format, ...) \
    tv_format_words((dst), (format), (const uint32_t[6]){ __VA_ARGS__ })

/* 16-bit strings (group 13): units in the program's byte order up to a 0
 * unit, read up to 32768 units. */
static inline uint32_t tv_wstr_length(const uint16_t *s) {
    return tv_service(TV_GROUP_WSTRING, 0, TV_U32(s), 0, 0, 0);
}
static inline uint16_t *tv_wstr_copy(uint16_t *dst, const uint16_t *src) {
    return TV_PTR(uint16_t *, tv_service(TV_GROUP_WSTRING, 1, TV_U32(dst), TV_U32(src), 0, 0));
}
/* Copies at most n units and pads the rest of the n units with zeros. */
static inline uint16_t *tv_wstr_copy_n(uint16_t *dst, const uint16_t *src, uint32_t n) {
    return TV_PTR(uint16_t *, tv_service(TV_GROUP_WSTRING, 4, TV_U32(dst), TV_U32(src), n, 0));
}
/* Byte text (GBK, or UTF-8/UTF-16 after a byte-order mark) as UTF-16 units
 * followed by a 0 unit. */
static inline uint16_t *tv_wstr_from_text(uint16_t *dst, const char *text) {
    return TV_PTR(uint16_t *, tv_service(TV_GROUP_WSTRING, 3, TV_U32(dst), TV_U32(text), 0, 0));
}
/* The first unit equal to the low 16 bits of unit (0 finds the terminator),
 * or NULL. */
static inline uint16_t *tv_wstr_find(const uint16_t *s, uint32_t unit) {
    return TV_PTR(uint16_t *, tv_service(TV_GROUP_WSTRING, 7, TV_U32(s), unit, 0, 0));
}
/* Differences of units as unsigned values; the case-blind one folds a..z to A..Z. */
static inline int32_t tv_wstr_compare(const uint16_t *a, const uint16_t *b) {
    return (int32_t)tv_service(TV_GROUP_WSTRING, 8, TV_U32(a), TV_U32(b), 0, 0);
}
static inline int32_t tv_wstr_compare_nocase(const uint16_t *a, const uint16_t *b) {
    return (int32_t)tv_service(TV_GROUP_WSTRING, 9, TV_U32(a), TV_U32(b), 0, 0);
}
static inline int32_t tv_wstr_compare_n(const uint16_t *a, const uint16_t *b, uint32_t n) {
    return (int32_t)tv_service(TV_GROUP_WSTRING, 10, TV_U32(a), TV_U32(b), n, 0);
}

#ifdef __cplusplus
}
#endif
#endif
