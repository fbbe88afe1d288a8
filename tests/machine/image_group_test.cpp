// The image group's small entries: the entries open only to big-endian files
// with their data apart from the code, colour packing, hit tests, input words,
// the drawing-context and slot-list objects (with the trap entries that use
// them), and the fixed answers of the drawing group.

#include <gtest/gtest.h>

#include "machine/drawing_fixture.hpp"
#include "machine/cpu_bridge.hpp"

namespace tarvel::machine::drawing_test {
namespace {

MachineSpec split_big_endian() { return MachineSpec{.big_endian = true, .split_layout = true, .resources = {}}; }

TEST(ImageGroup, LayoutGatedEntriesAnswerZeroForOtherFiles) {
    const MachineSpec closed[] = {
        MachineSpec{.big_endian = false, .split_layout = true, .resources = {}},
        MachineSpec{.big_endian = true, .split_layout = false, .resources = {}},
    };
    for (const MachineSpec& spec : closed) {
        TarvelMachine m = make_machine(spec);
        fill_whole_screen(m, 0x1111);
        const PixelArray image = make_pixels(m, 2, 2, [](u32, u32) { return u16{0x0BAD}; });
        EXPECT_EQ(call(m, 3, 17, {255, 255, 255}), 0u);
        EXPECT_EQ(call(m, 3, 15, {image.record}), 0u);
        EXPECT_EQ(call(m, 3, 16, {image.record}), 0u);
        EXPECT_EQ(call(m, 3, 1, {image.record, 0, 0, 2, 2, 0, 0}), 0u);
        EXPECT_EQ(screen_pixel(m, 0, 0), 0x1111);
        const u32 object = m.heap.allocate(80);
        EXPECT_EQ(call(m, 3, 75, {object, 4}), 0u);
        EXPECT_EQ(call(m, 3, 79, {object, 1, 2, 3, 4, 5}), 0u);
        EXPECT_EQ(m.memory.read32(object + 24), 0u);
    }
    TarvelMachine m = make_machine(split_big_endian());
    const PixelArray image = make_pixels(m, 5, 3, [](u32, u32) { return u16{0x0BAD}; });
    EXPECT_EQ(call(m, 3, 15, {image.record}), 3u);
    EXPECT_EQ(call(m, 3, 16, {image.record}), 5u);
    EXPECT_EQ(call(m, 3, 16, {0}), 0u);
    // 3.1 and 3.2 blit to the screen and answer 0.
    EXPECT_EQ(call(m, 3, 2, {image.record, 0xFFFF, 0, 3, 1, 10, 10}), 0u);
    EXPECT_EQ(screen_pixel(m, 10, 10), 0u);  // column -1 of the image lies outside it
    EXPECT_EQ(screen_pixel(m, 11, 10), 0x0BAD);
}

TEST(ImageGroup, ColourPacking) {
    TarvelMachine m = make_machine(split_big_endian());
    EXPECT_EQ(call(m, 3, 17, {255, 255, 255}), 0xFFFFu);
    EXPECT_EQ(call(m, 3, 17, {8, 4, 8}), 0x0821u);
    EXPECT_EQ(call(m, 3, 17, {0x1FF, 0x1FF, 0x1FF}), 0xFFFFu);  // out-of-range parts are cut to their field
    EXPECT_EQ(call(m, 3, 17, {0, 0, 7}), 0u);
}

TEST(ImageGroup, HitTestsSignedAndUnsigned) {
    TarvelMachine m = make_machine();
    // 3.50: signed 16-bit halves, inclusive edges.
    EXPECT_EQ(call(m, 3, 50, {0xFFF6, 0xFFF6, 10, 10, 0xFFF6, 10}), 1u);
    EXPECT_EQ(call(m, 3, 50, {0xFFF6, 0xFFF6, 10, 10, 11, 0}), 0u);
    EXPECT_EQ(call(m, 3, 50, {0, 0, 10, 10, 0xFFFF, 0}), 0u);
    EXPECT_EQ(call(m, 3, 50, {0x10000, 0, 10, 10, 0, 0x20000}), 1u);  // only the low halves count
    // 4.40: packed points, halves compared unsigned, so x = -1 is far right.
    EXPECT_EQ(call(m, 4, 40, {point(3, 4), point(0, 0), point(10, 10)}), 1u);
    EXPECT_EQ(call(m, 4, 40, {point(10, 10), point(0, 0), point(10, 10)}), 1u);
    EXPECT_EQ(call(m, 4, 40, {point(-1, 4), point(0, 0), point(10, 10)}), 0u);
    EXPECT_EQ(call(m, 4, 40, {point(-1, 4), point(-5, 0), point(10, 10)}), 0u);
    EXPECT_EQ(call(m, 4, 40, {point(3, 11), point(0, 0), point(10, 10)}), 0u);
}

TEST(ImageGroup, InputWords) {
    TarvelMachine m = make_machine();
    m.input.newly_pressed_mask = key_bit(kKeyConfirm);
    m.delivered_held_key_mask = key_bit(kKeyConfirm) | key_bit(kKeyUp);
    m.input.held_key_mask = key_bit(kKeyDown);  // the frontend's mask is not the one asked
    m.input.pointer = PointerState{.down = true, .pressed = false, .released = true, .x = 12, .y = 34,
                                   .press_x = 12, .press_y = 30};
    EXPECT_EQ(call(m, 3, 11, {key_bit(kKeyConfirm) | 1}), 1u);
    EXPECT_EQ(call(m, 3, 11, {key_bit(kKeyUp)}), 0u);
    EXPECT_EQ(call(m, 3, 12, {key_bit(kKeyUp)}), 1u);
    EXPECT_EQ(call(m, 3, 12, {key_bit(kKeyDown)}), 0u);
    EXPECT_EQ(call(m, 3, 68), key_bit(kKeyConfirm));
    EXPECT_EQ(call(m, 3, 62), 1u);
    EXPECT_EQ(call(m, 3, 63), 0u);
    EXPECT_EQ(call(m, 3, 64), 1u);
    EXPECT_EQ(call(m, 3, 65), 1u);
    EXPECT_EQ(call(m, 3, 66), 12u);
    EXPECT_EQ(call(m, 3, 67), 34u);
    m.input.pointer.press_y = 34;
    EXPECT_EQ(call(m, 3, 65), 0u);
    m.input.pointer.down = false;
    m.input.pointer.y = 99;
    EXPECT_EQ(call(m, 3, 65), 0u);
}

TEST(ImageGroup, DrawingContextObject) {
    TarvelMachine m = make_machine(split_big_endian());
    const u32 object = m.heap.allocate(96);
    EXPECT_EQ(call(m, 3, 75, {object, 0x30005}), 1u);  // n is the low half: 5
    const u32 line = m.memory.read32(object);
    EXPECT_EQ(m.heap.block_size(line), 480u);
    EXPECT_EQ(m.memory.read16(object + 8), 5u);
    EXPECT_GE(m.heap.block_size(m.memory.read32(object + 12)), 10u);
    EXPECT_GE(m.heap.block_size(m.memory.read32(object + 16)), 20u);
    EXPECT_EQ(m.memory.read16(object + 20), 0u);
    for (u32 j = 0; j < 15; ++j) EXPECT_EQ(m.memory.read32(object + 24 + 4 * j), 0x0C00D000 + 4 * j);
    EXPECT_EQ(m.memory.read32(object + 40), 0x0C00D010u);  // the fill rectangle entry

    // n = 0 still gets blocks of 2 and 4 bytes.
    EXPECT_EQ(call(m, 3, 75, {object, 0}), 1u);
    EXPECT_NE(m.memory.read32(object + 12), 0u);
    EXPECT_NE(m.memory.read32(object + 16), 0u);
}

TEST(ImageGroup, SlotListObjectWorksWithTheTrapEntries) {
    TarvelMachine m = make_machine(split_big_endian());
    const u32 object = m.heap.allocate(80);
    EXPECT_EQ(call(m, 3, 79, {object, 0x11111111, 0x22222222, 0x33333333, 0x44444444, 3}), 1u);
    EXPECT_EQ(m.memory.read32(object + 4), 1u);
    EXPECT_EQ(m.memory.read32(object + 8), 3u);
    const u32 slots = m.memory.read32(object + 12);
    EXPECT_EQ(m.memory.read32(object + 16), 0x33333333u);
    EXPECT_EQ(m.memory.read32(object + 20), 0x44444444u);
    EXPECT_EQ(m.memory.read32(object + 24), 0x11111111u);
    EXPECT_EQ(m.memory.read32(object + 28), 0x22222222u);
    EXPECT_EQ(m.memory.read32(object + 32), 0u);
    EXPECT_EQ(m.memory.read32(object + 36), 0u);
    for (u32 j = 0; j < 8; ++j) EXPECT_EQ(m.memory.read32(object + 40 + 4 * j), 0x0C00D100 + 4 * j);
    const u32 first = m.memory.read32(slots);
    EXPECT_EQ(m.memory.read32(first), 0x11111111u);
    EXPECT_EQ(m.memory.read32(first + 4), 0x22222222u);
    for (u32 j = 0; j < 3; ++j) EXPECT_EQ(m.heap.block_size(m.memory.read32(slots + 4 * j)), 8u);

    // The append entry the object hands out fills the next slot.
    const u32 source = m.heap.allocate(8);
    m.memory.write32(source, 0xAAAABBBB);
    m.memory.write32(source + 4, 0xCCCCDDDD);
    m.cpu.regs.set_cpsr(0x30);
    m.cpu.regs.r[13] = kTestStack;
    m.cpu.regs.r[2] = source;
    const u32 append = m.memory.read32(object + 40 + 4 * 5);
    ASSERT_TRUE(call_guest(m, append | 1, object, 0, source, 10).ok());
    EXPECT_EQ(m.memory.read32(object + 4), 2u);
    const u32 second = m.memory.read32(slots + 4);
    EXPECT_EQ(m.memory.read32(second), 0xAAAABBBBu);
    EXPECT_EQ(m.memory.read32(second + 4), 0xCCCCDDDDu);

    // No slots: an array of 4 bytes and nothing stored in it.
    const u32 empty = m.heap.allocate(80);
    EXPECT_EQ(call(m, 3, 79, {empty, 1, 2, 3, 4, 0}), 1u);
    EXPECT_EQ(m.memory.read32(empty + 4), 0u);
    EXPECT_EQ(m.heap.block_size(m.memory.read32(empty + 12)), 8u);
}

TEST(ImageGroup, SlotListLargerThanTheHeapFailsCleanly) {
    TarvelMachine m = make_machine(split_big_endian());
    const u32 object = m.heap.allocate(80);
    EXPECT_EQ(call(m, 3, 79, {object, 1, 2, 3, 4, 0x40000000}), 0u);  // the array alone cannot fit
    EXPECT_EQ(m.memory.read32(object + 12), 0u);
    EXPECT_EQ(m.memory.read32(object + 4), 0u);
    // An array that fits, with more slots than the heap has blocks for: the
    // slots past the last block stay empty.
    EXPECT_EQ(call(m, 3, 79, {object, 1, 2, 3, 4, 400000}), 1u);
    const u32 slots = m.memory.read32(object + 12);
    EXPECT_NE(m.memory.read32(slots), 0u);
    EXPECT_EQ(m.memory.read32(slots + 4 * 399999), 0u);
}

TEST(ImageGroup, ArenaInitialisation) {
    TarvelMachine m = make_machine();
    const u32 record = m.heap.allocate(24);
    EXPECT_EQ(call(m, 3, 58, {record, 64}), record);
    EXPECT_NE(m.memory.read32(record), 0u);
    EXPECT_EQ(m.memory.read32(record + 8), 64u);
}

TEST(DrawGroup, FixedAnswers) {
    TarvelMachine m = make_machine();
    EXPECT_EQ(call(m, 4, 0), kScreenSurfaceRecord);
    EXPECT_EQ(call(m, 4, 5, {0}), 8u);
    EXPECT_EQ(call(m, 4, 5, {3}), 16u);
    EXPECT_EQ(call(m, 4, 6), 16u);
    EXPECT_EQ(call(m, 4, 62), 16u);
    for (u32 index : {36u, 54u, 55u, 56u}) EXPECT_EQ(call(m, 4, index, {7}), 1u) << index;
    for (u32 index : {2u, 3u, 4u, 8u, 14u, 15u, 20u, 21u, 23u, 37u, 39u, 41u, 50u, 57u, 61u, 63u, 200u})
        EXPECT_EQ(call(m, 4, index, {7}), 0u) << index;
    const PixelArray image = make_pixels(m, 9, 4, [](u32, u32) { return u16{0}; });
    EXPECT_EQ(call(m, 4, 33, {image.record}), 9u);
    EXPECT_EQ(call(m, 4, 34, {image.record}), 4u);
    EXPECT_EQ(call(m, 4, 33, {0x0F000000}), 0u);
    const u32 word = m.heap.allocate(4);
    m.memory.write32(word, 0xFFFFFFFF);
    EXPECT_EQ(call(m, 4, 35, {word}), 1u);
    EXPECT_EQ(m.memory.read32(word), 0u);
    EXPECT_EQ(call(m, 4, 35, {0}), 0u);
}

}  // namespace
}  // namespace tarvel::machine::drawing_test
