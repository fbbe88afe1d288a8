// Rectangles: clipping at every edge of surfaces and the screen, outlines that
// follow the clipped edges, the argument forms of the group 4 entries, the
// choice between a surface and the screen, and memory that is only partly
// backed.

#include <gtest/gtest.h>

#include "machine/drawing_fixture.hpp"

namespace tarvel::machine::drawing_test {
namespace {

constexpr u16 kBackground = 0x1111;
constexpr u16 kColour = 0xF81F;

struct Rect {
    i32 x, y, w, h;
};

// Whether (c, r) lies in the rectangle cut down to a W x H area.
bool inside_clipped(const Rect& rect, i32 c, i32 r, i32 width, i32 height) {
    return c >= std::max(rect.x, 0) && c < std::min(rect.x + rect.w, width) && r >= std::max(rect.y, 0) &&
           r < std::min(rect.y + rect.h, height);
}

bool on_clipped_outline(const Rect& rect, i32 c, i32 r, i32 width, i32 height) {
    if (!inside_clipped(rect, c, r, width, height)) return false;
    const i32 left = std::max(rect.x, 0), top = std::max(rect.y, 0);
    const i32 right = std::min(rect.x + rect.w, width) - 1, bottom = std::min(rect.y + rect.h, height) - 1;
    return c == left || c == right || r == top || r == bottom;
}

// Compares the top-left `columns` x `rows` of the screen: `colour` where
// `set(c, r)` holds, the background elsewhere.
template <typename Set>
void expect_screen(TarvelMachine& m, u32 columns, u32 rows, Set set, u16 colour = kColour) {
    for (u32 r = 0; r < rows; ++r)
        for (u32 c = 0; c < columns; ++c)
            ASSERT_EQ(screen_pixel(m, c, r), set(i32(c), i32(r)) ? colour : kBackground) << c << "," << r;
}

auto outline_of(const Rect& rect) {
    return [=](i32 c, i32 r) { return on_clipped_outline(rect, c, r, 240, 400); };
}

TEST(Rectangles, SurfaceFillsAndOutlinesClipAtEveryEdge) {
    const Rect cases[] = {
        {-3, -2, 6, 5}, {7, 4, 10, 10}, {-5, 2, 30, 2}, {0, 0, 10, 6}, {9, 5, 1, 1}, {10, 0, 3, 3},
        {0, 6, 3, 3},   {-4, -4, 4, 9}, {2, 1, 0, 4},   {2, 1, 4, -1}, {-20, -20, 40, 40},
    };
    for (bool big_endian : {false, true}) {
        for (bool outline : {false, true}) {
            for (const Rect& rect : cases) {
                TarvelMachine m = make_machine(MachineSpec{.big_endian = big_endian, .resources = {}});
                // 10 x 6: the stride is 12 pixels, two of them padding.
                const PixelArray surface = make_pixels(m, 10, 6, [](u32, u32) { return kBackground; });
                const u32 result = call(m, 4, outline ? 17 : 19,
                                        {surface.record, static_cast<u32>(rect.x), static_cast<u32>(rect.y),
                                         static_cast<u32>(rect.w), static_cast<u32>(rect.h), kColour});
                EXPECT_EQ(result, 1u);
                for (u32 r = 0; r < 6; ++r)
                    for (u32 c = 0; c < 12; ++c) {
                        const bool set = c < 10 && (outline ? on_clipped_outline(rect, c, r, 10, 6)
                                                            : inside_clipped(rect, c, r, 10, 6));
                        ASSERT_EQ(m.memory.read16(surface.address(c, r)), set ? kColour : kBackground)
                            << "rect " << rect.x << "," << rect.y << " " << rect.w << "x" << rect.h << " pixel " << c
                            << "," << r << (outline ? " outline" : " filled");
                    }
                EXPECT_TRUE(m.memory.unmapped_accesses().empty());
            }
        }
    }
}

TEST(Rectangles, PixelsAreStoredInGuestByteOrder) {
    for (bool big_endian : {false, true}) {
        TarvelMachine m = make_machine(MachineSpec{.big_endian = big_endian, .resources = {}});
        call(m, 4, 19, {0, 0, 1, 1, 0xABCD});
        EXPECT_EQ(m.memory.read8(kScreenBuffer), big_endian ? 0xAB : 0xCD);
        EXPECT_EQ(m.memory.read8(kScreenBuffer + 1), big_endian ? 0xCD : 0xAB);
    }
}

TEST(Rectangles, OutlinePartlyLeftOfTheScreenShowsItsLeftEdgeInColumnZero) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    // Corners (-5, 10) and (14, 19): left -5, top 10, 20 x 10.
    EXPECT_EQ(call(m, 4, 16, {point(-5, 10), point(14, 19), kColour}), 1u);
    const Rect rect{-5, 10, 20, 10};
    expect_screen(m, 30, 30, outline_of(rect));
    EXPECT_EQ(screen_pixel(m, 0, 15), kColour);

