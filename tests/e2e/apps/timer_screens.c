/* Two screens and a timer: the first screen shows stripes that shift with
 * a repeating timer (every 300 ms) and a line of text; confirm pushes the
 * second screen, a checkerboard with a counter bar, and the right soft key
 * removes it again. Removing the first screen with the left soft key on it
 * stops the timer and ends the application. */
#include <tarvel/tarvel.h>

static uint32_t shift;
static uint32_t timer_id;
static uint32_t second_ticks;
static int running = 1;

static void on_timer(uint32_t argument) {
    shift += argument;
    if (running) timer_id = tv_timer_start(300, on_timer, argument);
}

static tv_screen_object stripes;
static tv_screen_object checkers;

static int key_down(uint32_t event, uint32_t argument) {
    return event == TV_EVENT_KEY_DOWN ? tv_event_key(argument) : -1;
}

static void stripes_logic(void *self, uint32_t event, uint32_t argument) {
    (void)self;
    const int key = key_down(event, argument);
    if (key == TV_KEY_CONFIRM) {
        tv_screen_push(&checkers.screen);
    } else if (key == TV_KEY_SOFT_LEFT) {
        running = 0;
        tv_timer_stop(timer_id);
        tv_screen_remove(&stripes.screen);
    }
}

static void stripes_render(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    static const tv_color colors[4] = {TV_RGB(200, 40, 40), TV_RGB(40, 200, 40), TV_RGB(40, 40, 200),
                                       TV_RGB(200, 200, 40)};
    for (int i = 0; i < 10; ++i) tv_fill_rect(0, i * 40, TV_SCREEN_WIDTH, 40, colors[(i + shift) % 4]);
    tv_fill_rect(20, 180, 200, 40, TV_BLACK);
    tv_draw_text_centered("Tarvel 1234", 192, TV_WHITE);
}

static void checkers_init(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    second_ticks = 0;
}

static void checkers_logic(void *self, uint32_t event, uint32_t argument) {
    (void)self;
    if (event == TV_EVENT_TICK) ++second_ticks;
    if (key_down(event, argument) == TV_KEY_SOFT_RIGHT) tv_screen_remove(&checkers.screen);
}

static void checkers_render(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 6; ++x)
            tv_fill_rect(x * 40, y * 40, 40, 40, ((x + y) & 1) ? TV_WHITE : TV_RGB(60, 60, 60));
    tv_fill_rect(0, 390, (int)(second_ticks * 4 % 240), 10, TV_RGB(255, 128, 0));
}

static tv_screen_object stripes = TV_SCREEN_OBJECT_INIT(0, stripes_logic, stripes_render, 0, 0);
static tv_screen_object checkers = TV_SCREEN_OBJECT_INIT(checkers_init, checkers_logic, checkers_render, 0, 0);

void tv_app_main(void) {
    timer_id = tv_timer_start(300, on_timer, 1);
    tv_screen_push(&stripes.screen);
}
