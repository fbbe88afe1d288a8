#pragma once
// MIDI music: a Standard MIDI File rendered to mono 8000 Hz samples by a small
// additive synthesiser. Every note, on any channel, is one decaying tone made of
// a sine and its second harmonic; programs, controllers, pitch bend and
// percussion are not interpreted.

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "common/bytes.hpp"
#include "common/error.hpp"
#include "media/audio/decoded_sound.hpp"

namespace tarvel {

inline constexpr u32 kMidiSampleRate = 8000;
inline constexpr double kMidiMinSeconds = 0.05;
inline constexpr double kMidiMaxSeconds = 120.0;
// More voices sounding at once than this and the oldest one fades out for the
// new note; at most kMidiFadingVoices more may be fading out at any time (see
// midi.cpp for why).
inline constexpr size_t kMidiMaxVoices = 256;
inline constexpr size_t kMidiFadingVoices = 64;

struct MidiNoteEvent {
    u64 tick = 0;  // absolute
    u8 note = 0;
    u8 velocity = 0;
    bool on = false;
};

struct MidiTempoChange {
    u64 tick = 0;
    u32 micros_per_quarter = 500000;  // 24-bit value
};

// The parts of a file the synthesiser uses, from all tracks, sorted by tick
// (stable: equal ticks keep file order). `tempos` is never empty.
struct MidiSong {
    u32 division = 0;  // ticks per quarter note, at least 1
    std::vector<MidiNoteEvent> notes;
    std::vector<MidiTempoChange> tempos;
};

Result<MidiSong> parse_midi(std::span<const u8> payload);

// Seconds from the start of the song to `tick`, through the tempo map.
double midi_tick_seconds(const MidiSong& song, u64 tick);

// Samples the song renders to: its last note event plus one quarter note,
// clamped to 0.05..120 s, at 8000 Hz.
size_t midi_sample_count(const MidiSong& song);

// Renders a Standard MIDI File (the payload of a type-10 audio resource).
Result<DecodedSound> render_midi(std::span<const u8> payload);  // channels 1, rate 8000

// The same rendering a stretch at a time, so that long music costs each video
// frame only the samples it needs. Rendering in pieces gives exactly the
// samples of render_midi; seek() moves to any sample without mixing the ones
// it passes over (it replays the note events, which is all a voice depends on).
class MidiRenderer {
public:
    static Result<MidiRenderer> open(std::span<const u8> payload);
    MidiRenderer(MidiRenderer&&) noexcept;
    MidiRenderer& operator=(MidiRenderer&&) noexcept;
    ~MidiRenderer();

    size_t sample_count() const { return sample_count_; }
    size_t position() const { return position_; }
    void seek(size_t sample);
    // Fills `out` with the samples from position() on (zeros past the end).
    void render(std::span<float> out);

private:
    class Synthesiser;
    MidiRenderer(std::unique_ptr<Synthesiser> synth, size_t sample_count);
    std::unique_ptr<Synthesiser> synth_;
    size_t sample_count_ = 0;
    size_t position_ = 0;
};

}  // namespace tarvel