    // The same on the screen's surface record through 4.17.
    fill_whole_screen(m, kBackground);
    call(m, 4, 17, {kScreenSurfaceRecord, static_cast<u32>(-5), 10, 20, 10, kColour});
    expect_screen(m, 30, 30, outline_of(rect));
}

TEST(Rectangles, ScreenFormOfTheOutlineTakesHeightAndColourFromTheStack) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    // r3 is not an argument of this form.
    EXPECT_EQ(call(m, 4, 16, {3, 4, 5, 0xDEAD, 6, kColour}), 1u);
    expect_screen(m, 15, 15, outline_of({3, 4, 5, 6}));
}

TEST(Rectangles, CornerFormTakesTwoPackedPointsInAnyOrder) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    // (10, 20) and (5, 25): left 5, top 20, 6 x 6.
    EXPECT_EQ(call(m, 4, 16, {point(10, 20), point(5, 25), 0xFFFF0000u | kColour}), 1u);
    expect_screen(m, 16, 31, outline_of({5, 20, 6, 6}));

    // Filled, with a corner above and left of the screen.
    call(m, 4, 18, {point(-3, -2), point(2, 1), 0x0F0F});
    expect_screen(m, 4, 4, [](i32 c, i32 r) { return c <= 2 && r <= 1; }, 0x0F0F);
}

TEST(Rectangles, PointsOutsideTheCornerRangeSelectTheScreenForm) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    // x = 481 is past the corner range: r0..r2 are x, y, w and the stack has h, colour.
    const u32 r0 = point(481, 3), r1 = point(1, 1);
    call(m, 4, 18, {r0, r1, 5, 0, 7, kColour});
    // Read as the screen form the rectangle starts at x = r0 > 240: nothing is drawn.
    expect_screen(m, 10, 10, [](i32, i32) { return false; });
    // Small values are the screen form too: (2, 3) 4 x 2.
    call(m, 4, 18, {2, 3, 4, 0, 2, kColour});
    expect_screen(m, 8, 8, [](i32 c, i32 r) { return inside_clipped({2, 3, 4, 2}, c, r, 240, 400); });
}

TEST(Rectangles, FillChoosesBetweenScreenFormAndSurface) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    const PixelArray surface = make_pixels(m, 8, 8, [](u32, u32) { return kBackground; });

    // Screen form: x, y, w, h in r0..r3, colour at SP; the fill clamps at the bottom.
    call(m, 4, 19, {236, 396, 10, 10, kColour});
    EXPECT_EQ(screen_pixel(m, 239, 399), kColour);
    EXPECT_EQ(screen_pixel(m, 235, 399), kBackground);
    EXPECT_EQ(screen_pixel(m, 236, 395), kBackground);

    // A surface record in r0: x, y, w in r1..r3, h and colour on the stack.
    call(m, 4, 19, {surface.record, 1, 2, 3, 4, 0x0707});
    EXPECT_EQ(m.memory.read16(surface.address(1, 2)), 0x0707);
    EXPECT_EQ(m.memory.read16(surface.address(3, 5)), 0x0707);
    EXPECT_EQ(m.memory.read16(surface.address(4, 5)), kBackground);

    // The screen's own record is a surface record that means the screen.
    call(m, 4, 19, {kScreenSurfaceRecord, 100, 200, 2, 2, 0x0A0A});
    EXPECT_EQ(screen_pixel(m, 101, 201), 0x0A0A);
    EXPECT_EQ(screen_pixel(m, 102, 201), kBackground);
}

