/* The three screens of the demo: title, play and game over. */
#include "ui.h"

game last_game;
uint32_t last_best;
uint8_t last_was_best;

static game current;
static uint32_t frame;       /* ticks since the screen started, for blinking */
static uint32_t countdown;   /* seconds before the play starts */
static uint32_t seed_noise;  /* mixes the start time into the game's seed */
static uint8_t over_ready;   /* the game-over screen accepts input */
static uint32_t title_best;

static int key_of(uint32_t event, uint32_t argument) {
    return event == TV_EVENT_KEY_DOWN ? tv_event_key(argument) : -1;
}

/* ---- title ---- */

static void title_init(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    frame = 0;
    title_best = best_score_load();
}

static void title_logic(void *self, uint32_t event, uint32_t argument) {
    (void)self;
    const int key = key_of(event, argument);
    if (event == TV_EVENT_TICK) {
        ++frame;
        game_random(&seed_noise);
        music_keep_playing();
    } else if (key == TV_KEY_CONFIRM || key == TV_KEY_5 || event == TV_EVENT_PEN_DOWN) {
        tv_screen_replace(&play_screen.screen);
    } else if (key == TV_KEY_SOFT_RIGHT) {
        tv_exit(TV_EXIT_APPLICATION);
    }
}

static void title_render(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    char number[12], text[32];
    tv_fill_rect(0, 0, TV_SCREEN_WIDTH, TV_SCREEN_HEIGHT, COLOR_BACKGROUND);
    /* Blocks drifting down the lanes behind the title. */
    for (int32_t lane = 0; lane < GAME_LANES; ++lane) {
        const int32_t row = (int32_t)((frame + (uint32_t)lane * 7u) % GAME_ROWS);
        draw_cell(lane, row, (lane & 1) ? CELL_BLOCK : CELL_COIN);
    }
    tv_fill_rect(20, 98, 200, 92, COLOR_HUD);
    tv_frame_rect(20, 98, 200, 92, COLOR_ACCENT);
    tv_draw_text_centered("LANE RUNNER", 106, COLOR_ACCENT);
    const char *title = demo_text("title.txt"), *motto = demo_text("motto.txt");
    if (title) tv_draw_text_centered(title, 126, COLOR_ACCENT);
    if (motto) tv_draw_text_centered(motto, 146, COLOR_TEXT);
    tv_draw_text_centered("a Tarvel demo", 166, COLOR_TEXT);
    draw_ship_picture((TV_SCREEN_WIDTH - 32) / 2, 200);
    if ((frame / 5) % 2 == 0) tv_draw_text_centered("Press 5 or tap to start", 230, COLOR_TEXT);
    tv_fill_rect(12, 282, 216, 84, COLOR_HUD);
    tv_draw_text_centered("4/6 or Left/Right: move", 290, COLOR_TEXT);
    tv_draw_text_centered("Tap a lane to steer there", 308, COLOR_TEXT);
    tv_draw_text_centered("5: pause", 326, COLOR_TEXT);
    tv_draw_text_centered("Right soft key: quit", 344, COLOR_TEXT);
    if (title_best) tv_draw_text_centered(join_text(text, "BEST ", format_number(number, title_best)), 376, COLOR_ACCENT);
}

tv_screen_object title_screen = TV_SCREEN_OBJECT_INIT(title_init, title_logic, title_render, 0, 0);

/* ---- play ---- */

/* One-shot timers: each step starts the next until the count reaches 0. */
static void countdown_step(uint32_t argument) {
    (void)argument;
    if (countdown > 0) --countdown;
    if (countdown > 0) tv_timer_start(700, countdown_step, 0);
}

static void play_init(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    game_start(&current, tv_uptime_ms() ^ seed_noise);
    frame = 0;
    countdown = 3;
    tv_timer_start(700, countdown_step, 0);
}

/* A coin taken or a life lost since `coins` and `lives` were read. */
static void play_sounds_since(uint32_t coins, uint32_t lives) {
    if (current.lives < lives) play_crash_sound();
    else if (current.coins > coins) play_coin_sound();
}

