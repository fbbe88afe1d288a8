#pragma once
// The audio engine: one queue of 44 100 Hz interleaved stereo i16 samples that
// every sound of the application is appended to, drained 735 frames per video
// frame. Sounds arrive encoded (RIFF/WAVE PCM, MP3, or a Standard MIDI File in
// the platform's 5-byte resource wrapper) and are decoded and converted to the
// output format when they are submitted, so the per-frame work is a copy.
//
// The engine is plain data owned by the machine record and saved with it; its
// fields are in their saved order.

#include <array>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"

namespace tarvel {

inline constexpr u32 kOutputRate = 44100;
inline constexpr size_t kRenderFrames = 735;                 // one video frame at 60 Hz
inline constexpr size_t kRenderValues = kRenderFrames * 2;   // interleaved left, right
inline constexpr size_t kMaxQueuedValues = 882000;           // 10 s of stereo output
inline constexpr size_t kMaxQueuedFrames = kMaxQueuedValues / 2;

struct AudioEngine {
    std::deque<i16> queue;                 // interleaved stereo, front plays first
    std::optional<std::vector<u8>> loop_source;  // encoded sound replayed when the queue runs dry
    u32 volume = 100;                      // percent, applied as samples leave the queue
    u64 bytes_submitted = 0;
    u64 frames_queued = 0;                 // counting every repetition
    u64 nonzero_samples = 0;
    u64 rejected = 0;
    u64 silent_frames = 0;
    u64 peak_frames = 0;
    bool active = false;
    bool paused = false;

    // Decodes `data` and appends it repeats + 1 times; on failure the queue is
    // left as it was and the error says why.
    Status submit(std::span<const u8> data, u32 repeats);

    // The next 735 stereo frames at the current volume, zero-padded. Allocates
    // nothing unless a loop restarts (which decodes the loop source again).
    void render_frame(std::span<i16, kRenderValues> out);
    std::array<i16, kRenderValues> render_frame();

    void stop();
    void set_volume(u32 percent);
    void pause() { paused = true; }
    void resume() { paused = false; }
    // 2 paused, 1 playing, 0 idle.
    u32 state() const;
    void set_loop_source(std::optional<std::vector<u8>> data) { loop_source = std::move(data); }

    friend bool operator==(const AudioEngine&, const AudioEngine&) = default;
};

// An engine as the machine starts with it: empty, at the frontend's volume.
AudioEngine make_audio_engine(u32 volume);

}  // namespace tarvel
