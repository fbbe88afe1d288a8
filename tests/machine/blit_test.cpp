// Blits: clipping against the image and the destination from every side,
// transparency, row strides, the argument forms of the screen blits, images
// that lie on their own destination, memory that is only partly backed, and
// the trace line.

#include <gtest/gtest.h>

#include <random>

#include "machine/drawing_fixture.hpp"

namespace tarvel::machine::drawing_test {
namespace {

constexpr u16 kBackground = 0x1111;
constexpr u16 kPadding = 0xEEEE;  // never part of a picture

// Image pixel (x, y): distinct values with a few transparent (0) ones; the
// padding past the width holds a value that must never be copied.
u16 image_value(u32 x, u32 y, u32 width) {
    if (x >= width) return kPadding;
    if ((x + 2 * y) % 5 == 0) return 0;
    return static_cast<u16>(0x0100 * (y + 1) + x + 1);
}

struct Blit {
    i32 sx, sy, w, h, dx, dy;
};

// What a destination pixel should hold after the blit, defined by where it
// maps in the source rather than by clipping steps: pixel (X, Y) is covered
// when c = X - dx and r = Y - dy lie in the w x h box and (sx + c, sy + r)
// lies in the image.
std::optional<u16> expected_source(const Blit& b, i32 X, i32 Y, u32 image_width, u32 image_height) {
    const i32 c = X - b.dx, r = Y - b.dy;
    if (c < 0 || c >= b.w || r < 0 || r >= b.h) return std::nullopt;
    const i32 x = b.sx + c, y = b.sy + r;
    if (x < 0 || y < 0 || x >= static_cast<i32>(image_width) || y >= static_cast<i32>(image_height)) return std::nullopt;
    return image_value(static_cast<u32>(x), static_cast<u32>(y), image_width);
}

TEST(Blits, RandomBlitsMatchTheSourceMapping) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> coordinate(-12, 20), size(-3, 22);
    for (bool big_endian : {false, true}) {
        TarvelMachine m = make_machine(MachineSpec{.big_endian = big_endian, .resources = {}});
        const PixelArray image = make_pixels(m, 7, 5, [](u32 x, u32 y) { return image_value(x, y, 7); });
        const PixelArray surface = make_pixels(m, 13, 9, [](u32, u32) { return kBackground; });
        for (int round = 0; round < 400; ++round) {
            const Blit b{coordinate(random), coordinate(random), size(random), size(random), coordinate(random),
                         coordinate(random)};
            const bool transparent = round % 2 == 1;
            for (u32 y = 0; y < 9; ++y)
                for (u32 x = 0; x < 16; ++x) m.memory.write16(surface.address(x, y), x < 13 ? kBackground : kPadding);
            EXPECT_EQ(call(m, 4, transparent ? 25 : 24,
                           {surface.record, image.record, static_cast<u32>(b.sx), static_cast<u32>(b.sy),
                            static_cast<u32>(b.w), static_cast<u32>(b.h), static_cast<u32>(b.dx),
                            static_cast<u32>(b.dy)}),
                      1u);
            for (u32 y = 0; y < 9; ++y)
                for (u32 x = 0; x < 16; ++x) {
                    u16 want = x < 13 ? kBackground : kPadding;
                    if (x < 13) {
                        const std::optional<u16> source = expected_source(b, x, y, 7, 5);
                        if (source && !(transparent && *source == 0)) want = *source;
                    }
                    ASSERT_EQ(m.memory.read16(surface.address(x, y)), want)
                        << "blit sx=" << b.sx << " sy=" << b.sy << " w=" << b.w << " h=" << b.h << " dx=" << b.dx
                        << " dy=" << b.dy << (transparent ? " transparent" : " opaque") << " at " << x << "," << y;
                }
        }
        EXPECT_TRUE(m.memory.unmapped_accesses().empty());
    }
}

TEST(Blits, NegativeDestinationStartsInsideTheImage) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    const PixelArray image = make_pixels(m, 12, 2, [](u32 x, u32 y) { return static_cast<u16>(0x100 * (y + 1) + x + 1); });
    // dx = -5, sx = 0, w = 10: image columns 5..9 land in screen columns 0..4.
    call(m, 4, 30, {image.record, 0, 0, 10, 2, static_cast<u32>(-5), 3});
    for (u32 c = 0; c < 5; ++c) EXPECT_EQ(screen_pixel(m, c, 3), 0x100 + 5 + c + 1);
    EXPECT_EQ(screen_pixel(m, 5, 3), kBackground);
    EXPECT_EQ(screen_pixel(m, 4, 4), 0x200 + 9 + 1);
}

