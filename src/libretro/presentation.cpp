#include "libretro/presentation.hpp"

#include <algorithm>
#include <cstring>

namespace tarvel::libretro {

using machine::kScreenBufferBytes;
using machine::kScreenHeight;
using machine::kScreenPixels;
using machine::kScreenRowBytes;
using machine::kScreenWidth;

namespace {

// Eight pixels at a time in 128-bit vectors (SSE2 on x86, NEON on ARM; the
// compiler picks the instructions). Every step stays in 16-bit lanes.
using u16x8 = u16 __attribute__((vector_size(16)));

static_assert(kScreenWidth % 8 == 0 && kScreenHeight % 8 == 0);

u32* row_at(u32* frame, size_t pitch_bytes, size_t row) {
    return reinterpret_cast<u32*>(reinterpret_cast<u8*>(frame) + row * pitch_bytes);
}

template <bool BigEndian>
u16x8 load_pixels(const u8* src) {
    u16x8 v;
    std::memcpy(&v, src, sizeof v);
    if constexpr (BigEndian) v = (v >> 8) | (v << 8);
    return v;
}

// The same exact floors as rgb565_to_xrgb8888, with products that fit 16 bits:
// floor(c * 255 / 31) = (c * 1053) >> 7 and floor(g * 255 / 63) = 4g + (g * 49) >> 10.
void store_converted(u16x8 v, u32* dst) {
    const u16x8 r = v >> 11;
    const u16x8 g = (v >> 5) & 0x3F;
    const u16x8 b = v & 0x1F;
    const u16x8 red = (r * 1053) >> 7;
    const u16x8 green = (g << 2) + ((g * 49) >> 10);
    const u16x8 blue = (b * 1053) >> 7;
    const u16x8 low = (green << 8) | blue;  // bits 15..0 of each output pixel
    const u16x8 high = red | 0xFF00;        // bits 31..16
    const u16x8 first = __builtin_shufflevector(low, high, 0, 8, 1, 9, 2, 10, 3, 11);
    const u16x8 second = __builtin_shufflevector(low, high, 4, 12, 5, 13, 6, 14, 7, 15);
    std::memcpy(dst, &first, sizeof first);
    std::memcpy(dst + 4, &second, sizeof second);
}

template <bool BigEndian>
void portrait_whole(const u8* screen, u32* frame, size_t pitch_bytes) {
    for (size_t row = 0; row < kScreenHeight; ++row) {
        const u8* src = screen + row * kScreenRowBytes;
        u32* dst = row_at(frame, pitch_bytes, row);
        for (size_t col = 0; col < kScreenWidth; col += 8) store_converted(load_pixels<BigEndian>(src + 2 * col), dst + col);
    }
}

// Turns eight rows of eight pixels into eight columns of eight pixels.
void transpose8x8(u16x8 (&m)[8]) {
    u16x8 a[8], b[8];
    for (int i = 0; i < 8; i += 2) {
        a[i] = __builtin_shufflevector(m[i], m[i + 1], 0, 8, 1, 9, 2, 10, 3, 11);
        a[i + 1] = __builtin_shufflevector(m[i], m[i + 1], 4, 12, 5, 13, 6, 14, 7, 15);
    }
    for (int i = 0; i < 8; i += 4) {
        for (int j = 0; j < 2; ++j) {
            b[i + 2 * j] = __builtin_shufflevector(a[i + j], a[i + j + 2], 0, 1, 8, 9, 2, 3, 10, 11);
            b[i + 2 * j + 1] = __builtin_shufflevector(a[i + j], a[i + j + 2], 4, 5, 12, 13, 6, 7, 14, 15);
        }
    }
    for (int j = 0; j < 4; ++j) {
        m[2 * j] = __builtin_shufflevector(b[j], b[j + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        m[2 * j + 1] = __builtin_shufflevector(b[j], b[j + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

// Output (column ox, row oy) shows guest (column 239 - oy, row ox): the guest's
// top row runs up the left edge of the frame. Each 8 x 8 block of the guest is
// turned in registers and lands as eight runs of eight frame pixels.
template <bool BigEndian>
void landscape_whole(const u8* screen, u32* frame, size_t pitch_bytes) {
    for (size_t row0 = 0; row0 < kScreenHeight; row0 += 8) {
        for (size_t col0 = 0; col0 < kScreenWidth; col0 += 8) {
            u16x8 block[8];
            for (size_t k = 0; k < 8; ++k) block[k] = load_pixels<BigEndian>(screen + (row0 + k) * kScreenRowBytes + 2 * col0);
            transpose8x8(block);
            for (size_t j = 0; j < 8; ++j) {
                store_converted(block[j], row_at(frame, pitch_bytes, kScreenWidth - 1 - (col0 + j)) + row0);
            }
        }
    }
}

// Guest pixel i of a screen buffer that may end early (or be missing): pixels
// whose two bytes are not all there read as 0. Only damaged machines get here,
// so this path is kept simple rather than fast.
u16 partial_pixel(const u8* screen, size_t length, bool big_endian, size_t i) {
    if (!screen || 2 * i + 2 > length) return 0;
    return load16(screen + 2 * i, big_endian);
}

void render_partial(const u8* screen, size_t length, bool big_endian, bool landscape, u32* frame, size_t pitch_bytes) {
    for (size_t row = 0; row < kScreenHeight; ++row) {
        for (size_t col = 0; col < kScreenWidth; ++col) {
            const u32 pixel = rgb565_to_xrgb8888(partial_pixel(screen, length, big_endian, row * kScreenWidth + col));
            if (landscape) {
                row_at(frame, pitch_bytes, kScreenWidth - 1 - col)[row] = pixel;
            } else {
                row_at(frame, pitch_bytes, row)[col] = pixel;
            }
        }
    }
}

// The arrow, tip at the top left: '#' edge, 'o' fill, ' ' see-through.
constexpr const char* kCursorRows[kCursorHeight] = {
    "#          ",
    "##         ",
    "#o#        ",
    "#oo#       ",
    "#ooo#      ",
    "#oooo#     ",
    "#ooooo#    ",
    "#oooooo#   ",
    "#ooooooo#  ",
    "#oooooooo# ",
    "#ooooo#####",
    "#oo#oo#    ",
    "#o# #oo#   ",
    "##  #oo#   ",
    "#    #oo#  ",
    "     ####  ",
};

constexpr bool cursor_rows_are_whole() {
    for (const char* row : kCursorRows) {
        u32 length = 0;
        while (row[length] != '\0') ++length;
        if (length != kCursorWidth) return false;
    }
    return true;
}
static_assert(cursor_rows_are_whole());

constexpr u32 kCursorWhite = 0xFFFFFFFFu;
constexpr u32 kCursorBlack = 0xFF000000u;
constexpr u32 kCursorPressedFill = 0xFFFFB000u;

}  // namespace

void draw_cursor(const Cursor& cursor, u32* frame, const FrameGeometry& geometry, size_t pitch_bytes) {
    if (!frame || cursor.style == CursorStyle::Hidden) return;
    const bool white = cursor.style == CursorStyle::White;
    const u32 edge = white ? kCursorBlack : kCursorWhite;
    const u32 fill = cursor.pressed ? kCursorPressedFill : (white ? kCursorWhite : kCursorBlack);
    for (u32 dy = 0; dy < kCursorHeight; ++dy) {
        if (cursor.y >= geometry.height || dy >= geometry.height - cursor.y) break;
        u32* row = row_at(frame, pitch_bytes, cursor.y + dy);
        for (u32 dx = 0; dx < kCursorWidth; ++dx) {
            if (cursor.x >= geometry.width || dx >= geometry.width - cursor.x) break;
            const char c = kCursorRows[dy][dx];
            if (c == '#') row[cursor.x + dx] = edge;
            else if (c == 'o') row[cursor.x + dx] = fill;
        }
    }
}

FrameGeometry frame_geometry(Orientation effective) {
    if (effective == Orientation::Landscape) return {kScreenHeight, kScreenWidth, kScreenHeight * 4};
    return {kScreenWidth, kScreenHeight, kScreenWidth * 4};
}

bool render_frame(const u8* screen, size_t screen_length, bool big_endian, Orientation effective, u32* frame,
                  size_t pitch_bytes) {
    const FrameGeometry geometry = frame_geometry(effective);
    if (!frame || pitch_bytes < geometry.pitch_bytes || pitch_bytes % 4 != 0) return false;
    const bool landscape = effective == Orientation::Landscape;
    if (!screen || screen_length < kScreenBufferBytes) {
        render_partial(screen, screen_length, big_endian, landscape, frame, pitch_bytes);
    } else if (landscape) {
        big_endian ? landscape_whole<true>(screen, frame, pitch_bytes) : landscape_whole<false>(screen, frame, pitch_bytes);
    } else {
        big_endian ? portrait_whole<true>(screen, frame, pitch_bytes) : portrait_whole<false>(screen, frame, pitch_bytes);
    }
    return true;
}

void build_audio_batch(AudioSampleSource* source, u32 volume, std::span<i16, kAudioBatchSamples> out) {
    size_t taken = source ? std::min(source->take_samples(out), out.size()) : 0;
    for (size_t i = 0; i < taken; ++i) out[i] = apply_volume(out[i], volume);
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(taken), out.end(), i16{0});
}

Presenter::Presenter() : frame_(std::make_unique<u32[]>(kScreenPixels)) {}

void Presenter::present_video(retro_video_refresh_t refresh, const u8* screen, size_t screen_length, bool big_endian,
                              Orientation effective, const Cursor* cursor) {
    const FrameGeometry geometry = frame_geometry(effective);
    render_frame(screen, screen_length, big_endian, effective, frame_.get(), geometry.pitch_bytes);
    if (cursor) draw_cursor(*cursor, frame_.get(), geometry, geometry.pitch_bytes);
    if (refresh) refresh(frame_.get(), geometry.width, geometry.height, geometry.pitch_bytes);
}

void Presenter::present_audio(retro_audio_sample_batch_t batch, AudioSampleSource* source, u32 volume) {
    build_audio_batch(source, volume, audio_);
    if (batch) batch(audio_.data(), kAudioFramesPerVideoFrame);
}

}  // namespace tarvel::libretro
