// Text: measuring and drawing in GBK, UTF-8 and UTF-16 of both byte orders,
// compared pixel by pixel with the glyph rows of the font; clipping at every
// edge with the unsigned tests, landscape layout, the text origin, the two
// argument layouts, conversion to UTF-16 and the trace line.

#include <gtest/gtest.h>

#include "machine/drawing_fixture.hpp"
#include "machine/glyph_table.hpp"

namespace tarvel::machine::drawing_test {
namespace {

constexpr u16 kBackground = 0x2222;
constexpr u16 kInk = 0xF800;

const std::vector<u8> kGbkText = {'A', 0xD6, 0xD0};  // "A" and U+4E2D
const std::vector<u8> kUtf8Text = {0xEF, 0xBB, 0xBF, 'A', 0xE4, 0xB8, 0xAD};
const std::vector<u8> kUtf16LeText = {0xFF, 0xFE, 'A', 0x00, 0x2D, 0x4E};
const std::vector<u8> kUtf16BeText = {0xFE, 0xFF, 0x00, 'A', 0x4E, 0x2D};

u32 put_text(TarvelMachine& m, const std::vector<u8>& bytes) {
    const u32 block = m.heap.allocate(static_cast<u32>(bytes.size() + 2));
    m.memory.write_bytes(block, bytes);
    m.memory.write16(block + static_cast<u32>(bytes.size()), 0);
    return block;
}

u32 set_pixel_count(TarvelMachine& m) {
    u32 count = 0;
    for (u32 r = 0; r < kScreenHeight; ++r)
        for (u32 c = 0; c < kScreenWidth; ++c) count += screen_pixel(m, c, r) == kInk;
    return count;
}

// Compares the glyph's 16 rows with the screen, glyph pixel (i, j) at screen
// pixel where(i, j), for the glyph rows and columns `visible` admits.
template <typename Where, typename Visible>
u32 expect_glyph(TarvelMachine& m, char32_t code_point, Where where, Visible visible) {
    const Glyph glyph = find_glyph(code_point);
    EXPECT_TRUE(glyph.present());
    u32 drawn = 0;
    for (int i = 0; i < kGlyphHeight; ++i)
        for (int j = 0; j < glyph.width; ++j) {
            if (!visible(i, j)) continue;
            const auto [column, row] = where(i, j);
            const bool ink = glyph.pixel(i, j);
            drawn += ink;
            EXPECT_EQ(screen_pixel(m, column, row), ink ? kInk : kBackground)
                << "glyph U+" << std::hex << static_cast<u32>(code_point) << std::dec << " row " << i << " column "
                << j;
        }
    return drawn;
}

auto portrait_at(u32 x, u32 y) {
    return [=](int i, int j) { return std::pair<u32, u32>(x + j, y + i); };
}
auto everything = [](int, int) { return true; };

TEST(Text, MeasuresByGlyphWidth) {
    TarvelMachine m = make_machine();
    auto measure = [&](const std::vector<u8>& bytes) { return call(m, 4, 7, {put_text(m, bytes)}); };
    EXPECT_EQ(measure({'A'}), 8u);
    ASSERT_EQ(find_glyph(0x4E2D).width, 16);
    EXPECT_EQ(measure({0xD6, 0xD0}), 16u);
    EXPECT_EQ(measure(kGbkText), 24u);
    EXPECT_EQ(measure(kUtf8Text), 24u);
    EXPECT_EQ(measure(kUtf16LeText), 24u);  // the mark is not measured
    EXPECT_EQ(measure(kUtf16BeText), 24u);
    // Characters without a glyph advance 16: U+211F, U+3164, and past the BMP.
    EXPECT_EQ(measure({0xEF, 0xBB, 0xBF, 0xE2, 0x84, 0x9F}), 16u);
    EXPECT_EQ(measure({0xEF, 0xBB, 0xBF, 0xE3, 0x85, 0xA4}), 16u);
    EXPECT_EQ(measure({0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x98, 0x80}), 16u);
    EXPECT_EQ(measure({0x95, 0x32, 0x82, 0x36}), 16u);  // GB18030 four bytes: U+1F600
    // A mark alone is an empty string; malformed bytes are U+FFFD.
    EXPECT_EQ(measure({0xEF, 0xBB, 0xBF}), 0u);
    EXPECT_EQ(measure({0xFF, 0xFE}), 0u);
    EXPECT_EQ(measure({0xFF}), find_glyph(0xFFFD).advance());
    EXPECT_EQ(measure({}), 0u);
}

TEST(Text, EveryEncodingDrawsTheSameGlyphs) {
    const std::vector<u8>* texts[] = {&kGbkText, &kUtf8Text, &kUtf16LeText, &kUtf16BeText};
    for (bool big_endian : {false, true})
        for (const std::vector<u8>* text : texts) {
            TarvelMachine m = make_machine(MachineSpec{.big_endian = big_endian, .resources = {}});
            fill_whole_screen(m, kBackground);
            EXPECT_EQ(call(m, 4, 9, {put_text(m, *text), 10, 20, kInk}), 1u);
            u32 drawn = expect_glyph(m, U'A', portrait_at(10, 20), everything);
            drawn += expect_glyph(m, U'\u4E2D', portrait_at(18, 20), everything);
            EXPECT_EQ(set_pixel_count(m), drawn);
            EXPECT_GT(drawn, 0u);
        }
}

// Text at (x, y), given as the low halves of r1 and r2, at each edge: the glyph
// pixels that land on the screen are drawn and no others (the unsigned tests
// drop what lies above or left of it).
TEST(Text, GlyphsAreClippedAtEveryEdgeOfTheScreen) {
    struct Case {
        std::string text;
        i32 x, y;
    };
    const Case cases[] = {
        {"H", 100, 395},  // rows below the screen
        {"H", 50, -10},   // rows above the top: glyph rows 10..15 land in rows 0..5
        {"MW", -4, 30},   // columns 4..7 of the first glyph at screen columns 0..3, the next at 4
        {"MW", 236, 0},   // columns past the right edge
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " at " + std::to_string(c.x) + "," + std::to_string(c.y));
        TarvelMachine m = make_machine();
        fill_whole_screen(m, kBackground);
        call(m, 4, 9,
             {put_text(m, test::bytes_of(c.text)), static_cast<u32>(c.x) & 0xFFFF, static_cast<u32>(c.y) & 0xFFFF,
              kInk});
        u32 drawn = 0;
        i32 left = c.x;
        for (char ch : c.text) {
            auto where = [&](int i, int j) { return std::pair<u32, u32>(left + j, c.y + i); };
            auto on_screen = [&](int i, int j) {
                return left + j >= 0 && left + j < i32{kScreenWidth} && c.y + i >= 0 && c.y + i < i32{kScreenHeight};
            };
            drawn += expect_glyph(m, static_cast<char32_t>(ch), where, on_screen);
            left += find_glyph(static_cast<char32_t>(ch)).advance();
        }
        EXPECT_EQ(set_pixel_count(m), drawn);
    }
}

TEST(Text, MissingGlyphsAdvanceSixteenAndDrawNothing) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    call(m, 4, 9, {put_text(m, {0xEF, 0xBB, 0xBF, 0xE2, 0x84, 0x9F, 'A'}), 0, 0, kInk});
    const u32 drawn = expect_glyph(m, U'A', portrait_at(16, 0), everything);
    EXPECT_EQ(set_pixel_count(m), drawn);
}

