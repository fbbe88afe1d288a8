// Group 18 as the guest sees it: sounds from guest buffers, files and
// packaged resources, the engine controls, bad guest pointers, and the Auto
// BGM's hand-over to the guest.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "media/audio/sound_data.hpp"
#include "media/audio/midi_files.hpp"
#include "machine/services/audio.hpp"
#include "machine/services/data.hpp"
#include "support/log_capture.hpp"
#include "support/test_machine.hpp"

namespace tarvel::machine::services::testing {
namespace {

using test::bytes_of;
using test::call;
using test::make_machine;
using test::put_string;
using test::wav_constant;
using test::wrapped;

constexpr u32 kPlayBuffer = 1;
constexpr u32 kPlayLooping = 2;
constexpr u32 kPlayForGame = 4;
constexpr u32 kPause = 5;
constexpr u32 kResume = 6;
constexpr u32 kStop = 7;
constexpr u32 kState = 8;
constexpr u32 kPlayByFile = 13;

// 100 stereo frames of one value: short enough to drain in one output frame.
std::vector<u8> short_sound(i16 value) { return wav_constant(100, value); }
// Two seconds: still playing after a few output frames.
std::vector<u8> long_sound(i16 value) { return wav_constant(88200, value); }

std::vector<u8> midi_music() {
    using namespace midi_test;
    return wrapped(10, smf(96, {cat({note_on(0, 60, 100), note_off(96, 60), end_of_track()})}));
}

bool frame_is_silent(AudioEngine& engine) {
    const auto frame = engine.render_frame();
    return std::all_of(frame.begin(), frame.end(), [](i16 v) { return v == 0; });
}

class AudioService : public ::testing::TestWithParam<bool> {
protected:
    AudioService()
        : m(make_machine({.big_endian = GetParam(),
                          .resources = {cbe_writer::resource("snd/BGM.wav", long_sound(2000)),
                                        cbe_writer::resource("snd/beep.wav", short_sound(1000)),
                                        cbe_writer::resource("snd/theme.MID", midi_music()),
                                        cbe_writer::resource("junk.bin", bytes_of("not a sound"))}})) {}

    u32 audio(u32 index, u32 r0 = 0, u32 r1 = 0) { return call(m, audio_service, index, r0, r1); }
    u32 text(std::string_view s) { return put_string(m, s); }
    u32 wide(std::u16string_view s) {
        const u32 block = m.heap.allocate(static_cast<u32>(s.size() * 2 + 2));
        for (size_t i = 0; i <= s.size(); ++i)
            m.memory.write16(block + static_cast<u32>(2 * i), i < s.size() ? s[i] : 0);
        return block;
    }
    u32 guest_bytes(const std::vector<u8>& bytes) {
        const u32 block = m.heap.allocate(static_cast<u32>(bytes.size()));
        m.memory.write_bytes(block, bytes);
        return block;
    }

