// The demo application, run by tarvel-run for a fixed number of frames with
// scripted input: title, a game steered by keys and touches, and the same
// pictures from both byte orders and from a second run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/golden.hpp"
#include "e2e/runner.hpp"

namespace tarvel::e2e {
namespace {

#if defined(TARVEL_DEMO_LE_CBE) && defined(TARVEL_DEMO_BE_CBE)
#define HAVE_DEMO 1
#else
#define HAVE_DEMO 0
#define TARVEL_DEMO_LE_CBE ""
#define TARVEL_DEMO_BE_CBE ""
#endif

class Demo : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HAVE_DEMO) GTEST_SKIP() << "no ARM cross compiler in this build: the demo was not built";
    }
};

// Title for half a second, start with the 5 key, steer with the keypad and
// the D-pad, then with taps and a drag across the lanes.
RunSpec demo_spec(const std::string& content) {
    RunSpec spec;
    spec.content = content;
    spec.frames = 420;
    spec.arguments = {"--key=30:5",         "--key=200:4",      "--key=212:4",       "--press=230:right",
                      "--touch=260:220:330", "--drag=300:20:300:200:300:24", "--press=360:left:12"};
    spec.screenshots = {{24, "title"}, {120, "countdown"}, {240, "keys"}, {330, "touch"}};
    spec.wav = true;
    return spec;
}

TEST_F(Demo, PlaysThroughTitleCountdownAndSteering) {
    RunOutcome run = run_tarvel(demo_spec(TARVEL_DEMO_LE_CBE));
    ASSERT_EQ(run.process.exit_code, 0) << run.process.output;
    EXPECT_THAT(run.process.output, ::testing::Not(::testing::HasSubstr("CBE frame callback stopped")));
    EXPECT_TRUE(matches_golden("demo_title", run.shots["title"]));
    EXPECT_TRUE(matches_golden("demo_countdown", run.shots["countdown"]));
    EXPECT_TRUE(matches_golden("demo_keys", run.shots["keys"]));
    EXPECT_TRUE(matches_golden("demo_touch", run.shots["touch"]));
    EXPECT_TRUE(matches_golden("demo_end", run.shots["end"]));
    ASSERT_TRUE(run.summary) << run.process.output;
    EXPECT_EQ(run.summary->ticks, 70u);
    // The theme starts on the title's first tick and loops through the game:
    // 420 frames of 735 stereo frames, most of them sounding.
    const WavLevel level = measure_wav(run.wav);
    ASSERT_TRUE(level.valid);
    EXPECT_EQ(level.channels, 2u);
    EXPECT_EQ(level.rate, 44100u);
    EXPECT_EQ(level.samples, 420u * 735 * 2);
    EXPECT_GT(level.nonzero, level.samples / 2);
    EXPECT_GT(level.peak, 0.1);
}

TEST_F(Demo, BothByteOrdersAndTwoRunsGiveTheSameFramesAndAudio) {
    RunOutcome little = run_tarvel(demo_spec(TARVEL_DEMO_LE_CBE));
    RunOutcome big = run_tarvel(demo_spec(TARVEL_DEMO_BE_CBE));
    RunOutcome again = run_tarvel(demo_spec(TARVEL_DEMO_LE_CBE));
    for (const RunOutcome* run : {&little, &big, &again}) ASSERT_EQ(run->process.exit_code, 0) << run->process.output;
    for (const char* name : {"title", "countdown", "keys", "touch", "end"}) {
        ASSERT_FALSE(little.shots[name].pixels.empty()) << name;
        EXPECT_EQ(first_difference(little.shots[name], big.shots[name]), "") << name << ": big-endian";
        EXPECT_EQ(first_difference(little.shots[name], again.shots[name]), "") << name << ": second run";
    }
    EXPECT_FALSE(little.wav.empty());
    EXPECT_TRUE(little.wav == big.wav);
    EXPECT_TRUE(little.wav == again.wav);
}

// With the enhanced sound on, the game looks exactly the same; its sound is
// its own (the theme through FluidSynth when the SoundFont is there, effects
// over it), mostly music, and the same bytes in a second run.
TEST_F(Demo, EnhancedSoundChangesTheSoundButNotThePictures) {
    RunSpec spec = demo_spec(TARVEL_DEMO_LE_CBE);
    RunOutcome plain = run_tarvel(spec);
    spec.arguments.insert(spec.arguments.end(), {"-o", "tarvel_enhanced_sound=enabled"});
    RunOutcome enhanced = run_tarvel(spec);
    RunOutcome again = run_tarvel(spec);
    for (RunOutcome* run : {&plain, &enhanced, &again}) ASSERT_EQ(run->process.exit_code, 0) << run->process.output;
    EXPECT_THAT(enhanced.process.output, ::testing::HasSubstr("Enhanced sound: "));
    for (const char* name : {"title", "countdown", "keys", "touch", "end"})
        EXPECT_EQ(first_difference(plain.shots[name], enhanced.shots[name]), "") << name;
    const WavLevel level = measure_wav(enhanced.wav);
    ASSERT_TRUE(level.valid);
    EXPECT_EQ(level.samples, 420u * 735 * 2);
    EXPECT_GT(level.nonzero, level.samples / 2);
    EXPECT_GT(level.peak, 0.05);
    EXPECT_TRUE(enhanced.wav == again.wav);
    EXPECT_FALSE(enhanced.wav == plain.wav);
}

