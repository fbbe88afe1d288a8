/* Keypad board: one cell per platform key, lit while the application holds
 * that key, a bar that grows with every tick, and a marker where the pen is
 * (filled while down, outlined after it was lifted). Each key and pen event
 * also leaves a mark in a row of event slots, so the order of events shows
 * in the picture. */
#include <tarvel/tarvel.h>

#define CELL 36
#define GAP 4
#define BOARD_LEFT 12
#define BOARD_TOP 40
#define SLOT_TOP 330
#define SLOT_SIZE 8
#define SLOTS 26

static const tv_color kIdle = TV_RGB(40, 48, 64);
static const tv_color kHeld = TV_RGB(80, 220, 120);
static const tv_color kPen = TV_RGB(250, 200, 40);
static const tv_color kSlotColors[6] = {
    TV_RGB(80, 220, 120),  /* key down */
    TV_RGB(220, 80, 80),   /* key up */
    TV_RGB(0, 0, 0),
    TV_RGB(250, 200, 40),  /* pen down */
    TV_RGB(60, 140, 250),  /* pen up */
    TV_RGB(200, 120, 250), /* pen move */
};

static uint32_t held;      /* keys as the events told them */
static uint32_t ticks;
static int pen_x = -1, pen_y = -1;
static int pen_is_down;
static uint8_t slots[SLOTS]; /* event + 1 of the first SLOTS events; 0 empty */
static uint32_t slot_keys[SLOTS];
static uint32_t slot_count;

static void record(uint32_t event, uint32_t detail) {
    if (slot_count < SLOTS) {
        slots[slot_count] = (uint8_t)(event + 1);
        slot_keys[slot_count] = detail;
        ++slot_count;
    }
}

static void logic(void *self, uint32_t event, uint32_t argument) {
    (void)self;
    if (event == TV_EVENT_TICK) {
        ++ticks;
    } else if (tv_event_is_key(event)) {
        const int key = tv_event_key(argument);
        if (key >= 0 && key < 32) {
            if (event == TV_EVENT_KEY_DOWN) held |= TV_KEY_MASK(key);
            else held &= ~TV_KEY_MASK(key);
        }
        record(event, (uint32_t)key);
    } else if (tv_event_is_pen(event)) {
        pen_x = tv_event_pen_x(argument);
        pen_y = tv_event_pen_y(argument);
        pen_is_down = event != TV_EVENT_PEN_UP;
        record(event, 0);
    }
}

/* Cells in key-code order, six to a row; codes 10 and 11 have no key. */
static void cell_place(int key, int *x, int *y) {
    const int index = key < 10 ? key : key - 2;
    *x = BOARD_LEFT + (index % 6) * (CELL + GAP);
    *y = BOARD_TOP + (index / 6) * (CELL + GAP);
}

static void render(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    tv_fill_rect(0, 0, TV_SCREEN_WIDTH, TV_SCREEN_HEIGHT, TV_RGB(16, 16, 24));
    /* A corner mark, so that a turned picture shows which way it turned. */
    tv_fill_rect(0, 0, 24, 8, TV_RGB(255, 0, 0));
    tv_fill_rect(0, 0, 8, 24, TV_RGB(0, 0, 255));
    for (int key = 0; key <= 20; ++key) {
        if (key == 10 || key == 11) continue;
        int x, y;
        cell_place(key, &x, &y);
        tv_fill_rect(x, y, CELL, CELL, (held & TV_KEY_MASK(key)) ? kHeld : kIdle);
        /* key code in binary as five dots, so each cell is told apart */
        for (int bit = 0; bit < 5; ++bit)
            if (key & (1 << bit)) tv_fill_rect(x + 3 + bit * 6, y + CELL - 7, 4, 4, TV_WHITE);
    }
    /* Tick bar: one pixel a tick, wrapping every 216 ticks. */
    tv_fill_rect(BOARD_LEFT, 220, (int)(ticks % 216), 10, TV_RGB(120, 160, 255));
    for (uint32_t i = 0; i < slot_count; ++i) {
        const int x = BOARD_LEFT + (int)i * SLOT_SIZE;
        tv_fill_rect(x, SLOT_TOP, SLOT_SIZE - 1, SLOT_SIZE, kSlotColors[slots[i] - 1]);
        for (int bit = 0; bit < 5; ++bit)
            if (slot_keys[i] & (1u << bit)) tv_fill_rect(x + 1, SLOT_TOP + SLOT_SIZE + 1 + bit * 3, SLOT_SIZE - 3, 2, TV_WHITE);
    }
    if (pen_x >= 0) {
        if (pen_is_down) tv_fill_rect(pen_x - 4, pen_y - 4, 9, 9, kPen);
        else tv_frame_rect(pen_x - 4, pen_y - 4, 9, 9, kPen);
        tv_fill_rect(pen_x, pen_y, 1, 1, TV_RGB(255, 0, 255)); /* the exact pixel */
    }
}

static tv_screen_object board = TV_SCREEN_OBJECT_INIT(0, logic, render, 0, 0);

void tv_app_main(void) { tv_screen_push(&board.screen); }
