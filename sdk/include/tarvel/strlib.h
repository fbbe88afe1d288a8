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

/* Byte strings (group 6). Copies behave like a move when ranges overlap. */
static inline void *tv_mem_copy(void *dst, const void *src, uint32_t n) {
    return TV_PTR(void *, tv_service(TV_GROUP_STRING, 0, TV_U32(dst), TV_U32(src), n, 0));
}
static inline void *tv_mem_fill(void *dst, int value, uint32_t n) {
    return TV_PTR(void *, tv_service(TV_GROUP_STRING, 2, TV_U32(dst), (uint32_t)value, n, 0));
}
static inline int32_t tv_mem_compare(const void *a, const void *b, uint32_t n) {
    return (int32_t)tv_service(TV_GROUP_STRING, 15, TV_U32(a), TV_U32(b), n, 0);
}
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
static inline int32_t tv_str_compare_nocase(const char *a, const char *b) {
    return (int32_t)tv_service(TV_GROUP_STRING, 20, TV_U32(a), TV_U32(b), 0, 0);
}
/* A decimal integer with optional sign and surrounding blanks; 0 when the
 * text is not one or does not fit in 32 bits. */
static inline int32_t tv_str_to_int(const char *s) {
    return (int32_t)tv_service(TV_GROUP_STRING, 10, TV_U32(s), 0, 0, 0);
}

/* Formats into dst: %d %i %u %x %X %c %s with an optional 0 flag and width
 * (every conversion takes one 32-bit argument; pass pointers with TV_U32). */
static inline char *tv_format_words(char *dst, const char *format, const uint32_t *args) {
    return TV_PTR(char *, tv_service8(TV_GROUP_STRING, 3, TV_U32(dst), TV_U32(format),
                                      args[0], args[1], args[2], args[3], args[4], args[5]));
}
/* tv_format(dst, format, arguments...) with one to six arguments. */
#define tv_format(dst, format, ...) \
    tv_format_words((dst), (format), (const uint32_t[6]){ __VA_ARGS__ })

/* 16-bit strings (group 13). */
static inline uint32_t tv_wstr_length(const uint16_t *s) {
    return tv_service(TV_GROUP_WSTRING, 0, TV_U32(s), 0, 0, 0);
}
static inline uint16_t *tv_wstr_copy(uint16_t *dst, const uint16_t *src) {
    return TV_PTR(uint16_t *, tv_service(TV_GROUP_WSTRING, 1, TV_U32(dst), TV_U32(src), 0, 0));
}
static inline uint16_t *tv_wstr_from_text(uint16_t *dst, const char *text) {
    return TV_PTR(uint16_t *, tv_service(TV_GROUP_WSTRING, 3, TV_U32(dst), TV_U32(text), 0, 0));
}
static inline int32_t tv_wstr_compare(const uint16_t *a, const uint16_t *b) {
    return (int32_t)tv_service(TV_GROUP_WSTRING, 8, TV_U32(a), TV_U32(b), 0, 0);
}

#ifdef __cplusplus
}
#endif
#endif
