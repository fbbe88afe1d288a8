// The parts of tarvel-run that turn a script into what the core reads: event
// parsing, the input of a frame, pointer positions, and the files it writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "e2e/runner.hpp"
#include "support/temp_dir.hpp"
#include "headless_frontend.hpp"
#include "input_script.hpp"
#include "libretro/input_mapping.hpp"
#include "machine/input_state.hpp"
#include "png_image.hpp"
#include "wav_writer.hpp"

namespace tarvel::e2e {
namespace {

using tarvel_run::add_option_event;
using tarvel_run::add_script_text;
using tarvel_run::input_at;
using tarvel_run::InputScript;
using tarvel_run::pointer_coordinate;
using ::testing::HasSubstr;

TEST(InputScriptEvents, OptionAndScriptFormsGiveTheSameEvents) {
    InputScript from_options;
    ASSERT_FALSE(add_option_event(from_options, "press", "10:A:3"));
    ASSERT_FALSE(add_option_event(from_options, "key", "20:return"));
    ASSERT_FALSE(add_option_event(from_options, "touch", "30:12:340:2"));
    ASSERT_FALSE(add_option_event(from_options, "drag", "40:0:0:100:50:11"));
    ASSERT_FALSE(add_option_event(from_options, "screenshot", "12:/tmp/a:b.png"));

    InputScript from_text;
    ASSERT_FALSE(add_script_text(from_text,
                                 "# a comment line\n"
                                 "press 10 a 3   # hold A\n"
                                 "\n"
                                 "key 20 Return\n"
                                 "touch 30 12 340 2\n"
                                 "drag\t40 0 0 100 50 11\n"
                                 "screenshot 12 /tmp/a:b.png\n",
                                 "s"));
    for (const InputScript* s : {&from_options, &from_text}) {
        ASSERT_EQ(s->buttons.size(), 1u);
        EXPECT_EQ(s->buttons[0].id, unsigned{RETRO_DEVICE_ID_JOYPAD_A});
        EXPECT_EQ(s->buttons[0].frame, 10);
        EXPECT_EQ(s->buttons[0].frames, 3);
        ASSERT_EQ(s->keys.size(), 1u);
        EXPECT_EQ(s->keys[0].keycode, unsigned{RETROK_RETURN});
        EXPECT_EQ(s->keys[0].frames, 6) << "a hold lasts one application tick unless told otherwise";
        ASSERT_EQ(s->touches.size(), 2u);
        ASSERT_EQ(s->screenshots.size(), 1u);
        EXPECT_EQ(s->screenshots[0].path, "/tmp/a:b.png") << "only the first ':' separates the frame";
        EXPECT_EQ(s->last_input_frame(), 50);
    }
}

TEST(InputScriptEvents, MistakesAreNamedWithTheirLine) {
    InputScript script;
    auto error = add_script_text(script, "press 1 a\npress 0 a\n", "moves.txt");
    ASSERT_TRUE(error);
    EXPECT_THAT(*error, HasSubstr("moves.txt:2"));
    EXPECT_THAT(*error, HasSubstr("frame number is 1 or more"));

    EXPECT_THAT(add_option_event(script, "press", "5:turbo").value_or(""), HasSubstr("no joypad button \"turbo\""));
    EXPECT_THAT(add_option_event(script, "key", "5:ctrl").value_or(""), HasSubstr("no keyboard key"));
    EXPECT_THAT(add_option_event(script, "touch", "5:10").value_or(""), HasSubstr("FRAME X Y"));
    EXPECT_THAT(add_option_event(script, "touch", "5:-3:10").value_or(""), HasSubstr("pixel number"));
    EXPECT_THAT(add_option_event(script, "press", "5:a:0").value_or(""), HasSubstr("number of frames"));
    EXPECT_THAT(add_option_event(script, "press", "5x:a").value_or(""), HasSubstr("frame number"));
    EXPECT_THAT(add_option_event(script, "screenshot", "end").value_or(""), HasSubstr("FRAME:PATH"));
    EXPECT_THAT(add_script_text(script, "jump 3 a\n", "x").value_or(""), HasSubstr("unknown event \"jump\""));
    EXPECT_EQ(script.buttons.size(), 1u) << "only the first, valid line was added";
}

TEST(FrameInputs, HoldsCoverTheirFramesOnly) {
    InputScript script;
    ASSERT_FALSE(add_option_event(script, "press", "10:a:3"));
    ASSERT_FALSE(add_option_event(script, "press", "11:l2:1"));
    ASSERT_FALSE(add_option_event(script, "key", "12:q:2"));
    EXPECT_EQ(input_at(script, 9).joypad, 0);
    EXPECT_EQ(input_at(script, 10).joypad, 1 << RETRO_DEVICE_ID_JOYPAD_A);
    EXPECT_EQ(input_at(script, 11).joypad, (1 << RETRO_DEVICE_ID_JOYPAD_A) | (1 << RETRO_DEVICE_ID_JOYPAD_L2));
    EXPECT_EQ(input_at(script, 12).joypad, 1 << RETRO_DEVICE_ID_JOYPAD_A);
    EXPECT_EQ(input_at(script, 13).joypad, 0);
    EXPECT_TRUE(input_at(script, 11).keys.empty());
    EXPECT_THAT(input_at(script, 13).keys, ::testing::ElementsAre(unsigned{RETROK_q}));
    EXPECT_TRUE(input_at(script, 14).keys.empty());
}

TEST(FrameInputs, DragsMoveInAStraightLineAndALaterTouchTakesOver) {
    InputScript script;
    ASSERT_FALSE(add_option_event(script, "drag", "1:0:100:100:0:11"));
    ASSERT_FALSE(add_option_event(script, "touch", "6:5:7:2"));
    auto first = input_at(script, 1);
    EXPECT_TRUE(first.touching);
    EXPECT_EQ(first.x, 0);
    EXPECT_EQ(first.y, 100);
    auto middle = input_at(script, 6);
    EXPECT_EQ(middle.x, 5) << "the touch that started later wins";
    auto after = input_at(script, 8);
    EXPECT_EQ(after.x, 70);
    EXPECT_EQ(after.y, 30);
    auto last = input_at(script, 11);
    EXPECT_EQ(last.x, 100);
    EXPECT_EQ(last.y, 0);
    EXPECT_FALSE(input_at(script, 12).touching);
}

// Every pixel of both frame shapes, through the core's own mapping: the
// position tarvel-run reports lands on the pixel it was asked for.
TEST(PointerPositions, EveryPixelReachesTheCoreAsThatPixel) {
    for (int sx = 0; sx < 400; ++sx)
        for (int sy : {0, 1, 119, 120, 239}) {
            auto guest = libretro::pointer_to_guest(pointer_coordinate(sx, 400), pointer_coordinate(sy, 240),
                                                    Orientation::Landscape);
            ASSERT_EQ(guest.x, static_cast<u32>(239 - sy)) << sx << "," << sy;
            ASSERT_EQ(guest.y, static_cast<u32>(sx)) << sx << "," << sy;
        }
    for (int sy = 0; sy < 400; ++sy)
        for (int sx = 0; sx < 240; ++sx) {
            auto guest = libretro::pointer_to_guest(pointer_coordinate(sx, 240), pointer_coordinate(sy, 400),
                                                    Orientation::Portrait);
            ASSERT_EQ(guest.x, static_cast<u32>(sx));
            ASSERT_EQ(guest.y, static_cast<u32>(sy));
        }
    EXPECT_EQ(pointer_coordinate(-5, 240), pointer_coordinate(0, 240)) << "off-screen positions clamp";
    EXPECT_EQ(pointer_coordinate(999, 240), pointer_coordinate(239, 240));
}

// The headless frontend answers the core's reads from the script; the
// core's keypad sampling turns them into the handheld's keys.
TEST(HeadlessInput, ScriptedButtonsAndKeysReachTheKeypad) {
    InputScript script;
    ASSERT_FALSE(add_option_event(script, "press", "1:l2:1"));
    ASSERT_FALSE(add_option_event(script, "key", "1:7:1"));
    ASSERT_FALSE(add_option_event(script, "press", "2:select"));
    ASSERT_FALSE(add_option_event(script, "press", "2:a"));
    ASSERT_FALSE(add_option_event(script, "touch", "3:120:200:1"));
    tarvel_run::HeadlessFrontend frontend({}, &script, nullptr);
    tarvel_run::CoreApi api{};
    api.set_environment = [](retro_environment_t) {};
    api.set_video_refresh = [](retro_video_refresh_t) {};
    api.set_audio_sample = [](retro_audio_sample_t) {};
    api.set_audio_sample_batch = [](retro_audio_sample_batch_t) {};
    api.set_input_poll = [](retro_input_poll_t) {};
    static retro_input_state_t captured = nullptr;
    api.set_input_state = [](retro_input_state_t read) { captured = read; };
    frontend.attach(api);
    ASSERT_NE(captured, nullptr);

    frontend.begin_frame(1);
    EXPECT_EQ(libretro::read_keypad(captured), machine::key_bit(machine::kKeyStar) | machine::key_bit(7));
    frontend.begin_frame(2);
    EXPECT_EQ(libretro::read_keypad(captured), machine::key_bit(5)) << "SELECT turns A into digit 5";

    machine::PointerState pointer;
    frontend.begin_frame(3);
    libretro::sample_pointer(captured, Orientation::Portrait, pointer);
    EXPECT_TRUE(pointer.pressed);
    EXPECT_EQ(pointer.x, 120u);
    EXPECT_EQ(pointer.y, 200u);
    pointer.pressed = false;
    frontend.begin_frame(4);
    libretro::sample_pointer(captured, Orientation::Portrait, pointer);
    EXPECT_TRUE(pointer.released) << "the lifted finger is reported where it was, so the release counts";
    EXPECT_FALSE(pointer.down);
}

TEST(RunTotals, OnlyTheCompleteLineCounts) {
    auto totals = tarvel_run::parse_run_totals("Machine ran 50 ticks and 123456789012 guest instructions");
    ASSERT_TRUE(totals);
    EXPECT_EQ(totals->ticks, 50u);
    EXPECT_EQ(totals->instructions, 123456789012u);
    EXPECT_FALSE(tarvel_run::parse_run_totals("Machine ran 50 ticks and 12 guest instructions later"));
    EXPECT_FALSE(tarvel_run::parse_run_totals("Machine ran many ticks"));
}

TEST(OutputFiles, PngKeepsEveryPixelAndWavHeaderCountsTheFrames) {
    test::TempDir dir;
    tarvel_run::Picture picture;
    picture.width = 3;
    picture.height = 2;
    picture.pixels = {0xFF000000, 0xFFFFFFFF, 0xFF123456, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    ASSERT_EQ(tarvel_run::write_png(dir.path() + "/p.png", picture), "");
    tarvel_run::Picture back;
    std::string error;
    ASSERT_TRUE(tarvel_run::read_png(dir.path() + "/p.png", back, error)) << error;
    EXPECT_EQ(back, picture);
    EXPECT_FALSE(tarvel_run::read_png(dir.path() + "/missing.png", back, error));
    EXPECT_NE(tarvel_run::write_png(dir.path() + "/empty.png", tarvel_run::Picture{}), "");

    tarvel_run::WavWriter wav;
    ASSERT_EQ(wav.open(dir.path() + "/a.wav", 44100), "");
    const int16_t samples[] = {1, -1, 0x1234, -0x1234};
    wav.write(samples, 2);
    wav.write(samples, 1);
    ASSERT_EQ(wav.close(), "");
    std::string bytes = read_file(dir.path() + "/a.wav");
    ASSERT_EQ(bytes.size(), 44u + 12u);
    auto u32_at = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
        return v;
    };
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(u32_at(4), 36u + 12u);
    EXPECT_EQ(u32_at(24), 44100u);
    EXPECT_EQ(u32_at(28), 44100u * 4u) << "bytes per second of 16-bit stereo";
    EXPECT_EQ(u32_at(40), 12u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[44 + 4]), 0x34) << "samples are little-endian";
    EXPECT_EQ(static_cast<uint8_t>(bytes[44 + 5]), 0x12);
}

}  // namespace
}  // namespace tarvel::e2e
