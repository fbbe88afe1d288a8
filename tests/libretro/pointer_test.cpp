#include "libretro/input_mapping.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "libretro/fake_devices.hpp"
#include "libretro/guest_app.hpp"
#include "libretro/virtual_pointer.hpp"
#include "support/temp_dir.hpp"
#include "support/test_frontend.hpp"

namespace tarvel::libretro {
namespace {

using machine::PointerState;
using testing::FakeDevices;

struct Point {
    u32 x, y;
    friend bool operator==(const Point&, const Point&) = default;
};
std::ostream& operator<<(std::ostream& os, const Point& p) { return os << "(" << p.x << ", " << p.y << ")"; }

Point guest(i16 x, i16 y, Orientation o) {
    GuestPoint p = pointer_to_guest(x, y, o);
    return {p.x, p.y};
}

TEST(PointerMapping, PortraitCornersAndCentre) {
    EXPECT_EQ(guest(-0x7FFF, -0x7FFF, Orientation::Portrait), (Point{0, 0}));
    EXPECT_EQ(guest(0x7FFF, 0x7FFF, Orientation::Portrait), (Point{239, 399}));
    EXPECT_EQ(guest(0x7FFF, -0x7FFF, Orientation::Portrait), (Point{239, 0}));
    EXPECT_EQ(guest(0, 0, Orientation::Portrait), (Point{120, 200}));
    // Auto never reaches here in practice; it is treated like Portrait.
    EXPECT_EQ(guest(0x7FFF, 0x7FFF, Orientation::Auto), (Point{239, 399}));
}

TEST(PointerMapping, PortraitScaleFollowsTheRoundedFormula) {
    for (int v = -0x7FFF; v <= 0x7FFF; v += 97) {
        const u32 shifted = static_cast<u32>(v + 0x7FFF);
        const u32 col = std::min<u32>((shifted * 240 + 0x7FFF) / 0xFFFF, 239);
        const u32 row = std::min<u32>((shifted * 400 + 0x7FFF) / 0xFFFF, 399);
        ASSERT_EQ(guest(static_cast<i16>(v), static_cast<i16>(v), Orientation::Portrait), (Point{col, row})) << v;
    }
}

TEST(PointerMapping, LandscapeUndoesTheQuarterTurn) {
    // Top-left of the 400 x 240 frame is the guest's top-right pixel.
    EXPECT_EQ(guest(-0x7FFF, -0x7FFF, Orientation::Landscape), (Point{239, 0}));
    // Right edge of the frame: column 399 before rotation, so guest row 399.
    EXPECT_EQ(guest(0x7FFF, -0x7FFF, Orientation::Landscape), (Point{239, 399}));
    EXPECT_EQ(guest(-0x7FFF, 0x7FFF, Orientation::Landscape), (Point{0, 0}));
    EXPECT_EQ(guest(0x7FFF, 0x7FFF, Orientation::Landscape), (Point{0, 399}));
    EXPECT_EQ(guest(0, 0, Orientation::Landscape), (Point{119, 200}));
}

TEST(PointerMapping, OffscreenMinimumWrapsToTheEdgeNotBeyondIt) {
    // -0x8000 is what frontends report for a pointer outside the frame.
    EXPECT_EQ(guest(-0x8000, -0x8000, Orientation::Portrait), (Point{0, 0}));
    EXPECT_EQ(guest(-0x8000, -0x8000, Orientation::Landscape), (Point{239, 0}));
    for (i16 v : {i16{-0x8000}, i16{-0x7FFF}, i16{0}, i16{0x7FFF}}) {
        for (Orientation o : {Orientation::Portrait, Orientation::Landscape}) {
            Point p = guest(v, v, o);
            EXPECT_LE(p.x, 239u);
            EXPECT_LE(p.y, 399u);
        }
    }
}

class PointerSampling : public ::testing::Test {
protected:
    void sample(Orientation o = Orientation::Portrait) { sample_pointer(&FakeDevices::read, o, pointer); }
    FakeDevices devices;
    PointerState pointer;
};

TEST_F(PointerSampling, PressMoveReleaseSetsEdgesOnce) {
    devices.pointer(-0x7FFF, -0x7FFF, true);
    sample();
    EXPECT_EQ(pointer, (PointerState{true, true, false, 0, 0, 0, 0}));

    pointer.pressed = false;  // as the tick does once it delivered the press
    devices.pointer(0x7FFF, 0x7FFF, true);
    sample();
    EXPECT_EQ(pointer, (PointerState{true, false, false, 239, 399, 0, 0})) << "a move is not a new press";

    devices.pointer(0, 0, false);  // released at the centre: P = 0 but a position
    devices.set(RETRO_DEVICE_POINTER, 0, RETRO_DEVICE_ID_POINTER_X, 1);
    sample();
    EXPECT_EQ(pointer, (PointerState{false, false, true, 120, 200, 0, 0}));
}

TEST_F(PointerSampling, UndeliveredEdgesStayUntilTheTickTakesThem) {
    devices.pointer(100, 100, true);
    sample();
    devices.pointer(100, 100, false);
    sample();
    EXPECT_TRUE(pointer.pressed);
    EXPECT_TRUE(pointer.released);
    EXPECT_FALSE(pointer.down);
}

TEST_F(PointerSampling, AllZeroEndsAHeldPressWhereItWasAndIsOtherwiseNoData) {
    // Without a callback every read is 0: a frontend with no pointer at all.
    sample_pointer(nullptr, Orientation::Portrait, pointer);
    EXPECT_EQ(pointer, PointerState{});

    devices.pointer(0x7FFF, 0x7FFF, true);
    sample();
    pointer.pressed = false;
    // The pointer left the picture while held: the frontend reports all zero.
    devices.pointer(0, 0, false);
    sample();
    EXPECT_EQ(pointer, (PointerState{false, false, true, 239, 399, 239, 399})) << "released at the last position";

    pointer.released = false;
    const PointerState after = pointer;
    sample();
    sample_pointer(nullptr, Orientation::Portrait, pointer);
    EXPECT_EQ(pointer, after) << "no second release, no move to the centre";
}

TEST_F(PointerSampling, LandscapePressRecordsGuestCoordinates) {
    devices.pointer(-0x7FFF, -0x7FFF, true);
    sample(Orientation::Landscape);
    EXPECT_EQ(pointer, (PointerState{true, true, false, 239, 0, 239, 0}));
}

TEST_F(PointerSampling, ANewPressMovesThePressPosition) {
    devices.pointer(-0x7FFF, -0x7FFF, true);
    sample();
    devices.pointer(-0x7FFF, -0x7FFF, false);
    sample();
    devices.pointer(0x7FFF, 0x7FFF, true);
    sample();
    EXPECT_EQ(pointer.press_x, 239u);
    EXPECT_EQ(pointer.press_y, 399u);
}

// ---- Virtual pointer ---------------------------------------------------------

class VirtualPointerSampling : public ::testing::Test {
protected:
    void frames(int count, Orientation o = Orientation::Portrait, bool shown = true) {
        for (int i = 0; i < count; ++i) arrow.sample(&FakeDevices::read, options, o, shown, pointer);
    }
    Point tip(Orientation o = Orientation::Portrait) const { return {arrow.column(o), arrow.row(o)}; }
    void stick(i16 x, i16 y) { devices.stick(RETRO_DEVICE_INDEX_ANALOG_RIGHT, x, y); }

