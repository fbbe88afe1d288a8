/* Drawing: the 240 x 400 RGB565 screen, rectangles, images and blits
 * (group 4, the image entries of group 3 and the direct fill entry). */
#ifndef TARVEL_DRAW_H
#define TARVEL_DRAW_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TV_SCREEN_WIDTH  240
#define TV_SCREEN_HEIGHT 400
#define TV_SCREEN_PIXELS 0x05800420u  /* row stride 480 bytes */
#define TV_SCREEN_SURFACE_ADDR 0x05800408u

/* RGB565: bits 15-11 red, 10-5 green, 4-0 blue. 0x0000 is the transparent
 * colour of transparent blits. */
typedef uint16_t tv_color;
#define TV_RGB(r, g, b) \
    ((tv_color)((((r) & 0xF8) << 8) | (((g) & 0xFC) << 3) | (((b) & 0xF8) >> 3)))
#define TV_BLACK   TV_RGB(0, 0, 0)
#define TV_WHITE   TV_RGB(255, 255, 255)

/* A drawing target: pixels with a row stride of width rounded up to 4. */
typedef struct tv_surface {
    uint16_t *pixels;
    uint16_t width;
    uint16_t height;
} tv_surface;

/* An image loaded from a resource (12 bytes; pixels live on the guest heap). */
typedef struct tv_image {
    uint16_t *pixels;
    uint16_t width;
    uint16_t height;
    uint8_t loaded;
    uint8_t reserved[3];
} tv_image;

#define TV_SCREEN_SURFACE TV_PTR(tv_surface *, TV_SCREEN_SURFACE_ADDR)

static inline uint16_t *tv_screen_pixels(void) { return TV_PTR(uint16_t *, TV_SCREEN_PIXELS); }

/* A packed point: x in the low 16 bits, y in the high 16 bits. */
static inline uint32_t tv_point(int x, int y) {
    return ((uint32_t)(uint16_t)x) | ((uint32_t)(uint16_t)y << 16);
}

/* Filled rectangle on the screen; negative and oversized rectangles clip. */
static inline void tv_fill_rect(int x, int y, int w, int h, tv_color color) {
    tv_call_entry8(TV_ENTRY_FILL_RECT, 0, (uint32_t)x, (uint32_t)y, (uint32_t)w,
                   (uint32_t)h, color, 0, 0);
}

/* Filled rectangle on a surface (an unusable surface means the screen). */
static inline void tv_fill_rect_on(tv_surface *surface, int x, int y, int w, int h,
                                   tv_color color) {
    tv_service8(TV_GROUP_DRAW, 19, TV_U32(surface), (uint32_t)x, (uint32_t)y,
                (uint32_t)w, (uint32_t)h, color, 0, 0);
}

/* Rectangle outline on a surface; the outline follows the clipped edges. */
static inline void tv_frame_rect_on(tv_surface *surface, int x, int y, int w, int h,
                                    tv_color color) {
    tv_service8(TV_GROUP_DRAW, 17, TV_U32(surface), (uint32_t)x, (uint32_t)y,
                (uint32_t)w, (uint32_t)h, color, 0, 0);
}
static inline void tv_frame_rect(int x, int y, int w, int h, tv_color color) {
    tv_frame_rect_on(TV_SCREEN_SURFACE, x, y, w, h, color);
}

/* Rectangle between two corners, both included. The machine takes this form
 * only when a corner has a nonzero y or negative x, so points on row 0 with
 * positive x are better drawn with tv_fill_rect / tv_frame_rect. */
static inline void tv_fill_corners(uint32_t p0, uint32_t p1, tv_color color) {
    tv_service(TV_GROUP_DRAW, 18, p0, p1, color, 0);
}
static inline void tv_frame_corners(uint32_t p0, uint32_t p1, tv_color color) {
    tv_service(TV_GROUP_DRAW, 16, p0, p1, color, 0);
}

/* Loads image resource `index` of the main resource table (PNG, GIF, ...)
 * into image (or into a fresh heap record when image is 0). Returns the
 * record, or 0 when the resource is missing or does not decode. */
