// cbe-sample OUTPUT: writes a small CBE application for trying the core out.
// Its initializer registers an entry, the entry pushes one screen, and that
// screen's render callback fills the screen with a colour that shifts a little
// on every tick.
#include <cstdio>
#include <fstream>

#include "cbe_writer/cbe_writer.hpp"

namespace {

using tarvel::u16;
using tarvel::u32;
using tarvel::u8;

constexpr u32 kCodeBase = 0x01000000;  // the default base for load address 0
constexpr u32 kDataOffset = 0x2000;
constexpr u32 kScreenRecord = kCodeBase + kDataOffset;

// Thumb code at kCodeBase; the comments give each halfword's offset. Literal
// loads reach the pool at 0x2C.
constexpr u16 kCode[] = {
    // 0x00 initializer: *(u32*)0x0A000000 = entry; return
    0x480A,  // ldr r0, =entry|1
    0x490B,  // ldr r1, =0x0A000000
    0x6008,  // str r0, [r1]
    0x4770,  // bx lr
    // 0x08 entry: push the screen (screen stack service, group 14, index 4)
    0xB500,  // push {lr}
    0x480A,  // ldr r0, =screen record
    0x4C0A,  // ldr r4, =service stub (14, 4)
    0x47A0,  // blx r4
    0xBD00,  // pop {pc}
    // 0x12 screen init and logic: nothing to do
    0x4770,  // bx lr
    // 0x14 render: colour += 8, then fill all 96000 pixels with it
    0x4809,  // ldr r0, =0x05800420 (screen buffer)
    0x490A,  // ldr r1, =96000
    0x4B0A,  // ldr r3, =0x05000200 (colour word in RAM)
    0x681A,  // ldr r2, [r3]
    0x3208,  // adds r2, #8
    0x601A,  // str r2, [r3]
    0x8002,  // 0x20: strh r2, [r0]
    0x3002,  // adds r0, #2
    0x3901,  // subs r1, #1
    0xD1FB,  // bne 0x20
    0x4770,  // bx lr
    0x46C0,  // nop, aligns the pool
};
constexpr u32 kPool[] = {
    kCodeBase + 0x08 + 1,               // 0x2C entry (Thumb)
    0x0A000000,                         // 0x30 where the entry is registered
    kScreenRecord,                      // 0x34
    0x0C000000 + 14 * 0x400 + 4 * 4,    // 0x38 service stub (14, 4)
    0x05800420,                         // 0x3C screen buffer
    240 * 400,                          // 0x40 pixels
    0x05000200,                         // 0x44 colour word
};
constexpr u32 kInitAndLogic = kCodeBase + 0x12 + 1;
constexpr u32 kRender = kCodeBase + 0x14 + 1;

std::vector<u8> code_bytes() {
    std::vector<u8> bytes(sizeof kCode + sizeof kPool);
    u8* out = bytes.data();
    for (u16 h : kCode) tarvel::store_le16(out, h), out += 2;
    for (u32 w : kPool) tarvel::store_le32(out, w), out += 4;
    return bytes;
}

// The screen record: init at +0, logic at +8, render at +12, load at +24.
std::vector<u8> screen_record() {
    std::vector<u8> record(28, 0);
    tarvel::store_le32(record.data() + 0, kInitAndLogic);
    tarvel::store_le32(record.data() + 8, kInitAndLogic);
    tarvel::store_le32(record.data() + 12, kRender);
    return record;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: cbe-sample OUTPUT.cbe\n", stderr);
        return 2;
    }
    tarvel::cbe_writer::CbeBuilder builder;
    builder.code = code_bytes();
    builder.data_offset = kDataOffset;
    builder.data_size = 0x1000;
    builder.init_data = screen_record();
    builder.embedded = {0x00, 0x00, 0x00, 0x00};

    std::vector<u8> bytes = builder.build();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cbe-sample: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("cbe-sample: wrote %s (%zu bytes)\n", argv[1], bytes.size());
    return 0;
}
