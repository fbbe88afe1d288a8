#pragma once
// The pieces the audio engine is built from: recognising what was submitted,
// the WAV, MP3 and MIDI inputs read a block at a time, and the conversion to
// the output format.

#include <optional>
#include <span>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"
#include "media/audio/audio_engine.hpp"
#include "media/audio/decoded_sound.hpp"

namespace tarvel::audio_format {

inline constexpr const char* kLogTarget = "tarvel_core::audio_engine";
inline constexpr u16 kWrapperTypeMidi = 10;

// What a submission holds and which bytes the decoder is to read.
struct Recognised {
    SoundKind kind;
    std::span<const u8> payload;
};

// Applies the recognition rules (WAV, MP3, then the resource wrapper). Fails
// with "unknown audio resource type {}" or "unrecognized audio data ({} bytes)".
Result<Recognised> recognise(std::span<const u8> data);

// ---- WAV: the samples are read straight from the submitted bytes.

struct WavLayout {
    u32 channels = 1;
    u32 rate = 1;
    u64 offset = 0;  // of the first sample
    u64 values = 0;  // i16 values present (all channels)
};
Result<WavLayout> read_wav_layout(std::span<const u8> data);
// Values first.. as f32; zeros past the end.
void read_wav_values(std::span<const u8> data, const WavLayout& layout, u64 first, std::span<float> out);
Result<DecodedSound> decode_wav(std::span<const u8> data);

// ---- MP3: decoded in chunks of frames (see mp3.cpp).

// Where one chunk of an MP3 stream starts: the decoder is fed from
// `feed_from`, whose first `preroll` frames are decoded only to prime it, and
// the chunk's own frames start at `first_frame`. Chunk 0 starts at 0, 0, 0.
struct Mp3ChunkStart {
    u64 feed_from = 0;
    u64 first_frame = 0;
    u32 preroll = 0;
};

struct Mp3Chunk {
    std::vector<float>* samples = nullptr;  // filled, interleaved
    u32 channels = 0;
    u32 rate = 0;
    bool last = false;
    Mp3ChunkStart next;  // valid when !last
};

// Decodes one chunk into `out` (replacing its contents).
Result<Mp3Chunk> decode_mp3_chunk(std::span<const u8> data, const Mp3ChunkStart& at, std::vector<float>& out);

// The whole stream at once (tests, fuzzing, the benchmark).
Result<DecodedSound> decode_mp3(std::span<const u8> data);

// ---- conversion

// A sample in -1..1 as i16: scaled by 32767, clamped, truncated toward zero
// (NaN becomes -32768).
inline i16 sample_to_i16(float v) {
    const float scaled = v * 32767.0f;
    if (!(scaled > -32768.0f)) return -32768;
    if (scaled > 32767.0f) return 32767;
    return static_cast<i16>(scaled);
}

// The output frame count of a whole stream of `frames_in` frames at `rate`:
// ceil(frames_in * 44100 / rate), exact.
u64 output_frames(u64 frames_in, u32 rate);

}  // namespace tarvel::audio_format
