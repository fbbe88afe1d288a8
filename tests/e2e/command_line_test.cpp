// tarvel-run's command line: option forms, checks made before anything runs,
// and the demo as the default content.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>

#include "command_line.hpp"
#include "support/temp_dir.hpp"

namespace tarvel::e2e {
namespace {

using tarvel_run::RunRequest;
using ::testing::HasSubstr;

std::variant<RunRequest, tarvel_run::ShowUsage, std::string> parse(std::initializer_list<const char*> args) {
    std::vector<char*> argv{const_cast<char*>("tarvel-run")};
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    return tarvel_run::parse_command_line(static_cast<int>(argv.size()), argv.data());
}

std::string error_of(std::initializer_list<const char*> args) {
    auto parsed = parse(args);
    auto* message = std::get_if<std::string>(&parsed);
    return message ? *message : "(accepted)";
}

TEST(CommandLine, LongOptionsTakeTheirValueEitherWay) {
    auto joined = parse({"--press=10:a", "--wav=/tmp/x.wav", "-n", "20", "app.cbe"});
    auto separate = parse({"--press", "10:a", "--wav", "/tmp/x.wav", "-n", "20", "app.cbe"});
    for (auto* parsed : {&joined, &separate}) {
        ASSERT_TRUE(std::holds_alternative<RunRequest>(*parsed));
        const RunRequest& r = std::get<RunRequest>(*parsed);
        EXPECT_EQ(r.content_path, "app.cbe");
        EXPECT_EQ(r.frames, 20);
        EXPECT_EQ(r.wav_path, "/tmp/x.wav");
        ASSERT_EQ(r.script.buttons.size(), 1u);
        EXPECT_EQ(r.script.buttons[0].frame, 10);
    }
    EXPECT_TRUE(std::holds_alternative<tarvel_run::ShowUsage>(parse({"app.cbe", "--help"})));
}

TEST(CommandLine, MistakesAreCaughtBeforeTheRun) {
    EXPECT_THAT(error_of({"-n", "ten", "a.cbe"}), HasSubstr("-n needs a number of frames"));
    EXPECT_THAT(error_of({"-n", "-1", "a.cbe"}), HasSubstr("-n needs a number of frames"));
    EXPECT_THAT(error_of({"-o", "=x", "a.cbe"}), HasSubstr("KEY=VALUE"));
    EXPECT_THAT(error_of({"--press", "3:q", "a.cbe"}), HasSubstr("no joypad button \"q\""));
    EXPECT_THAT(error_of({"--press"}), HasSubstr("--press needs a value"));
    EXPECT_THAT(error_of({"--wav="}), HasSubstr("--wav needs a file"));
    EXPECT_THAT(error_of({"-n", "10", "--screenshot", "11:x.png", "a.cbe"}),
                HasSubstr("a screenshot at frame 11 comes after the last frame (10)"));
    EXPECT_EQ(error_of({"-n", "10", "--screenshot", "10:x.png", "--screenshot", "end:y.png", "a.cbe"}), "(accepted)");
    EXPECT_THAT(error_of({"--turbo", "a.cbe"}), HasSubstr("unknown argument --turbo"));
    EXPECT_THAT(error_of({"a.cbe", "b.cbe"}), HasSubstr("one content file only"));
    EXPECT_THAT(error_of({"--script", "/nonexistent-folder/s.txt"}), HasSubstr("cannot read the script"));

    test::TempDir dir;
    std::string script = dir.write("moves.txt", std::string_view("press 1 a\ntouch 2 10\n"));
    EXPECT_THAT(error_of({"--script", script.c_str(), "a.cbe"}), HasSubstr("moves.txt:2: \"touch\" takes FRAME X Y"));
}

TEST(CommandLine, WithoutAFileTheDemoRuns) {
    auto parsed = parse({"-n", "5"});
#if defined(TARVEL_DEMO_LE_CBE)
    ASSERT_TRUE(std::holds_alternative<RunRequest>(parsed));
    EXPECT_EQ(std::get<RunRequest>(parsed).content_path, TARVEL_DEMO_LE_CBE);
#else
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_THAT(std::get<std::string>(parsed), HasSubstr("no demo application"));
#endif
}

}  // namespace
}  // namespace tarvel::e2e
