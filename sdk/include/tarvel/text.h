/* Text: NUL-terminated strings in GBK, or UTF-8 / UTF-16 with a byte-order
 * mark, drawn in a 16-pixel-high font whose glyphs are 8 or 16 pixels wide.
 * Only glyph pixels are written; the background stays. */
#ifndef TARVEL_TEXT_H
#define TARVEL_TEXT_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TV_TEXT_HEIGHT 16
/* Prefix that marks a string literal as UTF-8. */
#define TV_UTF8 "\xEF\xBB\xBF"

/* Width in pixels of the text as it would be drawn. */
static inline uint32_t tv_text_width(const char *text) {
    return tv_service(TV_GROUP_DRAW, 7, TV_U32(text), 0, 0, 0);
}

static inline void tv_draw_text(const char *text, int x, int y, uint16_t color) {
    tv_service(TV_GROUP_DRAW, 9, TV_U32(text), (uint32_t)x, (uint32_t)y, color);
}

/* Draws text horizontally centred on the screen (240 columns) at row y. */
static inline void tv_draw_text_centered(const char *text, int y, uint16_t color) {
    int w = (int)tv_text_width(text);
    tv_draw_text(text, (240 - w) / 2, y, color);
}

/* Sets the text origin used by tv_draw_text_at_origin. */
static inline void tv_set_text_origin(int x, int y) {
    tv_service(TV_GROUP_DRAW, 1, 0, (uint32_t)x, (uint32_t)y, 0);
}
static inline void tv_draw_text_at_origin(const char *text, uint16_t color) {
    tv_service8(TV_GROUP_DRAW, 10, 0, TV_U32(text), 0, 0, color, 0, 0, 0);
}

/* Converts text to UTF-16 in out (capacity units including the final 0);
 * returns the number of units written before the 0. */
static inline uint32_t tv_text_to_utf16(const char *text, uint16_t *out, uint32_t capacity) {
    return tv_service(TV_GROUP_DRAW, 38, TV_U32(text), TV_U32(out), capacity, 0);
}

#ifdef __cplusplus
}
#endif
#endif
