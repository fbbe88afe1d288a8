// WAV submissions: layouts that play, and every way a file is refused.
#include <gtest/gtest.h>

#include <string>

#include "media/audio/audio_engine.hpp"
#include "media/audio/sound_data.hpp"
#include "media/audio/formats.hpp"

namespace tarvel::test {
namespace {

// What a 16-bit input value becomes after the round trip through f32.
i16 converted(i16 v) { return static_cast<i16>(static_cast<float>(v) / 32768.0f * 32767.0f); }

std::string submit_error(const std::vector<u8>& data) {
    AudioEngine engine;
    Status s = engine.submit(data, 0);
    return s ? std::string("ok") : s.error().to_string();
}

TEST(WavSubmit, OneStereoFrameAt44100IsOneFrame) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(wav({1000, -2000}, {1, 2, 44100, 16}), 0));
    EXPECT_EQ(engine.frames_queued, 1u);
    EXPECT_EQ(engine.peak_frames, 1u);
    EXPECT_TRUE(engine.active);
    EXPECT_EQ(played(engine), (std::vector<i16>{converted(1000), converted(-2000)}));
}

TEST(WavSubmit, MonoAt8000IsResampledAndDoubled) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(wav(std::vector<i16>(8000, 16384), {1, 1, 8000, 16}), 0));
    EXPECT_EQ(engine.queued_values(), 2u * 44100);
    EXPECT_EQ(engine.frames_queued, 44100u);
    const auto q = played(engine);
    ASSERT_EQ(q.size(), 2u * 44100);
    EXPECT_EQ(q.front(), converted(16384));
    EXPECT_EQ(q[1], converted(16384));
    EXPECT_EQ(engine.nonzero_samples, 2u * 44100) << "counted as they play";
}

TEST(WavSubmit, InterpolatesBetweenInputFrames) {
    // 22050 Hz: every second output frame lies halfway between two inputs.
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(wav({0, 0, 16384, -16384}, {1, 2, 22050, 16}), 0));
    const auto q = played(engine);
    ASSERT_EQ(q.size(), 8u);  // ceil(2 * 44100 / 22050) = 4 frames
    EXPECT_EQ(q[2], static_cast<i16>(0.25f * 32767.0f));
    EXPECT_EQ(q[3], static_cast<i16>(-0.25f * 32767.0f));
    EXPECT_EQ(q[4], converted(16384));
    EXPECT_EQ(q[6], converted(16384)) << "past the end the last frame holds";
}

TEST(WavSubmit, OddRatesRoundTheLengthUp) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(wav(std::vector<i16>(7, 1), {1, 1, 11025 + 1, 16}), 0));
    EXPECT_EQ(engine.frames_queued, (7u * 44100 + 11025) / 11026);
    EXPECT_EQ(audio_format::output_frames(3, 48000), 3u);
    EXPECT_EQ(audio_format::output_frames(48000, 48000), 44100u);
    EXPECT_EQ(audio_format::output_frames(1, 1), 44100u);
}

TEST(WavSubmit, ExtraChannelsAreIgnored) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(wav({100, 200, 30000, -100, -200, -30000}, {1, 3, 44100, 16}), 0));
    const auto q = played(engine);
    ASSERT_EQ(q.size(), 4u);
    EXPECT_EQ(q[0], converted(100));
    EXPECT_EQ(q[1], converted(200));
    EXPECT_EQ(q[2], converted(-100));
}

TEST(WavSubmit, ChunksAreWalkedWithPaddingAndCutAtTheEnd) {
    // An odd-sized chunk before fmt is padded; the data chunk claims more than
    // the file holds and ends in an odd byte.
    std::vector<u8> data_body = pcm_bytes({300, -300, 500});
    data_body.push_back(0x7F);
    std::vector<u8> data = chunk("data", data_body, false);
    store_le32(&data[4], 0x7FFFFFF0);
    auto file = riff({chunk("LIST", {1, 2, 3}), fmt_chunk({1, 1, 44100, 16}), data});
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(file, 0));
    const auto q = played(engine);
    ASSERT_EQ(q.size(), 6u);
    EXPECT_EQ(q[4], converted(500));
}

TEST(WavSubmit, HugeDeclaredSizesDoNotReadPastTheData) {
    std::vector<u8> junk = chunk("junk", {});
    store_le32(&junk[4], 0xFFFFFFFF);
    EXPECT_EQ(submit_error(riff({fmt_chunk({}), junk})), "WAV file is missing fmt or data chunk");
    auto file = riff({fmt_chunk({}), chunk("data", {})});
    EXPECT_EQ(submit_error(file), "audio data decoded to no samples");
}

TEST(WavSubmit, EachRefusalNamesItsCause) {
    EXPECT_EQ(submit_error(wav({1, 2}, {1, 1, 44100, 8})), "unsupported WAV bit depth 8");
    EXPECT_EQ(submit_error(wav({1, 2}, {3, 1, 44100, 16})), "unsupported WAV format 3");
    EXPECT_EQ(submit_error(wav({1, 2}, {1, 0, 44100, 16})), "WAV fmt chunk declares zero channels or sample rate");
    EXPECT_EQ(submit_error(wav({1, 2}, {1, 1, 0, 16})), "WAV fmt chunk declares zero channels or sample rate");
    EXPECT_EQ(submit_error(riff({chunk("data", pcm_bytes({1, 2})), fmt_chunk({})})),
              "WAV file is missing fmt or data chunk");
    EXPECT_EQ(submit_error(riff({fmt_chunk({})})), "WAV file is missing fmt or data chunk");
    EXPECT_EQ(submit_error(riff({chunk("fmt ", {1, 0, 1, 0})})), "truncated WAV fmt chunk");
    // A full-size fmt chunk cut off by the end of the file.
    auto cut = riff({fmt_chunk({})});
    cut.resize(cut.size() - 4);
    EXPECT_EQ(submit_error(cut), "truncated WAV fmt chunk");
    // A single 16-bit mono frame of a 2-channel file is less than one frame.
    EXPECT_EQ(submit_error(wav({5}, {1, 2, 44100, 16})), "audio data decoded to no samples");
}

TEST(WavSubmit, DecoderErrorsLeaveTheQueueAndRejectCountAlone) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(wav({7, 7}, {1, 2, 44100, 16}), 0));
    EXPECT_FALSE(engine.submit(wav({1, 2}, {1, 1, 44100, 8}), 0));
    EXPECT_EQ(engine.queued_values(), 2u);
    EXPECT_EQ(engine.rejected, 0u);
    EXPECT_FALSE(engine.submit(riff({fmt_chunk({}), chunk("data", {})}), 0));
    EXPECT_EQ(engine.rejected, 1u) << "an empty result counts as rejected";
}

TEST(WavSubmit, LowRatesCostOnlyWhatEachFramePlays) {
    // 1 Hz: 4000 input frames convert to 176 million output frames (an hour
    // and more), none of which is computed before it plays.
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(wav(std::vector<i16>(4000, 8192), {1, 1, 1, 16}), 0));
    EXPECT_EQ(engine.frames_queued, 4000u * 44100);
    EXPECT_EQ(engine.queued_values(), 2u * 4000 * 44100);
    EXPECT_EQ(engine.peak_frames, 4000u * 44100);
    const auto frame = engine.render_frame();
    EXPECT_EQ(frame[0], converted(8192));
    EXPECT_EQ(frame[kRenderValues - 1], converted(8192));
}

}  // namespace
}  // namespace tarvel::test
