#pragma once
// A tiny application for driving the entry points with a real machine: it
// registers its entry, the entry pushes one screen, the screen's logic counts
// events by kind and its render paints the top-left pixel red and counts
// frames. Written as a CBE file with the CBE writer.

#include <string>
#include <vector>

#include "cbe_writer/cbe_writer.hpp"
#include "common/bytes.hpp"
#include "support/thumb_program.hpp"

namespace tarvel::test {

inline constexpr u32 kCodeBase = 0x01000000;
inline constexpr u32 kDataOffset = 0x2000;
inline constexpr u32 kScreenRecord = kCodeBase + kDataOffset;
// Guest RAM words the application writes (offsets into RETRO_MEMORY_SYSTEM_RAM).
inline constexpr u32 kEventCountsOffset = 0x100;  // one word per logic event kind 0..7
inline constexpr u32 kRenderCountOffset = 0x200;
inline constexpr u32 kBootProbeOffset = 0x300;  // see GuestAppOptions::boot_probe_path

struct GuestAppOptions {
    bool register_entry = true;
    bool has_render = true;
    u8 marker = 0;  // changes the file (and its CRC) without changing behaviour
    // When set, the initializer's first service call asks whether this file
    // exists and stores the answer plus one at kBootProbeOffset (2: it does,
    // 1: it does not, 0: no probe ran).
    std::string boot_probe_path;
};

// Where the probe's path sits in the initialized data, after the screen record.
inline constexpr u32 kProbePathOffset = 32;

inline std::vector<u8> guest_app(const GuestAppOptions& options = {}) {
    ThumbProgram p(kCodeBase);
    // Initializer: store the entry at 0x0A000000.
    const bool probe = !options.boot_probe_path.empty();
    if (probe) {
        p.push_lr();
        p.ldr_const(1, kScreenRecord + kProbePathOffset);
        p.call_service(5, 2);  // exists
        p.adds(0, 1);
        p.ldr_const(3, 0x05000000 + kBootProbeOffset);
        p.str(0, 3, 0);
    }
    if (options.register_entry) {
        p.ldr_label(0, "entry");
        p.ldr_const(1, 0x0A000000);
        p.str(0, 1, 0);
    }
    if (probe) {
        p.pop_pc();
    } else {
        p.bx(14);
    }

    p.label("entry");
    p.push_lr();
    p.ldr_const(0, kScreenRecord);
    p.call_service(14, 4);  // push the screen
    p.pop_pc();

    p.label("screen_init");
    p.bx(14);

    p.label("logic");  // counts[event] += 1
    p.ldr_const(3, 0x05000000 + kEventCountsOffset);
    p.emit(0x0089);  // lsls r1, r1, #2
    p.emit(0x185B);  // adds r3, r3, r1
    p.ldr(0, 3, 0);
    p.adds(0, 1);
    p.str(0, 3, 0);
    p.bx(14);

    p.label("render");  // top-left pixel red; render count += 1
    p.ldr_const(0, 0x05800420);
    p.ldr_const(1, 0xF800);
    p.strh(1, 0, 0);
    p.ldr_const(3, 0x05000000 + kRenderCountOffset);
    p.ldr(2, 3, 0);
    p.adds(2, 1);
    p.str(2, 3, 0);
    p.bx(14);

    std::vector<u8> code = p.finish();
    std::vector<u8> record(probe ? kProbePathOffset : 28, 0);
    if (probe) {
        record.insert(record.end(), options.boot_probe_path.begin(), options.boot_probe_path.end());
        record.push_back(0);
    }
    store_le32(record.data() + 0, p.address("screen_init"));
    store_le32(record.data() + 8, p.address("logic"));
    store_le32(record.data() + 12, options.has_render ? p.address("render") : 0);

    cbe_writer::CbeBuilder b;
    b.code = code;
    b.data_offset = kDataOffset;
    b.data_size = 0x1000;
    b.init_data = record;
    b.embedded = {0x10, 0x20, 0x30, options.marker};
    return b.build();
}

}  // namespace tarvel::test
