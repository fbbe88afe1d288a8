#pragma once
// The decoder behind a queued sound and the conversion of its blocks to the
// output format (the engine's internals).

#include <optional>
#include <span>
#include <vector>

#include "media/audio/audio_engine.hpp"
#include "media/audio/enhanced_stream.hpp"
#include "media/audio/formats.hpp"
#include "media/audio/midi.hpp"

namespace tarvel {

// Input frames per block: WAV samples are read straight from the data, MIDI
// is synthesised 32 ms at a time, MP3 decodes in chunks of frames (mp3.cpp).
inline constexpr u64 kWavBlockFrames = 4096;
inline constexpr u64 kMidiBlockSamples = 256;
// No block holds more input frames than this (32 MP3 frames of 1152).
inline constexpr u64 kMaxBlockFrames = 32 * 1152;

class SoundStream {
public:
    // Checks the data and, with `cursor` at a fresh sound, fills in what is
    // known before playing (format, length of a copy). MP3 decodes its first
    // chunk here, so a stream that cannot start fails its submission. A
    // cursor whose block is kEnhancedBlock gets the enhanced conversion.
    static Result<std::unique_ptr<SoundStream>> open(std::span<const u8> data, StreamCursor& cursor);

    SoundKind kind() const { return what_.kind; }

    // Loads the block the cursor names.
    Status load(StreamCursor& cursor);

    // Converts the next output values of the sound into `out` (whole frames).
    // Returns the values written; `finished` is set once the last copy has
    // ended. A decoding failure ends the sound early with the error.
    using Step = StreamStep;
    // An enhanced stream that can go on at `cursor` (see EnhancedStream).
    bool can_resume_at(const StreamCursor& cursor) const { return enhanced_ && enhanced_->can_resume_at(cursor); }
    Step convert(StreamCursor& cursor, std::span<i16> out);

private:
    explicit SoundStream(audio_format::Recognised what) : what_(what) {}
    float input(const StreamCursor& c, u64 frame, u32 channel) const;
    void restart_copy(StreamCursor& c) const;

    audio_format::Recognised what_;
    audio_format::WavLayout wav_;
    std::optional<MidiRenderer> midi_;
    std::vector<float> block_;  // interleaved input frames of the loaded block (MIDI, MP3)
    u64 block_frames_ = 0;
    bool loaded_ = false;
    bool last_ = false;
    audio_format::Mp3ChunkStart next_chunk_;
    std::unique_ptr<EnhancedStream> enhanced_;
};

}  // namespace tarvel
