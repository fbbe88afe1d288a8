#include "libretro/presentation.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tarvel::libretro {
namespace {

// Hands out queued samples, at most what is asked for, and records the asks.
class QueueSource final : public AudioSampleSource {
public:
    explicit QueueSource(std::vector<i16> samples, size_t claim_extra = 0)
        : samples_(std::move(samples)), claim_extra_(claim_extra) {}
    size_t take_samples(std::span<i16> out) override {
        ++calls;
        const size_t n = std::min(out.size(), samples_.size() - taken_);
        std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(taken_), n, out.begin());
        taken_ += n;
        return n + claim_extra_;
    }
    int calls = 0;

private:
    std::vector<i16> samples_;
    size_t taken_ = 0;
    size_t claim_extra_;
};

std::array<i16, kAudioBatchSamples> batch_of(AudioSampleSource* source, u32 volume) {
    std::array<i16, kAudioBatchSamples> out;
    out.fill(0x5555);  // anything not overwritten would show
    build_audio_batch(source, volume, out);
    return out;
}

TEST(AudioVolume, TruncatesTowardZero) {
    EXPECT_EQ(apply_volume(-3, 50), -1);
    EXPECT_EQ(apply_volume(3, 50), 1);
    EXPECT_EQ(apply_volume(-1, 99), 0);
    EXPECT_EQ(apply_volume(199, 1), 1);
    EXPECT_EQ(apply_volume(-199, 1), -1);
    EXPECT_EQ(apply_volume(12345, 0), 0);
}

TEST(AudioVolume, FullScaleNeverWrapsEvenForAnOutOfRangeVolume) {
    EXPECT_EQ(apply_volume(32767, 100), 32767);
    EXPECT_EQ(apply_volume(-32768, 100), -32768);
    EXPECT_EQ(apply_volume(-32768, 70), -22937);
    // A volume above 100 (only from damaged state) plays at full volume.
    EXPECT_EQ(apply_volume(32767, 250), 32767);
    EXPECT_EQ(apply_volume(-32768, 0xFFFFFFFFu), -32768);
    EXPECT_EQ(apply_volume(1000, 101), 1000);
}

TEST(AudioBatch, NoSourceIsAFullBlockOfSilence) {
    auto out = batch_of(nullptr, 100);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](i16 s) { return s == 0; }));
    EXPECT_EQ(kAudioFramesPerVideoFrame, 735u);
    EXPECT_EQ(out.size(), 1470u);
}

TEST(AudioBatch, ShortQueueComesFirstThenZeros) {
    QueueSource source({100, -100, 7, -7, 32767});
    auto out = batch_of(&source, 50);
    EXPECT_EQ(source.calls, 1);
    EXPECT_EQ(std::vector<i16>(out.begin(), out.begin() + 5), (std::vector<i16>{50, -50, 3, -3, 16383}));
    EXPECT_TRUE(std::all_of(out.begin() + 5, out.end(), [](i16 s) { return s == 0; }));
}

TEST(AudioBatch, TakesAtMostOneBatchAndLeavesTheRestQueued) {
    std::vector<i16> samples(2000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<i16>(i);
    QueueSource source(samples);
    auto first = batch_of(&source, 100);
    EXPECT_EQ(first.front(), 0);
    EXPECT_EQ(first.back(), 1469);
    auto second = batch_of(&source, 100);
    EXPECT_EQ(second[0], 1470);
    EXPECT_EQ(second[529], 1999);
    EXPECT_EQ(second[530], 0);
}

TEST(AudioBatch, ASourceOverstatingItsCountCannotOverrun) {
    QueueSource source(std::vector<i16>(1470, 10), 500);
    auto out = batch_of(&source, 100);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](i16 s) { return s == 10; }));
}

// The presenter hands its buffers to the frontend callbacks.
struct Captured {
    static inline int video_calls = 0, audio_calls = 0;
    static inline unsigned width = 0, height = 0;
    static inline size_t pitch = 0, frames = 0;
    static inline u32 first_pixel = 0, last_pixel = 0;
    static inline i16 first_sample = 0;

    static void video(const void* data, unsigned w, unsigned h, size_t p) {
        ++video_calls;
        width = w;
        height = h;
        pitch = p;
        const u32* pixels = static_cast<const u32*>(data);
        first_pixel = pixels[0];
        last_pixel = pixels[(h - 1) * (p / 4) + w - 1];
    }
    static size_t audio(const int16_t* data, size_t n) {
        ++audio_calls;
        frames = n;
        first_sample = data[0];
        return n;
    }
};

TEST(PresenterTest, DeliversFramesWithTheRightShapeAndAudioBlocks) {
    std::vector<u8> screen(machine::kScreenBufferBytes);
    store_le16(&screen[0], 0xF800);                               // guest (0, 0)
    store_le16(&screen[machine::kScreenBufferBytes - 2], 0x001F);           // guest (239, 399)
    store_le16(&screen[2 * machine::kScreenWidth - 2], 0x07E0);       // guest (239, 0)
    store_le16(&screen[2 * (399 * machine::kScreenWidth)], 0xFFFF);   // guest (0, 399)
    Presenter presenter;

    presenter.present_video(&Captured::video, screen.data(), screen.size(), false, Orientation::Portrait);
    EXPECT_EQ(Captured::video_calls, 1);
    EXPECT_EQ(Captured::width, 240u);
    EXPECT_EQ(Captured::height, 400u);
    EXPECT_EQ(Captured::pitch, 960u);
    EXPECT_EQ(Captured::first_pixel, 0xFFFF0000u);
    EXPECT_EQ(Captured::last_pixel, 0xFF0000FFu);

    presenter.present_video(&Captured::video, screen.data(), screen.size(), false, Orientation::Landscape);
    EXPECT_EQ(Captured::width, 400u);
    EXPECT_EQ(Captured::height, 240u);
    EXPECT_EQ(Captured::pitch, 1600u);
    EXPECT_EQ(Captured::first_pixel, 0xFF00FF00u);
    EXPECT_EQ(Captured::last_pixel, 0xFFFFFFFFu);

    QueueSource source({-3, 3});
    presenter.present_audio(&Captured::audio, &source, 50);
    EXPECT_EQ(Captured::audio_calls, 1);
    EXPECT_EQ(Captured::frames, 735u);
    EXPECT_EQ(Captured::first_sample, -1);
    EXPECT_EQ(presenter.audio()[1], 1);
}

TEST(PresenterTest, MissingCallbacksStillBuildTheOutput) {
    Presenter presenter;
    std::vector<u8> screen(machine::kScreenBufferBytes, 0xFF);
    presenter.present_video(nullptr, screen.data(), screen.size(), true, Orientation::Portrait);
    EXPECT_EQ(presenter.frame()[12345], 0xFFFFFFFFu);
    QueueSource source({9});
    presenter.present_audio(nullptr, &source, 100);
    EXPECT_EQ(presenter.audio()[0], 9);
}

}  // namespace
}  // namespace tarvel::libretro
