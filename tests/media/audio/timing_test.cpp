// Ticks to seconds through the tempo map, and the length of the rendering.

#include <gtest/gtest.h>

#include "media/audio/midi.hpp"
#include "midi_files.hpp"

namespace tarvel {
namespace {

using namespace midi_test;

MidiSong parsed(const Bytes& file) {
    auto song = parse_midi(file);
    EXPECT_TRUE(song.ok()) << song.error().to_string();
    return song.ok() ? std::move(song).value() : MidiSong{};
}

size_t rendered_length(const Bytes& file) {
    auto sound = render_midi(file);
    EXPECT_TRUE(sound.ok()) << sound.error().to_string();
    if (!sound.ok()) return 0;
    EXPECT_EQ(sound->channels, 1u);
    EXPECT_EQ(sound->rate, 8000u);
    return sound->samples.size();
}

TEST(MidiTiming, OneNoteLastsAQuarterAfterItsStart) {
    // No tempo event: 500000 µs per quarter, so the tail is 0.5 s.
    EXPECT_EQ(rendered_length(smf(96, {note_on(0, 60, 100)})), 4000u);
    // The last event counts whether it is a note-on or a note-off.
    EXPECT_EQ(rendered_length(smf(96, {cat({note_on(0, 60, 100), note_off(192, 60)})})), 12000u);
}

TEST(MidiTiming, TempoChangeAppliesFromItsTick) {
    const Bytes file = smf(480, {cat({note_on(0, 60, 100), tempo(960, 250000), note_on(960, 62, 100)})});
    const MidiSong song = parsed(file);
    EXPECT_DOUBLE_EQ(midi_tick_seconds(song, 960), 1.0);
    EXPECT_DOUBLE_EQ(midi_tick_seconds(song, 1920), 1.5);
    EXPECT_DOUBLE_EQ(midi_tick_seconds(song, 1440), 1.25);
    // End tick 2400 → 1.75 s.
    EXPECT_EQ(rendered_length(file), 14000u);
}

TEST(MidiTiming, TempoMapAcrossTracksAndRepeatedTicks) {
    // A tempo track beside a note track; two changes at one tick: the later wins.
    const Bytes tempo_track = cat({tempo(0, 1000000), tempo(96, 100000), tempo(0, 250000)});
    const MidiSong song = parsed(smf(96, {tempo_track, note_on(0, 60, 100)}));
    EXPECT_DOUBLE_EQ(midi_tick_seconds(song, 48), 0.5);
    EXPECT_DOUBLE_EQ(midi_tick_seconds(song, 96), 1.0);
    EXPECT_DOUBLE_EQ(midi_tick_seconds(song, 192), 1.25);
    // A change at tick 0 replaces the default from the start.
    EXPECT_EQ(midi_sample_count(song), 8000u);
}

TEST(MidiTiming, DurationIsClamped) {
    // A very fast tempo would make the file 1 ms long; the floor is 50 ms.
    EXPECT_EQ(rendered_length(smf(96, {cat({tempo(0, 1000), note_on(0, 60, 100)})})), 400u);
    // 20000 quarter notes at 500000 µs run for 10000 s: cut to 120 s.
    Bytes body;
    for (int i = 0; i < 20000; ++i) {
        const Bytes on = note_on(i == 0 ? 0 : 96, 60, 100);
        body.insert(body.end(), on.begin(), on.end());
    }
    EXPECT_EQ(rendered_length(smf(96, {body})), 960000u);
    // The largest tick possible saturates instead of wrapping to a short file.
    MidiSong far;
    far.division = 96;
    far.notes.push_back({~u64{0} - 10, 60, 100, true});
    far.tempos.push_back({0, 500000});
    EXPECT_EQ(midi_sample_count(far), 960000u);
}

}  // namespace
}  // namespace tarvel