TEST(Rectangles, UnusableSurfacesDrawOnTheScreen) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    const PixelArray wide = make_pixels(m, 241, 2, [](u32, u32) { return kBackground; });
    const PixelArray tall = make_pixels(m, 4, 401, [](u32, u32) { return kBackground; });
    const PixelArray no_pixels = make_pixels(m, 4, 4, [](u32, u32) { return kBackground; });
    m.memory.write32(no_pixels.record, 0);

    call(m, 4, 17, {wide.record, 0, 0, 3, 3, 0x0001});
    EXPECT_EQ(screen_pixel(m, 2, 2), 0x0001);
    EXPECT_EQ(m.memory.read16(wide.address(0, 0)), kBackground);
    call(m, 4, 19, {tall.record, 10, 0, 1, 1, 0x0002});
    EXPECT_EQ(screen_pixel(m, 10, 0), 0x0002);
    EXPECT_EQ(m.memory.read16(tall.address(0, 0)), kBackground);
    call(m, 4, 17, {no_pixels.record, 20, 0, 1, 1, 0x0003});
    EXPECT_EQ(screen_pixel(m, 20, 0), 0x0003);
}

TEST(Rectangles, PartlyBackedSurfaceDrawsWhatIsBackedAndRecordsTheRest) {
    for (bool big_endian : {false, true}) {
        TarvelMachine m = make_machine(MachineSpec{.big_endian = big_endian, .resources = {}});
        // Two rows of a 4 x 5 surface fit below the end of RAM; the rest lies past it.
        const u32 pixels = kRamBase + kRamSize - 2 * 4 * 2;
        const u32 record = m.heap.allocate(8);
        m.memory.write32(record, pixels);
        m.memory.write16(record + 4, 4);
        m.memory.write16(record + 6, 5);
        call(m, 4, 19, {record, 0, 0, 4, 5, kColour});
        for (u32 i = 0; i < 8; ++i) EXPECT_EQ(m.memory.read16(pixels + 2 * i), kColour);
        EXPECT_EQ(m.memory.unmapped_accesses().count(kRamBase + kRamSize), 1u);
        EXPECT_EQ(m.memory.unmapped_accesses().count(kRamBase + kRamSize + 3 * 8 - 2), 1u);
    }
}

TEST(Rectangles, DirectFillEntryAndScreenFormFillTheSamePixels) {
    TarvelMachine a = make_machine(), b = make_machine();
    fill_whole_screen(a, kBackground);
    fill_whole_screen(b, kBackground);
    fill_screen(a.memory, -7, 395, 20, 30, kColour);
    // x = -7 as the low half of r0.
    call(b, 4, 19, {0xFFF9, 395, 20, 30, kColour});
    const auto screen_a = a.screen_bytes(), screen_b = b.screen_bytes();
    EXPECT_TRUE(std::equal(screen_a.begin(), screen_a.end(), screen_b.begin(), screen_b.end()));
    EXPECT_EQ(screen_pixel(a, 12, 399), kColour);
    EXPECT_EQ(screen_pixel(a, 13, 399), kBackground);
    EXPECT_EQ(screen_pixel(a, 0, 394), kBackground);
}

TEST(Rectangles, SignExtendedNegativeFirstArgumentIsASurfaceRecord) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    // r0 = -7 names a record at 0xFFFFFFF9, which is unbacked, so the surface
    // form draws on the screen with x, y, w in r1..r3 and h, colour on the stack.
    call(m, 4, 19, {static_cast<u32>(-7), 1, 2, 3, 4, kColour});
    EXPECT_EQ(screen_pixel(m, 1, 2), kColour);
    EXPECT_EQ(screen_pixel(m, 3, 5), kColour);
    EXPECT_EQ(screen_pixel(m, 0, 2), kBackground);
    EXPECT_EQ(screen_pixel(m, 4, 5), kBackground);
}

}  // namespace
}  // namespace tarvel::machine::drawing_test
