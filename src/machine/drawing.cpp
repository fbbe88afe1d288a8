// Surfaces, rectangles and blits.

#include "machine/drawing.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "memory/guest_memory.hpp"
#include "machine/machine.hpp"
#include "machine/trace_filter.hpp"

namespace tarvel::machine {

namespace {

// A clipped block of pixels: `height` rows of `width` pixels starting at
// column x, row y of a pixel array with `stride` pixels per row. All values
// are non-negative and small enough that the products below fit in 64 bits.
struct PixelBlock {
    u32 base = 0;
    u64 stride = 0;
    u64 x = 0, y = 0;
    u64 width = 0, height = 0;

    u64 first_byte() const { return base + (y * stride + x) * 2; }
    // Bytes from the first pixel to just past the last one.
    u64 span_bytes() const { return ((height - 1) * stride + width) * 2; }
    // Guest address of pixel (column, row) of the block; guest addresses wrap.
    u32 address(u64 column, u64 row) const { return static_cast<u32>(base + ((y + row) * stride + x + column) * 2); }
};

// The host bytes of the whole block when one region holds them (writable for
// `write`), else nullptr. A block whose addresses would wrap past 4 GiB is
// never viewed whole.
u8* write_view(GuestMemory& memory, const PixelBlock& block) {
    const u64 first = block.first_byte(), length = block.span_bytes();
    if (first + length > 0x100000000ull) return nullptr;
    return memory.host_write_view(static_cast<u32>(first), static_cast<u32>(length));
}
const u8* read_view(GuestMemory& memory, const PixelBlock& block) {
    const u64 first = block.first_byte(), length = block.span_bytes();
    if (first + length > 0x100000000ull) return nullptr;
    return memory.host_read_view(static_cast<u32>(first), static_cast<u32>(length));
}

void fill_block(GuestMemory& memory, const PixelBlock& block, u16 colour) {
    if (block.width == 0 || block.height == 0) return;
    if (u8* host = write_view(memory, block)) {
        u8 pixel[2];
        store16(pixel, colour, memory.big_endian());
        const size_t row_bytes = block.width * 2;
        for (size_t i = 0; i < row_bytes; i += 2) std::memcpy(host + i, pixel, 2);
        for (u64 row = 1; row < block.height; ++row) std::memcpy(host + row * block.stride * 2, host, row_bytes);
        return;
    }
    for (u64 row = 0; row < block.height; ++row)
        for (u64 column = 0; column < block.width; ++column) memory.write16(block.address(column, row), colour);
}

bool host_ranges_overlap(const u8* a, size_t a_length, const u8* b, size_t b_length) {
    const auto a0 = reinterpret_cast<std::uintptr_t>(a), b0 = reinterpret_cast<std::uintptr_t>(b);
    return a0 < b0 + b_length && b0 < a0 + a_length;
}

// One row of a transparent copy between separate buffers: source pixels of
// value 0 leave the destination as it is. Written as a select on every pixel
// so that the compiler can turn it into vector blends.
void copy_row_transparent(u8* __restrict destination, const u8* __restrict source, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i) {
        u16 s, d;
        std::memcpy(&s, source + 2 * i, 2);
        std::memcpy(&d, destination + 2 * i, 2);
        d = s != 0 ? s : d;
        std::memcpy(destination + 2 * i, &d, 2);
    }
}

void copy_block(GuestMemory& memory, const PixelBlock& from, const PixelBlock& to, bool transparent) {
    const u8* source = read_view(memory, from);
    u8* destination = write_view(memory, to);
    if (source && destination) {
        const size_t row_bytes = to.width * 2;
        const size_t source_pitch = from.stride * 2, destination_pitch = to.stride * 2;
        if (!host_ranges_overlap(source, from.span_bytes(), destination, to.span_bytes())) {
            for (u64 row = 0; row < to.height; ++row) {
                const u8* s = source + row * source_pitch;
                u8* d = destination + row * destination_pitch;
                if (transparent) copy_row_transparent(d, s, to.width);
                else std::memcpy(d, s, row_bytes);
            }
            return;
        }
        // The image lies on the destination itself: keep the pixel-by-pixel
        // order, so that a pixel already written is what a later read sees.
        for (u64 row = 0; row < to.height; ++row)
            for (u64 column = 0; column < to.width; ++column) {
                const u8* s = source + row * source_pitch + column * 2;
                u8* d = destination + row * destination_pitch + column * 2;
                if (transparent && s[0] == 0 && s[1] == 0) continue;
                std::memmove(d, s, 2);
            }
        return;
    }
    // Both values are in guest byte order, and 0 is 0 in either, so the
    // pixels move without conversion.
    for (u64 row = 0; row < to.height; ++row)
        for (u64 column = 0; column < to.width; ++column) {
            const u16 value = memory.read16(from.address(column, row));
            if (transparent && value == 0) continue;
            memory.write16(to.address(column, row), value);
        }
}

bool blit_traced(bool transparent) {
    return service_call_traced(4, 24) || service_call_traced(4, transparent ? 26 : 25);
}

}  // namespace