TEST(Text, LandscapeTextIsTurnedIntoThePortraitBuffer) {
    TarvelMachine m = make_machine();
    m.effective_orientation = Orientation::Landscape;
    fill_whole_screen(m, kBackground);
    // Logical pixel (c, r) of the 400 x 240 frame is screen pixel (239 - r, c).
    auto landscape_at = [](u32 x, u32 y) {
        return [=](int i, int j) { return std::pair<u32, u32>(239 - (y + i), x + j); };
    };
    call(m, 4, 9, {put_text(m, kGbkText), 0, 0, kInk});
    u32 drawn = expect_glyph(m, U'A', landscape_at(0, 0), everything);
    drawn += expect_glyph(m, U'\u4E2D', landscape_at(8, 0), everything);
    EXPECT_EQ(set_pixel_count(m), drawn);
    const Glyph a = find_glyph(U'A');
    for (int i = 0; i < 16 && !a.pixel(i, 0); ++i) EXPECT_EQ(screen_pixel(m, 239 - i, 0), kBackground);

    // The landscape frame is 400 columns wide and 240 rows high.
    fill_whole_screen(m, kBackground);
    call(m, 4, 9, {put_text(m, {'M'}), 396, 230, kInk});
    drawn = expect_glyph(m, U'M', landscape_at(396, 230), [](int i, int j) { return j < 4 && i < 10; });
    EXPECT_EQ(set_pixel_count(m), drawn);
}

TEST(Text, OriginStandsInForPositionZero) {
    for (bool big_endian : {false, true}) {
        TarvelMachine m = make_machine(MachineSpec{.big_endian = big_endian, .resources = {}});
        fill_whole_screen(m, kBackground);
        EXPECT_EQ(call(m, 4, 1, {0, 0x10000 | 30, 40}), kScreenBuffer);
        // The colour is the halfword at SP: the word's high half in big-endian order.
        const u32 colour_word = big_endian ? u32{kInk} << 16 : kInk;
        const u32 text = put_text(m, {'A'});
        EXPECT_EQ(call(m, 4, 10, {0, text, 0, 0, colour_word}), 1u);
        u32 drawn = expect_glyph(m, U'A', portrait_at(30, 40), everything);
        // A position other than (0, 0) is used as given, even (0, y).
        EXPECT_EQ(call(m, 4, 10, {0, text, 0, 60, colour_word}), 1u);
        drawn += expect_glyph(m, U'A', portrait_at(0, 60), everything);
        EXPECT_EQ(set_pixel_count(m), drawn);
    }
}

