#pragma once
// The enhanced conversion of a queued sound (the engine's internals): a
// band-limited resampler (libsoxr) instead of linear interpolation, and MIDI
// through FluidSynth with the General MIDI SoundFont when it is loaded (the
// built-in synthesiser, resampled the same way, when it is not).
//
// Neither the resampler's filter memory nor a synthesiser can be saved, so a
// stream rebuilt from a cursor in the middle of a copy (after a state
// restore) renders that copy again from its start, throwing the samples
// away, at most kCatchUpFrames a call; until it has reached the cursor it
// produces nothing and holds its place. From there on its samples are the
// very ones an uninterrupted run produced, and every rebuild of the same
// cursor catches up in the same number of calls.
//
// A stream also keeps the last kHistoryFrames frames it produced. A restore
// that goes back only that far (rewinding, or a frontend that runs frames
// ahead and returns) hands the running stream over to the restored cursor
// (AudioEngine::adopt_decoders), which replays them and carries on without
// catching up.

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "media/audio/audio_engine.hpp"
#include "media/audio/formats.hpp"
#include "media/audio/midi.hpp"
#include "media/audio/sound_font.hpp"

typedef struct soxr* soxr_t;

namespace tarvel {

// Input frames (44 100 Hz) re-rendered per call while catching up: three
// video frames' worth, so that a frame spends at most a few times its own
// rendering on it.
inline constexpr u64 kCatchUpFrames = 3 * kRenderFrames;
inline constexpr u64 kHistoryFrames = 8 * kRenderFrames;
// A cursor whose `block` holds this value belongs to an enhanced stream; its
// position is `out_frame` alone.
inline constexpr u64 kEnhancedBlock = ~u64{0};

// What one conversion call did (also the linear conversion's answer).
struct StreamStep {
    size_t values = 0;
    u64 nonzero = 0;
    bool finished = false;
    bool waiting = false;  // still catching up: nothing produced, position held
    std::optional<Error> error;
};

class EnhancedStream {
public:
    static Result<std::unique_ptr<EnhancedStream>> open(const audio_format::Recognised& what, StreamCursor& cursor);
    ~EnhancedStream();

    StreamStep convert(StreamCursor& cursor, std::span<i16> out);
    // Whether this stream can go on at `cursor` without starting its copy again.
    bool can_resume_at(const StreamCursor& cursor) const;

private:
    explicit EnhancedStream(audio_format::Recognised what) : what_(what) {}
    Status start_copy(StreamCursor& c);
    // Reads the next input chunk into `input_`; false at the end of the input.
    Result<bool> read_input(StreamCursor& c);
    // Up to `frames` output frames of the copy into `out` (interleaved
    // stereo); fewer only once the input is exhausted and flushed.
    Result<size_t> produce(StreamCursor& c, float* out, size_t frames);

    audio_format::Recognised what_;
    audio_format::WavLayout wav_;
    std::optional<MidiRenderer> midi_;                 // built-in synthesiser
    std::optional<sound_font::TunePlayer> tune_;       // FluidSynth
    bool use_sound_font_ = false;
    soxr_t soxr_ = nullptr;
    u32 soxr_channels_ = 1;
    std::vector<float> input_;     // input frames at soxr_channels_ channels
    size_t input_used_ = 0;        // frames of input_ already handed to the resampler
    u64 input_frames_ = 0;         // input frames read in this copy
    bool input_ended_ = false;
    bool flushed_ = false;
    audio_format::Mp3ChunkStart mp3_next_;
    bool mp3_last_ = false;
    std::vector<float> scratch_;   // decoded MP3 chunk; output being converted
    std::vector<float> produced_;
    u64 made_ = 0;                 // output frames of the current copy produced so far
    u64 copies_left_ = 0;          // of the copy being produced
    std::vector<i16> history_;     // the last kHistoryFrames frames produced, a ring by frame number
};

}  // namespace tarvel
