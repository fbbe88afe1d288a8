// The demo game's rules, compiled for the host: movement, collisions, the
// grace period, levels and speed, and the fairness of the spawned rows.

#include <gtest/gtest.h>

#include "../../apps/demo/game.h"

namespace {

game started(uint32_t seed = 1) {
    game g;
    game_start(&g, seed);
    for (auto& row : g.cells)
        for (auto& c : row) c = CELL_EMPTY;  // a clear field for hand-made cases
    g.spawn_timer = 0;
    return g;
}

TEST(DemoGame, StartsInTheMiddleWithFullLives) {
    game g;
    game_start(&g, 42);
    EXPECT_EQ(g.player_lane, GAME_LANES / 2);
    EXPECT_EQ(g.lives, static_cast<uint32_t>(GAME_START_LIVES));
    EXPECT_EQ(g.level, 1u);
    EXPECT_EQ(g.score, 0u);
    EXPECT_FALSE(g.over);
    EXPECT_EQ(g.target_lane, -1);
}

TEST(DemoGame, MovesStopAtTheEdges) {
    game g = started();
    for (int i = 0; i < 10; ++i) game_move(&g, -1);
    EXPECT_EQ(g.player_lane, 0);
    for (int i = 0; i < 10; ++i) game_move(&g, 1);
    EXPECT_EQ(g.player_lane, GAME_LANES - 1);
}

TEST(DemoGame, MovingOntoACoinScoresAndOntoABlockCostsALife) {
    game g = started();
    g.cells[GAME_PLAYER_ROW][g.player_lane + 1] = CELL_COIN;
    game_move(&g, 1);
    EXPECT_EQ(g.score, static_cast<uint32_t>(GAME_COIN_POINTS));
    EXPECT_EQ(g.coins, 1u);
    EXPECT_EQ(g.cells[GAME_PLAYER_ROW][g.player_lane], CELL_EMPTY);

    g.cells[GAME_PLAYER_ROW][g.player_lane - 1] = CELL_BLOCK;
    game_move(&g, -1);
    EXPECT_EQ(g.lives, static_cast<uint32_t>(GAME_START_LIVES - 1));
    EXPECT_TRUE(g.hit);
    EXPECT_EQ(g.grace, static_cast<uint32_t>(GAME_HIT_GRACE_TICKS));
}

TEST(DemoGame, GraceProtectsAfterAHitThenRunsOut) {
    game g = started();
    g.grace = 2;
    g.cells[GAME_PLAYER_ROW][g.player_lane + 1] = CELL_BLOCK;
    game_move(&g, 1);
    EXPECT_EQ(g.lives, static_cast<uint32_t>(GAME_START_LIVES)) << "no damage during grace";
    g.scroll_timer = 0;
    game_tick(&g);
    game_tick(&g);
    EXPECT_EQ(g.grace, 0u);
    g.cells[GAME_PLAYER_ROW][g.player_lane - 1] = CELL_BLOCK;
    game_move(&g, -1);
    EXPECT_EQ(g.lives, static_cast<uint32_t>(GAME_START_LIVES - 1));
}

TEST(DemoGame, ScrollingBringsBlocksDownAndTheLastLifeEndsTheGame) {
    game g = started();
    g.lives = 1;
    g.cells[GAME_PLAYER_ROW - 1][g.player_lane] = CELL_BLOCK;
    for (uint32_t i = 0; i < game_scroll_period(&g) && !g.over; ++i) game_tick(&g);
    EXPECT_TRUE(g.over);
    EXPECT_EQ(g.lives, 0u);
    const game frozen = g;
    game_tick(&g);
    game_move(&g, 1);
    EXPECT_EQ(g.ticks, frozen.ticks);
    EXPECT_EQ(g.player_lane, frozen.player_lane);
}

TEST(DemoGame, DodgedBlocksScoreAndLevelsSpeedUpTheScroll) {
    game g = started();
    g.cells[GAME_PLAYER_ROW][0] = CELL_BLOCK;
    g.cells[GAME_PLAYER_ROW][5] = CELL_BLOCK;
    g.player_lane = 2;
    for (uint32_t i = 0; i < game_scroll_period(&g); ++i) game_tick(&g);
    EXPECT_EQ(g.score, 2u * GAME_ROW_POINTS);
    EXPECT_EQ(game_scroll_period(&g), 3u);
    g.score = 250;
    game_tick(&g);
    EXPECT_EQ(g.level, 3u);
    EXPECT_EQ(game_scroll_period(&g), 2u);
    g.score = 5000;
    game_tick(&g);
    EXPECT_EQ(g.level, static_cast<uint32_t>(GAME_MAX_LEVEL));
    EXPECT_EQ(game_scroll_period(&g), 1u);
}

TEST(DemoGame, PenSteeringMovesOneLanePerTickAndPauseFreezes) {
    game g = started();
    game_steer_to(&g, 99);
    EXPECT_EQ(g.target_lane, GAME_LANES - 1);
    game_tick(&g);
    EXPECT_EQ(g.player_lane, GAME_LANES / 2 + 1);
    game_tick(&g);
    game_tick(&g);
    EXPECT_EQ(g.player_lane, GAME_LANES - 1);
    game_toggle_pause(&g);
    const uint32_t ticks = g.ticks;
    game_steer_to(&g, 0);
    game_tick(&g);
    EXPECT_EQ(g.ticks, ticks);
    EXPECT_EQ(g.player_lane, GAME_LANES - 1);
    game_toggle_pause(&g);
    game_tick(&g);
    EXPECT_EQ(g.player_lane, GAME_LANES - 2);
}

TEST(DemoGame, EverySpawnedRowLeavesHalfTheLanesOpenAndRowsAreSpaced) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        game g;
        game_start(&g, seed);
        g.score = 1000;  // the fastest level, with up to three blocks a row
        g.grace = 1u << 30;  // never dies, so the run is long
        for (int t = 0; t < 3000; ++t) {
            game_tick(&g);
            for (int row = 0; row < GAME_ROWS; ++row) {
                int blocks = 0;
                for (int lane = 0; lane < GAME_LANES; ++lane) blocks += g.cells[row][lane] == CELL_BLOCK;
                ASSERT_LE(blocks, GAME_LANES / 2) << "seed " << seed << " tick " << t;
                if (blocks && row + 1 < GAME_ROWS) {
                    for (int gap = 1; gap < GAME_SPAWN_GAP && row + gap < GAME_ROWS; ++gap) {
                        for (int lane = 0; lane < GAME_LANES; ++lane) {
                            ASSERT_NE(g.cells[row + gap][lane], CELL_BLOCK) << "rows too close";
                        }
                    }
                }
            }
        }
        EXPECT_GT(g.score, 1000u);
    }
}

TEST(DemoGame, SameSeedSameGame) {
    game a, b;
    game_start(&a, 7);
    game_start(&b, 7);
    for (int t = 0; t < 200; ++t) {
        if (t % 9 == 0) {
            game_move(&a, t % 2 ? 1 : -1);
            game_move(&b, t % 2 ? 1 : -1);
        }
        game_tick(&a);
        game_tick(&b);
    }
    EXPECT_EQ(0, memcmp(&a, &b, sizeof a));
    uint32_t zero = 0;
    EXPECT_NE(game_random(&zero), 0u) << "a zero state does not stick";
}

}  // namespace
