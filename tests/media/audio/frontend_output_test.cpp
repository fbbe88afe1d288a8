// A sound given to the running machine's engine reaches the frontend's audio
// batch, scaled by the game's volume and then the core option's, and a reset
// starts a new engine.
#include <libretro.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "media/audio/sound_data.hpp"
#include "support/temp_dir.hpp"
#include "support/test_frontend.hpp"
#include "libretro/core_state.hpp"
#include "libretro/guest_app.hpp"

namespace tarvel::test {
namespace {

AudioEngine& engine() { return libretro::core_state()->machine->audio_engine; }

TEST(AudioOutput, SubmittedSoundComesOutOfRetroRun) {
    TestFrontend frontend;
    frontend.refuse(RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY);
    frontend.set_variable("tarvel_volume", "50");
    frontend.start();
    TempDir dir;
    ASSERT_TRUE(frontend.load(dir.write("app.cbe", guest_app())));
    EXPECT_EQ(engine().volume, 100u) << "the game has set no volume of its own";

    frontend.run();
    ASSERT_EQ(frontend.audio_batches().size(), 1u);
    EXPECT_EQ(frontend.audio_batches()[0], std::vector<int16_t>(1470, 0)) << "nothing plays yet";

    // 1000 frames of 20000 on the left and -20000 on the right.
    std::vector<i16> samples;
    for (int i = 0; i < 1000; ++i) samples.insert(samples.end(), {20000, -20000});
    ASSERT_TRUE(engine().submit(wav(samples, {1, 2, 44100, 16}), 0));
    frontend.run(2);
    ASSERT_EQ(frontend.audio_batches().size(), 3u);
    const i16 left = static_cast<i16>(static_cast<i16>(20000.0f / 32768.0f * 32767.0f) * 50 / 100);
    const auto& first = frontend.audio_batches()[1];
    ASSERT_EQ(first.size(), 1470u);
    EXPECT_EQ(first[0], left) << "volume applied once";
    EXPECT_EQ(first[1], -left);
    const auto& second = frontend.audio_batches()[2];
    EXPECT_EQ(second[529], -left);
    EXPECT_EQ(second[530], 0);
    EXPECT_FALSE(engine().active);

    // The game's volume and the option multiply; an option change leaves the
    // game's volume alone.
    engine().set_volume(20);
    frontend.set_variable("tarvel_volume", "80");
    frontend.set_variables_updated();
    frontend.run();
    EXPECT_EQ(engine().volume, 20u);
    ASSERT_TRUE(engine().submit(wav(samples, {1, 2, 44100, 16}), 0));
    frontend.run();
    const i16 full = static_cast<i16>(20000.0f / 32768.0f * 32767.0f);
    EXPECT_EQ(frontend.audio_batches().back()[0], static_cast<i16>(static_cast<i16>(full * 20 / 100) * 80 / 100));
    engine().stop();

    ASSERT_TRUE(engine().submit(wav(samples, {1, 2, 44100, 16}), 0));
    retro_reset();
    EXPECT_EQ(engine().queued_values(), 0u) << "a reset builds a new engine";
    EXPECT_EQ(engine().volume, 100u);
    frontend.run();
    EXPECT_EQ(frontend.audio_batches().back(), std::vector<int16_t>(1470, 0));
    retro_unload_game();
}

}  // namespace
}  // namespace tarvel::test
