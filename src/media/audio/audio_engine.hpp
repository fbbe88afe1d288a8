#pragma once
// The audio engine: every sound of the application is queued behind the
// others and played as one stream of 44 100 Hz interleaved stereo i16
// samples, 735 frames per video frame. Sounds arrive encoded (RIFF/WAVE PCM,
// MP3, or a Standard MIDI File in the platform's 5-byte resource wrapper).
//
// Queued sounds stay encoded and are decoded and converted to the output
// format while they play, a block at a time, as each frame needs them: long
// music costs every frame about the same small amount of work instead of one
// frame paying for the whole tune, and it plays from its first sample to its
// last. A sound's next copy (its repeats, or the loop source) starts in the
// same frame right after the last sample of the previous one.
//
// Bounded memory, without cutting music short: a queued sound holds its
// encoded bytes and the decoder state for one block, whatever its length.
// At most kMaxQueuedSounds sounds wait; submitting one more drops the oldest
// (a game that queues sounds faster than they play loses the oldest, as it
// always has). Repeats are a count, never copies.
//
// The engine is plain data owned by the machine record and saved with it: the
// decoder state behind a queued sound is not saved but rebuilt from its
// cursor, which gives the same samples (see QueuedSound).
//
// Enhanced sound (a core option, off by default; off, nothing below changes a
// single output value):
// - a one-shot sound submitted while music plays (something loops, or a MIDI
//   tune is at the front of the queue) is an effect: it is mixed over the
//   music at once instead of waiting behind it, and the music, still looping,
//   carries on after it (submit_effect; the audio service decides);
// - sounds are converted with a band-limited resampler and MIDI is played
//   through FluidSynth with the General MIDI SoundFont (enhanced_stream.hpp);
// - stop, pause, resume and volume changes fade over kFadeFrames instead of
//   jumping: the output gain moves at most 1/kFadeFrames of full scale per
//   frame, pause plays on until the gain reaches 0, and stop keeps a faded
//   tail of what was playing.

#include <algorithm>
#include <array>
#include <deque>
#include <memory>
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
// Converted values a state may carry in `queue` (states written before sounds
// were converted as they play held up to 10 s there).
inline constexpr size_t kMaxQueuedValues = 882000;
inline constexpr size_t kMaxQueuedSounds = 32;
inline constexpr size_t kMaxEffects = 8;
// 5 ms: the length of a fade from full volume to silence.
inline constexpr u32 kFadeFrames = 220;
inline constexpr u32 kFullGain = 32768;  // the output gain, in 1/32768

enum class SoundKind : u8 { Wav, Mp3, Midi };

// Immutable bytes shared between the queue and the loop source, so that a
// sound that loops or repeats is never copied again. Compared by content.
class SharedBytes {
public:
    SharedBytes() = default;
    explicit SharedBytes(std::vector<u8> bytes) : bytes_(std::make_shared<const std::vector<u8>>(std::move(bytes))) {}
    std::span<const u8> span() const { return bytes_ ? std::span<const u8>(*bytes_) : std::span<const u8>(); }
    size_t size() const { return bytes_ ? bytes_->size() : 0; }
    friend bool operator==(const SharedBytes& a, const SharedBytes& b) {
        return a.bytes_ == b.bytes_ || std::ranges::equal(a.span(), b.span());
    }
    friend bool operator==(const SharedBytes& a, const std::vector<u8>& b) { return std::ranges::equal(a.span(), b); }

private:
    std::shared_ptr<const std::vector<u8>> bytes_;
};

// Where the conversion of one queued sound stands: enough to rebuild its
// decoder and carry on with exactly the samples that would have come next.
struct StreamCursor {
    u64 copies_left = 0;   // copies still to play after the current one
    u64 copy_frames = 0;   // output frames of one copy; 0 while not yet known (MP3)
    u64 out_frame = 0;     // output frames of the current copy already produced
    u64 block = 0;         // the input block being converted
    u64 block_start = 0;   // its first input frame
    u64 feed_from = 0;     // MP3: where that block's decoding starts
    u64 first_frame = 0;   // MP3: the block's first frame
    u32 preroll = 0;       // MP3: frames decoded before it only to prime the decoder
    u32 channels = 0;      // of the decoded input, fixed by the first block
    u32 rate = 0;
    std::array<float, 2> carry{};  // the input frame just before the block (left, right)
    bool first_copy = true;        // nonzero output values are counted during the first copy

