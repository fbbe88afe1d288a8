// Our own small applications, built with the SDK in both byte orders, run by
// tarvel-run with scripted input; their frames are checked against golden
// pictures and against each other.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/golden.hpp"
#include "e2e/runner.hpp"

namespace tarvel::e2e {
namespace {

using ::testing::HasSubstr;
using tarvel_run::Picture;

#if defined(E2E_KEYPAD_LE_CBE) && defined(E2E_KEYPAD_BE_CBE) && defined(E2E_KEYPAD_ARM_BE_CBE) && \
    defined(E2E_TIMERS_LE_CBE) && defined(E2E_TIMERS_BE_CBE)
#define HAVE_E2E_APPS 1
#else
#define HAVE_E2E_APPS 0
#define E2E_KEYPAD_LE_CBE ""
#define E2E_KEYPAD_BE_CBE ""
#define E2E_KEYPAD_ARM_BE_CBE ""
#define E2E_TIMERS_LE_CBE ""
#define E2E_TIMERS_BE_CBE ""
#endif

constexpr uint32_t kMarker = 0xFFFF00FF;  // the keypad board's exact pen pixel

uint32_t pixel(const Picture& p, unsigned x, unsigned y) {
    return x < p.width && y < p.height ? p.pixels[size_t{y} * p.width + x] : 0;
}

class SdkApps : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HAVE_E2E_APPS) GTEST_SKIP() << "no ARM cross compiler in this build: the test applications were not built";
    }
};

// Joypad and keyboard through every layer: the press order shows in the event
// slots, and the held cell while a key is down.
RunSpec keypad_spec(const std::string& content) {
    RunSpec spec;
    spec.content = content;
    spec.frames = 120;
    spec.arguments = {"--press=1:a:12",   "--key=20:7",       "--press=40:select", "--press=40:a",
                      "--press=60:l2",    "--press=60:r2",    "--key=84:q",        "--key=84:e:12",
                      "--press=100:down", "--key=100:f"};
    spec.screenshots = {{12, "held"}, {66, "two_held"}};
    return spec;
}

TEST_F(SdkApps, KeypadBoardShowsHeldKeysAndEventOrder) {
    RunOutcome run = run_tarvel(keypad_spec(E2E_KEYPAD_LE_CBE));
    ASSERT_EQ(run.process.exit_code, 0) << run.process.output;
    EXPECT_TRUE(matches_golden("keypad_confirm_held", run.shots["held"]));
    EXPECT_TRUE(matches_golden("keypad_star_and_hash", run.shots["two_held"]));
    EXPECT_TRUE(matches_golden("keypad_events", run.shots["end"]));
}

TEST_F(SdkApps, ByteOrderAndInstructionSetDoNotChangeTheFrames) {
    RunOutcome little = run_tarvel(keypad_spec(E2E_KEYPAD_LE_CBE));
    RunOutcome big = run_tarvel(keypad_spec(E2E_KEYPAD_BE_CBE));
    RunOutcome big_arm = run_tarvel(keypad_spec(E2E_KEYPAD_ARM_BE_CBE));
    for (const RunOutcome* run : {&little, &big, &big_arm}) ASSERT_EQ(run->process.exit_code, 0) << run->process.output;
    for (const char* name : {"held", "two_held", "end"}) {
        ASSERT_FALSE(little.shots[name].pixels.empty()) << name;
        EXPECT_EQ(first_difference(little.shots[name], big.shots[name]), "") << name << ": big-endian Thumb";
        EXPECT_EQ(first_difference(little.shots[name], big_arm.shots[name]), "") << name << ": big-endian ARM";
    }
}

TEST_F(SdkApps, TouchInPortraitLandsOnTheTouchedPixel) {
    RunSpec spec;
    spec.content = E2E_KEYPAD_LE_CBE;
    spec.frames = 60;
    spec.arguments = {"--touch=1:100:250:12", "--drag=20:30:300:200:380:12"};
    spec.screenshots = {{12, "down"}, {28, "dragging"}};
    RunOutcome run = run_tarvel(spec);
    ASSERT_EQ(run.process.exit_code, 0) << run.process.output;
    EXPECT_EQ(pixel(run.shots["down"], 100, 250), kMarker);
    EXPECT_TRUE(matches_golden("touch_portrait_down", run.shots["down"]));
    EXPECT_TRUE(matches_golden("touch_portrait_drag", run.shots["dragging"]));
    EXPECT_TRUE(matches_golden("touch_portrait_lifted", run.shots["end"]));
}

