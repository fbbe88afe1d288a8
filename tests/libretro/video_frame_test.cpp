#include "libretro/presentation.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tarvel::libretro {
namespace {

constexpr u32 W = machine::kScreenWidth;   // 240
constexpr u32 H = machine::kScreenHeight;  // 400

// The reference conversion, straight from the channel definitions.
u32 reference_pixel(u16 v) {
    const u32 r = (v >> 11) * 255 / 31;
    const u32 g = ((v >> 5) & 0x3F) * 255 / 63;
    const u32 b = (v & 0x1F) * 255 / 31;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// A guest screen in host bytes, written in the chosen byte order.
struct GuestScreen {
    explicit GuestScreen(bool big_endian) : big_endian(big_endian), bytes(machine::kScreenBufferBytes) {}
    void set(u32 col, u32 row, u16 v) { store16(&bytes[2 * (row * W + col)], v, big_endian); }
    u16 get(u32 col, u32 row) const { return load16(&bytes[2 * (row * W + col)], big_endian); }
    void fill(u16 v) {
        for (u32 row = 0; row < H; ++row)
            for (u32 col = 0; col < W; ++col) set(col, row, v);
    }
    // Every pixel different enough that a misplaced one shows.
    void pattern() {
        for (u32 row = 0; row < H; ++row)
            for (u32 col = 0; col < W; ++col) set(col, row, static_cast<u16>(row * 251 + col * 7919 + (row ^ col)));
    }
    bool big_endian;
    std::vector<u8> bytes;
};

struct Frame {
    Frame(u32 width, u32 height, size_t pitch_pixels, u32 background = 0x12345678)
        : width(width), height(height), pitch(pitch_pixels), pixels(pitch_pixels * height, background) {}
    u32 at(u32 x, u32 y) const { return pixels[y * pitch + x]; }
    bool render(const GuestScreen& s, Orientation o) {
        return render_frame(s.bytes.data(), s.bytes.size(), s.big_endian, o, pixels.data(), pitch * 4);
    }
    u32 width, height;
    size_t pitch;
    std::vector<u32> pixels;
};

TEST(PixelConversion, MatchesExactFloorsForEveryValue) {
    for (u32 v = 0; v <= 0xFFFF; ++v) {
        ASSERT_EQ(rgb565_to_xrgb8888(static_cast<u16>(v)), reference_pixel(static_cast<u16>(v))) << std::hex << v;
    }
    EXPECT_EQ(rgb565_to_xrgb8888(0xFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(rgb565_to_xrgb8888(0x0000), 0xFF000000u);
    EXPECT_EQ(rgb565_to_xrgb8888(0x0800), 0xFF080000u);  // red 1 of 31 is 8
}

TEST(FrameGeometryTest, SizesFollowTheOrientation) {
    FrameGeometry portrait = frame_geometry(Orientation::Portrait);
    EXPECT_EQ(portrait.width, 240u);
    EXPECT_EQ(portrait.height, 400u);
    EXPECT_EQ(portrait.pitch_bytes, 960u);
    FrameGeometry landscape = frame_geometry(Orientation::Landscape);
    EXPECT_EQ(landscape.width, 400u);
    EXPECT_EQ(landscape.height, 240u);
    EXPECT_EQ(landscape.pitch_bytes, 1600u);
    EXPECT_EQ(frame_geometry(Orientation::Auto).width, 240u);
}

TEST(VideoFrame, SolidPrimariesInBothOrientationsAndByteOrders) {
    const std::pair<u16, u32> colours[] = {{0xF800, 0xFFFF0000}, {0x07E0, 0xFF00FF00}, {0x001F, 0xFF0000FF},
                                           {0xFFFF, 0xFFFFFFFF}, {0x0000, 0xFF000000}};
    for (bool big_endian : {false, true}) {
        GuestScreen screen(big_endian);
        for (auto [guest, expected] : colours) {
            screen.fill(guest);
            Frame portrait(W, H, W);
            ASSERT_TRUE(portrait.render(screen, Orientation::Portrait));
            Frame landscape(H, W, H);
            ASSERT_TRUE(landscape.render(screen, Orientation::Landscape));
            for (u32 p : portrait.pixels) ASSERT_EQ(p, expected) << std::hex << guest << " be=" << big_endian;
            for (u32 p : landscape.pixels) ASSERT_EQ(p, expected) << std::hex << guest << " be=" << big_endian;
        }
    }
}

TEST(VideoFrame, ByteOrderDecidesHowTheHalfwordIsRead) {
    std::vector<u8> bytes(machine::kScreenBufferBytes);
    bytes[0] = 0xF8;
    bytes[1] = 0x00;
    std::vector<u32> out(W * H);
    ASSERT_TRUE(render_frame(bytes.data(), bytes.size(), true, Orientation::Portrait, out.data(), W * 4));
    EXPECT_EQ(out[0], 0xFFFF0000u) << "F8 00 in a big-endian guest is red";
    ASSERT_TRUE(render_frame(bytes.data(), bytes.size(), false, Orientation::Portrait, out.data(), W * 4));
    EXPECT_EQ(out[0], rgb565_to_xrgb8888(0x00F8)) << "the same bytes little-endian are 0x00F8";
}

TEST(VideoFrame, PortraitKeepsGuestOrder) {
    for (bool big_endian : {false, true}) {
        GuestScreen screen(big_endian);
        screen.pattern();
        Frame frame(W, H, W);
        ASSERT_TRUE(frame.render(screen, Orientation::Portrait));
        for (u32 y = 0; y < H; ++y)
            for (u32 x = 0; x < W; ++x)
                ASSERT_EQ(frame.at(x, y), reference_pixel(screen.get(x, y))) << x << "," << y << " be=" << big_endian;
    }
}

TEST(VideoFrame, LandscapeIsTheGuestTurnedAQuarter) {
    for (bool big_endian : {false, true}) {
        GuestScreen screen(big_endian);
        screen.pattern();
        Frame frame(H, W, H);
        ASSERT_TRUE(frame.render(screen, Orientation::Landscape));
        for (u32 oy = 0; oy < W; ++oy)
            for (u32 ox = 0; ox < H; ++ox)
                ASSERT_EQ(frame.at(ox, oy), reference_pixel(screen.get(239 - oy, ox)))
                    << ox << "," << oy << " be=" << big_endian;
    }
}

TEST(VideoFrame, LandscapeCornersLandWhereThePlayerExpects) {
    GuestScreen screen(false);
    screen.set(239, 0, 0xF800);  // guest top-right
    screen.set(0, 399, 0x001F);  // guest bottom-left
    screen.set(0, 0, 0x07E0);    // guest top-left
    Frame frame(H, W, H);
    ASSERT_TRUE(frame.render(screen, Orientation::Landscape));
    EXPECT_EQ(frame.at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(frame.at(399, 239), 0xFF0000FFu);
    EXPECT_EQ(frame.at(0, 239), 0xFF00FF00u);
    EXPECT_EQ(frame.at(399, 0), 0xFF000000u);
}

TEST(VideoFrame, WiderPitchLeavesThePaddingAlone) {
    GuestScreen screen(false);
    screen.fill(0xF800);
    for (Orientation o : {Orientation::Portrait, Orientation::Landscape}) {
        FrameGeometry g = frame_geometry(o);
        Frame frame(g.width, g.height, g.width + 13);
        ASSERT_TRUE(frame.render(screen, o));
        for (u32 y = 0; y < g.height; ++y) {
            for (u32 x = 0; x < frame.pitch; ++x) {
                ASSERT_EQ(frame.at(x, y), x < g.width ? 0xFFFF0000u : 0x12345678u) << x << "," << y;
            }
        }
    }
}

TEST(VideoFrame, UnusableFrameIsRefusedAndLeftUntouched) {
    GuestScreen screen(false);
    Frame frame(W, H, W);
    EXPECT_FALSE(render_frame(screen.bytes.data(), screen.bytes.size(), false, Orientation::Portrait,
                              frame.pixels.data(), W * 4 - 4));
    EXPECT_FALSE(render_frame(screen.bytes.data(), screen.bytes.size(), false, Orientation::Portrait,
                              frame.pixels.data(), W * 4 + 2));
    EXPECT_FALSE(render_frame(screen.bytes.data(), screen.bytes.size(), false, Orientation::Landscape,
                              frame.pixels.data(), W * 4));  // landscape rows need 1600 bytes
    EXPECT_FALSE(render_frame(screen.bytes.data(), screen.bytes.size(), false, Orientation::Portrait, nullptr, W * 4));
    for (u32 p : frame.pixels) ASSERT_EQ(p, 0x12345678u);
}

TEST(VideoFrame, ShortOrMissingScreenShowsBlackBeyondItsEnd) {
    GuestScreen screen(true);
    screen.fill(0xFFFF);
    // Two full rows and half a pixel more: pixel 480 lacks its second byte.
    const size_t length = 2 * W * 2 + 1;
    for (Orientation o : {Orientation::Portrait, Orientation::Landscape}) {
        FrameGeometry g = frame_geometry(o);
        Frame frame(g.width, g.height, g.width);
        ASSERT_TRUE(render_frame(screen.bytes.data(), length, true, o, frame.pixels.data(), g.pitch_bytes));
        for (u32 row = 0; row < H; ++row) {
            for (u32 col = 0; col < W; ++col) {
                const u32 expected = row < 2 ? 0xFFFFFFFFu : 0xFF000000u;
                const u32 got = o == Orientation::Portrait ? frame.at(col, row) : frame.at(row, 239 - col);
                ASSERT_EQ(got, expected) << col << "," << row;
            }
        }
        ASSERT_TRUE(render_frame(nullptr, machine::kScreenBufferBytes, false, o, frame.pixels.data(), g.pitch_bytes));
        for (u32 p : frame.pixels) ASSERT_EQ(p, 0xFF000000u);
    }
}

TEST(VideoFrame, LongerBufferReadsOnlyTheScreen) {
    GuestScreen screen(false);
    screen.fill(0x001F);
    screen.bytes.resize(machine::kScreenBufferBytes + 64, 0xFF);
    Frame frame(W, H, W);
    ASSERT_TRUE(frame.render(screen, Orientation::Portrait));
    for (u32 p : frame.pixels) ASSERT_EQ(p, 0xFF0000FFu);
}

}  // namespace
}  // namespace tarvel::libretro