static void play_logic(void *self, uint32_t event, uint32_t argument) {
    (void)self;
    const int key = key_of(event, argument);
    const uint32_t coins = current.coins, lives = current.lives;
    if (event == TV_EVENT_TICK) {
        ++frame;
        music_keep_playing();
        if (countdown == 0) game_tick(&current);
        play_sounds_since(coins, lives);
        if (current.over) {
            last_game = current;
            last_best = best_score_load();
            last_was_best = current.score > last_best;
            if (last_was_best) {
                last_best = current.score;
                best_score_save(current.score);
            }
            tv_screen_replace(&over_screen.screen);
        }
        return;
    }
    if (countdown > 0) return;
    if (key == TV_KEY_LEFT || key == TV_KEY_4) game_move(&current, -1);
    else if (key == TV_KEY_RIGHT || key == TV_KEY_6) game_move(&current, 1);
    else if (key == TV_KEY_CONFIRM || key == TV_KEY_5 || key == TV_KEY_SOFT_LEFT) {
        game_toggle_pause(&current);
        if (current.paused) tv_audio_pause();
        else tv_audio_resume();
    }
    else if (event == TV_EVENT_PEN_DOWN || event == TV_EVENT_PEN_MOVE) {
        if (tv_event_pen_y(argument) >= FIELD_TOP) game_steer_to(&current, tv_event_pen_x(argument) / LANE_WIDTH);
    }
    play_sounds_since(coins, lives);
}

static void play_render(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    draw_field(&current, frame);
    draw_hud(&current);
    if (countdown > 0) {
        char number[12];
        tv_fill_rect(90, 170, 60, 40, COLOR_HUD);
        tv_draw_text_centered(format_number(number, countdown), 182, COLOR_ACCENT);
    } else if (current.paused) {
        tv_fill_rect(60, 170, 120, 40, COLOR_HUD);
        tv_draw_text_centered("PAUSED", 182, COLOR_TEXT);
    }
}

tv_screen_object play_screen = TV_SCREEN_OBJECT_INIT(play_init, play_logic, play_render, 0, 0);

/* ---- game over ---- */

static void over_ready_step(uint32_t argument) {
    (void)argument;
    over_ready = 1;
}

static void over_init(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    over_ready = 0;
    frame = 0;
    /* A moment before input counts, so a key held from the game does not
     * start the next one at once. */
    tv_timer_start(1000, over_ready_step, 0);
}

static void over_logic(void *self, uint32_t event, uint32_t argument) {
    (void)self;
    const int key = key_of(event, argument);
    if (event == TV_EVENT_TICK) {
        ++frame;
        music_keep_playing();
        return;
    }
    if (!over_ready) return;
    if (key == TV_KEY_CONFIRM || key == TV_KEY_5 || event == TV_EVENT_PEN_DOWN) {
        tv_screen_replace(&play_screen.screen);
    } else if (key == TV_KEY_SOFT_RIGHT || key == TV_KEY_0) {
        tv_screen_replace(&title_screen.screen);
    }
}

static void over_render(void *self, uint32_t event, uint32_t argument) {
    (void)self, (void)event, (void)argument;
    char number[12], text[32];
    draw_field(&last_game, 0);
    draw_hud(&last_game);
    tv_fill_rect(20, 120, 200, 150, COLOR_HUD);
    tv_frame_rect(20, 120, 200, 150, COLOR_DANGER);
    tv_draw_text_centered("GAME OVER", 134, COLOR_DANGER);
    tv_draw_text_centered(join_text(text, "SCORE ", format_number(number, last_game.score)), 166, COLOR_TEXT);
    tv_draw_text_centered(join_text(text, "COINS ", format_number(number, last_game.coins)), 186, COLOR_TEXT);
    if (last_was_best) {
        tv_draw_text_centered("NEW BEST!", 206, COLOR_ACCENT);
    } else {
        tv_draw_text_centered(join_text(text, "BEST ", format_number(number, last_best)), 206, COLOR_ACCENT);
    }
    if (over_ready && (frame / 5) % 2 == 0) tv_draw_text_centered("5 or tap: play again", 236, COLOR_TEXT);
    if (over_ready) tv_draw_text_centered("0: title", 252, COLOR_TEXT);
}

tv_screen_object over_screen = TV_SCREEN_OBJECT_INIT(over_init, over_logic, over_render, 0, 0);

void tv_app_main(void) {
    demo_resources_load();
    tv_screen_push(&title_screen.screen);
}