Surface select_surface(GuestMemory& memory, u32 record) {
    if (record == kScreenSurfaceRecord) return kScreen;
    const Surface surface{memory.read32(record), memory.read16(record + 4), memory.read16(record + 6)};
    const bool usable = surface.width >= 1 && surface.width <= kScreenWidth && surface.height >= 1 &&
                        surface.height <= kScreenHeight && surface.pixels != 0;
    return usable ? surface : kScreen;
}

ImageRecord read_image_record(GuestMemory& memory, u32 record) {
    return ImageRecord{memory.read32(record), memory.read16(record + 4), memory.read16(record + 6)};
}

namespace {

// Clips a rectangle to the surface; false when nothing is left.
bool clip_rectangle(const Surface& surface, i64& x, i64& y, i64& width, i64& height) {
    if (x < 0) width += x, x = 0;
    if (y < 0) height += y, y = 0;
    width = std::min<i64>(width, i64{surface.width} - x);
    height = std::min<i64>(height, i64{surface.height} - y);
    return width > 0 && height > 0;
}

PixelBlock surface_block(const Surface& surface, i64 x, i64 y, i64 width, i64 height) {
    return PixelBlock{surface.pixels, row_stride(surface.width), static_cast<u64>(x), static_cast<u64>(y),
                      static_cast<u64>(width), static_cast<u64>(height)};
}

}  // namespace

void fill_rectangle(GuestMemory& memory, const Surface& surface, i64 x, i64 y, i64 width, i64 height, u16 colour) {
    if (!clip_rectangle(surface, x, y, width, height)) return;
    fill_block(memory, surface_block(surface, x, y, width, height), colour);
}

void outline_rectangle(GuestMemory& memory, const Surface& surface, i64 x, i64 y, i64 width, i64 height,
                       u16 colour) {
    if (!clip_rectangle(surface, x, y, width, height)) return;
    fill_block(memory, surface_block(surface, x, y, width, 1), colour);
    if (height > 1) fill_block(memory, surface_block(surface, x, y + height - 1, width, 1), colour);
    if (height > 2) {
        fill_block(memory, surface_block(surface, x, y + 1, 1, height - 2), colour);
        if (width > 1) fill_block(memory, surface_block(surface, x + width - 1, y + 1, 1, height - 2), colour);
    }
}

void fill_screen(GuestMemory& memory, i64 x, i64 y, i64 width, i64 height, u16 colour) {
    const i64 columns = kScreen.width, rows = kScreen.height;
    const i64 x0 = std::clamp<i64>(x, 0, columns), x1 = std::clamp<i64>(x + width, 0, columns);
    const i64 y0 = std::max<i64>(y, 0), y1 = std::clamp<i64>(y + height, 0, rows);
    if (x0 >= x1 || y0 >= y1) return;
    fill_block(memory, surface_block(kScreen, x0, y0, x1 - x0, y1 - y0), colour);
}

void blit(GuestMemory& memory, const BlitRequest& request) {
    const Surface destination = select_surface(memory, request.destination_record);
    const ImageRecord image = read_image_record(memory, request.image_record);
    i64 sx = request.sx, sy = request.sy, width = request.width, height = request.height;
    i64 dx = request.dx, dy = request.dy;
    if (blit_traced(request.transparent)) {
        std::fprintf(stderr,
                     "draw image dst=%08x src=%08x pixels=%08x size=%ux%u clip=%lld,%lld %lldx%lld at=%lld,%lld\n",
                     request.destination_record, request.image_record, image.pixels, image.width, image.height,
                     static_cast<long long>(sx), static_cast<long long>(sy), static_cast<long long>(width),
                     static_cast<long long>(height), static_cast<long long>(dx), static_cast<long long>(dy));
        std::fflush(stderr);
    }
    if (height <= 0 || width <= 0 || image.pixels == 0 || image.height == 0 || image.width == 0) return;

    if (sx < 0) dx -= sx, width += sx, sx = 0;
    if (dx < 0) sx -= dx, width += dx, dx = 0;
    width = std::min({width, i64{image.width} - sx, i64{destination.width} - dx});
    if (sy < 0) dy -= sy, height += sy, sy = 0;
    if (dy < 0) sy -= dy, height += dy, dy = 0;
    height = std::min({height, i64{image.height} - sy, i64{destination.height} - dy});
    if (width <= 0 || height <= 0) return;

    const PixelBlock from{image.pixels, row_stride(image.width), static_cast<u64>(sx), static_cast<u64>(sy),
                          static_cast<u64>(width), static_cast<u64>(height)};
    copy_block(memory, from, surface_block(destination, dx, dy, width, height), request.transparent);
}

}  // namespace tarvel::machine
