// The engine's queue and playback: recognition, the 10 s cut, repeats,
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
    return {engine.queue.begin(), engine.queue.end()};
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
    EXPECT_EQ(std::vector<i16>(engine.queue.begin(), engine.queue.end()), converted_of(inner));
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

TEST(AudioQueue, FifteenSecondsLeaveTheLastTen) {
    const size_t frames = 15 * 44100;
    auto data = ramp_wav(frames);
    const std::vector<i16> whole = [&] {
        // Reference: the same ramp in pieces small enough never to be cut.
        std::vector<i16> out;
        for (size_t i = 0; i < frames; ++i) {
            out.push_back(static_cast<i16>(static_cast<float>(i % 30000 + 1) / 32768.0f * 32767.0f));
            out.push_back(static_cast<i16>(static_cast<float>(-static_cast<i32>(i % 30000) - 1) / 32768.0f * 32767.0f));
        }
        return out;
    }();
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(wav({5, 5}, {1, 2, 44100, 16}), 0));
    ASSERT_TRUE(engine.submit(data, 0));
    ASSERT_EQ(engine.queue.size(), kMaxQueuedValues);
    EXPECT_TRUE(std::equal(engine.queue.begin(), engine.queue.end(), whole.end() - kMaxQueuedValues));
    EXPECT_EQ(engine.frames_queued, 1 + frames);
    EXPECT_EQ(engine.peak_frames, kMaxQueuedFrames);
}

TEST(AudioQueue, RepeatsAppendCopiesAndTheCutKeepsTheLastOnes) {
    AudioEngine engine;
    auto sound = ramp_wav(3);
    auto one = converted_of(sound);
    ASSERT_TRUE(engine.submit(sound, 2));
    ASSERT_EQ(engine.queue.size(), 18u);
    for (size_t i = 0; i < 18; ++i) EXPECT_EQ(engine.queue[i], one[i % 6]) << i;
    EXPECT_EQ(engine.frames_queued, 9u);

    // 4_000_000 copies of 3 frames far exceed the cap: the queue ends with
    // whole copies and starts inside one, as if all had been appended and cut.
    ASSERT_TRUE(engine.submit(sound, 3'999'999));
    ASSERT_EQ(engine.queue.size(), kMaxQueuedValues);
    const size_t phase = (6 - kMaxQueuedValues % 6) % 6;
    for (size_t i : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, kMaxQueuedValues - 1})
        EXPECT_EQ(engine.queue[i], one[(phase + i) % 6]) << i;
    EXPECT_EQ(engine.frames_queued, 9u + 12'000'000u);

    // The most repeats: the count of copies stops at 0xFFFFFFFF, not 2^32.
    engine.frames_queued = 0;
    ASSERT_TRUE(engine.submit(sound, 0xFFFFFFFF));
    EXPECT_EQ(engine.frames_queued, u64{3} * 0xFFFFFFFFu);
}

TEST(AudioQueue, CountersSaturate) {
    AudioEngine engine;
    engine.frames_queued = ~u64{0} - 1;
    engine.bytes_submitted = ~u64{0};
    engine.nonzero_samples = ~u64{0} - 1;
    ASSERT_TRUE(engine.submit(ramp_wav(2), 0xFFFFFFFF));
    EXPECT_EQ(engine.frames_queued, ~u64{0});
    EXPECT_EQ(engine.bytes_submitted, ~u64{0});
    EXPECT_EQ(engine.nonzero_samples, ~u64{0});
    engine.queue.clear();
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
    EXPECT_TRUE(engine.queue.empty());
    EXPECT_EQ(make_audio_engine(70).volume, 70u);
    EXPECT_EQ(make_audio_engine(1000).volume, 100u);
}

TEST(AudioRender, PauseHoldsTheQueueAndSubmitOrResumeContinues) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(ramp_wav(2000), 0));
    engine.pause();
    EXPECT_EQ(engine.state(), 2u);
    EXPECT_TRUE(all_zero(engine.render_frame()));
    EXPECT_EQ(engine.queue.size(), 4000u);
    EXPECT_EQ(engine.silent_frames, 0u);
    engine.resume();
    EXPECT_EQ(engine.state(), 1u);
    engine.render_frame();
    EXPECT_EQ(engine.queue.size(), 4000u - 1470);
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
    EXPECT_TRUE(engine.queue.empty());
    EXPECT_FALSE(engine.loop_source);
    EXPECT_EQ(engine.state(), 0u);
    EXPECT_TRUE(all_zero(engine.render_frame()));
    EXPECT_EQ(engine.frames_queued, 10u);
}

TEST(AudioLoop, RestartsOnTheFrameAfterTheQueueEmpties) {
    AudioEngine engine;
    auto sound = ramp_wav(1000);  // 2000 values: one full frame, then 530 values and silence
    auto expected = converted_of(sound);
    ASSERT_TRUE(engine.submit(sound, 0));
    engine.set_loop_source(sound);
    engine.render_frame();
    auto tail = engine.render_frame();
    EXPECT_TRUE(all_zero(std::span(tail).subspan(530))) << "the rest of the frame the sound ended in is silent";
    EXPECT_TRUE(engine.active);
    auto again = engine.render_frame();
    EXPECT_TRUE(std::equal(again.begin(), again.end(), expected.begin()));
    EXPECT_EQ(engine.frames_queued, 2000u);
    EXPECT_EQ(engine.silent_frames, 0u);
    EXPECT_EQ(engine.loop_source, std::optional<std::vector<u8>>(sound));
}

TEST(AudioLoop, AFailingLoopSourceGoesQuietButStays) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(ramp_wav(10), 0));
    const std::vector<u8> junk{1, 2, 3, 4, 5, 6};
    engine.set_loop_source(junk);
    engine.render_frame();
    EXPECT_TRUE(engine.active);
    EXPECT_TRUE(all_zero(engine.render_frame()));
    EXPECT_FALSE(engine.active);
    EXPECT_EQ(engine.loop_source, std::optional<std::vector<u8>>(junk));
    EXPECT_EQ(engine.silent_frames, 735u);
    EXPECT_EQ(engine.rejected, 1u);
}

}  // namespace
}  // namespace tarvel::test
