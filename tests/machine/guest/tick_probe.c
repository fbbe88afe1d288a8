/* Records what its screen's logic and render callbacks see, as words at a
 * fixed RAM address for the test to read:
 *   word 0  number of entries
 *   then per entry  callback (1 logic, 2 second logic, 3 render), event,
 *                   pen pressed, pen released, newly pressed keys
 * A press of key 5 installs the second logic function from inside the key
 * event; a press of key 6 removes the screen while a long timer keeps the
 * application alive. */
#include <tarvel/tarvel.h>

#define PROBE_LOG ((volatile uint32_t *)0x05300000u)
#define PROBE_LOG_ENTRIES 64u

enum { LOGIC = 1, SECOND_LOGIC = 2, RENDER = 3 };

static tv_screen_object screen;

static void note(uint32_t who, uint32_t event) {
    uint32_t n = PROBE_LOG[0];
    if (n >= PROBE_LOG_ENTRIES) return;
    volatile uint32_t *entry = PROBE_LOG + 1 + n * 5;
    entry[0] = who;
    entry[1] = event;
    entry[2] = (uint32_t)tv_pen_pressed();
    entry[3] = (uint32_t)tv_pen_released();
    entry[4] = tv_keys_pressed_mask();
    PROBE_LOG[0] = n + 1;
}

static void second_logic(void *self, uint32_t event, uint32_t argument);

static void on_key(uint32_t event, uint32_t argument) {
    if (event != TV_EVENT_KEY_DOWN) return;
    if (tv_event_key(argument) == TV_KEY_5) screen.screen.logic = second_logic;
    if (tv_event_key(argument) == TV_KEY_6) tv_screen_remove(&screen.screen);
}

static void logic(void *self, uint32_t event, uint32_t argument) {
    (void)self;
    note(LOGIC, event);
    on_key(event, argument);
}

static void second_logic(void *self, uint32_t event, uint32_t argument) {
    (void)self;
    note(SECOND_LOGIC, event);
    on_key(event, argument);
}

static void render(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    note(RENDER, 0);
}

static void on_timer(uint32_t argument) { (void)argument; }

static tv_screen_object screen = TV_SCREEN_OBJECT_INIT(0, logic, render, 0, 0);

void tv_app_main(void) {
    PROBE_LOG[0] = 0;
    tv_timer_start(100000, on_timer, 0);
    tv_screen_push(&screen.screen);
}
