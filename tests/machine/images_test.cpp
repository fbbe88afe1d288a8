// Image records filled from packaged resources in the three encodings: by
// index, from guest streams (a resource's guest copy, a heap block, memory
// with no block), through the resource tables and the guest's resource
// directory; the colour conversion, the row stride and the reports.

#include <gtest/gtest.h>

#include "machine/drawing_fixture.hpp"
#include "media/image/encoders.hpp"
#include "support/log_capture.hpp"
#include "machine/services/data.hpp"

namespace tarvel::machine::drawing_test {
namespace {

using test::encode_gif;
using test::encode_png;
using test::GifSpec;
using test::LogCapture;
using test::palette_from_rgb565;
using test::PngSpec;

// 3 x 2 RGBA: red, opaque black, transparent green / (8, 4, 8), half-transparent
// white (alpha 127), blue at alpha 128.
std::vector<u8> sprite_png() {
    PngSpec spec{.width = 3, .height = 2, .color_type = 6};
    spec.samples = {255, 0, 0, 255, 0, 0, 0, 255, 0, 255, 0, 0,  //
                    8, 4, 8, 255, 255, 255, 255, 127, 0, 0, 255, 128};
    return encode_png(spec);
}
const std::vector<u16> kSpritePixels = {0xF800, 0x0000, 0x0000, 0x0821, 0x0000, 0x001F};

std::vector<u8> firmware_png() {
    PngSpec spec{.width = 2, .height = 1, .color_type = 3};
    spec.palette = palette_from_rgb565({0xF800, 0x07E0});
    spec.samples = {0, 1};
    return test::to_firmware_png(encode_png(spec));
}

std::vector<u8> custom_gif() {
    GifSpec spec{.width = 3, .height = 2, .transparent = 3};
    spec.palette = palette_from_rgb565({0xF800, 0x07E0, 0x001F, 0xFFFF});
    spec.indices = {0, 1, 2, 3, 2, 1};
    return test::to_cbe_gif(encode_gif(spec));
}
const std::vector<u16> kGifPixels = {0xF800, 0x07E0, 0x001F, 0x0000, 0x001F, 0x07E0};

MachineSpec with_pictures(bool big_endian = false) {
    return MachineSpec{.big_endian = big_endian,
                       .resources = {cbe_writer::resource("sprite.png", sprite_png()),
                                     cbe_writer::resource("fw.png", firmware_png()),
                                     cbe_writer::resource("cbe.gif", custom_gif()),
                                     cbe_writer::resource("junk.bin", {1, 2, 3, 4, 5, 6, 7, 8, 9})}};
}

// Checks the record's fields and its pixels row by row at the rounded stride.
void expect_image(TarvelMachine& m, u32 record, u32 width, u32 height, const std::vector<u16>& pixels) {
    ASSERT_NE(record, 0u);
    EXPECT_EQ(m.memory.read16(record + 4), width);
    EXPECT_EQ(m.memory.read16(record + 6), height);
    EXPECT_EQ(m.memory.read8(record + 8), 1);
    const u32 base = m.memory.read32(record);
    EXPECT_EQ(m.heap.block_size(base), (row_stride(width) * height * 2 + 7) & ~7u);
    for (u32 y = 0; y < height; ++y)
        for (u32 x = 0; x < width; ++x)
            EXPECT_EQ(m.memory.read16(base + (y * row_stride(width) + x) * 2), pixels[y * width + x]) << x << "," << y;
}

TEST(ImageLoading, ResourcesInEachEncodingByIndex) {
    for (bool big_endian : {false, true}) {
        TarvelMachine m = make_machine(with_pictures(big_endian));
        expect_image(m, call(m, 4, 22, {0, 0}), 3, 2, kSpritePixels);
        expect_image(m, call(m, 4, 22, {1, 0}), 2, 1, {0xF800, 0x07E0});
        expect_image(m, call(m, 4, 22, {2, 0}), 3, 2, kGifPixels);
        const u32 record = call(m, 4, 22, {0, 0});
        EXPECT_EQ(m.memory.read8(m.memory.read32(record)), big_endian ? 0xF8 : 0x00);
    }
}

TEST(ImageLoading, NumbersFrom4095OnAreIndicesCountedFromThere) {
    TarvelMachine m = make_machine(with_pictures());
    expect_image(m, call(m, 4, 22, {4095, 0}), 3, 2, kSpritePixels);
    expect_image(m, call(m, 4, 22, {4096 + 1, 0}), 3, 2, kGifPixels);
    EXPECT_EQ(call(m, 4, 22, {4, 0}), 0u);
    EXPECT_EQ(call(m, 4, 22, {4095 + 4, 0}), 0u);
    EXPECT_EQ(call(m, 4, 22, {0xFFFFFFFF, 0}), 0u);
}

TEST(ImageLoading, GivenRecordIsFilledAndPaddingPixelsAreLeftAlone) {
    TarvelMachine m = make_machine(with_pictures());
    const u32 record = m.heap.allocate(12);
    m.memory.write8(record + 9, 0x5A);
    // A block of exactly the pixel size, poisoned and freed: the load reuses it.
    const u32 poisoned = m.heap.allocate(4 * 2 * 2);
    for (u32 i = 0; i < 16; ++i) m.memory.write8(poisoned + i, 0xEE);
    m.heap.free(poisoned);

    EXPECT_EQ(call(m, 4, 22, {0, record}), record);
    expect_image(m, record, 3, 2, kSpritePixels);
    ASSERT_EQ(m.memory.read32(record), poisoned);
    EXPECT_EQ(m.memory.read16(poisoned + 3 * 2), 0xEEEE);
    EXPECT_EQ(m.memory.read16(poisoned + 7 * 2), 0xEEEE);
    EXPECT_EQ(m.memory.read8(record + 9), 0x5A);  // bytes 9..11 are not the loader's
}

TEST(ImageLoading, DecodeFailuresReturnZeroAndReport) {
    TarvelMachine m = make_machine(with_pictures());
    const size_t live_blocks = m.heap.allocations.size();
    {
        LogCapture logs;
        EXPECT_EQ(call(m, 4, 22, {3, 0}), 0u);
        ASSERT_EQ(logs.lines().size() >= 1, true);
        EXPECT_EQ(logs.lines().back().rfind("tarvel_core::machine::drawing|failed to decode CBE image resource: ", 0), 0u)
            << logs.lines().back();
    }
    EXPECT_EQ(m.heap.allocations.size(), live_blocks);
    TraceCapture trace("4:49");
    EXPECT_EQ(call(m, 4, 22, {3, 0}), 0u);
    EXPECT_EQ(trace.text().rfind("image resource junk.bin decode failed (head=", 0), 0u);
}

TEST(ImageLoading, TraceLineCountsOpaquePixels) {
    TarvelMachine m = make_machine(with_pictures());
    TraceCapture trace("4:49");
    call(m, 4, 22, {0, 0});
    call(m, 4, 22, {2, 0});
    EXPECT_EQ(trace.text(), "image resource sprite.png decoded=3x2 opaque=4\nimage resource cbe.gif decoded=3x2 opaque=5\n");
}

TEST(ImageLoading, StreamAtAResourceCopyUsesThatResource) {
    TarvelMachine m = make_machine(with_pictures());
    ASSERT_TRUE(services::ensure_main_package_copied(m));
    const u32 copy = m.loaded_resources.data_addresses[2];
    const u32 record = m.heap.allocate(12);
    TraceCapture trace("4:49");
    EXPECT_EQ(call(m, 4, 49, {copy, record}), record);
    EXPECT_EQ(trace.text(), "image resource cbe.gif decoded=3x2 opaque=5\n");
    expect_image(m, record, 3, 2, kGifPixels);
    // The system stream entry of group 25 is the same operation.
    expect_image(m, call(m, 25, 10, {m.loaded_resources.data_addresses[1], 0}), 2, 1, {0xF800, 0x07E0});
}

TEST(ImageLoading, StreamInsideAHeapBlockReadsToTheBlockEnd) {
    TarvelMachine m = make_machine(with_pictures());
    const std::vector<u8> png = sprite_png();
    const u32 block = m.heap.allocate(static_cast<u32>(png.size() + 24));
    m.memory.write_bytes(block + 8, png);
    TraceCapture trace("4:49");
    const u32 record = call(m, 4, 49, {block + 8, 0});
    EXPECT_EQ(trace.text(), "image resource guest stream decoded=3x2 opaque=4\n");
    expect_image(m, record, 3, 2, kSpritePixels);

    // Cut short by the block's end, the same picture no longer decodes.
    const u32 short_block = m.heap.allocate(static_cast<u32>(png.size() - 16));
    m.memory.write_bytes(short_block, std::span(png).first(png.size() - 16));
    EXPECT_EQ(call(m, 4, 49, {short_block, 0}), 0u);
}

TEST(ImageLoading, StreamOutsideEveryHeapBlockIsRefused) {
    TarvelMachine m = make_machine(with_pictures());
    LogCapture logs;
    EXPECT_EQ(call(m, 4, 49, {0x01000000, 0}), 0u);
    ASSERT_EQ(logs.lines().size(), 1u);
    EXPECT_EQ(logs.lines()[0], "tarvel_core::machine::drawing|image stream at 0x01000000 has no allocation boundary");
    const u32 block = m.heap.allocate(16);
    m.heap.free(block);
    EXPECT_EQ(call(m, 4, 49, {block, 0}), 0u);  // a freed block bounds nothing
    EXPECT_EQ(logs.lines().size(), 2u);
}

TEST(ImageLoading, ResourceTablesAreDirectoriesFilledOnFirstUse) {
    TarvelMachine m = make_machine(with_pictures());
    EXPECT_EQ(call(m, 4, 44), 4u);
    const u32 table0 = m.memory.read32(kSystemWordA);
    ASSERT_NE(table0, 0u);
    EXPECT_EQ(m.heap.block_size(table0), 112u);  // 108 bytes, rounded to the heap's granularity
    EXPECT_EQ(call(m, 4, 44), 4u);
    EXPECT_EQ(m.memory.read32(kSystemWordA), table0);

    EXPECT_EQ(call(m, 4, 45), 4u);
    const u32 table1 = m.memory.read32(kSystemWordA);
    EXPECT_NE(table1, table0);

    // 4.48 loads from the main table when the index is below the table's count.
    expect_image(m, call(m, 4, 48, {1, table0, 0}), 2, 1, {0xF800, 0x07E0});
    EXPECT_EQ(call(m, 4, 48, {4, table0, 0}), 0u);
    EXPECT_EQ(call(m, 4, 48, {1, 0, 0}), 0u);

    EXPECT_EQ(call(m, 4, 47, {0, 0, table0}), 4u);
    EXPECT_EQ(m.memory.read32(kSystemWordA), table0);
    EXPECT_EQ(call(m, 4, 47, {0, 0, 0}), 0u);

    EXPECT_EQ(call(m, 4, 46), 0u);
    EXPECT_EQ(m.memory.read32(kSystemWordA), 0u);
    EXPECT_EQ(m.drawing.current_resource_table, 0u);
    EXPECT_EQ(call(m, 4, 44), 4u);
    EXPECT_NE(m.memory.read32(kSystemWordA), table0);  // forgotten: a new block
}

TEST(ImageLoading, EmptyPackageGivesAnEmptyTable) {
    TarvelMachine m = make_machine();
    EXPECT_EQ(call(m, 4, 44), 0u);
    EXPECT_NE(m.memory.read32(kSystemWordA), 0u);
    EXPECT_EQ(call(m, 4, 48, {0, m.memory.read32(kSystemWordA), 0}), 0u);
    // Asking again finds the table still empty without laying it out anew.
    const size_t blocks = m.heap.allocations.size();
    for (int i = 0; i < 10; ++i) EXPECT_EQ(call(m, 4, 44), 0u);
    EXPECT_EQ(m.heap.allocations.size(), blocks);
}

TEST(ImageLoading, ImageGroupLoadsByResourceNumberThroughTheDirectory) {
    TarvelMachine m = make_machine(with_pictures());
    // Nothing is placed in guest memory yet, and no directory is registered.
    EXPECT_EQ(call(m, 3, 0, {2}), 0u);
    // With a resource table registered the number resolves through it.
    call(m, 4, 44);
    expect_image(m, call(m, 3, 0, {2}), 3, 2, kGifPixels);
    // Without the directory word the copies the data service placed still count.
    m.memory.write32(kSystemWordA, 0);
    expect_image(m, call(m, 3, 0, {0}), 3, 2, kSpritePixels);
    EXPECT_EQ(call(m, 3, 0, {4}), 0u);
}

}  // namespace
}  // namespace tarvel::machine::drawing_test