// The landscape frame is the guest screen turned; a touch on the turned
// picture must reach the guest where the picture shows it.
TEST_F(SdkApps, TouchInLandscapeLandsOnTheTouchedPixel) {
    RunSpec spec;
    spec.content = E2E_KEYPAD_BE_CBE;
    spec.frames = 12;
    spec.arguments = {"-o", "tarvel_screen_orientation=landscape", "--touch=1:300:60:12"};
    RunOutcome run = run_tarvel(spec);
    ASSERT_EQ(run.process.exit_code, 0) << run.process.output;
    const Picture& frame = run.shots["end"];
    ASSERT_EQ(frame.width, 400u);
    ASSERT_EQ(frame.height, 240u);
    EXPECT_EQ(pixel(frame, 300, 60), kMarker);
    EXPECT_TRUE(matches_golden("touch_landscape", frame));
}

// Without text on it, the landscape frame is exactly the portrait frame
// turned: presented pixel (x, y) is guest pixel (239 - y, x).
TEST_F(SdkApps, LandscapeFrameIsThePortraitFrameTurned) {
    RunSpec spec = keypad_spec(E2E_KEYPAD_LE_CBE);
    spec.screenshots.clear();
    RunOutcome upright = run_tarvel(spec);
    spec.arguments.insert(spec.arguments.begin(), {"-o", "tarvel_screen_orientation=landscape"});
    RunOutcome turned = run_tarvel(spec);
    ASSERT_EQ(upright.process.exit_code, 0) << upright.process.output;
    ASSERT_EQ(turned.process.exit_code, 0) << turned.process.output;
    const Picture& guest = upright.shots["end"];
    const Picture& shown = turned.shots["end"];
    ASSERT_EQ(guest.width, 240u);
    ASSERT_EQ(shown.width, 400u);
    ASSERT_EQ(shown.height, 240u);
    size_t differing = 0;
    for (unsigned y = 0; y < 240; ++y)
        for (unsigned x = 0; x < 400; ++x) differing += pixel(shown, x, y) != pixel(guest, 239 - y, x);
    EXPECT_EQ(differing, 0u);
}

TEST_F(SdkApps, TimersAndScreenStackFollowTheKeys) {
    for (const char* content : {E2E_TIMERS_LE_CBE, E2E_TIMERS_BE_CBE}) {
        SCOPED_TRACE(content);
        RunSpec spec;
        spec.content = content;
        spec.frames = 150;
        // confirm pushes the checkerboard, the right soft key removes it,
        // the left soft key ends the application.
        spec.arguments = {"--press=31:a", "--key=61:e", "--key=91:q"};
        spec.screenshots = {{30, "stripes"}, {60, "checkers"}, {84, "back"}};
        RunOutcome run = run_tarvel(spec);
        ASSERT_EQ(run.process.exit_code, 0) << run.process.output;
        EXPECT_TRUE(matches_golden("timers_stripes", run.shots["stripes"]));
        EXPECT_TRUE(matches_golden("timers_checkers", run.shots["checkers"]));
        EXPECT_TRUE(matches_golden("timers_back", run.shots["back"]));
        EXPECT_NE(first_difference(run.shots["stripes"], run.shots["back"]), "") << "the timer kept shifting the stripes";
        ASSERT_TRUE(run.summary) << run.process.output;
        EXPECT_LT(run.summary->ticks, 25u) << "no ticks run once the application ended";
    }
}

TEST_F(SdkApps, ScriptFileDrivesTheSameRunAsOptions) {
    RunSpec from_options = keypad_spec(E2E_KEYPAD_LE_CBE);
    RunSpec from_script = from_options;
    from_script.arguments = {"--script", std::string(TARVEL_E2E_SCRIPT_DIR) + "/keypad_board.txt"};
    RunOutcome a = run_tarvel(from_options);
    RunOutcome b = run_tarvel(from_script);
    ASSERT_EQ(b.process.exit_code, 0) << b.process.output;
    for (const char* name : {"held", "two_held", "end"})
        EXPECT_EQ(first_difference(a.shots[name], b.shots[name]), "") << name;
}