TEST(Text, TraceLineShowsThePositionUsed) {
    TarvelMachine m = make_machine();
    call(m, 4, 1, {0, 7, 9});
    const u32 text = put_text(m, kGbkText);
    TraceCapture trace("4:10");
    call(m, 4, 10, {0, text, 0, 0, 0x07E0});
    call(m, 4, 9, {text, 1, 1, 0x07E0});
    EXPECT_EQ(trace.text(), "draw text x=7 y=9 color=07e0 text=A\xE4\xB8\xAD\n");
}

TEST(Text, EitherArgumentLayout) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    const u32 text = put_text(m, {'A'});
    // Text in r0: x, y in r1, r2; the colour in the word at SP + 4.
    EXPECT_EQ(call(m, 4, 11, {text, 5, 6, 0, 0x1234, kInk}), 1u);
    u32 drawn = expect_glyph(m, U'A', portrait_at(5, 6), everything);
    // r0 unreadable: text in r1, x and y in r2, r3, the colour at SP + 16.
    EXPECT_EQ(call(m, 4, 12, {0, text, 50, 60, 0, 0, 0, 0, kInk}), 1u);
    drawn += expect_glyph(m, U'A', portrait_at(50, 60), everything);
    // r0 at a zero byte: the second layout too.
    const u32 empty = put_text(m, {});
    EXPECT_EQ(call(m, 4, 13, {empty, text, 100, 120, 0, 0, 0, 0, kInk}), 1u);
    drawn += expect_glyph(m, U'A', portrait_at(100, 120), everything);
    EXPECT_EQ(set_pixel_count(m), drawn);
    EXPECT_TRUE(m.memory.unmapped_accesses().empty());  // the probe of r0 records nothing
}

TEST(Text, ConversionToUtf16) {
    for (bool big_endian : {false, true}) {
        TarvelMachine m = make_machine(MachineSpec{.big_endian = big_endian, .resources = {}});
        const u32 destination = m.heap.allocate(32);
        auto units = [&](u32 count) {
            std::vector<u16> out;
            for (u32 i = 0; i < count; ++i) out.push_back(m.memory.read16(destination + 2 * i));
            return out;
        };
        for (u32 i = 0; i < 16; ++i) m.memory.write16(destination + 2 * i, 0xAAAA);
        EXPECT_EQ(call(m, 4, 38, {put_text(m, kGbkText), destination, 16}), 2u);
        EXPECT_EQ(units(4), (std::vector<u16>{0x0041, 0x4E2D, 0x0000, 0xAAAA}));
        EXPECT_EQ(m.memory.read8(destination), big_endian ? 0x00 : 0x41);

        // Room for capacity - 1 units and the zero.
        EXPECT_EQ(call(m, 4, 38, {put_text(m, kUtf8Text), destination, 2}), 1u);
        EXPECT_EQ(units(3), (std::vector<u16>{0x0041, 0x0000, 0x0000}));
        EXPECT_EQ(call(m, 4, 38, {put_text(m, kUtf8Text), destination, 1}), 0u);
        EXPECT_EQ(units(1), (std::vector<u16>{0x0000}));

        // Past the BMP: a surrogate pair.
        EXPECT_EQ(call(m, 4, 38, {put_text(m, {0xEF, 0xBB, 0xBF, 0xF0, 0x9F, 0x98, 0x80}), destination, 16}), 2u);
        EXPECT_EQ(units(3), (std::vector<u16>{0xD83D, 0xDE00, 0x0000}));

        for (u32 i = 0; i < 16; ++i) m.memory.write16(destination + 2 * i, 0xAAAA);
        EXPECT_EQ(call(m, 4, 38, {put_text(m, kGbkText), destination, 0}), 0u);
        EXPECT_EQ(call(m, 4, 38, {0, destination, 16}), 0u);
        EXPECT_EQ(call(m, 4, 38, {put_text(m, kGbkText), 0, 16}), 0u);
        EXPECT_EQ(units(1), (std::vector<u16>{0xAAAA}));
    }
}

TEST(Text, UnreadableTextEndsWhereMemoryEnds) {
    TarvelMachine m = make_machine();
    fill_whole_screen(m, kBackground);
    // "AB" in the last two bytes of RAM with no NUL after them.
    const u32 at = kRamBase + kRamSize - 2;
    m.memory.write8(at, 'A');
    m.memory.write8(at + 1, 'B');
    EXPECT_EQ(call(m, 4, 7, {at}), 16u);
    EXPECT_EQ(call(m, 4, 7, {0x0F000000}), 0u);
    EXPECT_EQ(call(m, 4, 9, {0x0F000000, 0, 0, kInk}), 1u);
    EXPECT_EQ(set_pixel_count(m), 0u);
}

}  // namespace
}  // namespace tarvel::machine::drawing_test
