// The demo run on the ARMv4T model under the stand-in machine: its screens
// follow each other on input, the game ends when nobody plays, the same
// input gives the same frames in both byte orders, and only services the
// stand-in knows are called. Set TARVEL_DEMO_SCREENSHOTS to a folder to get
// PNG pictures of the three screens.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "mini_machine.hpp"

namespace tarvel::sdk_test {
namespace {

#ifdef TARVEL_DEMO_LE_CBE

constexpr int kKeyConfirm = 14, kKeyLeft = 15, kKeyRight = 16, kKey5 = 5;

bool any_text(const MiniMachine& m, const std::string& needle) {
    for (const std::string& t : m.texts())
        if (t.find(needle) != std::string::npos) return true;
    return false;
}

void screenshot(const MiniMachine& m, const char* name) {
    if (const char* dir = std::getenv("TARVEL_DEMO_SCREENSHOTS")) {
        EXPECT_TRUE(m.write_png(std::string(dir) + "/" + name + ".png"));
    }
}

// Runs ticks until the predicate holds; false after `limit` ticks.
bool run_until(MiniMachine& m, int limit, const std::function<bool()>& done) {
    for (int i = 0; i < limit; ++i) {
        m.tick();
        if (::testing::Test::HasFailure()) return false;
        if (done()) return true;
    }
    return false;
}

TEST(DemoRun, TitlePlayAndGameOverFollowEachOther) {
    MiniMachine m(TARVEL_DEMO_LE_CBE);
    ASSERT_TRUE(run_until(m, 5, [&] { return any_text(m, "LANE RUNNER"); }));
    const u32 title = m.current_screen();
    screenshot(m, "title");

    m.key(kKey5, true);
    m.key(kKey5, false);
    ASSERT_TRUE(run_until(m, 5, [&] { return m.current_screen() != title; }));
    const u32 play = m.current_screen();
    ASSERT_TRUE(run_until(m, 40, [&] { return any_text(m, "SCORE "); }));

    // Play a little: dodge left and right, then let the blocks win.
    for (int i = 0; i < 60; ++i) {
        if (i % 7 == 0) m.key(i % 14 ? kKeyLeft : kKeyRight, true);
        m.tick();
    }
    screenshot(m, "play");
    ASSERT_TRUE(run_until(m, 3000, [&] { return m.current_screen() != play; })) << "the game never ended";
    ASSERT_TRUE(run_until(m, 3, [&] { return any_text(m, "GAME OVER"); }));
    EXPECT_TRUE(any_text(m, "NEW BEST!")) << "the first game's score is the best";
    const u32 over = m.current_screen();

    // Input is ignored for a second, then starts a new game.
    m.key(kKeyConfirm, true);
    m.tick();
    m.tick();
    EXPECT_EQ(m.current_screen(), over);
    ASSERT_TRUE(run_until(m, 12, [&] { return any_text(m, "5 or tap: play again"); }));
    screenshot(m, "game_over");
    m.pen(3, 120, 200);
    ASSERT_TRUE(run_until(m, 3, [&] { return m.current_screen() == play; }));
    EXPECT_TRUE(m.unknown_calls().empty()) << std::hex << m.unknown_calls().front();
}

#ifdef TARVEL_DEMO_BE_CBE
TEST(DemoRun, BothByteOrdersDrawTheSameFrames) {
    MiniMachine le(TARVEL_DEMO_LE_CBE), be(TARVEL_DEMO_BE_CBE);
    auto script = [](MiniMachine& m, int t) {
        if (t == 3) m.key(kKey5, true);
        if (t > 30 && t % 11 == 0) m.key(t % 22 ? kKeyLeft : kKeyRight, true);
        if (t > 30 && t % 17 == 0) m.pen(3, (t * 37) % 240, 300);
    };
    for (int t = 0; t < 400; ++t) {
        script(le, t);
        script(be, t);
        le.tick();
        be.tick();
        ASSERT_FALSE(HasFailure());
        ASSERT_EQ(le.screen(), be.screen()) << "tick " << t;
    }
}
#endif

#endif  // TARVEL_DEMO_LE_CBE

}  // namespace
}  // namespace tarvel::sdk_test