    friend bool operator==(const StreamCursor&, const StreamCursor&) = default;
};

class SoundStream;

// The decoder state behind a cursor. Never saved, never copied (a copied
// engine rebuilds it from the cursor) and not part of equality.
class StreamHolder {
public:
    StreamHolder();
    StreamHolder(const StreamHolder&);
    StreamHolder(StreamHolder&&) noexcept;
    StreamHolder& operator=(const StreamHolder&);
    StreamHolder& operator=(StreamHolder&&) noexcept;
    ~StreamHolder();
    std::unique_ptr<SoundStream> stream;
    friend bool operator==(const StreamHolder&, const StreamHolder&) { return true; }
};

struct QueuedSound {
    SharedBytes data;  // as submitted
    StreamCursor cursor;
    StreamHolder decoder;

    friend bool operator==(const QueuedSound&, const QueuedSound&) = default;
};

struct AudioEngine {
    std::deque<i16> queue;                 // converted values that play before `sounds` (restored states)
    std::optional<SharedBytes> loop_source;  // encoded sound queued again whenever nothing else is left
    u32 volume = 100;                      // percent, applied as samples leave the engine
    u64 bytes_submitted = 0;
    u64 frames_queued = 0;                 // counting every repetition
    u64 nonzero_samples = 0;
    u64 rejected = 0;
    u64 silent_frames = 0;
    u64 peak_frames = 0;
    bool active = false;
    bool paused = false;
    std::deque<QueuedSound> sounds;        // front plays first, behind `queue`
    // Enhanced sound; saved only while it is on (a state of a game that never
    // used it has the same bytes as before the option existed).
    bool enhanced = false;
    u32 gain = kFullGain;                  // applied to the mix; moves towards the volume
    std::deque<QueuedSound> effects;       // mixed over the queue
    std::vector<i16> fade_tail;            // the faded end of a stopped sound, mixed in next

    // Checks `data` and queues it repeats + 1 times; on failure nothing is
    // queued and the error says why.
    Status submit(std::span<const u8> data, u32 repeats);
    Status submit(SharedBytes data, u32 repeats);
    // Enhanced sound: whether a one-shot sound submitted now is an effect
    // mixed over music, and its submission (the queue and the loop source are
    // left alone). At most kMaxEffects play; one more drops the oldest.
    bool mixes_effects() const;
    Status submit_effect(std::span<const u8> data, u32 repeats);
    void set_enhanced(bool on);
    // After a restore: each enhanced sound without a decoder takes over the
    // decoder of the same sound in `running` when that one can go on at its
    // cursor (it went at most kHistoryFrames further), instead of rendering
    // its copy again from the start.
    void adopt_decoders(AudioEngine& running);

    // The next 735 stereo frames at the current volume, zero-padded. Decodes
    // what this frame plays; allocates only when a decoder starts or a block
    // needs more room than an earlier one.
    void render_frame(std::span<i16, kRenderValues> out);
    std::array<i16, kRenderValues> render_frame();

    void stop();
    void set_volume(u32 percent);
    void pause() { paused = true; }
    void resume() { paused = false; }
    // 2 paused, 1 playing, 0 idle.
    u32 state() const;
    void set_loop_source(std::optional<std::vector<u8>> data);
    // The sound submitted last becomes the loop source (without a copy).
    void loop_last_submitted();

    // Output values still to play; a sound whose length is not known yet
    // (an MP3 not decoded to its end) counts as more than any frame needs.
    u64 queued_values() const;

    friend bool operator==(const AudioEngine&, const AudioEngine&) = default;

private:
    Status enqueue(SharedBytes data, u32 repeats, std::deque<QueuedSound>& into);
    // The queue's next values into `out` (before volume): loops, counters and
    // the active flag as render_frame describes; returns the values taken.
    size_t play_queue(std::span<i16> out, bool even_paused);
    void render_enhanced(std::span<i16, kRenderValues> out);
    // The next out.size() / 2 frames of the queue and the effects, added.
    void mix_layers(std::span<i32> mix, bool even_paused);
    u32 volume_gain() const { return std::min<u32>(volume, 100) * kFullGain / 100; }
    bool queue_loop_copy();
    bool nothing_queued() const { return queue.empty() && sounds.empty(); }
};

// An engine as the machine starts with it: empty, at the frontend's volume.
AudioEngine make_audio_engine(u32 volume);

}  // namespace tarvel
