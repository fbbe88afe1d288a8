// Synthesised samples: one note against values computed here from the tone's
// definition, and the voice rules (note-off matching, the one-second limit,
// velocity 0, the voice cap and its fade) by comparing renderings.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "media/audio/midi.hpp"
#include "midi_files.hpp"

namespace tarvel {
namespace {

using namespace midi_test;

std::vector<float> render(const Bytes& file) {
    auto sound = render_midi(file);
    EXPECT_TRUE(sound.ok()) << sound.error().to_string();
    return sound.ok() ? std::move(sound).value().samples : std::vector<float>{};
}

bool silent(const std::vector<float>& s, size_t from, size_t to) {
    return std::all_of(s.begin() + from, s.begin() + to, [](float v) { return v == 0.0f; });
}

// One voice of the tone, written out from its definition for a note held from
// `start` seconds and released at `end`.
float expected_tone(double t, double frequency, double start, double end, int velocity) {
    const double pi = 3.14159265358979323846;
    const double phase = 2.0 * pi * frequency * t;
    const float wave = static_cast<float>(std::sin(phase) + 0.35 * std::sin(2.0 * phase));
    const float attack = static_cast<float>(std::min((t - start) / 0.005, 1.0));
    const float decay = static_cast<float>(std::exp(-3.0 * (t - start)));
    const float release = static_cast<float>(std::clamp((end - t) * 20.0, 0.0, 1.0));
    const float amplitude = static_cast<float>(velocity) / 127.0f;
    return wave * attack * decay * release * amplitude * 0.18f;
}

TEST(MidiRender, OneNoteMatchesTheToneDefinition) {
    // A4 (440 Hz), velocity 100, released after a quarter (0.25 s = 2000 samples).
    const auto s = render(smf(96, {cat({note_on(0, 69, 100), note_off(48, 69)})}));
    ASSERT_EQ(s.size(), 6000u);  // last event at 0.25 s, plus 0.5 s
    for (size_t i = 0; i < 2000; ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        ASSERT_NEAR(s[i], expected_tone(t, 440.0, 0.0, 1.0, 100), 1e-6) << "sample " << i;
    }
    EXPECT_EQ(s[0], 0.0f);  // the attack starts from nothing
    EXPECT_TRUE(silent(s, 2000, s.size()));  // a note-off ends the voice at once

    // Rough shape, independently of the formula: 5 ms in, the level is near
    // 0.18 × 100/127 × e^-0.02 times a wave whose peak is about 1.17.
    const float peak = *std::max_element(s.begin() + 40, s.begin() + 80);
    EXPECT_GT(peak, 0.15f);
    EXPECT_LT(peak, 0.17f);
    // 0.2 s later the decay has taken it to e^-0.6 of that.
    const float later = *std::max_element(s.begin() + 1640, s.begin() + 1680);
    EXPECT_NEAR(later / peak, std::exp(-0.6), 0.04);
}

TEST(MidiRender, HeldNoteStopsAfterOneSecondWithAFade) {
    // Note 60 held for 3 s (576 ticks at division 96).
    const auto s = render(smf(96, {cat({note_on(0, 60, 127), note_off(576, 60)})}));
    ASSERT_EQ(s.size(), 28000u);
    const double f = 440.0 * std::pow(2.0, -9.0 / 12.0);
    for (size_t i : {7000u, 7600u, 7800u, 7950u, 7999u}) {
        const double t = static_cast<double>(i) / 8000.0;
        EXPECT_NEAR(s[i], expected_tone(t, f, 0.0, 1.0, 127), 1e-6) << "sample " << i;
    }
    EXPECT_TRUE(silent(s, 8000, s.size()));
}

TEST(MidiRender, NoteOffReleasesOnlyHeldVoicesOfThatPitch) {
    const auto both = render(smf(96, {cat({note_on(0, 60, 100), note_on(0, 64, 100), note_off(48, 60)})}));
    const auto upper = render(smf(96, {cat({note_on(0, 64, 100), note_off(48, 1)})}));
    ASSERT_EQ(both.size(), upper.size());
    // After the release of 60 only 64 sounds, exactly as if it were alone.
    EXPECT_TRUE(std::equal(both.begin() + 2000, both.end(), upper.begin() + 2000));
    EXPECT_FALSE(std::equal(both.begin(), both.begin() + 2000, upper.begin()));

    // Two voices of one pitch: one note-off releases both.
    const auto doubled = render(smf(96, {cat({note_on(0, 60, 100), note_on(12, 60, 100), note_off(36, 60)})}));
    EXPECT_TRUE(silent(doubled, 2000, doubled.size()));

    // A note-off for a pitch that is not sounding changes nothing.
    const auto stray = render(smf(96, {cat({note_on(0, 64, 100), note_off(48, 61)})}));
    EXPECT_EQ(stray, upper);
}

TEST(MidiRender, VelocityZeroAndRunningStatusActLikeTheLongForms) {
    const auto with_off = render(smf(96, {cat({note_on(0, 67, 90), note_on(24, 71, 90), note_off(24, 67)})}));
    const auto running_zero = render(smf(96, {cat({note_on(0, 67, 90), {24, 71, 90}, {24, 67, 0}})}));
    EXPECT_EQ(with_off, running_zero);
    EXPECT_FALSE(silent(with_off, 0, with_off.size()));
}

TEST(MidiRender, TempoChangeMovesLaterNotes) {
    // At 480 ticks per quarter, the change to 250000 at tick 960 puts tick 1920 at 1.5 s.
    const auto s = render(smf(480, {cat({tempo(0, 500000), tempo(960, 250000), note_on(960, 69, 100)})}));
    ASSERT_EQ(s.size(), 14000u);
    EXPECT_TRUE(silent(s, 0, 12001));  // sample 12000 is the attack's zero
    EXPECT_NEAR(s[12100], expected_tone(12100 / 8000.0, 440.0, 1.5, 2.5, 100), 1e-6);
}

// The largest change from one sample to the next over [from, to).
float largest_step(const std::vector<float>& s, size_t from, size_t to) {
    float step = 0.0f;
    for (size_t i = from + 1; i < to; ++i) step = std::max(step, std::abs(s[i] - s[i - 1]));
    return step;
}

TEST(MidiRender, TheVoiceCapFadesOutTheOldestVoiceAndLoudChordsClip) {
    // A loud low note, then as many quiet ones as the cap allows at 0.125 s
    // and one more at 0.25 s, which steals the loud voice.
    const Bytes loud_note = note_on(0, 36, 127);
    Bytes quiet = note_on(24, 36, 1);
    for (size_t n = 2; n < kMidiMaxVoices; ++n) quiet = cat({quiet, note_on(0, 36, 1)});
    quiet = cat({quiet, note_on(24, 36, 1)});
    const auto stolen = render(smf(96, {cat({loud_note, quiet})}));
    const auto without_loud = render(smf(96, {quiet}));
    ASSERT_EQ(stolen.size(), without_loud.size());

    // Before the steal the loud voice sounds; from the steal it fades over
    // 50 ms with no step larger than the signal's own, then it is gone.
    const size_t steal = 2000;
    EXPECT_GT(std::abs(stolen[steal - 1] - without_loud[steal - 1]), 0.02f);
    EXPECT_LE(largest_step(stolen, steal - 1, steal + 500), largest_step(stolen, steal - 600, steal));
    EXPECT_TRUE(std::equal(stolen.begin() + steal + 401, stolen.end(), without_loud.begin() + steal + 401));

    // A burst far past the cap, more than can fade at once, still renders.
    Bytes burst;
    for (size_t n = 0; n < 2 * (kMidiMaxVoices + kMidiFadingVoices); ++n) {
        burst = cat({burst, note_on(0, static_cast<u8>(24 + n % 96), 127)});
    }
    const auto capped = render(smf(96, {burst}));
    EXPECT_EQ(capped.size(), 4000u);
    EXPECT_TRUE(std::all_of(capped.begin(), capped.end(), [](float v) { return v >= -1.0f && v <= 1.0f; }));

    // Unison voices add up past full scale and are clamped.
    Bytes unison;
    for (int n = 0; n < 12; ++n) {
        const Bytes on = note_on(0, 69, 127);
        unison.insert(unison.end(), on.begin(), on.end());
    }
    const auto loud = render(smf(96, {unison}));
    EXPECT_EQ(*std::max_element(loud.begin(), loud.end()), 1.0f);
    EXPECT_EQ(*std::min_element(loud.begin(), loud.end()), -1.0f);
}

}  // namespace
}  // namespace tarvel
