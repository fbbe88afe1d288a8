#pragma once
// What the player sees and hears each video frame: the guest's 240 x 400 RGB565
// screen as an XRGB8888 frame (upright, or turned a quarter for landscape), and
// the frame's 735 stereo sample frames of audio at the chosen volume.
//
// This runs 60 times a second: the converters write into caller-owned buffers
// and allocate nothing.

#include <array>
#include <cstddef>
#include <memory>
#include <span>

#include <libretro.h>

#include "common/bytes.hpp"
#include "common/orientation.hpp"
#include "machine/screen.hpp"

namespace tarvel::libretro {

struct FrameGeometry {
    u32 width = 0;
    u32 height = 0;
    size_t pitch_bytes = 0;  // of a tightly packed frame
};

// Portrait 240 x 400, Landscape 400 x 240. Auto is shown as Portrait.
FrameGeometry frame_geometry(Orientation effective);

// Exact floors of each channel scaled to 0..255 (so 1/31 red is 8, full is 255),
// with the top byte 0xFF.
constexpr u32 rgb565_to_xrgb8888(u16 v) {
    const u32 r = ((v >> 11) * 1053u) >> 7;         // floor(r * 255 / 31) for r < 32
    const u32 g = (((v >> 5) & 0x3Fu) * 4145u) >> 10;  // floor(g * 255 / 63) for g < 64
    const u32 b = ((v & 0x1Fu) * 1053u) >> 7;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// Converts the guest screen into `frame`, whose rows are `pitch_bytes` apart
// (at least width * 4 and a multiple of 4). `screen` holds the host bytes of
// the screen buffer, `screen_length` of them; pixels past the end (or all of
// them when `screen` is null) show as black. `big_endian` is the guest's byte
// order; the screen and the frame must not overlap. Returns false, writing
// nothing, when the frame or its pitch is unusable.
bool render_frame(const u8* screen, size_t screen_length, bool big_endian, Orientation effective, u32* frame,
                  size_t pitch_bytes);

// ---- Virtual pointer arrow ---------------------------------------------------

// How the virtual pointer's arrow is drawn: a white arrow edged in black, the
// reverse, or not at all (the pointer still works).
enum class CursorStyle : u8 { White, Black, Hidden };

// The arrow over one frame; its tip is the pixel the pointer touches.
struct Cursor {
    u32 x = 0;  // frame column of the tip
    u32 y = 0;  // frame row of the tip
    CursorStyle style = CursorStyle::White;
    bool pressed = false;  // touching: the arrow is filled in amber
};

inline constexpr u32 kCursorWidth = 11;
inline constexpr u32 kCursorHeight = 16;

// Draws the arrow into a converted frame of `geometry` (rows `pitch_bytes`
// apart), cut off at the frame's edges. Hidden draws nothing. Only the frame
// handed to the frontend changes; the guest screen never sees the arrow.
void draw_cursor(const Cursor& cursor, u32* frame, const FrameGeometry& geometry, size_t pitch_bytes);

// ---- Audio ------------------------------------------------------------------

inline constexpr size_t kAudioFramesPerVideoFrame = 735;  // 44100 Hz / 60
inline constexpr size_t kAudioBatchSamples = kAudioFramesPerVideoFrame * 2;

// Where a frame's samples come from (the audio engine). `take_samples` fills
// the front of `out` with interleaved stereo samples in order and returns how
// many it wrote; it is asked once per video frame and owns its own playing,
// looping and end-of-sound rules.
class AudioSampleSource {
public:
    virtual size_t take_samples(std::span<i16> out) = 0;

protected:
    ~AudioSampleSource() = default;
};

// s * volume / 100, truncating toward zero. Volume is a percentage: anything
// above 100 plays at 100, so the result always fits.
constexpr i16 apply_volume(i16 sample, u32 volume) {
    const i32 percent = volume < 100 ? static_cast<i32>(volume) : 100;
    return static_cast<i16>(sample * percent / 100);
}

// One video frame's audio: what the source gives (at most the whole batch),
// scaled by volume, then zeros to the end. A null source gives silence.
void build_audio_batch(AudioSampleSource* source, u32 volume, std::span<i16, kAudioBatchSamples> out);

// ---- Frontend delivery --------------------------------------------------------

// Owns the frame and audio buffers (allocated once) and hands them to the
// frontend's callbacks; a null callback skips that output.
class Presenter {
public:
    Presenter();

    // `cursor`, when given, is drawn over the converted frame.
    void present_video(retro_video_refresh_t refresh, const u8* screen, size_t screen_length, bool big_endian,
                       Orientation effective, const Cursor* cursor = nullptr);
    void present_audio(retro_audio_sample_batch_t batch, AudioSampleSource* source, u32 volume);

    std::span<const u32> frame() const { return {frame_.get(), machine::kScreenPixels}; }
    std::span<const i16, kAudioBatchSamples> audio() const { return audio_; }

private:
    std::unique_ptr<u32[]> frame_;
    std::array<i16, kAudioBatchSamples> audio_{};
};

}  // namespace tarvel::libretro
