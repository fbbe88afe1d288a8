// Reading Standard MIDI Files: the header and chunk checks, the event grammar
// (running status, skipped events, cut-off events) and the collected lists.

#include <gtest/gtest.h>

#include "media/audio/midi.hpp"
#include "midi_files.hpp"

namespace tarvel {
namespace {

using namespace midi_test;

std::string parse_error(const Bytes& file) {
    auto song = parse_midi(file);
    return song.ok() ? std::string("(parsed)") : song.error().to_string();
}

std::string render_error(const Bytes& file) {
    auto sound = render_midi(file);
    return sound.ok() ? std::string("(rendered)") : sound.error().to_string();
}

const Bytes kOneNote = cat({note_on(0, 60, 100), note_off(96, 60), end_of_track()});

TEST(MidiParse, HeaderFailures) {
    EXPECT_EQ(render_error({}), "not a MIDI file");
    Bytes short_header = header(1, 96);
    short_header.pop_back();
    EXPECT_EQ(render_error(short_header), "not a MIDI file");
    Bytes wrong_magic = smf(96, {kOneNote});
    wrong_magic[0] = 'R';
    EXPECT_EQ(render_error(wrong_magic), "not a MIDI file");

    EXPECT_EQ(render_error(smf(0, {kOneNote})), "unsupported MIDI division 0");
    // Time-code divisions have the top bit set and read as negative.
    EXPECT_EQ(render_error(smf(0xE728, {kOneNote})), "unsupported MIDI division -6360");
    EXPECT_TRUE(parse_midi(smf(0x7FFF, {kOneNote})).ok());
}

TEST(MidiParse, HeaderLengthFieldIsIgnored) {
    Bytes file = smf(96, {kOneNote});
    file[7] = 200;  // claims a longer header; tracks still start at offset 14
    auto song = parse_midi(file);
    ASSERT_TRUE(song.ok()) << song.error().to_string();
    EXPECT_EQ(song->notes.size(), 2u);
}

TEST(MidiParse, ChunkFailures) {
    // Promises two tracks, holds one.
    Bytes missing = smf(96, {kOneNote});
    missing[11] = 2;
    EXPECT_EQ(render_error(missing), "truncated MIDI track header");
    // Fewer than 8 bytes left for the second chunk header.
    Bytes stub = missing;
    stub.insert(stub.end(), {'M', 'T', 'r', 'k', 0, 0, 0});
    EXPECT_EQ(render_error(stub), "truncated MIDI track header");

    // The second chunk is not a track, although the first had notes.
    Bytes second_not_track = cat({header(2, 96), chunk("MTrk", kOneNote), chunk("XTrk", kOneNote)});
    EXPECT_EQ(render_error(second_not_track), "expected MTrk chunk");

    Bytes overlong = smf(96, {kOneNote});
    overlong[21] += 1;  // length one past the payload
    EXPECT_EQ(render_error(overlong), "truncated MIDI track");
    Bytes huge = smf(96, {kOneNote});
    huge[18] = huge[19] = huge[20] = huge[21] = 0xFF;  // would wrap a 32-bit end offset
    EXPECT_EQ(render_error(huge), "truncated MIDI track");

    EXPECT_EQ(render_error(smf(96, {end_of_track()})), "MIDI file has no note events");
    EXPECT_EQ(render_error(smf(96, {})), "MIDI file has no note events");
    EXPECT_EQ(render_error(smf(96, {cat({tempo(0, 400000), end_of_track()})})), "MIDI file has no note events");
}

TEST(MidiParse, VariableLengthQuantities) {
    // Four bytes is the longest delta; the tick is the full 28-bit value.
    auto longest = parse_midi(smf(96, {cat({{0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 100}})}));
    ASSERT_TRUE(longest.ok()) << longest.error().to_string();
    EXPECT_EQ(longest->notes.at(0).tick, 0x0FFFFFFFu);

    EXPECT_EQ(parse_error(smf(96, {cat({{0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 100}})})),
              "invalid MIDI variable-length quantity");
    // The track ends while a continuation bit is set.
    EXPECT_EQ(parse_error(smf(96, {cat({note_on(0, 60, 100), {0x81}})})), "invalid MIDI variable-length quantity");
    // A meta event's length follows the same rule.
    EXPECT_EQ(parse_error(smf(96, {cat({note_on(0, 60, 100), {0x00, 0xFF, 0x01, 0x80, 0x80, 0x80, 0x80, 0x01}})})),
              "invalid MIDI variable-length quantity");
    // A track that ends right after a delta time is simply done.
    EXPECT_TRUE(parse_midi(smf(96, {cat({note_on(0, 60, 100), {0x05}})})).ok());
}

TEST(MidiParse, RunningStatusAndVelocityZero) {
    // One status byte, then four events in running status; velocity 0 is a note-off.
    auto song = parse_midi(smf(96, {cat({{0x00, 0x92, 60, 100}, {0x10, 64, 90}, {0x10, 60, 0}, {0x10, 64, 0}})}));
    ASSERT_TRUE(song.ok()) << song.error().to_string();
    ASSERT_EQ(song->notes.size(), 4u);
    EXPECT_TRUE(song->notes[0].on);
    EXPECT_EQ(song->notes[1].note, 64);
    EXPECT_EQ(song->notes[1].tick, 16u);
    EXPECT_FALSE(song->notes[2].on);
    EXPECT_EQ(song->notes[2].note, 60);
    EXPECT_FALSE(song->notes[3].on);
    EXPECT_EQ(song->notes[3].tick, 48u);

    // A meta event becomes the running status too: the data byte after it
    // starts another meta event, not a note.
    auto after_meta = parse_midi(smf(96, {cat({note_on(0, 60, 100), tempo(0, 250000), {0x00, 0x51, 0x03, 0x01, 0x02, 0x03}})}));
    ASSERT_TRUE(after_meta.ok());
    ASSERT_EQ(after_meta->tempos.size(), 2u);
    EXPECT_EQ(after_meta->tempos[1].micros_per_quarter, 0x010203u);

    // A data byte with no status before it ends the track.
    auto no_status = parse_midi(smf(96, {cat({{0x00, 60, 100}, note_on(0, 61, 100)}), kOneNote}));
    ASSERT_TRUE(no_status.ok());
    EXPECT_EQ(no_status->notes.size(), 2u);
    EXPECT_EQ(no_status->notes[0].note, 60);
}

TEST(MidiParse, OtherEventsAreSkippedByTheirLength) {
    const Bytes body = cat({
        {0x00, 0xB0, 7, 100},          // controller: two data bytes
        {0x00, 0xC0, 5},               // program: one data byte
        {0x00, 0xD0, 40},              // channel pressure: one
        {0x00, 0xE0, 0x00, 0x40},      // pitch bend: two
        {0x00, 0xA0, 60, 30},          // key pressure: two, not a note
        {0x00, 0xF0, 0x03, 0x7E, 0x90, 0xF7},  // system exclusive holding a note-on-looking byte
        {0x00, 0xFF, 0x03, 0x02, 'h', 'i'},   // track name
        {0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1}, // tempo too short: ignored
        note_on(5, 62, 80),
    });
    auto song = parse_midi(smf(96, {body}));
    ASSERT_TRUE(song.ok()) << song.error().to_string();
    ASSERT_EQ(song->notes.size(), 1u);
    EXPECT_EQ(song->notes[0].note, 62);
    EXPECT_EQ(song->notes[0].tick, 5u);
    ASSERT_EQ(song->tempos.size(), 1u);  // only the default
    EXPECT_EQ(song->tempos[0].micros_per_quarter, 500000u);
}

TEST(MidiParse, CutOffEventsEndTheTrackQuietly) {
    // Each track ends inside an event: the notes before it stay, and the next
    // track is still read.
    const Bytes cut_note = cat({note_on(0, 60, 100), {0x00, 0x90, 61}});
    const Bytes cut_program = cat({note_on(0, 62, 100), {0x00, 0xC0}});
    const Bytes cut_meta = cat({note_on(0, 64, 100), {0x00, 0xFF, 0x01, 0x05, 'a', 'b'}});
    const Bytes cut_meta_type = cat({note_on(0, 65, 100), {0x00, 0xFF}});
    const Bytes cut_sysex = cat({note_on(0, 67, 100), {0x00, 0xF0, 0x09, 0x01}});
    auto song = parse_midi(smf(96, {cut_note, cut_program, cut_meta, cut_meta_type, cut_sysex}));
    ASSERT_TRUE(song.ok()) << song.error().to_string();
    ASSERT_EQ(song->notes.size(), 5u);
    const u8 expected[] = {60, 62, 64, 65, 67};
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(song->notes[i].note, expected[i]);
}

TEST(MidiParse, EventsFromAllTracksSortStably) {
    const Bytes first = cat({note_on(10, 60, 100), note_off(10, 60), tempo(0, 300000)});
    const Bytes second = cat({tempo(0, 400000), note_on(10, 72, 100), note_on(5, 74, 100)});
    auto song = parse_midi(smf(96, {first, second}));
    ASSERT_TRUE(song.ok());
    ASSERT_EQ(song->notes.size(), 4u);
    // Tick 10 holds the first track's note before the second's.
    EXPECT_EQ(song->notes[0].note, 60);
    EXPECT_EQ(song->notes[1].note, 72);
    EXPECT_EQ(song->notes[2].note, 74);
    EXPECT_EQ(song->notes[2].tick, 15u);
    EXPECT_EQ(song->notes[3].tick, 20u);
    EXPECT_FALSE(song->notes[3].on);
    ASSERT_EQ(song->tempos.size(), 2u);
    EXPECT_EQ(song->tempos[0].micros_per_quarter, 400000u);
    EXPECT_EQ(song->tempos[1].tick, 20u);
}

}  // namespace
}  // namespace tarvel
