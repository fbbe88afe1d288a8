#include "libretro/input_mapping.hpp"

#include <gtest/gtest.h>

#include "libretro/fake_devices.hpp"

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

}  // namespace
}  // namespace tarvel::libretro