TEST(Blits, ImageRowsFollowTheRoundedStride) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    // Width 5: 8 pixels per row, so row 1 starts at pixel offset 8.
    const PixelArray image = make_pixels(m, 5, 2, [](u32 x, u32 y) { return image_value(x, y, 5); });
    ASSERT_EQ(image.stride(), 8u);
    call(m, 4, 27, {image.record, 0, 0});
    for (u32 y = 0; y < 2; ++y)
        for (u32 x = 0; x < 8; ++x) {
            const u16 want = x < 5 ? image_value(x, y, 5) : kBackground;
            EXPECT_EQ(screen_pixel(m, x, y), want) << x << "," << y;
        }
}

TEST(Blits, TransparentBlitsSkipZeroPixelsOnly) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    const PixelArray image = make_pixels(m, 4, 1, [](u32 x, u32) -> u16 { return x == 1 ? 0 : 0x0001 << x; });
    call(m, 4, 28, {image.record, point(10, 10)});
    EXPECT_EQ(screen_pixel(m, 10, 10), 0x0001);
    EXPECT_EQ(screen_pixel(m, 11, 10), kBackground);
    EXPECT_EQ(screen_pixel(m, 12, 10), 0x0004);
    call(m, 4, 26, {image.record, point(10, 11)});
    EXPECT_EQ(screen_pixel(m, 11, 11), 0x0000);
}

TEST(Blits, ScreenBlitArgumentForms) {
    TarvelMachine m = make_machine();
    const PixelArray image = make_pixels(m, 6, 6, [](u32 x, u32 y) { return static_cast<u16>(0x100 * (y + 1) + x + 1); });
    auto at = [&](u32 x, u32 y) { return static_cast<u16>(0x100 * (y + 1) + x + 1); };

    fill_whole_screen(m, kBackground);
    // 4.26: the whole image at a packed point, which may be negative.
    call(m, 4, 26, {image.record, point(-2, -3)});
    EXPECT_EQ(screen_pixel(m, 0, 0), at(2, 3));
    EXPECT_EQ(screen_pixel(m, 3, 2), at(5, 5));
    EXPECT_EQ(screen_pixel(m, 4, 0), kBackground);

    fill_whole_screen(m, kBackground);
    // 4.27: dx and dy are the low halves of r1 and r2.
    call(m, 4, 27, {image.record, 0x70000 | 200, 0xFFFF0000u | 100});
    EXPECT_EQ(screen_pixel(m, 200, 100), at(0, 0));
    EXPECT_EQ(screen_pixel(m, 205, 105), at(5, 5));

    fill_whole_screen(m, kBackground);
    // 4.29: source point (1, 2), destination corners (10, 20) .. (11, 22) inclusive.
    call(m, 4, 29, {image.record, point(1, 2), point(10, 20), point(11, 22)});
    EXPECT_EQ(screen_pixel(m, 10, 20), at(1, 2));
    EXPECT_EQ(screen_pixel(m, 11, 22), at(2, 4));
    EXPECT_EQ(screen_pixel(m, 12, 22), kBackground);
    EXPECT_EQ(screen_pixel(m, 11, 23), kBackground);

    fill_whole_screen(m, kBackground);
    // 4.32: sx from the low half of r1, the rest whole words; transparent.
    m.memory.write16(image.address(3, 1), 0);
    call(m, 4, 32, {image.record, 0x50003, 1, 2, 2, 50, 60});
    EXPECT_EQ(screen_pixel(m, 50, 60), kBackground);  // the zero pixel at (3, 1)
    EXPECT_EQ(screen_pixel(m, 51, 60), at(4, 1));
    EXPECT_EQ(screen_pixel(m, 51, 61), at(4, 2));
    EXPECT_EQ(screen_pixel(m, 52, 61), kBackground);
}

TEST(Blits, DestinationSurfacesAndTheScreenFallback) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    const PixelArray image = make_pixels(m, 2, 2, [](u32, u32) { return u16{0x0BAD}; });
    const PixelArray wide = make_pixels(m, 241, 1, [](u32, u32) { return kBackground; });
    call(m, 4, 24, {wide.record, image.record, 0, 0, 2, 2, 7, 8});
    EXPECT_EQ(m.memory.read16(wide.address(7, 0)), kBackground);
    EXPECT_EQ(screen_pixel(m, 7, 8), 0x0BAD);
    EXPECT_EQ(screen_pixel(m, 8, 9), 0x0BAD);
}

