// The engine's queue and playback: recognition, whole sounds, repeats,
// rendering, looping, pause/stop/state and volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>

#include "media/audio/audio_engine.hpp"
#include "media/audio/sound_data.hpp"

namespace tarvel::test {
namespace {

// A stereo 44100 Hz WAV of distinct nonzero values (a ramp up on the left, down
// on the right); tests compare against a reference submit of the same data.
std::vector<u8> ramp_wav(size_t frames) {
    std::vector<i16> samples;
    for (size_t i = 0; i < frames; ++i) {
        samples.push_back(static_cast<i16>(i % 30000 + 1));
        samples.push_back(static_cast<i16>(-static_cast<i32>(i % 30000) - 1));
    }
    return wav(samples, {1, 2, 44100, 16});
}

std::vector<i16> converted_of(const std::vector<u8>& data) {
    AudioEngine engine;
    EXPECT_TRUE(engine.submit(data, 0));
    return played(engine);
}

std::string submit_error(AudioEngine& engine, const std::vector<u8>& data) {
    Status s = engine.submit(data, 0);
    return s ? std::string("ok") : s.error().to_string();
}

bool all_zero(std::span<const i16> s) {
    return std::all_of(s.begin(), s.end(), [](i16 v) { return v == 0; });
}

TEST(AudioRecognition, ShortOrUnknownDataIsRefusedAndCounted) {
    AudioEngine engine;
    EXPECT_EQ(submit_error(engine, {0x42}), "unrecognized audio data (1 bytes)");
    EXPECT_EQ(submit_error(engine, {}), "unrecognized audio data (0 bytes)");
    EXPECT_EQ(submit_error(engine, {0xFF, 0xDF, 0, 0}), "unrecognized audio data (4 bytes)");
    // A wrapper whose length runs past the data is no wrapper.
    EXPECT_EQ(submit_error(engine, {3, 0, 0, 0, 9, 1, 2}), "unrecognized audio data (7 bytes)");
    EXPECT_EQ(engine.rejected, 4u);
    EXPECT_EQ(engine.bytes_submitted, 12u);
    EXPECT_FALSE(engine.active);
}

TEST(AudioRecognition, TwoByteFrameSyncIsTakenAsMp3) {
    AudioEngine engine;
    const std::string error = submit_error(engine, {0xFF, 0xF3});
    EXPECT_NE(error.find("MP3"), std::string::npos) << error;
    EXPECT_EQ(engine.rejected, 0u) << "decoder failures are not recognition failures";
}

TEST(AudioRecognition, WrapperOfAnotherTypeHoldingAWavPlaysIt) {
    AudioEngine engine;
    auto inner = wav({1000, 1000}, {1, 2, 44100, 16});
    auto data = wrapped(3, inner);
    data.push_back(0xEE);  // bytes past the payload are ignored
    ASSERT_TRUE(engine.submit(data, 0));
    EXPECT_EQ(played(engine), converted_of(inner));
    EXPECT_EQ(engine.bytes_submitted, data.size());
}

TEST(AudioRecognition, WrapperAroundTextNamesItsType) {
    AudioEngine engine;
    const std::string text = "hello, world";
    EXPECT_EQ(submit_error(engine, wrapped(3, std::vector<u8>(text.begin(), text.end()))),
              "unknown audio resource type 3");
    EXPECT_EQ(submit_error(engine, wrapped(0x1234, {})), "unknown audio resource type 4660");
    EXPECT_EQ(engine.rejected, 2u);
}

TEST(AudioRecognition, MidiWrapperErrorsComeFromTheSynthesiser) {
    AudioEngine engine;
    EXPECT_EQ(submit_error(engine, wrapped(10, {'n', 'o', 'p', 'e'})), "not a MIDI file");
    EXPECT_EQ(engine.rejected, 0u);
}

TEST(AudioQueue, LongSoundsPlayWholeBehindEachOther) {
    const size_t frames = 15 * 44100;
    auto data = ramp_wav(frames);
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(wav({5, 5}, {1, 2, 44100, 16}), 0));
    ASSERT_TRUE(engine.submit(data, 0));
    EXPECT_EQ(engine.queued_values(), 2 * (1 + frames));
    EXPECT_EQ(engine.frames_queued, 1 + frames);
    EXPECT_EQ(engine.peak_frames, 1 + frames);
    const std::vector<i16> out = played(engine);
    ASSERT_EQ(out.size(), 2 * (1 + frames));
    for (size_t i = 0; i < frames; i += 997) {
        EXPECT_EQ(out[2 + 2 * i], static_cast<i16>(static_cast<float>(i % 30000 + 1) / 32768.0f * 32767.0f)) << i;
    }
    EXPECT_EQ(engine.nonzero_samples, static_cast<u64>(std::count_if(out.begin(), out.end(), [](i16 v) { return v != 0; })));
}

TEST(AudioQueue, RepeatsPlayEveryCopy) {
    AudioEngine engine;
    auto sound = ramp_wav(3);
    auto one = converted_of(sound);
    ASSERT_TRUE(engine.submit(sound, 2));
    EXPECT_EQ(engine.queued_values(), 18u);
    const auto three = played(engine);
    ASSERT_EQ(three.size(), 18u);
    for (size_t i = 0; i < 18; ++i) EXPECT_EQ(three[i], one[i % 6]) << i;
    EXPECT_EQ(engine.frames_queued, 9u);
    EXPECT_EQ(engine.nonzero_samples, static_cast<u64>(std::count_if(one.begin(), one.end(), [](i16 v) { return v != 0; })))
        << "counted once per sound";

    // 4_000_000 copies are a count, not copies: they cost nothing up front.
    ASSERT_TRUE(engine.submit(sound, 3'999'999));
    EXPECT_EQ(engine.queued_values(), 24'000'000u);
    EXPECT_EQ(engine.frames_queued, 9u + 12'000'000u);
    const auto frame = engine.render_frame();
    for (size_t i = 0; i < kRenderValues; ++i) ASSERT_EQ(frame[i], one[i % 6]) << i;

    // The most repeats: the count of copies stops at 0xFFFFFFFF, not 2^32.
    engine.frames_queued = 0;
    ASSERT_TRUE(engine.submit(sound, 0xFFFFFFFF));
    EXPECT_EQ(engine.frames_queued, u64{3} * 0xFFFFFFFFu);
}

TEST(AudioQueue, TheOldestWaitingSoundGivesWayBeyondTheLimit) {
    AudioEngine engine;
    for (size_t i = 0; i <= kMaxQueuedSounds; ++i) ASSERT_TRUE(engine.submit(wav_constant(10, static_cast<i16>(i + 2)), 0));
    EXPECT_EQ(engine.sounds.size(), kMaxQueuedSounds);
    EXPECT_EQ(engine.render_frame()[0], static_cast<i16>(static_cast<float>(3) / 32768.0f * 32767.0f))
        << "the first sound was dropped";
}

TEST(AudioQueue, CountersSaturate) {
    AudioEngine engine;
    engine.frames_queued = ~u64{0} - 1;
    engine.bytes_submitted = ~u64{0};
    engine.nonzero_samples = ~u64{0} - 1;
    ASSERT_TRUE(engine.submit(ramp_wav(2), 0xFFFFFFFF));
    engine.render_frame();
    EXPECT_EQ(engine.frames_queued, ~u64{0});
    EXPECT_EQ(engine.bytes_submitted, ~u64{0});
    EXPECT_EQ(engine.nonzero_samples, ~u64{0});
    engine.sounds.clear();
    engine.silent_frames = ~u64{0} - 5;
    engine.render_frame();
    EXPECT_EQ(engine.silent_frames, ~u64{0});
}

TEST(AudioRender, PlaysInOrderPadsAndGoesIdle) {
    AudioEngine engine;
    auto sound = ramp_wav(1000);
    auto expected = converted_of(sound);
    ASSERT_TRUE(engine.submit(sound, 0));
    auto first = engine.render_frame();
    EXPECT_TRUE(std::equal(first.begin(), first.end(), expected.begin()));
    EXPECT_TRUE(engine.active);
    auto second = engine.render_frame();
    EXPECT_TRUE(std::equal(expected.begin() + 1470, expected.end(), second.begin()));
    EXPECT_TRUE(all_zero(std::span(second).subspan(expected.size() - 1470)));
    EXPECT_FALSE(engine.active) << "drained with nothing to loop";
    EXPECT_EQ(engine.silent_frames, 0u);
    EXPECT_EQ(engine.state(), 0u);
}

TEST(AudioRender, IdleFramesAreSilentAndOnlyAPlayingEngineCountsThem) {
    AudioEngine engine;
    EXPECT_TRUE(all_zero(engine.render_frame()));
    EXPECT_EQ(engine.silent_frames, 0u);
    engine.active = true;  // playing with nothing queued (as after a restore)
    EXPECT_TRUE(all_zero(engine.render_frame()));
    EXPECT_EQ(engine.silent_frames, 735u);
    EXPECT_FALSE(engine.active);
}

TEST(AudioRender, VolumeScalesTowardZeroAndZeroStillDrains) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(wav({-4, 4, 3000, -3000}, {1, 2, 44100, 16}), 0));
    engine.set_volume(50);
    auto out = engine.render_frame();
    EXPECT_EQ(out[0], -1);  // -3 * 50 / 100
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], 2999 / 2);

    engine.set_volume(250);
    EXPECT_EQ(engine.volume, 100u);
    ASSERT_TRUE(engine.submit(ramp_wav(735), 0));
    engine.set_volume(0);
    EXPECT_TRUE(all_zero(engine.render_frame()));
    EXPECT_EQ(engine.queued_values(), 0u);
    EXPECT_EQ(make_audio_engine(70).volume, 70u);
    EXPECT_EQ(make_audio_engine(1000).volume, 100u);
}

