/* Small chores of the utility group (10): fixed-point trigonometry,
 * rectangle overlap, string equality and cursor reads of byte records. */
#ifndef TARVEL_UTIL_H
#define TARVEL_UTIL_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TV_FIXED_ONE 4096

/* sin and cos of an angle in whole degrees, times 4096. */
static inline int32_t tv_sin(int32_t degrees) {
    return (int32_t)tv_service(TV_GROUP_UTIL, 31, (uint32_t)degrees, 0, 0, 0);
}
static inline int32_t tv_cos(int32_t degrees) {
    return (int32_t)tv_service(TV_GROUP_UTIL, 32, (uint32_t)degrees, 0, 0, 0);
}
/* Direction of the vector (x, y) in whole degrees 0..359. */
static inline int32_t tv_angle(int32_t x, int32_t y) {
    return (int32_t)tv_service(TV_GROUP_UTIL, 33, (uint32_t)x, (uint32_t)y, 0, 0);
}

/* 1 when the rectangles overlap (touching edges do not). */
static inline int tv_rects_overlap(int ax, int ay, int aw, int ah, int bx, int by, int bw,
                                   int bh) {
    uint32_t pa = ((uint32_t)(uint16_t)ax) | ((uint32_t)(uint16_t)ay << 16);
    uint32_t sa = ((uint32_t)(uint16_t)aw) | ((uint32_t)(uint16_t)ah << 16);
    uint32_t pb = ((uint32_t)(uint16_t)bx) | ((uint32_t)(uint16_t)by << 16);
    uint32_t sb = ((uint32_t)(uint16_t)bw) | ((uint32_t)(uint16_t)bh << 16);
    return (int)tv_service(TV_GROUP_UTIL, 34, pa, sa, pb, sb);
}

/* 1 when the byte strings are equal (case matters). */
static inline int tv_str_equal(const char *a, const char *b) {
    return (int)tv_service(TV_GROUP_UTIL, 18, TV_U32(a), TV_U32(b), 0, 0);
}

/* Cursor reads and writes: buffer + *cursor is accessed and *cursor advances. */
static inline uint32_t tv_cursor_read16(const void *buffer, uint32_t *cursor) {
    return tv_service(TV_GROUP_UTIL, 19, TV_U32(buffer), TV_U32(cursor), 0, 0);
}
static inline uint32_t tv_cursor_read32(const void *buffer, uint32_t *cursor) {
    return tv_service(TV_GROUP_UTIL, 20, TV_U32(buffer), TV_U32(cursor), 0, 0);
}
static inline void tv_cursor_write16(void *buffer, uint32_t *cursor, uint32_t value) {
    tv_service(TV_GROUP_UTIL, 23, TV_U32(buffer), TV_U32(cursor), value, 0);
}
static inline void tv_cursor_write32(void *buffer, uint32_t *cursor, uint32_t value) {
    tv_service(TV_GROUP_UTIL, 24, TV_U32(buffer), TV_U32(cursor), value, 0);
}
/* A string with an 8-bit length prefix, copied to a new heap string. */
static inline char *tv_cursor_read_string8(const void *buffer, uint32_t *cursor) {
    return TV_PTR(char *, tv_service(TV_GROUP_UTIL, 25, TV_U32(buffer), TV_U32(cursor), 0, 0));
}

#ifdef __cplusplus
}
#endif
#endif
