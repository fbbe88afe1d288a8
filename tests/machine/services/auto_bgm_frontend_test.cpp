// The Auto BGM through the entry points: a loaded game with a packaged MIDI
// resource, the core option on, off and switched while running, and the
// guest taking the audio over with its first audio call.
#include <libretro.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "media/audio/sound_data.hpp"
#include "media/audio/midi_files.hpp"
#include "cbe_writer/cbe_writer.hpp"
#include "support/temp_dir.hpp"
#include "support/test_frontend.hpp"
#include "support/thumb_program.hpp"

namespace tarvel::test {
namespace {

constexpr u32 kCodeBase = 0x01000000;
constexpr u32 kDataOffset = 0x2000;
constexpr const char* kAutoBgm = "tarvel_auto_bgm";

std::vector<u8> music() {
    using namespace midi_test;
    // Ten seconds of one note: it plays through every frame these tests run.
    return wrapped(10, smf(96, {cat({note_on(0, 69, 120), note_off(1920, 69), end_of_track()})}));
}

// An application with one screen whose logic asks the audio service for its
// state when a key is pressed (event 0), and a MIDI resource after a WAV one.
std::vector<u8> app_with_music() {
    ThumbProgram p(kCodeBase);
    p.ldr_label(0, "entry");
    p.ldr_const(1, 0x0A000000);
    p.str(0, 1, 0);
    p.bx(14);

    p.label("entry");
    p.push_lr();
    p.ldr_const(0, kCodeBase + kDataOffset);
    p.call_service(14, 4);  // push the screen
    p.pop_pc();

    p.label("screen_init");
    p.bx(14);

    p.label("logic");
    p.cmp(1, 0);
    p.bne_skip(4);
    p.push_lr();
    p.call_service(18, 8);
    p.pop_pc();
    p.bx(14);

    std::vector<u8> code = p.finish();
    std::vector<u8> record(28, 0);
    store_le32(record.data() + 0, p.address("screen_init"));
    store_le32(record.data() + 8, p.address("logic"));

    cbe_writer::SinglePackageSpec resources;
    resources.package.resources = {cbe_writer::resource("click.wav", wav_constant(10, 100)),
                                   cbe_writer::resource("music/Title.Mid", music())};
    cbe_writer::CbeBuilder b;
    b.code = code;
    b.data_offset = kDataOffset;
    b.data_size = 0x1000;
    b.init_data = record;
    b.embedded = {0x10, 0x20, 0x30, 0x40};
    b.resource_package = cbe_writer::encode_single_package(resources);
    return b.build();
}

bool batch_is_silent(const std::vector<int16_t>& batch) {
    return std::all_of(batch.begin(), batch.end(), [](int16_t v) { return v == 0; });
}

class AutoBgmFrontend : public ::testing::Test {
protected:
    void load(const char* option) {
        frontend.set_variable(kAutoBgm, std::string(option));
        frontend.start();
        ASSERT_TRUE(frontend.load(dir.write("music.cbe", app_with_music())))
            << ::testing::PrintToString(frontend.log_summary());
    }
    // Whether the last frame's audio had any sound in it.
    bool last_frame_sounds() {
        const auto& batches = frontend.audio_batches();
        return !batches.empty() && !batch_is_silent(batches.back());
    }
    void switch_option(const char* value) {
        frontend.set_variable(kAutoBgm, std::string(value));
        frontend.set_variables_updated();
    }

    TestFrontend frontend;
    TempDir dir;
};

TEST_F(AutoBgmFrontend, OffByDefaultAndWhenDisabled) {
    load("disabled");
    frontend.run(20);
    for (const auto& batch : frontend.audio_batches()) EXPECT_TRUE(batch_is_silent(batch));
}

TEST_F(AutoBgmFrontend, PlaysFromTheFirstFrameAndStopsWhenSwitchedOff) {
    load("enabled");
    frontend.run(1);
    EXPECT_TRUE(last_frame_sounds());
    frontend.run(10);
    EXPECT_TRUE(last_frame_sounds());

    switch_option("disabled");
    frontend.run(1);
    EXPECT_FALSE(last_frame_sounds());
    frontend.run(5);
    EXPECT_FALSE(last_frame_sounds());

    switch_option("enabled");
    frontend.run(1);
    EXPECT_TRUE(last_frame_sounds());
}

TEST_F(AutoBgmFrontend, TheGuestsFirstAudioCallSilencesItUntilSwitchedOffAndOn) {
    load("enabled");
    frontend.run(3);
    ASSERT_TRUE(last_frame_sounds());

    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_A, true);  // the logic's audio call
    frontend.run(13);
    frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_A, false);
    EXPECT_FALSE(last_frame_sounds());
    frontend.run(12);
    EXPECT_FALSE(last_frame_sounds()) << "it does not come back on its own";

    // Re-applying the same options is not a switch-on.
    frontend.set_variables_updated();
    frontend.run(2);
    EXPECT_FALSE(last_frame_sounds());

    switch_option("disabled");
    frontend.run(1);
    switch_option("enabled");
    frontend.run(2);
    EXPECT_TRUE(last_frame_sounds());
}

// Run-ahead, rewind and netplay restore states all the time: a game that
// silenced the music must stay silent after a restore, and every restore must
// replay the same audio, whether taken while the music plays or after.
TEST_F(AutoBgmFrontend, RestoredStatesReplayTheSameAudio) {
    load("enabled");
    frontend.run(3);
    auto replay_from_here = [&](int frames, bool press) {
        std::vector<u8> state(retro_serialize_size());
        EXPECT_TRUE(retro_serialize(state.data(), state.size()));
        auto play = [&] {
            const size_t first = frontend.audio_batches().size();
            for (int i = 0; i < frames; ++i) {
                frontend.set_joypad(RETRO_DEVICE_ID_JOYPAD_A, press && i < 12);
                frontend.run(1);
            }
            return std::vector<std::vector<int16_t>>(frontend.audio_batches().begin() + first,
                                                     frontend.audio_batches().end());
        };
        const auto first = play();
        EXPECT_TRUE(retro_unserialize(state.data(), state.size()));
        const auto second = play();
        EXPECT_TRUE(first == second) << "the audio after the restore differs";
        return first;
    };
    const auto with_music = replay_from_here(30, true);  // the guest's audio call comes in between
    EXPECT_FALSE(batch_is_silent(with_music.front()));
    EXPECT_TRUE(batch_is_silent(with_music.back()));
    const auto silenced = replay_from_here(20, false);
    for (const auto& batch : silenced) EXPECT_TRUE(batch_is_silent(batch)) << "the music came back";
}

}  // namespace
}  // namespace tarvel::test