TEST(AudioRender, PauseHoldsTheQueueAndSubmitOrResumeContinues) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(ramp_wav(2000), 0));
    engine.pause();
    EXPECT_EQ(engine.state(), 2u);
    EXPECT_TRUE(all_zero(engine.render_frame()));
    EXPECT_EQ(engine.queued_values(), 4000u);
    EXPECT_EQ(engine.silent_frames, 0u);
    engine.resume();
    EXPECT_EQ(engine.state(), 1u);
    engine.render_frame();
    EXPECT_EQ(engine.queued_values(), 4000u - 1470);
    engine.pause();
    ASSERT_TRUE(engine.submit(ramp_wav(1), 0));
    EXPECT_FALSE(engine.paused) << "a new sound unpauses";
}

TEST(AudioRender, StopClearsEverythingButTheStatistics) {
    AudioEngine engine;
    auto sound = ramp_wav(10);
    ASSERT_TRUE(engine.submit(sound, 0));
    engine.set_loop_source(sound);
    engine.pause();
    engine.stop();
    EXPECT_EQ(engine.queued_values(), 0u);
    EXPECT_FALSE(engine.loop_source);
    EXPECT_EQ(engine.state(), 0u);
    EXPECT_TRUE(all_zero(engine.render_frame()));
    EXPECT_EQ(engine.frames_queued, 10u);
}

