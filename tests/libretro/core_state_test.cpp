// Rules of the loaded game's state that every frame relies on.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "libretro/core_state.hpp"
#include "libretro/frontend_log.hpp"

namespace tarvel::libretro {
namespace {

TEST(TickPhase, TenTicksEverySixtyFrames) {
    u32 phase = 0;
    u32 ticks = 0;
    std::vector<u32> ticking_frames;
    for (u32 frame = 1; frame <= 60; ++frame) {
        TickSchedule s = advance_tick_phase(phase);
        ASSERT_LT(s.next_phase, kTickPeriod);
        if (s.due_ticks) ticking_frames.push_back(frame);
        ticks += s.due_ticks;
        phase = s.next_phase;
    }
    EXPECT_EQ(ticks, 10u);
    EXPECT_EQ(phase, 0u);
    EXPECT_EQ(ticking_frames, (std::vector<u32>{6, 12, 18, 24, 30, 36, 42, 48, 54, 60}));
}

TEST(TickPhase, OutOfRangePhaseCatchesUpInOneFrame) {
    // A phase can only come from this arithmetic, but a large one must still
    // give the number of whole periods and keep the remainder.
    EXPECT_EQ(advance_tick_phase(50).due_ticks, 1u);
    EXPECT_EQ(advance_tick_phase(50).next_phase, 0u);
    EXPECT_EQ(advance_tick_phase(59).next_phase, 9u);
    EXPECT_EQ(advance_tick_phase(170).due_ticks, 3u);
    EXPECT_EQ(advance_tick_phase(170).next_phase, 0u);
}

TEST(Geometry, LandscapeTurnsTheScreen) {
    EXPECT_EQ(geometry_for(Orientation::Landscape), (Geometry{400, 240}));
    EXPECT_EQ(geometry_for(Orientation::Portrait), (Geometry{240, 400}));
    EXPECT_EQ(geometry_for(Orientation::Auto), (Geometry{240, 400}));
}

TEST(LogFormat, DoublesPercentEndsTheLineOnceAndDropsTextWithNul) {
    EXPECT_EQ(as_log_format("a%b%%c"), "a%%b%%%%c\n");
    EXPECT_EQ(as_log_format(std::string_view("a\0b", 3)), "\n");
    EXPECT_EQ(as_log_format(""), "\n");
    EXPECT_EQ(as_log_format("two\nlines\r\n\n"), "two\nlines\n") << "a line end of the text's own is not doubled";
}

}  // namespace
}  // namespace tarvel::libretro
