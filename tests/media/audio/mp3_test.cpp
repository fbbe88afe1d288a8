// MP3 submissions through the decoder library, with frames made by hand.
#include <gtest/gtest.h>

#include <string>

#include "media/audio/audio_engine.hpp"
#include "media/audio/sound_data.hpp"
#include "media/audio/formats.hpp"

namespace tarvel::test {
namespace {

std::string submit_error(const std::vector<u8>& data) {
    AudioEngine engine;
    Status s = engine.submit(data, 0);
    return s ? std::string("ok") : s.error().to_string();
}

TEST(Mp3Decode, SilentFramesDecodeAtTheirRateAndLayout) {
    for (bool mono : {true, false}) {
        auto decoded = audio_format::decode_mp3(silent_mp3(8, mono));
        ASSERT_TRUE(decoded) << decoded.error().to_string();
        EXPECT_EQ(decoded->rate, 44100u);
        EXPECT_EQ(decoded->channels, mono ? 1u : 2u);
        const size_t frames = decoded->samples.size() / decoded->channels;
        // The decoder may hold back a frame at the very start or end of a stream.
        EXPECT_GE(frames, 6u * 1152);
        EXPECT_LE(frames, 8u * 1152);
        EXPECT_EQ(decoded->samples.size() % decoded->channels, 0u);
    }
}

TEST(Mp3Submit, PlaysAsSilenceAndCountsNoNonzeroValues) {
    AudioEngine engine;
    ASSERT_TRUE(engine.submit(silent_mp3(8, true), 0));
    EXPECT_TRUE(engine.active);
    EXPECT_GE(played(engine).size(), 2u * 6 * 1152);
    EXPECT_EQ(engine.nonzero_samples, 0u);
    EXPECT_GE(engine.frames_queued, 6u * 1152) << "counted once decoded to its end";
}

TEST(Mp3Submit, AnId3TagInFrontIsSkipped) {
    std::vector<u8> data{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 10};  // ID3v2.4, 10 bytes of tag body
    data.insert(data.end(), 10, 0);
    auto frames = silent_mp3(6, false);
    data.insert(data.end(), frames.begin(), frames.end());
    AudioEngine engine;
    Status s = engine.submit(data, 0);
    ASSERT_TRUE(s) << s.error().to_string();
    EXPECT_GT(engine.queued_values(), 0u);
}

TEST(Mp3Submit, SyncWithoutAStreamIsRefused) {
    EXPECT_EQ(submit_error({0xFF, 0xF3}), "failed to probe MP3 stream");
    EXPECT_EQ(submit_error({0xFF, 0xFB, 0x90, 0x00, 1, 2, 3}), "failed to probe MP3 stream");
    EXPECT_EQ(submit_error({'I', 'D', '3'}), "failed to probe MP3 stream");
    std::vector<u8> noise(4096);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<u8>(i * 131 + 7);
    noise[0] = 0xFF;
    noise[1] = 0xE2;
    EXPECT_NE(submit_error(noise), "ok");
}

TEST(Mp3Submit, ARateChangeMidStreamIsRefused) {
    auto data = silent_mp3(4, false);
    // MPEG-1 Layer III at 48 kHz, 128 kbit/s: 384 bytes per frame.
    for (int i = 0; i < 4; ++i) {
        const u8 header[4] = {0xFF, 0xFB, 0x94, 0x00};
        data.insert(data.end(), header, header + 4);
        data.insert(data.end(), 384 - 4, 0);
    }
    EXPECT_EQ(submit_error(data), "MP3 stream changed audio format while decoding");
}

TEST(Mp3Decode, LongStreamsDecodeWholeChunkByChunk) {
    // 60 s of mono silence (2297 frames of 1152 samples).
    const size_t frames = 60 * 44100 / 1152 + 1;
    const auto data = silent_mp3(frames, true);
    auto decoded = audio_format::decode_mp3(data);
    ASSERT_TRUE(decoded) << decoded.error().to_string();
    EXPECT_GE(decoded->samples.size(), (frames - 2) * 1152);
    EXPECT_LE(decoded->samples.size(), frames * 1152);

    AudioEngine engine;
    ASSERT_TRUE(engine.submit(data, 0));
    EXPECT_EQ(played(engine).size(), 2 * decoded->samples.size()) << "every frame plays";
}

}  // namespace
}  // namespace tarvel::test
