// Group 4, the drawing group: the screen, rectangles, blits, image loading,
// the resource tables, and text drawing and measuring.

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "machine/drawing.hpp"
#include "machine/machine.hpp"
#include "memory/guest_strings.hpp"
#include "machine/services/data.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"
#include "machine/text.hpp"
#include "machine/trace_filter.hpp"

namespace tarvel::machine::services {

namespace {

constexpr u32 kResourceTableBytes = kResourceDirectorySize;
constexpr u32 kResourceTableCountOffset = directory::kCount;
constexpr u32 kResourceImageIndexBase = 4095;

i32 low16(u32 value) { return static_cast<i16>(static_cast<u16>(value)); }

// A packed point: x in the low half, y in the high half, both signed.
struct Point {
    i32 x = 0, y = 0;
};
Point unpack(u32 packed) { return Point{low16(packed), low16(packed >> 16)}; }

bool in_range(i64 value, i64 low, i64 high) { return value >= low && value <= high; }

// Rectangles on the screen by 4.16 (outline) and 4.18 (filled). Two corner
// points in r0 and r1 when both look like packed points, otherwise the screen
// form x, y, w in r0..r2 and h, colour on the stack.
void screen_rectangle(TarvelMachine& m, bool filled) {
    const u32 r0 = service_arg(m, 0), r1 = service_arg(m, 1);
    const Point a = unpack(r0), b = unpack(r1);
    auto plausible = [](Point p) { return in_range(p.x, -240, 480) && in_range(p.y, -400, 800); };
    i64 x, y, width, height;
    u16 colour;
    if ((r0 | r1) >= 0x10000 && plausible(a) && plausible(b)) {
        x = std::min(a.x, b.x);
        y = std::min(a.y, b.y);
        width = std::abs(i64{b.x} - a.x) + 1;
        height = std::abs(i64{b.y} - a.y) + 1;
        colour = static_cast<u16>(service_arg(m, 2));
    } else {
        x = static_cast<i32>(r0);
        y = static_cast<i32>(r1);
        width = service_arg_i32(m, 2);
        height = service_arg_i32(m, 4);
        colour = static_cast<u16>(service_arg(m, 5));
    }
    if (filled) fill_rectangle(m.memory, kScreen, x, y, width, height, colour);
    else outline_rectangle(m.memory, kScreen, x, y, width, height, colour);
}

// 4.17 and the surface form of 4.19: surface r0, x r1, y r2, w r3, h and colour on the stack.
void surface_rectangle(TarvelMachine& m, bool filled) {
    const Surface surface = select_surface(m.memory, service_arg(m, 0));
    const i64 x = service_arg_i32(m, 1), y = service_arg_i32(m, 2);
    const i64 width = service_arg_i32(m, 3), height = service_arg_i32(m, 4);
    const u16 colour = static_cast<u16>(service_arg(m, 5));
    if (filled) fill_rectangle(m.memory, surface, x, y, width, height, colour);
    else outline_rectangle(m.memory, surface, x, y, width, height, colour);
}

// 4.19: the screen form takes x, y, w, h in r0..r3 and the colour at SP. It is
// told from the surface form by r0 < 0x10000 with x in -239..239, so x is the
// low half of r0 read as signed (0xFFF9 is x = -7); a sign-extended negative
// r0 is taken for a surface record.
void fill_rectangle_call(TarvelMachine& m) {
    const u32 r0 = service_arg(m, 0);
    const i64 x = low16(r0), y = service_arg_i32(m, 1);
    const i64 width = service_arg_i32(m, 2), height = service_arg_i32(m, 3);
    if (r0 < 0x10000 && in_range(x, -239, 239) && in_range(y, -399, 399) && in_range(width, -239, 240) &&
        in_range(height, -399, 400))
        return fill_screen(m.memory, x, y, width, height, static_cast<u16>(service_arg(m, 4)));
    surface_rectangle(m, true);
}

void blit_whole_image(TarvelMachine& m, u32 image, i32 dx, i32 dy, bool transparent) {
    const ImageRecord record = read_image_record(m.memory, image);
    blit(m.memory, BlitRequest{kScreenSurfaceRecord, image, 0, 0, record.width, record.height, dx, dy, transparent});
}

// 4.29 and 4.31: a source point and an inclusive destination rectangle.
void blit_into_corners(TarvelMachine& m, bool transparent) {
    const Point source = unpack(service_arg(m, 1));
    const Point top_left = unpack(service_arg(m, 2)), bottom_right = unpack(service_arg(m, 3));
    blit(m.memory, BlitRequest{kScreenSurfaceRecord, service_arg(m, 0), source.x, source.y,
                               i64{bottom_right.x} - top_left.x + 1, i64{bottom_right.y} - top_left.y + 1,
                               top_left.x, top_left.y, transparent});
}

// 4.24 and 4.25: everything given, onto a surface.
void blit_to_surface(TarvelMachine& m, bool transparent) {
    blit(m.memory, BlitRequest{service_arg(m, 0), service_arg(m, 1), service_arg_i32(m, 2), service_arg_i32(m, 3),
                               service_arg_i32(m, 4), service_arg_i32(m, 5), service_arg_i32(m, 6),
                               service_arg_i32(m, 7), transparent});
}

// A resource table is a resource directory of the data service: laid out by
// its constructor and filled by its load of the main package, which sets the
// count at +8. A table already laid out is only loaded again, so that asking
// for an empty table over and over does not allocate every time.
void fill_resource_table(TarvelMachine& m, u32 table) {
    if (m.memory.read8(table + directory::kConstructed) != 1) construct_resource_directory(m, table, 0);
    load_main_package(m, table);
}

u32 select_resource_table(TarvelMachine& m, u32 table) {
    m.drawing.current_resource_table = table;
    m.memory.write32(kSystemWordA, table);
    if (m.memory.read16(table + kResourceTableCountOffset) == 0) fill_resource_table(m, table);
    return m.memory.read16(table + kResourceTableCountOffset);
}

u32 select_numbered_resource_table(TarvelMachine& m, u32 which) {
    u32& table = m.drawing.resource_tables[which];
    if (table == 0) table = m.heap.allocate(kResourceTableBytes);
    if (table == 0) return 0;
    return select_resource_table(m, table);
}

void draw_text_at(TarvelMachine& m, u32 text, u32 x, u32 y, u32 colour) {
    draw_text(m, read_guest_text(m.memory, text), low16(x), low16(y), static_cast<u16>(colour));
}

// 4.10: the position (0, 0) stands for the stored text origin.
void draw_text_from_origin(TarvelMachine& m) {
    const u32 text = service_arg(m, 1);
    i32 x = low16(service_arg(m, 2)), y = low16(service_arg(m, 3));
    const u16 colour = m.memory.read16(m.cpu.regs.r[13]);
    if (x == 0 && y == 0) {
        x = m.drawing.text_origin_x;
        y = m.drawing.text_origin_y;
    }
    if (service_call_traced(4, 10)) {
        const std::string shown = read_narrow_string(m.memory, text, kTraceTextByteLimit);
        std::fputs(fmt::format("draw text x={} y={} color={:04x} text={}\n", x, y, colour, shown).c_str(), stderr);
        std::fflush(stderr);
    }
    draw_text(m, read_guest_text(m.memory, text), x, y, colour);
}

// 4.11..4.13 take either of two argument layouts: the text in r0 when r0
// points at a nonzero byte, else the text in r1 and everything one slot later.
void draw_text_either_layout(TarvelMachine& m) {
    const u32 r0 = service_arg(m, 0);
    if (m.memory.is_readable(r0, 1) && m.memory.read8(r0) != 0)
        return draw_text_at(m, r0, service_arg(m, 1), service_arg(m, 2), service_arg(m, 5));
    draw_text_at(m, service_arg(m, 1), service_arg(m, 2), service_arg(m, 3),
                 m.memory.read16(m.cpu.regs.r[13] + 16));
}

// 4.40: the point inside the inclusive rectangle, halves compared unsigned.
u32 point_in_rectangle(u32 point, u32 top_left, u32 bottom_right) {
    auto x = [](u32 v) { return v & 0xFFFF; };
    auto y = [](u32 v) { return v >> 16; };
    return x(top_left) <= x(point) && x(point) <= x(bottom_right) && y(top_left) <= y(point) &&
           y(point) <= y(bottom_right);
}

}  // namespace

void draw_service(TarvelMachine& m, u32 index) {
    GuestMemory& memory = m.memory;
    switch (index) {
        case 0: return set_result(m, kScreenSurfaceRecord);
        case 1:
            m.drawing.text_origin_x = static_cast<i16>(service_arg(m, 1));
            m.drawing.text_origin_y = static_cast<i16>(service_arg(m, 2));
            return set_result(m, kScreenBuffer);
        case 5: return set_result(m, service_arg(m, 0) == 0 ? 8 : 16);
        case 6: case 62: return set_result(m, 16);
        case 7: return set_result(m, measure_text(read_guest_text(memory, service_arg(m, 0))));
        case 9:
            draw_text_at(m, service_arg(m, 0), service_arg(m, 1), service_arg(m, 2), service_arg(m, 3));
            return set_result(m, 1);
        case 10:
            draw_text_from_origin(m);
            return set_result(m, 1);
        case 11: case 12: case 13:
            draw_text_either_layout(m);
            return set_result(m, 1);
        case 16: case 18:
            screen_rectangle(m, index == 18);
            return set_result(m, 1);
        case 17:
            surface_rectangle(m, false);
            return set_result(m, 1);
        case 19:
            fill_rectangle_call(m);
            return set_result(m, 1);
        case 22: {
            const u32 number = service_arg(m, 0);
            const u32 resource = number < kResourceImageIndexBase ? number : number - kResourceImageIndexBase;
            return set_result(m, load_image_resource(m, resource, service_arg(m, 1)));
        }
        case 24: case 25:
            blit_to_surface(m, index == 25);
            return set_result(m, 1);
        case 26: case 28: {
            const Point at = unpack(service_arg(m, 1));
            blit_whole_image(m, service_arg(m, 0), at.x, at.y, index == 28);
            return set_result(m, 1);
        }
        case 27:
            blit_whole_image(m, service_arg(m, 0), low16(service_arg(m, 1)), low16(service_arg(m, 2)), false);
            return set_result(m, 1);
        case 29: case 31:
            blit_into_corners(m, index == 31);
            return set_result(m, 1);
        case 30: case 32:
            blit(memory, BlitRequest{kScreenSurfaceRecord, service_arg(m, 0), low16(service_arg(m, 1)),
                                     service_arg_i32(m, 2), service_arg_i32(m, 3), service_arg_i32(m, 4),
                                     service_arg_i32(m, 5), service_arg_i32(m, 6), index == 32});
            return set_result(m, 1);
        case 33: return set_result(m, read_image_record(memory, service_arg(m, 0)).width);
        case 34: return set_result(m, read_image_record(memory, service_arg(m, 0)).height);
        case 35: {
            const u32 word = service_arg(m, 0);
            if (word == 0) return set_result(m, 0);
            memory.write32(word, 0);
            return set_result(m, 1);
        }
        case 36: case 54: case 55: case 56: return set_result(m, 1);
        case 38:
            return set_result(m, convert_text_to_utf16(m, service_arg(m, 0), service_arg(m, 1), service_arg(m, 2)));
        case 40:
            return set_result(m, point_in_rectangle(service_arg(m, 0), service_arg(m, 1), service_arg(m, 2)));
        case 44: case 45: return set_result(m, select_numbered_resource_table(m, index - 44));
        case 46:
            m.drawing.resource_tables = {0, 0};
            m.drawing.current_resource_table = 0;
            memory.write32(kSystemWordA, 0);
            return set_result(m, 0);
        case 47: {
            const u32 table = service_arg(m, 2);
            return set_result(m, table == 0 ? 0 : select_resource_table(m, table));
        }
        case 48: {
            const u32 resource = service_arg(m, 0), table = service_arg(m, 1);
            if (table == 0 || resource >= memory.read16(table + kResourceTableCountOffset)) return set_result(m, 0);
            return set_result(m, load_image_resource(m, resource, service_arg(m, 2)));
        }
        case 49: return set_result(m, load_image_from_stream(m, service_arg(m, 0), service_arg(m, 1)));
        default: return set_result(m, 0);
    }
}

}  // namespace tarvel::machine::services