TEST(Blits, NothingIsDrawnForEmptyImagesOrSizes) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    const PixelArray image = make_pixels(m, 2, 2, [](u32, u32) { return u16{0x0BAD}; });
    call(m, 4, 30, {image.record, 0, 0, 0, 2, 0, 0});
    call(m, 4, 30, {image.record, 0, 0, 2, -1u, 0, 0});
    call(m, 4, 30, {0, 0, 0, 2, 2, 0, 0});  // no record: reads as an empty image
    m.memory.write16(image.record + 4, 0);
    call(m, 4, 30, {image.record, 0, 0, 2, 2, 0, 0});
    EXPECT_EQ(screen_pixel(m, 0, 0), kBackground);
    EXPECT_EQ(screen_pixel(m, 1, 1), kBackground);
}

TEST(Blits, AnImageBlittedOntoItselfReadsPixelsAlreadyWritten) {
    TarvelMachine m = make_machine();
    // A surface record over the image's own pixels: a blit one pixel to the
    // right copies pixel by pixel, so each row repeats its first pixel.
    const PixelArray image = make_pixels(m, 8, 2, [](u32 x, u32 y) { return static_cast<u16>(0x10 * (y + 1) + x + 1); });
    call(m, 4, 24, {image.record, image.record, 0, 0, 7, 2, 1, 0});
    for (u32 y = 0; y < 2; ++y)
        for (u32 x = 0; x < 8; ++x) EXPECT_EQ(m.memory.read16(image.address(x, y)), 0x10 * (y + 1) + 1) << x << "," << y;
}

TEST(Blits, PartlyBackedImagesAndSurfaces) {
    for (bool transparent : {false, true}) {
        TarvelMachine m = make_machine();
        // A 4 x 4 image of which rows 0 and 1 lie below the end of RAM.
        const u32 pixels = kRamBase + kRamSize - 2 * 4 * 2;
        for (u32 i = 0; i < 8; ++i) m.memory.write16(pixels + 2 * i, static_cast<u16>(0x40 + i));
        const u32 record = m.heap.allocate(8);
        m.memory.write32(record, pixels);
        m.memory.write16(record + 4, 4);
        m.memory.write16(record + 6, 4);
        const PixelArray surface = make_pixels(m, 4, 4, [](u32, u32) { return kBackground; });
        call(m, 4, transparent ? 25 : 24, {surface.record, record, 0, 0, 4, 4, 0, 0});
        EXPECT_EQ(m.memory.read16(surface.address(3, 1)), 0x47);
        // Unbacked pixels read as 0: copied when opaque, skipped when transparent.
        EXPECT_EQ(m.memory.read16(surface.address(0, 2)), transparent ? kBackground : 0);
        EXPECT_EQ(m.memory.unmapped_accesses().count(kRamBase + kRamSize), 1u);
    }
}

TEST(Blits, TraceLineShowsTheRequestBeforeClipping) {
    TarvelMachine m = make_machine();
    const PixelArray image = make_pixels(m, 5, 3, [](u32, u32) { return u16{1}; });
    const PixelArray surface = make_pixels(m, 4, 4, [](u32, u32) { return kBackground; });
    const std::string expected = fmt::format(
        "draw image dst={:08x} src={:08x} pixels={:08x} size=5x3 clip=-1,2 30x40 at=-7,8\n", surface.record,
        image.record, image.pixels);
    const std::initializer_list<u32> args = {surface.record, image.record, static_cast<u32>(-1), 2, 30, 40,
                                             static_cast<u32>(-7), 8};
    {
        TraceCapture trace("4:24");
        call(m, 4, 24, args);
        EXPECT_EQ(trace.text(), expected);
    }
    {
        // Index 25 selects the opaque blits, index 26 the transparent ones.
        TraceCapture trace("4:25");
        call(m, 4, 24, args);
        call(m, 4, 25, args);
        EXPECT_EQ(trace.text(), expected);
    }
    {
        TraceCapture trace(" 4:26 ");
        call(m, 4, 24, args);
        call(m, 4, 28, {image.record, point(3, 4)});
        EXPECT_EQ(trace.text(), fmt::format("draw image dst={:08x} src={:08x} pixels={:08x} size=5x3 clip=0,0 5x3 at=3,4\n",
                                            kScreenSurfaceRecord, image.record, image.pixels));
    }
}

}  // namespace
}  // namespace tarvel::machine::drawing_test
