/* Lane Runner: the rules of the demo game, free of any platform call so that
 * they can be tested on the host too.
 *
 * The player's ship sits near the bottom of six lanes. Rows of blocks and
 * coins scroll down the lanes; blocks cost a life, coins give points, and
 * every row that passes the ship gives a point. The scrolling speeds up with
 * the level, which rises every 100 points. */
#ifndef DEMO_GAME_H
#define DEMO_GAME_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GAME_LANES 6
#define GAME_ROWS 18
#define GAME_PLAYER_ROW 16
#define GAME_START_LIVES 3
#define GAME_MAX_LEVEL 9
#define GAME_COIN_POINTS 10
#define GAME_ROW_POINTS 1
#define GAME_HIT_GRACE_TICKS 15 /* ticks without damage after a hit */
#define GAME_SPAWN_GAP 4        /* scroll steps between two spawned rows */

enum { CELL_EMPTY = 0, CELL_BLOCK = 1, CELL_COIN = 2 };

typedef struct game {
    uint8_t cells[GAME_ROWS][GAME_LANES]; /* row 0 is the top */
    int32_t player_lane;
    int32_t target_lane; /* lane the pen asked for, or -1 */
    uint32_t score;
    uint32_t lives;
    uint32_t level;
    uint32_t ticks;
    uint32_t scroll_timer;
    uint32_t spawn_timer;
    uint32_t grace;       /* ticks left without damage */
    uint32_t rng;
    uint32_t coins;       /* coins collected */
    uint8_t paused;
    uint8_t over;
    uint8_t hit;          /* set in the tick the ship was hit */
} game;

void game_start(game *g, uint32_t seed);
/* Moves the ship one lane left (-1) or right (+1); the edges stop it. */
void game_move(game *g, int32_t direction);
/* The ship steers towards the lane one step per tick (pen control). */
void game_steer_to(game *g, int32_t lane);
void game_toggle_pause(game *g);
/* Advances the game by one tick (100 ms). */
void game_tick(game *g);
/* Ticks per scroll step at the current level. */
uint32_t game_scroll_period(const game *g);
/* A small pseudo-random generator, also used by the title screen. */
uint32_t game_random(uint32_t *state);

#ifdef __cplusplus
}
#endif
#endif
