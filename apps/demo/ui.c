#include "ui.h"

#include "tv_resources.h"

static const char kBestPath[] = "demo/best.dat";

/* One picture per encoding the machine reads: the ship is an ordinary PNG
 * loaded by resource number, the block a firmware PNG loaded from its bytes
 * in memory, the coin a CBE custom GIF loaded through the resource table. */
static tv_image ship_image, block_image;
static tv_image *coin_image;

/* The resource directory: the main package copied into guest memory once,
 * registered so that lookups by name and number go through it. */
static tv_resource_dir resources;

void demo_resources_load(void) {
    tv_resource_dir_init(&resources, 4);
    tv_resource_dir_load(&resources);
    tv_resource_dir_register(&resources);
    tv_image_load(TV_RES_SHIP_PNG, &ship_image);
    const void *block_bytes = tv_resource_data("block.png");
    if (block_bytes) tv_image_load_stream(block_bytes, &block_image);
    coin_image = tv_image_load_resource(TV_RES_COIN_GIF);
}

/* Texts are GBK, the machine's narrow character set, and end with a NUL. */
const char *demo_text(const char *name) { return (const char *)tv_resource_data(name); }

void music_keep_playing(void) {
    if (tv_audio_state() == TV_AUDIO_IDLE) tv_audio_play_resource(TV_RES_THEME_MID, 1);
}

void play_coin_sound(void) { tv_audio_play_resource(TV_RES_COIN_WAV, 0); }
void play_crash_sound(void) { tv_audio_play_resource(TV_RES_CRASH_WAV, 0); }

void draw_ship_picture(int x, int y) {
    if (ship_image.loaded) tv_draw_image(&ship_image, x, y, 1);
}

char *format_number(char *buffer, uint32_t value) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    for (int i = 0; i < n; ++i) buffer[i] = digits[n - 1 - i];
    buffer[n] = 0;
    return buffer;
}

char *join_text(char *buffer, const char *prefix, const char *text) {
    char *out = buffer;
    while (*prefix) *out++ = *prefix++;
    while (*text) *out++ = *text++;
    *out = 0;
    return buffer;
}

void draw_cell(int32_t lane, int32_t row, uint8_t what) {
    const int x = lane * LANE_WIDTH, y = FIELD_TOP + row * ROW_HEIGHT;
    if (what == CELL_BLOCK) {
        if (block_image.loaded) {
            tv_draw_image(&block_image, x + 3, y + 2, 0);
        } else {
            tv_fill_rect(x + 3, y + 2, LANE_WIDTH - 6, ROW_HEIGHT - 4, COLOR_BLOCK);
            tv_frame_rect(x + 3, y + 2, LANE_WIDTH - 6, ROW_HEIGHT - 4, COLOR_BLOCK_EDGE);
        }
    } else if (what == CELL_COIN) {
        if (coin_image) tv_draw_image(coin_image, x + 14, y + 4, 1);
        else tv_fill_rect(x + 14, y + 4, LANE_WIDTH - 28, ROW_HEIGHT - 8, COLOR_COIN);
    }
}

static void draw_ship(int32_t lane, int dim) {
    const int x = lane * LANE_WIDTH, y = FIELD_TOP + GAME_PLAYER_ROW * ROW_HEIGHT;
    if (ship_image.loaded) {
        if (!dim) draw_ship_picture(x + 4, y); /* blinks while it cannot be hurt */
        return;
    }
    const tv_color color = dim ? COLOR_SHIP_DIM : COLOR_SHIP;
    tv_fill_rect(x + 16, y, 8, 6, color);                   /* nose */
    tv_fill_rect(x + 8, y + 6, 24, ROW_HEIGHT - 6, color);  /* body */
    tv_fill_rect(x + 4, y + 14, 4, 6, color);               /* wings */
    tv_fill_rect(x + 32, y + 14, 4, 6, color);
}

void draw_field(const game *g, uint32_t blink) {
    tv_fill_rect(0, FIELD_TOP, TV_SCREEN_WIDTH, TV_SCREEN_HEIGHT - FIELD_TOP, COLOR_BACKGROUND);
    for (int32_t lane = 1; lane < GAME_LANES; ++lane) {
        tv_fill_rect(lane * LANE_WIDTH - 1, FIELD_TOP, 2, TV_SCREEN_HEIGHT - FIELD_TOP, COLOR_LANE);
    }
    for (int32_t row = 0; row < GAME_ROWS; ++row) {
        for (int32_t lane = 0; lane < GAME_LANES; ++lane) {
            if (g->cells[row][lane] != CELL_EMPTY) draw_cell(lane, row, g->cells[row][lane]);
        }
    }
    /* The ship blinks while it cannot be hurt. */
    const int dim = g->grace > 0 && (blink & 1);
    draw_ship(g->player_lane, dim);
    if (g->hit) tv_frame_rect(0, FIELD_TOP, TV_SCREEN_WIDTH, TV_SCREEN_HEIGHT - FIELD_TOP, COLOR_DANGER);
}

void draw_hud(const game *g) {
    char number[12], text[32];
    tv_fill_rect(0, 0, TV_SCREEN_WIDTH, FIELD_TOP, COLOR_HUD);
    tv_draw_text(join_text(text, "SCORE ", format_number(number, g->score)), 8, 4, COLOR_TEXT);
    tv_draw_text(join_text(text, "LEVEL ", format_number(number, g->level)), 8, 21, COLOR_ACCENT);
    for (uint32_t i = 0; i < GAME_START_LIVES; ++i) {
        const tv_color c = i < g->lives ? COLOR_SHIP : COLOR_LANE;
        tv_fill_rect(TV_SCREEN_WIDTH - 22 - (int)i * 18, 12, 14, 14, c);
    }
}

uint32_t best_score_load(void) {
    uint32_t best = 0;
    int32_t f = tv_file_open(kBestPath, "r");
    if (f < 0) return 0;
    if (tv_file_read(f, &best, sizeof best) != (int32_t)sizeof best) best = 0;
    tv_file_close(f);
    return best;
}

void best_score_save(uint32_t score) {
    tv_file_mkdir("demo");
    int32_t f = tv_file_open(kBestPath, "w");
    if (f < 0) return;
    tv_file_write(f, &score, sizeof score);
    tv_file_close(f);
}
