/* Application screens: the record the machine reads, the events it sends and
 * the screen stack (group 14).
 *
 * Every tick the machine runs the current screen: init once after the screen
 * becomes current, load when requested, then logic with at most one key or
 * pen event, logic with TV_EVENT_TICK, and render. A tick is 100 ms. */
#ifndef TARVEL_SCREEN_H
#define TARVEL_SCREEN_H

#include "service.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Callbacks receive (self, event, argument); init, render and load get 0, 0. */
typedef void (*tv_screen_fn)(void *self, uint32_t event, uint32_t argument);

/* The screen record as the machine reads it (Thumb functions carry bit 0). */
typedef struct tv_screen {
    tv_screen_fn init;    /* +0 */
    uint32_t reserved4;
    tv_screen_fn logic;   /* +8 */
    tv_screen_fn render;  /* +12 */
    uint32_t reserved16;
    uint32_t reserved20;
    tv_screen_fn load;    /* +24 */
} tv_screen;

/* A screen record in writable memory (data, bss or heap) is passed to its
 * callbacks as self = record address - 24, so the SDK puts 24 bytes of the
 * application's own in front of it: self is then the tv_screen_object. A
 * record in the read-only code image gets self = the record itself. */
typedef struct tv_screen_object {
    void *user;
    uint32_t user_words[5];
    tv_screen screen;
} tv_screen_object;

#define TV_SCREEN_OBJECT_INIT(init_fn, logic_fn, render_fn, load_fn, user_ptr) \
    { (user_ptr), { 0, 0, 0, 0, 0 }, { (init_fn), 0, (logic_fn), (render_fn), 0, 0, (load_fn) } }

/* Logic events. */
enum {
    TV_EVENT_KEY_DOWN = 0, /* argument: address of the word 1 << key */
    TV_EVENT_KEY_UP = 1,
    TV_EVENT_PEN_DOWN = 3, /* argument: address of the word (y << 16) | x */
    TV_EVENT_PEN_UP = 4,
    TV_EVENT_PEN_MOVE = 5,
    TV_EVENT_TICK = 6      /* argument 0 */
};

static inline int tv_event_is_key(uint32_t event) { return event <= TV_EVENT_KEY_UP; }
static inline int tv_event_is_pen(uint32_t event) {
    return event >= TV_EVENT_PEN_DOWN && event <= TV_EVENT_PEN_MOVE;
}

/* The key code of a key event (its argument holds 1 << key). */
static inline int tv_event_key(uint32_t argument) {
    uint32_t mask = *TV_PTR(volatile uint32_t *, argument);
    int key = 0;
    if (!mask) return -1;
    while (!(mask & 1u)) {
        mask >>= 1;
        ++key;
    }
    return key;
}
static inline int tv_event_pen_x(uint32_t argument) {
    return (int)(*TV_PTR(volatile uint32_t *, argument) & 0xFFFFu);
}
static inline int tv_event_pen_y(uint32_t argument) {
    return (int)(*TV_PTR(volatile uint32_t *, argument) >> 16);
}

/* The screen stack. Push makes the screen current from the next tick. */
static inline void tv_screen_push(tv_screen *screen) {
    tv_service(TV_GROUP_SCREEN, 4, TV_U32(screen), 0, 0, 0);
}
/* Replaces the top of the stack (pushes on an empty stack). */
static inline void tv_screen_replace(tv_screen *screen) {
    tv_service(TV_GROUP_SCREEN, 0, TV_U32(screen), 0, 0, 0);
}
/* Removes the topmost entry of screen; returns 1 when one was removed. When
 * no screen and no timer is left, the application ends. */
static inline int tv_screen_remove(tv_screen *screen) {
    return (int)tv_service(TV_GROUP_SCREEN, 6, TV_U32(screen), 0, 0, 0);
}
/* Asks for screen's load callback (0: the active screen). */
static inline void tv_screen_request_load(tv_screen *screen) {
    tv_service(TV_GROUP_SCREEN, 1, TV_U32(screen), 0, 0, 0);
}
static inline int tv_screen_is_top(tv_screen *screen) {
    return (int)tv_service(TV_GROUP_SCREEN, 9, TV_U32(screen), 0, 0, 0);
}
static inline int tv_screen_is_bottom(tv_screen *screen) {
    return (int)tv_service(TV_GROUP_SCREEN, 10, TV_U32(screen), 0, 0, 0);
}

#ifdef __cplusplus
}
#endif
#endif
