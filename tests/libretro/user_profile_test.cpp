// The first load in a process looks for the user orientation profile in the
// frontend's system directory. The look happens once per process, so each case
// runs in a process of its own.
#include <libretro.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/temp_dir.hpp"
#include "support/test_frontend.hpp"

namespace tarvel::test {
namespace {

using ::testing::HasSubstr;

// Runs in the child process: prints the logged lines on one line ("|" after
// each) and ends the child, so the parent can match a sequence of lines.
[[noreturn]] void report_and_exit(const TestFrontend& frontend) {
    std::string report = "LOG|";
    for (const auto& line : frontend.log_summary()) report += line + "|";
    std::fprintf(stderr, "%s\nSYSDIR-REQUESTS %zu\n", report.c_str(),
                 frontend.environment_call_count(RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY));
    std::fflush(stderr);
    std::exit(0);  // runs static destructors, so a directory made in the child goes away
}

// Fixed paths: a death test's child runs the test body again, so anything made
// per run (a temporary directory) would differ between parent and child.
const std::string kGame = "/nonexistent-tarvel-dir/missing.cbe";
const std::string kSystemDir = "/nonexistent-tarvel-system";

// Starts a frontend, lets `configure` set it up, loads `game` twice and reports.
template <typename Configure>
[[noreturn]] void load_twice_and_report(const std::string& game, Configure configure) {
    TestFrontend frontend;
    configure(frontend);
    frontend.start();
    frontend.load(game);
    frontend.load(game);
    report_and_exit(frontend);
}

class UserProfile : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(UserProfile, RefusedOrNullSystemDirectory) {
    const std::string& game = kGame;
    EXPECT_EXIT(load_twice_and_report(game, [](TestFrontend& f) { f.refuse(RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY); }),
                ::testing::ExitedWithCode(0),
                HasSubstr("|INFO No frontend system directory; user orientation profile not loaded|"
                          "INFO Loading CBE archive: "));
    EXPECT_EXIT(load_twice_and_report(game, [](TestFrontend& f) { f.set_system_directory(std::nullopt); }),
                ::testing::ExitedWithCode(0),
                HasSubstr("|INFO No frontend system directory; user orientation profile not loaded|"));
}

TEST_F(UserProfile, UnusableSystemDirectoryStrings) {
    const std::string& game = kGame;
    EXPECT_EXIT(load_twice_and_report(game, [](TestFrontend& f) { f.set_system_directory("/tmp/\xFF\xFE"); }),
                ::testing::ExitedWithCode(0), HasSubstr("|WARN Frontend system directory is not valid UTF-8|"));
    EXPECT_EXIT(load_twice_and_report(game, [](TestFrontend& f) { f.set_system_directory(""); }),
                ::testing::ExitedWithCode(0),
                HasSubstr("|INFO Frontend system directory is empty; user orientation profile not loaded|"));
}

TEST_F(UserProfile, MissingProfileFileIsReportedOnceAndTheLoadGoesOn) {
    const std::string& game = kGame;
    const std::string& sysdir = kSystemDir;
    std::string expected_profile = kSystemDir + "/tarvel_orientation.csv";
    std::string expected =
        "LOG|INFO Tarvel libretro core initialized|"
        "INFO No user orientation profile applied: failed to read orientation profile " + expected_profile +
        ": No such file or directory (os error 2)|"
        "INFO Loading CBE archive: " + game + "|"
        "ERROR Failed to load game: Failed to read CBE file: " + game + ": No such file or directory (os error 2)|"
        "INFO Loading CBE archive: " + game + "|"
        "ERROR Failed to load game: Failed to read CBE file: " + game + ": No such file or directory (os error 2)|\n";
    EXPECT_EXIT(load_twice_and_report(game, [&](TestFrontend& f) { f.set_system_directory(sysdir); }),
                ::testing::ExitedWithCode(0), HasSubstr(expected));
    EXPECT_EXIT(load_twice_and_report(game, [&](TestFrontend& f) { f.set_system_directory(sysdir); }),
                ::testing::ExitedWithCode(0), HasSubstr("SYSDIR-REQUESTS 1\n"))
        << "the second load must not ask for the directory again";
    // A directory given with its trailing slash gives the same file name.
    EXPECT_EXIT(load_twice_and_report(game, [&](TestFrontend& f) { f.set_system_directory(sysdir + "/"); }),
                ::testing::ExitedWithCode(0), HasSubstr("failed to read orientation profile " + expected_profile + ":"));
}

TEST_F(UserProfile, ProfileInTheSystemDirectoryIsLoaded) {
    // The child makes its own directory; only the fixed parts of the path are matched.
    auto with_profile = [](std::string_view text) {
        return [text](TestFrontend& f) {
            static TempDir dir;  // lives until the child exits
            dir.write("tarvel_orientation.csv", text);
            f.set_system_directory(dir.path());
        };
    };
    EXPECT_EXIT(load_twice_and_report(kGame, with_profile("# user list\r\n0xEE5A53AC,341737,portrait\r\n"
                                                          "\n1234abcd,+99,landscape\n")),
                ::testing::ExitedWithCode(0),
                ::testing::ContainsRegex("\\|INFO Loaded 2 user orientation entries from /[^|]*/tarvel_orientation\\.csv\\|"
                                         "INFO Loading CBE archive: "));
    EXPECT_EXIT(load_twice_and_report(kGame, with_profile("")), ::testing::ExitedWithCode(0),
                HasSubstr("|INFO Loaded 0 user orientation entries from "));
    EXPECT_EXIT(load_twice_and_report(kGame, with_profile("1234abcd,99,Portrait\n")), ::testing::ExitedWithCode(0),
                ::testing::ContainsRegex("\\|INFO No user orientation profile applied: invalid orientation profile "
                                         "/[^|]*/tarvel_orientation\\.csv: line 1: unknown orientation Portrait "
                                         "\\(use landscape or portrait\\)\\|"));
}

}  // namespace
}  // namespace tarvel::test