    FakeDevices devices;
    VirtualPointerOptions options{.enabled = true};
    VirtualPointer arrow;
    PointerState pointer;
};

TEST_F(VirtualPointerSampling, StickMovesTheArrowByTheChosenSpeed) {
    struct Case {
        u32 speed;
        i16 x, y;
        int frames;
        Orientation orientation;
        Point end;
    };
    const Case cases[] = {
        {6, 0x7FFF, 0, 10, Orientation::Portrait, {180, 200}},      // full tilt: speed pixels a frame
        {3, 0, -0x8000, 10, Orientation::Portrait, {120, 170}},     // the far negative end is full tilt too
        {10, 0x7FFF, 0x7FFF, 4, Orientation::Landscape, {240, 160}},  // starts at the landscape centre
        {15, kStickDeadZone, -kStickDeadZone, 30, Orientation::Portrait, {120, 200}},  // dead zone
        {15, -0x7FFF, 0x7FFF, 100, Orientation::Portrait, {0, 399}},  // stops at the edges
        {15, 0x7FFF, -0x7FFF, 100, Orientation::Landscape, {399, 0}},
    };
    for (const Case& c : cases) {
        arrow.reset();
        options.speed = c.speed;
        stick(c.x, c.y);
        frames(c.frames, c.orientation);
        EXPECT_EQ(tip(c.orientation), c.end) << "speed " << c.speed << " stick " << c.x << "," << c.y;
    }

    // Half way between the dead zone and full tilt goes about half as fast.
    arrow.reset();
    options.speed = 6;
    stick(static_cast<i16>(kStickDeadZone + (0x7FFF - kStickDeadZone) / 2), 0);
    frames(20);
    EXPECT_NEAR(tip().x, 120 + 60, 1);

    // Frames the frontend does not show (run-ahead) leave it where it is.
    const Point before = tip();
    frames(5, Orientation::Portrait, false);
    EXPECT_EQ(tip(), before);
    EXPECT_EQ(pointer, PointerState{}) << "moving without touching reaches nothing";
}

TEST_F(VirtualPointerSampling, TouchButtonPressesDragsAndReleasesAtTheTip) {
    struct Case {
        Orientation orientation;
        TouchButton button;
        unsigned button_id;
        Point press;  // guest coordinates after +50 columns, -30 rows from the centre
        Point drag;   // then 20 rows down while held
    };
    // Landscape: guest x = 239 - frame row, guest y = frame column.
    const Case cases[] = {
        {Orientation::Portrait, TouchButton::R3, RETRO_DEVICE_ID_JOYPAD_R3, {170, 170}, {170, 190}},
        {Orientation::Landscape, TouchButton::L3, RETRO_DEVICE_ID_JOYPAD_L3, {149, 250}, {129, 250}},
        {Orientation::Landscape, TouchButton::R2, RETRO_DEVICE_ID_JOYPAD_R2, {149, 250}, {129, 250}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button_id);
        devices.clear();
        arrow.reset();
        pointer = {};
        options.speed = 10;
        options.button = c.button;
        stick(0x7FFF, 0);
        frames(5, c.orientation);
        stick(0, -0x7FFF);
        frames(3, c.orientation);
        stick(0, 0);
        devices.joypad(RETRO_DEVICE_ID_JOYPAD_R3 == c.button_id ? RETRO_DEVICE_ID_JOYPAD_L3 : RETRO_DEVICE_ID_JOYPAD_R3,
                       true);
        frames(1, c.orientation);
        EXPECT_EQ(pointer, PointerState{}) << "the other stick click does not touch";

        devices.joypad(c.button_id, true);
        frames(1, c.orientation);
        EXPECT_EQ(pointer, (PointerState{true, true, false, c.press.x, c.press.y, c.press.x, c.press.y}));
        ASSERT_TRUE(arrow.cursor(options, c.orientation)->pressed);

        pointer.pressed = false;  // taken by a tick
        stick(0, 0x7FFF);
        frames(2, c.orientation);
        EXPECT_EQ(pointer, (PointerState{true, false, false, c.drag.x, c.drag.y, c.press.x, c.press.y}));

        devices.joypad(c.button_id, false);
        stick(0x7FFF, 0x7FFF);  // moves on, but only the release reaches the pen
        frames(3, c.orientation);
        EXPECT_EQ(pointer, (PointerState{false, false, true, c.drag.x, c.drag.y, c.press.x, c.press.y}));
    }
}

TEST_F(VirtualPointerSampling, TheFrontendsPointerTakesOverWhileInUse) {
    devices.pointer(-0x7FFF, -0x7FFF, false);
    frames(1);
    EXPECT_TRUE(arrow.driving()) << "a pointer resting where it was at the start is not in use";
    ASSERT_TRUE(arrow.cursor(options, Orientation::Portrait).has_value());

    devices.pointer(0x7FFF, 0x7FFF, false);  // the mouse moves
    frames(1);
    EXPECT_FALSE(arrow.driving());
    EXPECT_FALSE(arrow.cursor(options, Orientation::Portrait).has_value()) << "no arrow while the mouse is used";
    EXPECT_EQ(pointer, (PointerState{false, false, false, 239, 399, 0, 0}));

    // Pressed, the frontend's pointer wins even over a tilted stick and the
    // held touch button.
    devices.pointer(0x7FFF, 0x7FFF, true);
    stick(0x7FFF, 0);
    devices.joypad(RETRO_DEVICE_ID_JOYPAD_R3, true);
    frames(1);
    EXPECT_EQ(pointer, (PointerState{true, true, false, 239, 399, 239, 399}));
    EXPECT_EQ(tip(), (Point{120, 200}));

    // Released and still: the stick and button take over again.
    pointer.pressed = false;
    devices.pointer(0x7FFF, 0x7FFF, false);
    frames(1);
    EXPECT_TRUE(arrow.driving());
    EXPECT_EQ(pointer, (PointerState{true, false, false, 126, 200, 239, 399})) << "the drag continues at the tip";

    // A mouse nudged while the virtual button is held does not steal the drag.
    devices.pointer(0x1000, 0x1000, false);
    stick(0, 0);
    frames(1);
    EXPECT_TRUE(arrow.driving());
    EXPECT_TRUE(pointer.down);
}

// Through the entry points: the arrow is drawn over the frame the frontend
// gets and nowhere else. Runs with the arrow shown and hidden get the same
// pen events, the same guest memory and byte-identical save states, and
// their frames differ only where the arrow is.
TEST(VirtualPointerGame, ArrowChangesOnlyThePresentedFrame) {
    struct Run {
        std::vector<u8> state;
        std::vector<u8> ram;
        test::VideoFrame frame;
    };
    test::TempDir dir;
    const std::string path = dir.write("app.cbe", test::guest_app());
    auto play = [&path](const char* arrow_style, const char* orientation) {
        test::TestFrontend frontend;
        frontend.set_variable("tarvel_virtual_pointer", "enabled");
        frontend.set_variable("tarvel_pointer_arrow", arrow_style);
        frontend.set_variable("tarvel_screen_orientation", orientation);
        frontend.start();
        EXPECT_TRUE(frontend.load(path));
        const auto& described = frontend.input_descriptors();
        EXPECT_TRUE(std::any_of(described.begin(), described.end(), [](const test::InputDescriptor& d) {
            return d.id == RETRO_DEVICE_ID_JOYPAD_R3 && d.description == "Touch at the Pointer";
        })) << "the frontend is told what R3 does now";
        frontend.set_analog(RETRO_DEVICE_INDEX_ANALOG_RIGHT, RETRO_DEVICE_ID_ANALOG_X, -0x7FFF);
        frontend.run(12);
        frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_R3, true);
        frontend.run(12);
        frontend.set_analog(RETRO_DEVICE_INDEX_ANALOG_RIGHT, RETRO_DEVICE_ID_ANALOG_Y, 0x7FFF);
        frontend.run(12);
        frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_R3, false);
        frontend.run(12);
        Run run;
        run.state.resize(retro_serialize_size());
        EXPECT_TRUE(retro_serialize(run.state.data(), run.state.size()));
        const auto* ram = static_cast<const u8*>(retro_get_memory_data(RETRO_MEMORY_SYSTEM_RAM));
        run.ram.assign(ram, ram + retro_get_memory_size(RETRO_MEMORY_SYSTEM_RAM));
        run.frame = frontend.video_frames().back();
        return run;
    };
    for (const char* orientation : {"portrait", "landscape"}) {
        SCOPED_TRACE(orientation);
        const Run shown = play("white", orientation);
        const Run hidden = play("hidden", orientation);
        EXPECT_EQ(load_le32(shown.ram.data() + test::kEventCountsOffset + 3 * 4), 1u) << "pen down";
        EXPECT_GE(load_le32(shown.ram.data() + test::kEventCountsOffset + 5 * 4), 1u) << "pen moves";
        EXPECT_EQ(load_le32(shown.ram.data() + test::kEventCountsOffset + 4 * 4), 1u) << "pen up";
        EXPECT_TRUE(shown.ram == hidden.ram);
        EXPECT_TRUE(shown.state == hidden.state) << "save states are byte-identical";
        ASSERT_EQ(shown.frame.pixels.size(), hidden.frame.pixels.size());
        size_t differing = 0;
        for (size_t i = 0; i < shown.frame.pixels.size(); ++i) differing += shown.frame.pixels[i] != hidden.frame.pixels[i];
        EXPECT_GT(differing, 0u) << "the arrow is drawn";
        EXPECT_LE(differing, size_t{kCursorWidth} * kCursorHeight);
    }
}

}  // namespace
}  // namespace tarvel::libretro
