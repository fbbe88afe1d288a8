/* Drawing helpers and shared state of the demo's screens. */
#ifndef DEMO_UI_H
#define DEMO_UI_H

#include <tarvel/tarvel.h>

#include "game.h"

#define FIELD_TOP 40
#define LANE_WIDTH (TV_SCREEN_WIDTH / GAME_LANES)
#define ROW_HEIGHT ((TV_SCREEN_HEIGHT - FIELD_TOP) / GAME_ROWS)

#define COLOR_BACKGROUND TV_RGB(16, 20, 48)
#define COLOR_LANE       TV_RGB(28, 34, 72)
#define COLOR_HUD        TV_RGB(8, 10, 24)
#define COLOR_SHIP       TV_RGB(64, 224, 255)
#define COLOR_SHIP_DIM   TV_RGB(32, 96, 120)
#define COLOR_BLOCK      TV_RGB(232, 72, 56)
#define COLOR_BLOCK_EDGE TV_RGB(255, 160, 120)
#define COLOR_COIN       TV_RGB(255, 216, 40)
#define COLOR_TEXT       TV_RGB(240, 240, 240)
#define COLOR_ACCENT     TV_RGB(255, 216, 40)
#define COLOR_DANGER     TV_RGB(255, 64, 64)

/* The packaged pictures and texts; a picture that did not load is drawn
 * with rectangles instead, and a missing text is left out. */
void demo_resources_load(void);
const char *demo_text(const char *name);
void draw_ship_picture(int x, int y);

/* Sound: the theme loops whenever nothing else plays (an effect replaces
 * its looping, so each screen calls this every tick to bring it back), and
 * the effects play once. */
void music_keep_playing(void);
void play_coin_sound(void);
void play_crash_sound(void);

/* Writes the decimal digits of value and a NUL; returns buffer. */
char *format_number(char *buffer, uint32_t value);
/* Copies text after prefix into buffer (which must be large enough). */
char *join_text(char *buffer, const char *prefix, const char *text);

void draw_field(const game *g, uint32_t blink);
void draw_cell(int32_t lane, int32_t row, uint8_t what);
void draw_hud(const game *g);

/* The best score of this session, kept in the machine's filesystem. */
uint32_t best_score_load(void);
void best_score_save(uint32_t score);

extern tv_screen_object title_screen;
extern tv_screen_object play_screen;
extern tv_screen_object over_screen;

/* The result of the last game, for the game-over screen. */
extern game last_game;
extern uint32_t last_best;
extern uint8_t last_was_best;

#endif
