#include "libretro/presentation.hpp"

#include <algorithm>
#include <cstring>

namespace tarvel::libretro {

namespace {

constexpr size_t kLandscapeTile = 16;
static_assert(kGuestScreenWidth % kLandscapeTile == 0 && kGuestScreenHeight % kLandscapeTile == 0);

// Reads guest pixel i from a buffer that covers the whole screen.
template <bool BigEndian>
struct WholeScreen {
    const u8* bytes;
    u16 operator()(size_t i) const {
        u16 v;
        std::memcpy(&v, bytes + 2 * i, 2);
        return BigEndian ? static_cast<u16>(__builtin_bswap16(v)) : v;
    }
};

// Reads guest pixel i from a buffer that may end early; missing pixels are 0.
template <bool BigEndian>
struct PartialScreen {
    const u8* bytes;
    size_t length;
    u16 operator()(size_t i) const {
        if (!bytes || 2 * i + 2 > length) return 0;
        return WholeScreen<BigEndian>{bytes}(i);
    }
};

u32* row_at(u32* frame, size_t pitch_bytes, size_t row) {
    return reinterpret_cast<u32*>(reinterpret_cast<u8*>(frame) + row * pitch_bytes);
}

template <typename Screen>
void portrait(Screen screen, u32* frame, size_t pitch_bytes) {
    for (size_t row = 0; row < kGuestScreenHeight; ++row) {
        u32* out = row_at(frame, pitch_bytes, row);
        const size_t first = row * kGuestScreenWidth;
        for (size_t col = 0; col < kGuestScreenWidth; ++col) out[col] = rgb565_to_xrgb8888(screen(first + col));
    }
}

// Output (column ox, row oy) shows guest (column 239 - oy, row ox): the guest's
// top row runs up the left edge. Walking the screen in square tiles keeps both
// the guest rows read and the frame rows written in cache.
template <typename Screen>
void landscape(Screen screen, u32* frame, size_t pitch_bytes) {
    for (size_t row0 = 0; row0 < kGuestScreenHeight; row0 += kLandscapeTile) {
        for (size_t col0 = 0; col0 < kGuestScreenWidth; col0 += kLandscapeTile) {
            for (size_t col = col0; col < col0 + kLandscapeTile; ++col) {
                u32* out = row_at(frame, pitch_bytes, kGuestScreenWidth - 1 - col);
                for (size_t row = row0; row < row0 + kLandscapeTile; ++row) {
                    out[row] = rgb565_to_xrgb8888(screen(row * kGuestScreenWidth + col));
                }
            }
        }
    }
}

template <typename Screen>
void layout(Screen screen, bool landscape_frame, u32* frame, size_t pitch_bytes) {
    if (landscape_frame) {
        landscape(screen, frame, pitch_bytes);
    } else {
        portrait(screen, frame, pitch_bytes);
    }
}

}  // namespace

FrameGeometry frame_geometry(Orientation effective) {
    if (effective == Orientation::Landscape) return {kGuestScreenHeight, kGuestScreenWidth, kGuestScreenHeight * 4};
    return {kGuestScreenWidth, kGuestScreenHeight, kGuestScreenWidth * 4};
}

bool render_frame(const u8* screen, size_t screen_length, bool big_endian, Orientation effective, u32* frame,
                  size_t pitch_bytes) {
    const FrameGeometry geometry = frame_geometry(effective);
    if (!frame || pitch_bytes < geometry.pitch_bytes || pitch_bytes % 4 != 0) return false;
    const bool landscape_frame = effective == Orientation::Landscape;
    const bool whole = screen && screen_length >= kGuestScreenBytes;
    if (whole && big_endian) {
        layout(WholeScreen<true>{screen}, landscape_frame, frame, pitch_bytes);
    } else if (whole) {
        layout(WholeScreen<false>{screen}, landscape_frame, frame, pitch_bytes);
    } else if (big_endian) {
        layout(PartialScreen<true>{screen, screen_length}, landscape_frame, frame, pitch_bytes);
    } else {
        layout(PartialScreen<false>{screen, screen_length}, landscape_frame, frame, pitch_bytes);
    }
    return true;
}

void build_audio_batch(AudioSampleSource* source, u32 volume, std::span<i16, kAudioBatchSamples> out) {
    size_t taken = source ? std::min(source->take_samples(out), out.size()) : 0;
    for (size_t i = 0; i < taken; ++i) out[i] = apply_volume(out[i], volume);
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(taken), out.end(), i16{0});
}

Presenter::Presenter() : frame_(std::make_unique<u32[]>(kGuestScreenPixels)) {}

void Presenter::present_video(retro_video_refresh_t refresh, const u8* screen, size_t screen_length, bool big_endian,
                              Orientation effective) {
    const FrameGeometry geometry = frame_geometry(effective);
    render_frame(screen, screen_length, big_endian, effective, frame_.get(), geometry.pitch_bytes);
    if (refresh) refresh(frame_.get(), geometry.width, geometry.height, geometry.pitch_bytes);
}

void Presenter::present_audio(retro_audio_sample_batch_t batch, AudioSampleSource* source, u32 volume) {
    build_audio_batch(source, volume, audio_);
    if (batch) batch(audio_.data(), kAudioFramesPerVideoFrame);
}

}  // namespace tarvel::libretro
