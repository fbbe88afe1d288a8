// A guest program, assembled here as Thumb code, that loads a packaged picture,
// blits it and writes text through the service stubs, run on the interpreter
// in both byte orders and checked in the screen buffer.

#include <gtest/gtest.h>

#include "machine/drawing_fixture.hpp"
#include "media/image/encoders.hpp"
#include "libretro/presentation.hpp"
#include "machine/cpu_bridge.hpp"
#include "machine/glyph_table.hpp"

namespace tarvel::machine::drawing_test {
namespace {

constexpr u32 kCodeBase = 0x01000000;

// Just enough of a Thumb assembler for straight-line service calls: literal
// loads from a pool placed after the code, and text bytes after the pool.
class Program {
public:
    void op(u16 halfword) { code_.push_back(halfword); }
    void load(unsigned rd, u32 value) {
        loads_.push_back({code_.size(), pool_.size()});
        pool_.push_back(value);
        op(static_cast<u16>(0x4800 | rd << 8));
    }
    void call_service(u32 group, u32 index) {
        load(4, service_stub(group, index));
        op(0x47A0);  // blx r4
    }
    // Address the text will have; the program's bytes follow the pool.
    u32 text_address() const { return pool_base() + static_cast<u32>(pool_.size() * 4) + 4; }

    std::vector<u8> bytes(bool big_endian, const std::string& text) const {
        std::vector<u8> out(pool_base() - kCodeBase + pool_.size() * 4 + 4, 0);
        for (size_t i = 0; i < code_.size(); ++i) {
            u16 h = code_[i];
            for (const auto& [at, slot] : loads_) {
                if (at != i) continue;
                const u32 pc = kCodeBase + static_cast<u32>(2 * i);
                h = static_cast<u16>(h | (pool_base() + 4 * slot - ((pc + 4) & ~3u)) / 4);
            }
            store16(out.data() + 2 * i, h, big_endian);
        }
        for (size_t s = 0; s < pool_.size(); ++s)
            store32(out.data() + (pool_base() - kCodeBase) + 4 * s, pool_[s], big_endian);
        out.insert(out.end(), text.begin(), text.end());
        out.push_back(0);
        while (out.size() % 4) out.push_back(0);
        return out;
    }

private:
    u32 pool_base() const { return (kCodeBase + static_cast<u32>(code_.size() * 2) + 3) & ~3u; }
    std::vector<u16> code_;
    std::vector<u32> pool_;
    std::vector<std::pair<size_t, size_t>> loads_;
};

// The program: record = load image resource 0; blit it opaque at (20, 30);
// draw the text at `text` at (40, 60) in red; return the record.
Program draw_program(u32 text) {
    Program p;
    p.op(0xB530);  // push {r4, r5, lr}
    p.op(0x2000);  // movs r0, #0
    p.op(0x2100);  // movs r1, #0
    p.call_service(4, 22);
    p.op(0x0005);  // movs r5, r0
    p.op(0x2114);  // movs r1, #20
    p.op(0x221E);  // movs r2, #30
    p.call_service(4, 27);
    p.load(0, text);
    p.op(0x2128);  // movs r1, #40
    p.op(0x223C);  // movs r2, #60
    p.load(3, 0xF800);
    p.call_service(4, 9);
    p.op(0x0028);  // movs r0, r5
    p.op(0xBD30);  // pop {r4, r5, pc}
    return p;
}

std::vector<u8> picture() {
    test::PngSpec spec{.width = 2, .height = 2, .color_type = 6};
    spec.samples = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    return test::encode_png(spec);
}

TEST(GuestProgram, LoadsBlitsAndWritesText) {
    for (bool big_endian : {false, true}) {
        // The text follows the code and its pool, whose size does not depend on the address.
        const Program p = draw_program(draw_program(0).text_address());
        TarvelMachine m = make_machine(MachineSpec{.big_endian = big_endian,
                                                   .resources = {cbe_writer::resource("logo.png", picture())},
                                                   .code = p.bytes(big_endian, "Hi")});
        m.cpu.regs.set_cpsr(0x30);
        m.cpu.regs.r[13] = kStackTop;
        const Status run = call_guest(m, kCodeBase | 1, 0, 0, 0, 10000);
        ASSERT_TRUE(run.ok()) << run.error().to_string();
        const u32 record = m.cpu.regs.r[0];
        ASSERT_NE(record, 0u);
        EXPECT_EQ(m.memory.read16(record + 4), 2u);
        EXPECT_EQ(m.memory.read8(record + 8), 1u);

        EXPECT_EQ(screen_pixel(m, 20, 30), 0xF800);
        EXPECT_EQ(screen_pixel(m, 21, 30), 0x07E0);
        EXPECT_EQ(screen_pixel(m, 20, 31), 0x001F);
        EXPECT_EQ(screen_pixel(m, 21, 31), 0xFFFF);
        EXPECT_EQ(screen_pixel(m, 22, 31), 0x0000);
        // The blit's bytes are in the program's byte order.
        EXPECT_EQ(m.memory.read8(kScreenBuffer + (30 * 240 + 20) * 2), big_endian ? 0xF8 : 0x00);

        u32 ink = 0;
        for (char32_t c : {U'H', U'i'}) {
            const Glyph glyph = find_glyph(c);
            const u32 x = c == U'H' ? 40 : 40 + find_glyph(U'H').width;
            for (int i = 0; i < kGlyphHeight; ++i)
                for (int j = 0; j < glyph.width; ++j) {
                    ink += glyph.pixel(i, j);
                    ASSERT_EQ(screen_pixel(m, x + j, 60 + i), glyph.pixel(i, j) ? 0xF800 : 0x0000);
                }
        }
        u32 red = 0;
        for (u32 r = 0; r < kScreenHeight; ++r)
            for (u32 c = 0; c < kScreenWidth; ++c) red += screen_pixel(m, c, r) == 0xF800;
        EXPECT_EQ(red, ink + 1);  // the glyphs and the picture's red pixel
        EXPECT_EQ(m.service_call_counts[(ServiceKey{4, 9})], 1u);

        // What the player sees: the presented frame, upright and turned.
        const std::span<const u8> screen = m.screen_bytes();
        std::vector<u32> frame(kScreenWidth * kScreenHeight);
        ASSERT_TRUE(libretro::render_frame(screen.data(), screen.size(), big_endian, Orientation::Portrait,
                                           frame.data(), kScreenWidth * 4));
        EXPECT_EQ(frame[30 * kScreenWidth + 20], 0xFFFF0000u);
        EXPECT_EQ(frame[31 * kScreenWidth + 20], 0xFF0000FFu);
        ASSERT_TRUE(libretro::render_frame(screen.data(), screen.size(), big_endian, Orientation::Landscape,
                                           frame.data(), kScreenHeight * 4));
        // Guest pixel (x, y) shows at landscape column y, row 239 - x.
        EXPECT_EQ(frame[(239 - 21) * kScreenHeight + 30], 0xFF00FF00u);
    }
}

}  // namespace
}  // namespace tarvel::machine::drawing_test