// Left alone after the start, the ship is hit three times: the game-over
// panel, then the 0 key goes back to the title. Both byte orders agree.
TEST_F(Demo, GameEndsAndReturnsToTheTitle) {
    std::vector<RunOutcome> runs;
    for (const char* content : {TARVEL_DEMO_LE_CBE, TARVEL_DEMO_BE_CBE}) {
        RunSpec spec;
        spec.content = content;
        spec.frames = 1200;
        spec.arguments = {"--key=30:5", "--key=1110:0"};
        spec.screenshots = {{1100, "over"}};
        runs.push_back(run_tarvel(spec));
        ASSERT_EQ(runs.back().process.exit_code, 0) << runs.back().process.output;
    }
    EXPECT_TRUE(matches_golden("demo_game_over", runs[0].shots["over"]));
    EXPECT_TRUE(matches_golden("demo_title_again", runs[0].shots["end"]));
    for (const char* name : {"over", "end"})
        EXPECT_EQ(first_difference(runs[0].shots[name], runs[1].shots[name]), "") << name << ": big-endian";
}

TEST_F(Demo, LandscapeShowsTheTitleTurned) {
    RunSpec spec;
    spec.content = TARVEL_DEMO_BE_CBE;
    spec.frames = 24;
    spec.arguments = {"-o", "tarvel_screen_orientation=landscape"};
    RunOutcome run = run_tarvel(spec);
    ASSERT_EQ(run.process.exit_code, 0) << run.process.output;
    const tarvel_run::Picture& turned = run.shots["end"];
    ASSERT_EQ(turned.width, 400u);
    // Rectangles turn with the frame; text is laid out upright in it.
    EXPECT_TRUE(matches_golden("demo_title_landscape", turned));
}

// The colour a 24-bit source colour shows with once it has been through the
// screen's RGB565 and back out to the frontend.
uint32_t shown(uint32_t rgb) {
    const uint32_t r = (rgb >> 19) & 0x1F, g = (rgb >> 10) & 0x3F, b = (rgb >> 3) & 0x1F;
    return 0xFF000000u | (r * 255 / 31) << 16 | (g * 255 / 63) << 8 | (b * 255 / 31);
}

size_t count_in_rows(const tarvel_run::Picture& p, unsigned top, unsigned bottom, uint32_t colour) {
    size_t n = 0;
    for (unsigned y = top; y < bottom; ++y)
        for (unsigned x = 0; x < p.width; ++x) n += p.pixels[y * p.width + x] == colour;
    return n;
}

// The title shows a picture of each packaged encoding, in colours only the
// pictures have (the rectangles drawn when a picture fails have none of
// them), and the two Chinese lines, which are GBK resources.
TEST_F(Demo, TitleShowsEveryPictureEncodingAndTheGbkLines) {
    for (const char* content : {TARVEL_DEMO_LE_CBE, TARVEL_DEMO_BE_CBE}) {
        RunSpec spec;
        spec.content = content;
        spec.frames = 24;
        RunOutcome run = run_tarvel(spec);
        ASSERT_EQ(run.process.exit_code, 0) << run.process.output;
        const tarvel_run::Picture& title = run.shots["end"];
        ASSERT_EQ(title.height, 400u);
        const unsigned all = title.height;
        EXPECT_GT(count_in_rows(title, 0, all, shown(0xF0F8F8)), 0u) << "ship cockpit (PNG)";
        EXPECT_GT(count_in_rows(title, 0, all, shown(0x601008)), 0u) << "block inlay (firmware PNG)";
        EXPECT_GT(count_in_rows(title, 0, all, shown(0xFFF8C0)), 0u) << "coin shine (CBE custom GIF)";
        // Rows 126-141 hold only the Chinese title, 146-161 only the motto.
        EXPECT_GT(count_in_rows(title, 126, 142, shown(0xFFD828)), 100u) << "GBK title";
        EXPECT_GT(count_in_rows(title, 146, 162, shown(0xF0F0F0)), 200u) << "GBK motto";
    }
}

TEST_F(Demo, RunsWithoutAFileArgument) {
    RunSpec spec;
    spec.frames = 24;
    RunOutcome run = run_tarvel(spec);
    ASSERT_EQ(run.process.exit_code, 0) << run.process.output;
    EXPECT_THAT(run.process.output, ::testing::HasSubstr("tarvel_demo.cbe"));
    EXPECT_TRUE(matches_golden("demo_title", run.shots["end"]));
}

}  // namespace
}  // namespace tarvel::e2e
