// The enhanced sound: effects mixed over music, the band-limited resampler,
// MIDI through the General MIDI SoundFont, and fades. Each is set against the
// plain engine, which must not change.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "media/audio/audio_engine.hpp"
#include "media/audio/enhanced_stream.hpp"
#include "media/audio/formats.hpp"
#include "media/audio/midi.hpp"
#include "media/audio/sound_data.hpp"
#include "media/audio/sound_font.hpp"
#include "support/log_capture.hpp"

namespace tarvel::test {
namespace {

std::vector<i16> render_frames(AudioEngine& engine, size_t frames) {
    std::vector<i16> out;
    for (size_t i = 0; i < frames; ++i) {
        const auto f = engine.render_frame();
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

AudioEngine engine_with(bool enhanced) {
    AudioEngine engine;
    engine.set_enhanced(enhanced);
    return engine;
}

// Music loops (a constant 1000 at the output rate, so every value is known);
// an effect (2000) played once on top of it. Plain, the effect is not an
// effect: the audio service queues it behind the music. Enhanced, it sounds
// at once, over the music, and the music goes on after it.
TEST(EnhancedSound, EffectsMixOverTheMusicWhichCarriesOn) {
    const std::vector<u8> music = wav_constant(44100, 1000), effect = wav_constant(1000, 2000);
    AudioEngine plain = engine_with(false);
    ASSERT_TRUE(plain.submit(music, 0).ok());
    plain.loop_last_submitted();
    EXPECT_FALSE(plain.mixes_effects());

    AudioEngine engine = engine_with(true);
    EXPECT_FALSE(engine.mixes_effects()) << "nothing plays yet";
    ASSERT_TRUE(engine.submit(music, 0).ok());
    engine.loop_last_submitted();
    render_frames(engine, 2);
    ASSERT_TRUE(engine.mixes_effects());
    ASSERT_TRUE(engine.submit_effect(effect, 1).ok());  // two copies: 2000 frames
    EXPECT_EQ(engine.state(), 1u);
    const std::vector<i16> out = render_frames(engine, 6);
    for (size_t f = 0; f < 6 * kRenderFrames; ++f) {
        const i16 expected = f < 2000 ? 999 + 1999 : 999;
        ASSERT_EQ(out[2 * f], expected) << "frame " << f;
        ASSERT_EQ(out[2 * f + 1], expected) << "frame " << f;
    }
    EXPECT_TRUE(engine.effects.empty());
    // The music loops on past its end, as before the effect.
    const std::vector<i16> later = render_frames(engine, 60);
    EXPECT_TRUE(std::all_of(later.begin(), later.end(), [](i16 v) { return v == 999; }));

    // A tune at the front of the queue counts as music too; a paused engine
    // takes no effects.
    AudioEngine tune = engine_with(true);
    ASSERT_TRUE(tune.submit(time_as_pitch(2), 0).ok());
    EXPECT_TRUE(tune.mixes_effects());
    tune.pause();
    EXPECT_FALSE(tune.mixes_effects());
}

// The power of `out`'s left channel at `hz`, from a Goertzel filter over
// [from, to) frames.
double power_at(const std::vector<i16>& out, double hz, size_t from, size_t to) {
    const double w = 2.0 * std::numbers::pi * hz / 44100.0, coefficient = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < to; ++i) {
        const double s = out[2 * i] / 32768.0 + coefficient * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

// A 3 kHz tone at 8 kHz leaves images at 5, 11 and 13 kHz after a
// conversion to 44.1 kHz that does not filter them. Linear interpolation
// keeps them within about 20 dB of the tone; the band-limited resampler must
// put them below -70 dB (the 16-bit output's own floor is near -90 dB).
TEST(EnhancedSound, ResamplerRejectsTheImagesOfA3kHzToneFrom8kHz) {
    std::vector<i16> tone(8000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<i16>(std::lround(16000.0 * std::sin(2.0 * std::numbers::pi * 3000.0 * i / 8000.0)));
    const std::vector<u8> sound = wav(tone, WavFormat{1, 1, 8000, 16});
    double worst_image_db[2] = {};
    for (bool enhanced : {false, true}) {
        AudioEngine engine = engine_with(enhanced);
        ASSERT_TRUE(engine.submit(sound, 0).ok());
        const std::vector<i16> out = played(engine);
        ASSERT_EQ(out.size(), 2u * 44100) << "a second of output either way";
        const double signal = power_at(out, 3000, 4410, 39690);
        double worst = -1000;
        for (double image : {5000.0, 11000.0, 13000.0})
            worst = std::max(worst, 10.0 * std::log10(power_at(out, image, 4410, 39690) / signal));
        worst_image_db[enhanced] = worst;
    }
    RecordProperty("linear_worst_image_db", std::to_string(worst_image_db[0]));
    RecordProperty("soxr_worst_image_db", std::to_string(worst_image_db[1]));
    EXPECT_GT(worst_image_db[0], -20.0) << "linear interpolation leaves the images";
    EXPECT_LT(worst_image_db[1], -70.0) << "the band-limited resampler removes them";
}

// A tune of notes on three channels with three programs.
std::vector<u8> three_part_tune() {
    using namespace midi_test;
    Bytes track = cat({{0x00, 0xC0, 80}, {0x00, 0xC1, 38}, {0x00, 0xC2, 11}});
    const u8 lead[] = {69, 72, 76, 81, 79, 76, 72, 74};
    for (size_t i = 0; i < std::size(lead); ++i) {
        track = cat({track, vlq(0), {0x90, lead[i], 96}, vlq(0), {0x91, static_cast<u8>(45 + (i % 2) * 12), 100},
                     vlq(0), {0x92, static_cast<u8>(64 + (i % 3)), 70}, vlq(48), {0x80, lead[i], 0x40}, vlq(0),
                     {0x81, static_cast<u8>(45 + (i % 2) * 12), 0x40}, vlq(0), {0x82, static_cast<u8>(64 + (i % 3)), 0x40}});
    }
    return wrapped(10, smf(96, {cat({track, end_of_track()})}));
}

// Without the SoundFont, one Info line says so, and tunes still play
// (through the built-in synthesiser and the resampler).
TEST(EnhancedSound, WithoutTheSoundFontMidiUsesTheBuiltInSynthesiser) {
    LogCapture log;
    EXPECT_FALSE(sound_font::prepare("/nonexistent/General.sf2"));
    EXPECT_FALSE(sound_font::prepare("/nonexistent/General.sf2"));
    EXPECT_EQ(log.count(log::Level::Info, "Enhanced sound: no SoundFont at /nonexistent/General.sf2; MIDI plays "
                                          "through the built-in synthesiser"),
              1u);
    AudioEngine engine = engine_with(true);
    ASSERT_TRUE(engine.submit(three_part_tune(), 0).ok());
    const std::vector<i16> out = played(engine);
    EXPECT_GT(std::count_if(out.begin(), out.end(), [](i16 v) { return v != 0; }), static_cast<long>(out.size() / 2));
}

// Through FluidSynth: the tune sounds, two engines give the same bytes, and
// an engine copied mid-tune (what a restored state is) catches up without
// sound and then continues with exactly the samples the original plays.
TEST(EnhancedSound, SoundFontRenderingIsAudibleAndRepeatsByteForByte) {
    if (!sound_font::prepare()) GTEST_SKIP() << "no SoundFont at " << sound_font::kDefaultPath;
    const std::vector<u8> tune = three_part_tune();
    std::vector<i16> runs[2];
    for (std::vector<i16>& run : runs) {
        AudioEngine engine = engine_with(true);
        ASSERT_TRUE(engine.submit(tune, 0).ok());
        run = played(engine);
    }
    EXPECT_EQ(runs[0], runs[1]);
    ASSERT_EQ(runs[0].size(), 2u * audio_format::output_frames(midi_sample_count(*parse_midi(
                                       std::span<const u8>(tune).subspan(5))), 8000));
    const long sounding = std::count_if(runs[0].begin(), runs[0].end(), [](i16 v) { return std::abs(v) > 30; });
    EXPECT_GT(sounding, static_cast<long>(runs[0].size() / 2));

    // Restored 100 frames in: rendered again from the start, then the same
    // samples; or, a few frames later, handed the running decoder.
    const std::vector<i16>& reference = runs[0];
    const auto from_frame = [&](size_t frame) { return reference.begin() + static_cast<std::ptrdiff_t>(frame * kRenderValues); };
    AudioEngine original = engine_with(true);
    ASSERT_TRUE(original.submit(tune, 0).ok());
    render_frames(original, 100);
    const AudioEngine saved = original;  // no decoders: rebuilt from the cursors
    std::vector<i16> restored[2];
    for (std::vector<i16>& run : restored) {
        AudioEngine copy = saved;
        run = render_frames(copy, 45);
    }
    EXPECT_EQ(restored[0], restored[1]) << "every restore catches up the same way";
    const auto first_sound = std::find_if(restored[0].begin(), restored[0].end(), [](i16 v) { return v != 0; });
    const size_t silent = static_cast<size_t>(first_sound - restored[0].begin());
    EXPECT_EQ(silent % kRenderValues, 0u) << "catching up holds whole frames";
    EXPECT_EQ(silent / kRenderValues, 100 * kRenderFrames / kCatchUpFrames) << "three frames' worth a frame";
    EXPECT_TRUE(std::equal(first_sound, restored[0].end(), from_frame(100))) << "then the very same samples";

    render_frames(original, 5);
    AudioEngine handed = saved;
    handed.adopt_decoders(original);
    EXPECT_TRUE(original.sounds.front().decoder.stream == nullptr) << "the decoder moved";
    const std::vector<i16> at_once = render_frames(handed, 20);
    EXPECT_TRUE(std::equal(at_once.begin(), at_once.end(), from_frame(100))) << "no catching up";
}

// The largest change between neighbouring output values of one channel.
int largest_step(const std::vector<i16>& out) {
    int largest = 0;
    for (size_t i = 2; i < out.size(); ++i) largest = std::max(largest, std::abs(out[i] - out[i - 2]));
    return largest;
}

// A constant sound makes every jump of the output a step. Plain, pause,
// resume, a volume change and stop jump; enhanced, each moves by at most
// 1/220 of full scale per frame, and pause and volume reach their level in
// 5 ms.
TEST(EnhancedSound, PauseResumeVolumeAndStopFadeWithoutSteps) {
    const std::vector<u8> music = wav_constant(44100 * 4, 20001);
    for (bool enhanced : {false, true}) {
        SCOPED_TRACE(enhanced ? "enhanced" : "plain");
        AudioEngine engine = engine_with(enhanced);
        ASSERT_TRUE(engine.submit(music, 0).ok());
        std::vector<i16> out = render_frames(engine, 2);
        engine.pause();
        std::vector<i16> more = render_frames(engine, 2);
        out.insert(out.end(), more.begin(), more.end());
        EXPECT_EQ(out.back(), 0) << "paused is silent";
        engine.resume();
        more = render_frames(engine, 2);
        out.insert(out.end(), more.begin(), more.end());
        EXPECT_EQ(out.back(), 20000);
        engine.set_volume(25);
        more = render_frames(engine, 2);
        out.insert(out.end(), more.begin(), more.end());
        EXPECT_EQ(out.back(), 5000);
        engine.stop();
        more = render_frames(engine, 2);
        out.insert(out.end(), more.begin(), more.end());
        EXPECT_EQ(out.back(), 0);
        if (enhanced) {
            EXPECT_LE(largest_step(out), 20000 * 150 / 32768 + 1);
            // Half way through the pause's fade the sound is about half as loud.
            EXPECT_NEAR(out[2 * (2 * kRenderFrames + kFadeFrames / 2)], 10000, 300);
        } else {
            EXPECT_EQ(largest_step(out), 20000);
        }
    }
}

}  // namespace
}  // namespace tarvel::test
