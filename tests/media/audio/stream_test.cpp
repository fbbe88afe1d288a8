// Sounds converted while they play: long music plays whole and in order, loops
// continue without a gap, and an engine copied at any point (which is what a
// saved state gives) carries on with exactly the same samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "media/audio/audio_engine.hpp"
#include "media/audio/formats.hpp"
#include "media/audio/midi.hpp"
#include "media/audio/sound_data.hpp"

namespace tarvel::test {
namespace {

using midi_test::Bytes;

// The whole sound converted at once, written out from the conversion's
// definition (linear interpolation to 44100 Hz, mono doubled).
std::vector<i16> converted_whole(const DecodedSound& sound) {
    const u64 c = sound.channels;
    const u64 frames_in = sound.samples.size() / c;
    const u64 frames_out = audio_format::output_frames(frames_in, sound.rate);
    std::vector<i16> out;
    auto to_i16 = [](float v) {
        const float s = v * 32767.0f;
        return s <= -32768.0f ? i16{-32768} : s > 32767.0f ? i16{32767} : static_cast<i16>(s);
    };
    for (u64 i = 0; i < frames_out; ++i) {
        const u64 p = i * sound.rate;
        const u64 a = std::min(p / 44100, frames_in - 1);
        const u64 b = std::min(p / 44100 + 1, frames_in - 1);
        const float frac = static_cast<float>(p % 44100) / 44100.0f;
        for (u64 ch = 0; ch < 2; ++ch) {
            const u64 k = std::min(ch, c - 1);
            const float x = sound.samples[a * c + k];
            out.push_back(to_i16(x + (sound.samples[b * c + k] - x) * frac));
        }
    }
    return out;
}

std::vector<i16> render_frames(AudioEngine& engine, size_t frames) {
    std::vector<i16> out;
    out.reserve(frames * kRenderValues);
    for (size_t i = 0; i < frames; ++i) {
        const auto f = engine.render_frame();
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

// The pitch of the left channel over [from, to) seconds, from its zero
// crossings, as the nearest MIDI note.
int note_at(const std::vector<i16>& out, double from, double to) {
    size_t crossings = 0;
    const auto first = static_cast<size_t>(from * 44100);
    const auto last = static_cast<size_t>(to * 44100);
    for (size_t i = first + 1; i < last; ++i) crossings += (out[2 * i - 2] < 0) != (out[2 * i] < 0);
    const double hz = static_cast<double>(crossings) / 2.0 / (to - from);
    return static_cast<int>(std::lround(69.0 + 12.0 * std::log2(hz / 440.0)));
}

TEST(WholeMusic, SeventySecondsPlayInOrderAndLoopRightAfterTheirEnd) {
    const Bytes tune = time_as_pitch(70);
    auto decoded = render_midi(std::span<const u8>(tune).subspan(5));
    ASSERT_TRUE(decoded);
    const std::vector<i16> one = converted_whole(*decoded);
    ASSERT_GT(one.size(), 2u * 70 * 44100);

    AudioEngine engine;
    ASSERT_TRUE(engine.submit(tune, 0));
    engine.set_loop_source(tune);
    const std::vector<i16> out = render_frames(engine, one.size() / kRenderValues + 3 * 60);
    ASSERT_TRUE(std::equal(one.begin(), one.end(), out.begin())) << "the whole tune, sample for sample";
    ASSERT_TRUE(std::equal(out.begin() + static_cast<std::ptrdiff_t>(one.size()), out.end(), one.begin()))
        << "the next copy starts with the sample after the last";
    for (int n = 0; n < 70; ++n) EXPECT_EQ(note_at(out, n + 0.05, n + 0.6), kTimeAsPitchFirstNote + n) << "second " << n;
}

TEST(WholeMusic, LoopSeamsContinueTheWaveform) {
    // A quarter second of a 441 Hz sine cut at a whole number of periods, looped.
    std::vector<i16> sine;
    for (int i = 0; i < 11000; ++i) {
        const auto v = static_cast<i16>(std::lround(12000.0 * std::sin(2.0 * 3.14159265358979 * 441.0 * i / 44100.0)));
        sine.insert(sine.end(), {v, v});
    }
    const auto sound = wav(sine, {1, 2, 44100, 16});
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(sound, 2));
    engine.set_loop_source(sound);
    const std::vector<i16> out = render_frames(engine, 60 * 3);
    int largest_step = 0;
    size_t zero_run = 0;
    size_t longest_zero_run = 0;
    for (size_t i = 2; i < out.size(); i += 2) {
        largest_step = std::max(largest_step, std::abs(out[i] - out[i - 2]));
        zero_run = out[i] == 0 ? zero_run + 1 : 0;
        longest_zero_run = std::max(longest_zero_run, zero_run);
    }
    EXPECT_LE(largest_step, 12000 * 2 * 3.1416 * 441 / 44100 + 2) << "no step larger than the sine's own";
    EXPECT_LE(longest_zero_run, 1u);
}

// Every kind of sound, copied at several points of its playing: the copy (its
// decoders rebuilt from the saved cursors) plays on exactly like the original.
TEST(ResumedStreams, ACopiedEngineContinuesWithTheSameSamples) {
    std::vector<i16> ramp;
    for (int i = 0; i < 3 * 22050; ++i) ramp.insert(ramp.end(), {static_cast<i16>(i * 7), static_cast<i16>(-i * 3)});
    const std::vector<std::pair<const char*, std::vector<u8>>> sounds = {
        {"wav at 22050 Hz", wav(ramp, {1, 2, 22050, 16})},
        // Two output frames a copy: each frame of output skips 54 000 input
        // frames, far past the block, and copies end on frame boundaries.
        {"wav at 2.4 GHz", wav(ramp, {1, 2, 0x90610001u, 16})},
        {"midi", time_as_pitch(6)},
    };
    for (const auto& [name, data] : sounds) {
        for (size_t at : {size_t{0}, size_t{1}, size_t{37}, size_t{200}}) {
            AudioEngine engine;
            ASSERT_TRUE(engine.submit(data, 1));
            engine.set_loop_source(data);
            render_frames(engine, at);
            AudioEngine restored = engine;
            EXPECT_EQ(restored, engine);
            EXPECT_EQ(render_frames(restored, 500), render_frames(engine, 500)) << name << " copied after " << at;
        }
    }
}

TEST(ResumedStreams, MidiRenderedInPiecesOrAfterASeekMatchesTheWhole) {
    const Bytes tune = time_as_pitch(5);
    const auto payload = std::span<const u8>(tune).subspan(5);
    auto whole = render_midi(payload);
    ASSERT_TRUE(whole);
    auto renderer = MidiRenderer::open(payload);
    ASSERT_TRUE(renderer);
    for (size_t at : {size_t{12345}, size_t{0}, size_t{7999}, size_t{30000}, size_t{8000}}) {
        renderer->seek(at);
        std::vector<float> piece(700);
        renderer->render(piece);
        for (size_t i = 0; i < piece.size(); ++i) {
            const float want = at + i < whole->samples.size() ? whole->samples[at + i] : 0.0f;
            ASSERT_EQ(piece[i], want) << "from " << at << " sample " << i;
        }
    }
}

}  // namespace
}  // namespace tarvel::test