TEST_F(SdkApps, SameRunTwiceGivesTheSameFramesAudioAndCounts) {
    RunSpec spec = keypad_spec(E2E_KEYPAD_BE_CBE);
    spec.arguments.push_back("--drag=30:10:10:230:390:40");
    spec.wav = true;
    RunOutcome first = run_tarvel(spec);
    RunOutcome second = run_tarvel(spec);
    ASSERT_EQ(first.process.exit_code, 0) << first.process.output;
    ASSERT_EQ(second.process.exit_code, 0) << second.process.output;
    for (const char* name : {"held", "two_held", "end"})
        EXPECT_EQ(first_difference(first.shots[name], second.shots[name]), "") << name;
    EXPECT_EQ(first.wav.size(), 44u + 120u * 735u * 4u) << "735 stereo frames per video frame";
    EXPECT_TRUE(first.wav == second.wav);
    ASSERT_TRUE(first.summary && second.summary);
    EXPECT_EQ(first.summary->instructions, second.summary->instructions);
}

TEST_F(SdkApps, SummaryCountsFramesTicksAndInstructions) {
    RunSpec spec;
    spec.content = E2E_KEYPAD_LE_CBE;
    spec.frames = 61;
    RunOutcome run = run_tarvel(spec);
    ASSERT_EQ(run.process.exit_code, 0) << run.process.output;
    ASSERT_TRUE(run.summary) << run.process.output;
    EXPECT_EQ(run.summary->frames, 61);
    EXPECT_EQ(run.summary->ticks, 10u) << "one tick every six frames";
    EXPECT_GT(run.summary->instructions, 1000u);
    EXPECT_LE(run.summary->mean_ms, run.summary->worst_ms);
    EXPECT_THAT(run.process.output, HasSubstr("[core] INFO: Game loaded: "));
    EXPECT_THAT(run.process.output, ::testing::Not(HasSubstr("[core] DEBUG:"))) << "debug lines only with -v";

    spec.arguments = {"-v"};
    spec.frames = 1;
    EXPECT_THAT(run_tarvel(spec).process.output, HasSubstr("[core] DEBUG: Machine ran 0 ticks and "));

    spec.arguments = {"-o", "tarvel_debug_logging=disabled"};
    RunOutcome quiet = run_tarvel(spec);
    EXPECT_EQ(quiet.process.exit_code, 0);
    EXPECT_THAT(quiet.process.output, HasSubstr("ticks and guest instructions unknown"));
}

TEST_F(SdkApps, BadRequestsFailClearly) {
    RunSpec spec;
    spec.content = E2E_KEYPAD_LE_CBE;
    spec.arguments = {"--press=5:turbo"};
    RunOutcome bad_button = run_tarvel(spec);
    EXPECT_EQ(bad_button.process.exit_code, 2);
    EXPECT_THAT(bad_button.process.output, HasSubstr("no joypad button \"turbo\""));

    spec.arguments = {"--screenshot=61:/tmp/never.png"};
    EXPECT_EQ(run_tarvel(spec).process.exit_code, 2) << "a screenshot after the last frame";

    spec.arguments = {"-o", "tarvel_speed=fast"};
    RunOutcome bad_option = run_tarvel(spec);
    EXPECT_EQ(bad_option.process.exit_code, 2);
    EXPECT_THAT(bad_option.process.output, HasSubstr("the core has no option tarvel_speed"));

    spec.arguments = {"--screenshot=1:/nonexistent-folder/x.png"};
    RunOutcome unwritable = run_tarvel(spec);
    EXPECT_EQ(unwritable.process.exit_code, 2);
    EXPECT_THAT(unwritable.process.output, HasSubstr("cannot write /nonexistent-folder/x.png"));

    spec.arguments = {};
    spec.content = "/nonexistent-folder/missing.cbe";
    RunOutcome missing = run_tarvel(spec);
    EXPECT_EQ(missing.process.exit_code, 1);
    EXPECT_THAT(missing.process.output, HasSubstr("Failed to load game: Failed to read CBE file"));
    EXPECT_THAT(missing.process.output, HasSubstr("no frames were run"));
}

}  // namespace
}  // namespace tarvel::e2e