    TarvelMachine m;
};

INSTANTIATE_TEST_SUITE_P(ByteOrders, AudioService, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "big_endian" : "little_endian"; });

TEST_P(AudioService, EngineControlsAndStateQuery) {
    EXPECT_EQ(audio(0, 250), 0u);
    EXPECT_EQ(m.audio_engine.volume, 100u);
    audio(0, 37);
    EXPECT_EQ(m.audio_engine.volume, 37u);

    EXPECT_EQ(audio(kState), 0u);
    ensure_main_package_copied(m);
    audio(kPlayForGame, 0, 0);
    EXPECT_EQ(audio(kState), 1u);
    for (u32 pause : {5u, 10u, 14u}) {
        audio(pause);
        EXPECT_EQ(audio(kState), 2u) << pause;
        EXPECT_TRUE(frame_is_silent(m.audio_engine));
        audio(pause + 1);
        EXPECT_EQ(audio(kState), 1u) << pause + 1;
    }
    for (u32 stop : {7u, 12u, 16u}) {
        audio(kPlayForGame, 0, 0);
        audio(stop);
        EXPECT_EQ(audio(kState), 0u) << stop;
        EXPECT_EQ(m.audio.current_sound_kind, AudioServiceState::kSoundOther);
    }
    // Indices without an operation leave the engine alone.
    audio(kPlayForGame, 0, 0);
    const u64 queued = m.audio_engine.queued_values();
    for (u32 index = 17; index <= 24; ++index) EXPECT_EQ(audio(index, 1, 1), 0u) << index;
    EXPECT_EQ(audio(26), 0u);
    EXPECT_EQ(m.audio_engine.queued_values(), queued);
}

TEST_P(AudioService, PlayForGameDoesNotRestartWhatIsPlaying) {
    ensure_main_package_copied(m);
    EXPECT_EQ(audio(kPlayForGame, 0, 0), 0u);
    EXPECT_EQ(m.audio.current_sound_kind, AudioServiceState::kSoundResource);
    EXPECT_EQ(m.audio.current_sound_resource, 0u);
    m.audio_engine.render_frame();
    const u64 left = m.audio_engine.queued_values();
    EXPECT_EQ(audio(kPlayForGame, 0, 0), 1u);
    EXPECT_EQ(m.audio_engine.queued_values(), left) << "neither restarted nor queued again";

    // Paused, it is queued again (and answers 0).
    audio(kPause);
    EXPECT_EQ(audio(kPlayForGame, 0, 0), 0u);
    EXPECT_GT(m.audio_engine.queued_values(), left);

    // Another number is queued behind it.
    EXPECT_EQ(audio(kPlayForGame, 1, 0), 0u);
    EXPECT_EQ(m.audio.current_sound_resource, 1u);
}

TEST_P(AudioService, LoopingPlayForGameThenStopIsSilent) {
    ensure_main_package_copied(m);
    audio(kPlayLooping, 1, 0);
    ASSERT_TRUE(m.audio_engine.loop_source.has_value());
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(frame_is_silent(m.audio_engine)) << "the loop restarts " << i;
    audio(kStop);
    EXPECT_FALSE(m.audio_engine.loop_source.has_value());
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(frame_is_silent(m.audio_engine));
    EXPECT_EQ(audio(kState), 0u);

    // Index 4 loops only with repeats; a buffer clears an earlier loop.
    audio(kPlayForGame, 1, 0);
    EXPECT_FALSE(m.audio_engine.loop_source.has_value());
    audio(kStop);
    audio(kPlayForGame, 1, 2);
    EXPECT_TRUE(m.audio_engine.loop_source.has_value());
    audio(kPlayBuffer, guest_bytes(wrapped(1, short_sound(500))), 0);
    EXPECT_FALSE(m.audio_engine.loop_source.has_value());
    EXPECT_EQ(m.audio.current_sound_kind, AudioServiceState::kSoundOther);
}

// With the enhanced sound, a one-shot sound of any of the three kinds while
// music loops is mixed over it: the loop source and the current sound stay
// the music's, so asking for the music again finds it playing.
TEST_P(AudioService, EnhancedSoundMixesOneShotsOverLoopingMusic) {
    ensure_main_package_copied(m);
    m.audio_engine.set_enhanced(true);
    audio(kPlayLooping, 0, 0);  // BGM.wav, 2000
    m.audio_engine.render_frame();
    audio(kPlayForGame, 1, 0);  // beep.wav, 1000 for 100 frames
    audio(kPlayBuffer, guest_bytes(wrapped(1, short_sound(500))), 0);
    audio(kPlayByFile, text("snd/beep.wav"), 0);
    EXPECT_EQ(m.audio_engine.effects.size(), 3u);
    EXPECT_EQ(m.audio_engine.sounds.size(), 1u) << "nothing queued behind the music";
    EXPECT_TRUE(m.audio_engine.loop_source.has_value());
    EXPECT_EQ(m.audio.current_sound_resource, 0u);
    EXPECT_EQ(audio(kPlayForGame, 0, 0), 1u) << "the music still plays";
    const auto frame = m.audio_engine.render_frame();
    EXPECT_EQ(frame[0], 1999 + 999 + 499 + 999);
    EXPECT_EQ(frame[300], 1999) << "the effects are over, the music goes on";

    // Stopped, nothing plays and the next one-shot is queued as usual.
    audio(kStop);
    audio(kPlayForGame, 1, 0);
    EXPECT_TRUE(m.audio_engine.effects.empty());
    EXPECT_EQ(m.audio_engine.sounds.size(), 1u);
}

TEST_P(AudioService, PlayForGameLooksUpThroughTheDirectoryAndItsNames) {
    test::LogCapture log;
    // Nothing copied into the guest and no directory: resource 0 is unknown.
    EXPECT_EQ(audio(kPlayForGame, 0, 0), 0u);
    EXPECT_TRUE(log.contains(log::Level::Warn, "PlayForGame: resource id 0 was not found"));
    EXPECT_EQ(audio(kState), 0u);

    // A directory that lists no data for entry 0 but names it: the name's
    // file part picks the packaged resource.
    const u32 name = text("other\\BEEP.WAV");
    const u32 names = m.heap.allocate(4);
    m.memory.write32(names, name);
    const u32 data = m.heap.allocate(4);
    m.memory.write32(data, 0);
    const u32 record = m.heap.allocate(kResourceDirectorySize);
    m.memory.write16(record + directory::kCount, 1);
    m.memory.write32(record + directory::kNames, names);
    m.memory.write32(record + directory::kData, data);
    m.memory.write32(kResourceDirectoryWord, record);
    EXPECT_EQ(audio(kPlayForGame, 0, 0), 0u);
    EXPECT_EQ(m.audio_engine.frames_queued, 100u) << "beep.wav, not BGM.wav";

    ensure_main_package_copied(m);
    audio(kPlayForGame, 3, 0);
    EXPECT_TRUE(log.contains(log::Level::Warn, "PlayForGame rejected id=3: unrecognized audio data (11 bytes)"));
    EXPECT_EQ(m.audio.current_sound_kind, AudioServiceState::kSoundOther);
    audio(kPlayForGame, 1000, 0);
    EXPECT_TRUE(log.contains(log::Level::Warn, "PlayForGame: resource id 1000 was not found"));
}

TEST_P(AudioService, PlayByFilePrefersTheFilesystemThenResourceFileNames) {
    test::LogCapture log;
    m.file_system.files["sound/bgm.wav"] = short_sound(300);
    EXPECT_EQ(audio(kPlayByFile, text("Sound\\BGM.wav"), 1), 0u);
    EXPECT_EQ(m.audio_engine.frames_queued, 200u) << "the file, twice";
    EXPECT_TRUE(log.contains(log::Level::Debug, "PlayByFile queued path=Sound\\BGM.wav bytes=444 repeats=1"));

    m.file_system.files.clear();
    audio(kStop);
    EXPECT_EQ(audio(25, text("sound\\bgm.WAV"), 0), 0u);
    EXPECT_EQ(m.audio_engine.queued_values(), 88200u * 2) << "the packaged snd/BGM.wav";

    // The named packages after the main table; wide paths (which a
    // big-endian guest cannot tell from an empty narrow string when they
    // start with ASCII).
    m.resources.named_packages.push_back({"extra", {{"sfx/Click.wav", short_sound(100)}}});
    audio(kStop);
    audio(kPlayByFile, GetParam() ? text("/x/CLICK.wav") : wide(u"/x/CLICK.wav"), 0);
    EXPECT_EQ(m.audio_engine.queued_values(), 200u);

    audio(kPlayByFile, text("nothing.wav"), 0);
    EXPECT_TRUE(log.contains(log::Level::Warn, "PlayByFile: path nothing.wav was not found"));
    audio(kPlayByFile, text(""), 0);
    audio(kPlayByFile, 0, 0);
    EXPECT_EQ(log.count(log::Level::Warn, "PlayByFile: empty path"), 2u);
    audio(kPlayByFile, text("junk.bin"), 0);
    EXPECT_TRUE(log.contains(log::Level::Warn, "PlayByFile rejected path=junk.bin: unrecognized audio data (11 bytes)"));
}

TEST_P(AudioService, PlayBufferReadsTheWrapperFromGuestMemory) {
    test::LogCapture log;
    const std::vector<u8> sound = wrapped(1, short_sound(700));
    std::vector<u8> with_trailer = sound;
    with_trailer.insert(with_trailer.end(), 64, 0xAB);  // ignored: past the declared length
    EXPECT_EQ(audio(kPlayBuffer, guest_bytes(with_trailer), 2), 0u);
    EXPECT_EQ(m.audio_engine.frames_queued, 300u);
    EXPECT_EQ(m.audio_engine.bytes_submitted, sound.size());
    EXPECT_TRUE(log.contains(log::Level::Debug, "Guest audio queued (" + std::to_string(sound.size()) + " bytes)"));

    audio(9, guest_bytes(sound), 0);
    EXPECT_EQ(m.audio_engine.frames_queued, 400u);
}

TEST_P(AudioService, BadGuestBuffersAreWarningsNotFaults) {
    test::LogCapture log;
    // No memory at all: five zero bytes (an empty wrapper of type 0) reach
    // the engine and are refused.
    EXPECT_EQ(audio(kPlayBuffer, 0, 0), 0u);
    EXPECT_EQ(audio(kPlayBuffer, 0xFFFFFFFE, 0), 0u);
    EXPECT_EQ(log.count(log::Level::Warn, "Guest audio rejected: unknown audio resource type 0"), 2u);

    // A header at the very end of guest RAM declaring the largest length:
    // the copy is bounded and the missing bytes read as 0.
    const u32 header = kRamBase + kRamSize - 5;
    m.memory.write_bytes(header, std::vector<u8>{0x01, 0x00, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(audio(kPlayBuffer, header, 0), 0u);
    EXPECT_EQ(m.audio_engine.bytes_submitted, 10u + kMaxWrappedPayload + kWrapperHeaderBytes);
    EXPECT_FALSE(m.memory.unmapped_accesses().empty());
    EXPECT_EQ(audio(kState), 0u);
}

TEST_P(AudioService, AutoBgmPlaysTheFirstMidiUntilTheGuestTakesOver) {
    test::LogCapture log;
    run_auto_bgm(m);
    EXPECT_EQ(m.audio_engine.state(), 0u) << "the option is off";

    set_auto_bgm_option(m, true);
    run_auto_bgm(m);
    ASSERT_TRUE(m.audio.auto_bgm_cache.has_value());
    EXPECT_EQ(*m.audio.auto_bgm_cache, midi_music());
    EXPECT_EQ(m.audio_engine.state(), 1u);
    EXPECT_TRUE(log.contains(log::Level::Debug, "Auto BGM started (" + std::to_string(midi_music().size()) + " bytes)"));
    const u64 queued = m.audio_engine.queued_values();
    run_auto_bgm(m);
    EXPECT_EQ(m.audio_engine.queued_values(), queued) << "not queued again while it plays";

    // The next copy is queued while the last frame of this one plays, so it
    // follows without a gap.
    while (m.audio_engine.queued_values() >= kRenderValues) m.audio_engine.render_frame();
    const u64 last = m.audio_engine.queued_values();
    run_auto_bgm(m);
    EXPECT_EQ(m.audio_engine.queued_values(), last + queued);

    // The guest's first call (even a query) silences it for good.
    EXPECT_EQ(audio(kState), 0u);
    EXPECT_TRUE(m.audio.auto_bgm_suppressed);
    run_auto_bgm(m);
    EXPECT_EQ(m.audio_engine.state(), 0u);
    ensure_main_package_copied(m);
    audio(kPlayForGame, 1, 0);
    EXPECT_EQ(m.audio.current_sound_resource, 1u) << "later calls behave normally";
    const u64 before = m.audio_engine.frames_queued;
    m.audio_engine.render_frame();
    run_auto_bgm(m);
    set_auto_bgm_option(m, true);  // re-applied options: not a switch-on
    run_auto_bgm(m);
    EXPECT_EQ(m.audio_engine.frames_queued, before);

    // Off and on again: it plays until the guest's next call.
    set_auto_bgm_option(m, false);
    set_auto_bgm_option(m, true);
    run_auto_bgm(m);
    EXPECT_EQ(m.audio_engine.state(), 1u);
    audio(kResume);
    EXPECT_EQ(m.audio_engine.state(), 0u);
}

TEST_P(AudioService, AutoBgmOptionOffStopsOnlyItsOwnMusic) {
    set_auto_bgm_option(m, true);
    run_auto_bgm(m);
    set_auto_bgm_option(m, false);
    EXPECT_EQ(m.audio_engine.state(), 0u);

    // Once the guest owns the engine, switching the option off leaves its sound.
    set_auto_bgm_option(m, true);
    ensure_main_package_copied(m);
    audio(kPlayForGame, 0, 0);
    set_auto_bgm_option(m, false);
    EXPECT_EQ(m.audio_engine.state(), 1u);

    // Paused: the music waits.
    set_auto_bgm_option(m, true);
    m.audio_engine.stop();
    m.audio_engine.pause();
    run_auto_bgm(m);
    EXPECT_EQ(m.audio_engine.queued_values(), 0u);
}

TEST(AudioServiceAutoBgm, WithoutMidiNothingPlaysAndABadMidiIsTriedOnce) {
    TarvelMachine m = make_machine({.resources = {cbe_writer::resource("a.wav", short_sound(5))}});
    set_auto_bgm_option(m, true);
    run_auto_bgm(m);
    EXPECT_EQ(m.audio_engine.state(), 0u);
    EXPECT_FALSE(m.audio.auto_bgm_cache.has_value());

    // A MIDI that appears later (the search is repeated) but cannot be played.
    m.resources.main_table.push_back({"music/broken.midi", bytes_of("MThd garbage")});
    test::LogCapture log;
    for (int frame = 0; frame < 5; ++frame) run_auto_bgm(m);
    EXPECT_EQ(std::count_if(log.entries().begin(), log.entries().end(),
                            [](const test::CapturedLine& l) {
                                return l.level == log::Level::Warn && l.text.starts_with("Auto BGM rejected: ");
                            }),
              1);
    EXPECT_EQ(m.audio_engine.state(), 0u);
}

TEST(AudioServiceFileNames, MatchTheLastComponentIgnoringAsciiCase) {
    TarvelMachine m = make_machine({.resources = {cbe_writer::resource("a/b/Tone.WAV", bytes_of("1")),
                                                  cbe_writer::resource("tone.wav", bytes_of("2"))}});
    auto found = [&](std::string_view path) {
        auto data = find_resource_by_file_name(m, path);
        return data ? std::string(data->begin(), data->end()) : std::string("-");
    };
    EXPECT_EQ(found("TONE.wav"), "1") << "first in table order";
    EXPECT_EQ(found("x\\y/tone.wav"), "1");
    EXPECT_EQ(found("tone.wa"), "-");
    EXPECT_EQ(found("b"), "-");
    EXPECT_EQ(found(""), "-");
}

}  // namespace
}  // namespace tarvel::machine::services::testing
