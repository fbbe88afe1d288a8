/* Keypad and touch input: key codes, masks and the pen state. */
#ifndef TARVEL_INPUT_H
#define TARVEL_INPUT_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    TV_KEY_0 = 0, TV_KEY_1, TV_KEY_2, TV_KEY_3, TV_KEY_4,
    TV_KEY_5, TV_KEY_6, TV_KEY_7, TV_KEY_8, TV_KEY_9,
    TV_KEY_SOFT_LEFT = 12,
    TV_KEY_SOFT_RIGHT = 13,
    TV_KEY_CONFIRM = 14,
    TV_KEY_LEFT = 15,
    TV_KEY_RIGHT = 16,
    TV_KEY_UP = 17,
    TV_KEY_DOWN = 18,
    TV_KEY_STAR = 19,
    TV_KEY_HASH = 20
};
#define TV_KEY_MASK(key) (1u << (key))

/* 1 when a key of mask was newly pressed / is held. */
static inline int tv_key_pressed(uint32_t mask) {
    return (int)tv_service(TV_GROUP_IMAGE, 11, mask, 0, 0, 0);
}
static inline int tv_key_held(uint32_t mask) {
    return (int)tv_service(TV_GROUP_IMAGE, 12, mask, 0, 0, 0);
}
static inline uint32_t tv_keys_pressed_mask(void) {
    return tv_service(TV_GROUP_IMAGE, 68, 0, 0, 0, 0);
}

/* The pen (touch) state. */
static inline int tv_pen_down(void) { return (int)tv_service(TV_GROUP_IMAGE, 62, 0, 0, 0, 0); }
static inline int tv_pen_pressed(void) { return (int)tv_service(TV_GROUP_IMAGE, 63, 0, 0, 0, 0); }
static inline int tv_pen_released(void) { return (int)tv_service(TV_GROUP_IMAGE, 64, 0, 0, 0, 0); }
static inline int tv_pen_dragged(void) { return (int)tv_service(TV_GROUP_IMAGE, 65, 0, 0, 0, 0); }
static inline int tv_pen_x(void) { return (int)tv_service(TV_GROUP_IMAGE, 66, 0, 0, 0, 0); }
static inline int tv_pen_y(void) { return (int)tv_service(TV_GROUP_IMAGE, 67, 0, 0, 0, 0); }

#ifdef __cplusplus
}
#endif
#endif