static inline tv_image *tv_image_load(uint32_t index, tv_image *image) {
    return TV_PTR(tv_image *, tv_service(TV_GROUP_DRAW, 22, index, TV_U32(image), 0, 0));
}
/* Loads image resource `index` into a fresh heap record, found through the
 * resource table selected with tv_resource_table_select when there is one,
 * else in the main resource table. Returns 0 when it is missing or does not
 * decode. */
static inline tv_image *tv_image_load_resource(uint32_t index) {
    return TV_PTR(tv_image *, tv_service(TV_GROUP_IMAGE, 0, index, 0, 0, 0));
}
/* Loads an image from encoded bytes held in guest memory (a heap block or a
 * loaded resource). */
static inline tv_image *tv_image_load_stream(const void *bytes, tv_image *image) {
    return TV_PTR(tv_image *, tv_service(TV_GROUP_DRAW, 49, TV_U32(bytes), TV_U32(image), 0, 0));
}
static inline uint32_t tv_image_width(const tv_image *image) {
    return tv_service(TV_GROUP_DRAW, 33, TV_U32(image), 0, 0, 0);
}
static inline uint32_t tv_image_height(const tv_image *image) {
    return tv_service(TV_GROUP_DRAW, 34, TV_U32(image), 0, 0, 0);
}

/* Blits the part (sx, sy, w, h) of image to (dx, dy) of the surface. */
static inline void tv_blit_on(tv_surface *dst, const tv_image *image, int sx, int sy,
                              int w, int h, int dx, int dy, int transparent) {
    tv_service8(TV_GROUP_DRAW, transparent ? 25 : 24, TV_U32(dst), TV_U32(image),
                (uint32_t)sx, (uint32_t)sy, (uint32_t)w, (uint32_t)h, (uint32_t)dx,
                (uint32_t)dy);
}
/* Blits the part (sx, sy, w, h) of image to (dx, dy) of the screen. */
static inline void tv_blit(const tv_image *image, int sx, int sy, int w, int h, int dx,
                           int dy, int transparent) {
    tv_service8(TV_GROUP_DRAW, transparent ? 32 : 30, TV_U32(image), (uint32_t)sx,
                (uint32_t)sy, (uint32_t)w, (uint32_t)h, (uint32_t)dx, (uint32_t)dy, 0);
}
/* Blits the whole image with its top-left corner at (x, y). */
static inline void tv_draw_image(const tv_image *image, int x, int y, int transparent) {
    tv_service(TV_GROUP_DRAW, transparent ? 28 : 26, TV_U32(image), tv_point(x, y), 0, 0);
}

/* Resource tables of the drawing group: select 0 or 1, forget both. */
static inline uint32_t tv_resource_table_select(uint32_t which) {
    return tv_service(TV_GROUP_DRAW, which ? 45 : 44, 0, 0, 0, 0);
}
static inline void tv_resource_tables_forget(void) { tv_service(TV_GROUP_DRAW, 46, 0, 0, 0, 0); }

/* 1 when (x, y) lies in the rectangle [left, right] x [top, bottom]. */
static inline int tv_point_in_rect(int x, int y, int left, int top, int right, int bottom) {
    return (int)tv_service8(TV_GROUP_IMAGE, 50, (uint32_t)left, (uint32_t)top,
                            (uint32_t)right, (uint32_t)bottom, (uint32_t)x,
                            (uint32_t)y, 0, 0);
}

/* The machine's colour packing of 8-bit components. The machine answers it
 * only for big-endian programs with an explicit load address whose data lies
 * past the code, and returns 0 otherwise: use TV_RGB elsewhere. */
static inline tv_color tv_pack_color(uint32_t r, uint32_t g, uint32_t b) {
    return (tv_color)tv_service(TV_GROUP_IMAGE, 17, r, g, b, 0);
}

/* Decodes a compressed stream into a new heap block (0 on failure). */
static inline void *tv_decode_stream(const void *stream) {
    return TV_PTR(void *, tv_service(TV_GROUP_IMAGE, 23, TV_U32(stream), 0, 0, 0));
}

#ifdef __cplusplus
}
#endif
#endif
