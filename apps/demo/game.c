#include "game.h"

uint32_t game_random(uint32_t *state) {
    /* xorshift32; a zero state would stay zero */
    uint32_t x = *state ? *state : 0x9E3779B9u;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

static uint32_t random_below(game *g, uint32_t n) {
    /* The top bits are the better ones. A multiply and shift instead of a
     * modulo; 16 bits times a small n fits in 32 bits. */
    return ((game_random(&g->rng) >> 16) * n) >> 16;
}

void game_start(game *g, uint32_t seed) {
    uint8_t *bytes = (uint8_t *)g;
    for (uint32_t i = 0; i < sizeof *g; ++i) bytes[i] = 0;
    g->player_lane = GAME_LANES / 2;
    g->target_lane = -1;
    g->lives = GAME_START_LIVES;
    g->level = 1;
    g->rng = seed ^ 0xA5A5F00Du;
    g->spawn_timer = GAME_SPAWN_GAP - 1; /* the first row appears at once */
}

uint32_t game_scroll_period(const game *g) {
    if (g->level >= 5) return 1;
    if (g->level >= 3) return 2;
    return 3;
}

/* What the ship meets in its cell: coins are taken, blocks hurt unless the
 * ship is still in its grace period after the last hit. */
static void collide(game *g) {
    uint8_t *cell = &g->cells[GAME_PLAYER_ROW][g->player_lane];
    if (*cell == CELL_COIN) {
        *cell = CELL_EMPTY;
        g->score += GAME_COIN_POINTS;
        ++g->coins;
    } else if (*cell == CELL_BLOCK && g->grace == 0) {
        *cell = CELL_EMPTY;
        g->hit = 1;
        g->grace = GAME_HIT_GRACE_TICKS;
        if (g->lives > 0) --g->lives;
        if (g->lives == 0) g->over = 1;
    }
}

void game_move(game *g, int32_t direction) {
    if (g->over || g->paused) return;
    int32_t lane = g->player_lane + (direction < 0 ? -1 : 1);
    if (lane < 0 || lane >= GAME_LANES) return;
    g->player_lane = lane;
    g->target_lane = -1;
    collide(g);
}

void game_steer_to(game *g, int32_t lane) {
    if (lane < 0) lane = 0;
    if (lane >= GAME_LANES) lane = GAME_LANES - 1;
    g->target_lane = lane;
}

void game_toggle_pause(game *g) {
    if (!g->over) g->paused = !g->paused;
}

/* A new top row: one or two blocks (three from level 4), never more than
 * half the lanes, and sometimes a coin in a free lane. */
static void spawn_row(game *g) {
    uint8_t *row = g->cells[0];
    uint32_t blocks = 1 + random_below(g, g->level >= 4 ? 3 : 2);
    for (uint32_t placed = 0; placed < blocks;) {
        uint32_t lane = random_below(g, GAME_LANES);
        if (row[lane] == CELL_EMPTY) {
            row[lane] = CELL_BLOCK;
            ++placed;
        }
    }
    if (random_below(g, 3) == 0) {
        uint32_t lane = random_below(g, GAME_LANES);
        if (row[lane] == CELL_EMPTY) row[lane] = CELL_COIN;
    }
}

static void scroll(game *g) {
    /* Blocks that leave the ship's row behind have been dodged. */
    for (int32_t lane = 0; lane < GAME_LANES; ++lane) {
        if (g->cells[GAME_PLAYER_ROW][lane] == CELL_BLOCK) g->score += GAME_ROW_POINTS;
    }
    for (int32_t row = GAME_ROWS - 1; row > 0; --row) {
        for (int32_t lane = 0; lane < GAME_LANES; ++lane) g->cells[row][lane] = g->cells[row - 1][lane];
    }
    for (int32_t lane = 0; lane < GAME_LANES; ++lane) g->cells[0][lane] = CELL_EMPTY;
    if (++g->spawn_timer >= GAME_SPAWN_GAP) {
        g->spawn_timer = 0;
        spawn_row(g);
    }
}

void game_tick(game *g) {
    g->hit = 0;
    if (g->over || g->paused) return;
    ++g->ticks;
    if (g->grace > 0) --g->grace;

    if (g->target_lane >= 0 && g->target_lane != g->player_lane) {
        g->player_lane += g->target_lane > g->player_lane ? 1 : -1;
        collide(g);
        if (g->over) return;
    }
    if (++g->scroll_timer >= game_scroll_period(g)) {
        g->scroll_timer = 0;
        scroll(g);
        collide(g);
    }
    uint32_t level = 1 + g->score / 100;
    g->level = level > GAME_MAX_LEVEL ? GAME_MAX_LEVEL : level;
}