TEST(AudioLoop, TheNextCopyFollowsTheLastSampleInTheSameFrame) {
    AudioEngine engine;
    auto sound = ramp_wav(1000);  // 2000 values: one full frame, then 530 values and the loop again
    auto expected = converted_of(sound);
    ASSERT_TRUE(engine.submit(sound, 0));
    engine.set_loop_source(sound);
    engine.render_frame();
    auto seam = engine.render_frame();
    EXPECT_TRUE(std::equal(expected.begin() + 1470, expected.end(), seam.begin()));
    EXPECT_TRUE(std::equal(seam.begin() + 530, seam.end(), expected.begin())) << "no silence at the seam";
    EXPECT_TRUE(engine.active);
    auto next = engine.render_frame();
    EXPECT_TRUE(std::equal(expected.begin() + 940, expected.end(), next.begin()));
    EXPECT_TRUE(std::equal(next.begin() + 1060, next.end(), expected.begin()));
    EXPECT_EQ(engine.frames_queued, 3000u) << "every copy counts";
    EXPECT_EQ(engine.silent_frames, 0u);
    EXPECT_EQ(engine.loop_source, std::optional<SharedBytes>(SharedBytes(sound)));

    // A loop shorter than a frame fills the whole frame.
    engine.stop();
    auto tiny = ramp_wav(100);
    ASSERT_TRUE(engine.submit(tiny, 0));
    engine.set_loop_source(tiny);
    auto frame = engine.render_frame();
    auto one = converted_of(tiny);
    for (size_t i = 0; i < kRenderValues; ++i) ASSERT_EQ(frame[i], one[i % one.size()]) << i;
}

TEST(AudioLoop, AFailingLoopSourceGoesQuietButStays) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(ramp_wav(10), 0));
    const std::vector<u8> junk{1, 2, 3, 4, 5, 6};
    engine.set_loop_source(junk);
    const auto frame = engine.render_frame();
    EXPECT_TRUE(all_zero(std::span(frame).subspan(20))) << "the sound, then nothing";
    EXPECT_FALSE(engine.active);
    EXPECT_EQ(engine.loop_source, std::optional<SharedBytes>(SharedBytes(junk)));
    EXPECT_EQ(engine.rejected, 1u);
    // Restarted by hand with the same source, it fails again at once.
    engine.active = true;
    EXPECT_TRUE(all_zero(engine.render_frame()));
    EXPECT_FALSE(engine.active);
    EXPECT_EQ(engine.silent_frames, 735u);
    EXPECT_EQ(engine.rejected, 2u);
}

}  // namespace
}  // namespace tarvel::test
