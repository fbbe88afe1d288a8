// retro_load_game: its checks, what it asks of the frontend, and that every
// failure is one Error line, a false return and no loaded game.
#include <libretro.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libretro/input_mapping.hpp"
#include "support/stderr_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/test_frontend.hpp"

namespace tarvel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class LoadGame : public ::testing::Test {
protected:
    // The user orientation profile is looked for on the first load in the
    // process only; a throwaway load takes that turn so that every test here
    // sees the same lines.
    static void SetUpTestSuite() {
        TestFrontend frontend;
        frontend.refuse(RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY);
        frontend.start();
        frontend.load("/nonexistent/profile-turn.cbe");
    }

    void SetUp() override {
        frontend.start();
        frontend.clear_log();
    }

    // The test failed the load cleanly: false, exactly one Error line with the
    // expected text, the same text on screen, and nothing loaded afterwards.
    void expect_failed_load(bool loaded, const std::string& error, bool can_show = true) {
        EXPECT_FALSE(loaded);
        EXPECT_THAT(frontend.log_texts(RETRO_LOG_ERROR), ElementsAre(error));
        if (can_show) {
            ASSERT_FALSE(frontend.messages().empty());
            EXPECT_EQ(frontend.messages().back().text, error);
            EXPECT_EQ(frontend.messages().back().duration, 300u) << "frames: five seconds";
        }
        EXPECT_EQ(retro_serialize_size(), 0u) << "a failed load must not leave a game loaded";
        frontend.clear_log();
        retro_run();
        EXPECT_THAT(frontend.log_summary(), ElementsAre("WARN retro_run called before loading a game"));
    }

    TestFrontend frontend;
    TempDir dir;
};

TEST_F(LoadGame, MissingInfoOrPathIsReportedWithoutNegotiating) {
    expect_failed_load(retro_load_game(nullptr), "Game info is null");
    retro_game_info info{};
    info.data = "not a path";
    info.size = 10;
    expect_failed_load(retro_load_game(&info), "Game path is null");
    EXPECT_EQ(frontend.environment_call_count(RETRO_ENVIRONMENT_SET_PIXEL_FORMAT), 0u);
}

TEST_F(LoadGame, PathThatIsNotUtf8IsRejected) {
    expect_failed_load(frontend.load("/tmp/game\xC3(.cbe"), "Invalid game path: invalid UTF-8 sequence at byte 9");
    // An encoded surrogate is not UTF-8.
    expect_failed_load(frontend.load("/tmp/\xED\xA0\x80.cbe"), "Invalid game path: invalid UTF-8 sequence at byte 5");
    EXPECT_EQ(frontend.environment_call_count(RETRO_ENVIRONMENT_SET_PIXEL_FORMAT), 0u);
}

TEST_F(LoadGame, RefusedPixelFormatStopsTheLoad) {
    frontend.refuse(RETRO_ENVIRONMENT_SET_PIXEL_FORMAT);
    std::string path = dir.write("game.cbe", std::string(200, '\xFE'));
    expect_failed_load(frontend.load(path), "Failed to set pixel format");
    EXPECT_EQ(frontend.environment_call_count(RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS), 0u);
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_INFO), IsEmpty()) << "the file must not be read";
}

TEST_F(LoadGame, NoEnvironmentCallbackMeansNoPixelFormat) {
    retro_set_environment(nullptr);
    std::string path = dir.write("game.cbe", std::string(200, '\xFE'));
    expect_failed_load(frontend.load(path), "Failed to set pixel format", false);
}

TEST_F(LoadGame, NegotiatesPixelFormatInputAndPerformance) {
    const size_t calls_before = frontend.environment_calls().size();
    frontend.load(dir.path() + "/missing.cbe");
    // In this order, and nothing else once the profile's turn has passed.
    const std::vector<unsigned> calls(frontend.environment_calls().begin() + calls_before,
                                      frontend.environment_calls().end());
    // (The missing file's error then goes on screen.)
    EXPECT_THAT(calls, ElementsAre(RETRO_ENVIRONMENT_SET_PIXEL_FORMAT, RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS,
                                   RETRO_ENVIRONMENT_SET_PERFORMANCE_LEVEL,
                                   RETRO_ENVIRONMENT_SET_SERIALIZATION_QUIRKS,
                                   RETRO_ENVIRONMENT_GET_MESSAGE_INTERFACE_VERSION, RETRO_ENVIRONMENT_SET_MESSAGE));
    EXPECT_EQ(frontend.pixel_format(), unsigned{RETRO_PIXEL_FORMAT_XRGB8888});
    EXPECT_EQ(frontend.performance_level(), 3u);
    // What each entry says is checked against the mapping in the keypad tests.
    const auto& sent = frontend.input_descriptors();
    const auto table = libretro::input_descriptors();
    ASSERT_EQ(sent.size() + 1, table.size()) << "all entries up to the all-zero one";
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].port, 0u);
        EXPECT_EQ(sent[i].device, table[i].device);
        EXPECT_EQ(sent[i].index, table[i].index);
        EXPECT_EQ(sent[i].id, table[i].id);
        EXPECT_EQ(sent[i].description, table[i].description);
    }
}

