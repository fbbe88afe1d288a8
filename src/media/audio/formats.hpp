#pragma once
// The pieces the audio engine is built from: recognising what was submitted,
// the WAV and MP3 decoders, and the conversion to the output format.

#include <optional>
#include <span>
#include <vector>

#include "media/audio/audio_engine.hpp"
#include "common/bytes.hpp"
#include "common/error.hpp"
#include "media/audio/decoded_sound.hpp"

namespace tarvel::audio_format {

inline constexpr const char* kLogTarget = "tarvel_core::audio_engine";
inline constexpr u16 kWrapperTypeMidi = 10;

enum class Kind { Wav, Mp3, Midi };

// What a submission holds and which bytes the decoder is to read.
struct Recognised {
    Kind kind;
    std::span<const u8> payload;
};

// Applies the recognition rules (WAV, MP3, then the resource wrapper). Fails
// with "unknown audio resource type {}" or "unrecognized audio data ({} bytes)".
Result<Recognised> recognise(std::span<const u8> data);

// A decoded sound of which only the end may have been kept: `skipped_frames`
// input frames were dropped from its front, and the samples that remain are
// the rest of the stream.
struct DecodedTail {
    DecodedSound sound;
    u64 skipped_frames = 0;
};

Result<DecodedSound> decode_wav(std::span<const u8> data);

// Streams that decode to more than this are treated as ending there, with a
// warning: the whole-input cost of a hostile MP3 is bounded by time as well as
// by the size of the data.
inline constexpr u64 kMaxMp3Seconds = 30 * 60;
Result<DecodedTail> decode_mp3(std::span<const u8> data);

// Input frames a decoder must keep from the end of a stream at `rate` so that
// the converted sound's last kMaxQueuedFrames frames can still be computed.
u64 tail_frames_needed(u32 rate);

// The output frame count of a whole stream of `frames_in` frames at `rate`:
// ceil(frames_in * 44100 / rate), exact.
u64 output_frames(u64 frames_in, u32 rate);

// Converts to 44100 Hz stereo i16 by linear interpolation, producing only the
// last kMaxQueuedFrames frames of the result (earlier ones could never survive
// the queue's cut). `total_frames_out` receives the length of the whole
// converted sound. Returns no values when the input is empty or unusable.
std::vector<i16> resample_tail(const DecodedTail& decoded, u64& total_frames_out);

}  // namespace tarvel::audio_format