TEST_F(LoadGame, RefusedInputDescriptorsAndPerformanceLevelDoNotMatter) {
    frontend.refuse(RETRO_ENVIRONMENT_SET_INPUT_DESCRIPTORS);
    frontend.refuse(RETRO_ENVIRONMENT_SET_PERFORMANCE_LEVEL);
    std::string path = dir.path() + "/missing.cbe";
    frontend.load(path);
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_INFO), ElementsAre("Loading CBE archive: " + path));
}

TEST_F(LoadGame, UnreadableFileGivesTheSystemError) {
    std::string missing = dir.path() + "/missing.cbe";
    expect_failed_load(frontend.load(missing),
                       "Failed to load game: Failed to read CBE file: " + missing +
                           ": No such file or directory (os error 2)");
    expect_failed_load(frontend.load(dir.path()),
                       "Failed to load game: Failed to read CBE file: " + dir.path() + ": Is a directory (os error 21)");
}

TEST_F(LoadGame, FailureGoesOnScreenOnlyThroughTheExtendedInterfaceWhereOffered) {
    frontend.set_message_interface_version(1);
    std::string missing = dir.path() + "/missing.cbe";
    frontend.load(missing);
    const std::string error = "Failed to load game: Failed to read CBE file: " + missing +
                              ": No such file or directory (os error 2)";
    ASSERT_EQ(frontend.messages().size(), 1u);
    const ShownMessage& shown = frontend.messages()[0];
    EXPECT_TRUE(shown.extended);
    EXPECT_EQ(shown.text, error);
    EXPECT_EQ(shown.level, RETRO_LOG_ERROR);
    EXPECT_EQ(shown.target, unsigned{RETRO_MESSAGE_TARGET_OSD}) << "the log has the line already";
    EXPECT_EQ(shown.duration, 5000u);
    EXPECT_THAT(frontend.log_texts(RETRO_LOG_ERROR), ElementsAre(error));
}

TEST_F(LoadGame, ReadFailureLinesInOrder) {
    std::string missing = dir.path() + "/missing.cbe";
    frontend.load(missing);
    EXPECT_THAT(frontend.log_summary(),
                ElementsAre("INFO Loading CBE archive: " + missing,
                            "ERROR Failed to load game: Failed to read CBE file: " + missing +
                                ": No such file or directory (os error 2)"));
}

TEST_F(LoadGame, PercentInThePathIsDoubledOnlyForTheFrontend) {
    std::string missing = dir.path() + "/100%d.cbe";
    frontend.load(missing);
    ASSERT_FALSE(frontend.log().empty());
    EXPECT_EQ(frontend.log()[0].format, "Loading CBE archive: " + dir.path() + "/100%%d.cbe\n");
    EXPECT_EQ(frontend.log()[0].text, "Loading CBE archive: " + missing);
}

TEST_F(LoadGame, WithoutLogInterfaceTheFailureGoesToStandardError) {
    TestFrontend plain;
    plain.set_log_interface(false);
    StderrCapture captured;
    plain.start();
    std::string missing = dir.path() + "/missing.cbe";
    EXPECT_FALSE(plain.load(missing));
    EXPECT_EQ(captured.finish(), "[Tarvel] INFO: Tarvel libretro core initialized\n"
                                 "[Tarvel] INFO: Loading CBE archive: " + missing + "\n"
                                 "[Tarvel] ERROR: Failed to load game: Failed to read CBE file: " + missing +
                                     ": No such file or directory (os error 2)\n");
}

TEST_F(LoadGame, ProfileIsNotLookedForAgain) {
    frontend.set_system_directory(dir.path());
    frontend.load(dir.path() + "/missing.cbe");
    EXPECT_EQ(frontend.environment_call_count(RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY), 0u);
    for (const auto& line : frontend.log()) EXPECT_THAT(line.text, ::testing::Not(HasSubstr("orientation")));
}

}  // namespace
}  // namespace tarvel::test
