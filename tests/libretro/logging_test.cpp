// The logging bridge: how lines reach the frontend's log callback, and the
// standard-error fallback for frontends without one.
#include <libretro.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log.hpp"
#include "support/stderr_capture.hpp"
#include "support/test_frontend.hpp"

namespace tarvel::test {
namespace {

using ::testing::ElementsAre;

TEST(Logging, PercentSignsAreDoubledForTheFrontend) {
    TestFrontend frontend;
    frontend.start();
    frontend.clear_log();
    TARVEL_LOG(Info, "tarvel::libretro::api", "volume {}% of {}", 50, "100%s%d");
    ASSERT_EQ(frontend.log().size(), 1u);
    EXPECT_EQ(frontend.log()[0].format, "volume 50%% of 100%%s%%d\n");
    EXPECT_EQ(frontend.log()[0].text, "volume 50% of 100%s%d") << "a printf-style frontend prints the text unchanged";
}

TEST(Logging, TextWithNulReachesTheFrontendEmpty) {
    TestFrontend frontend;
    frontend.start();
    frontend.clear_log();
    TARVEL_LOG(Warn, "t", "before{}after", std::string_view("\0", 1));
    TARVEL_LOG(Warn, "t", "plain");
    ASSERT_EQ(frontend.log().size(), 2u);
    EXPECT_EQ(frontend.log()[0].format, "\n");
    EXPECT_EQ(frontend.log()[0].level, RETRO_LOG_WARN);
    EXPECT_EQ(frontend.log()[1].format, "plain\n");
}

TEST(Logging, LevelsMapToFrontendLevelsAndDebugNeedsTheFlag) {
    TestFrontend frontend;
    frontend.start();
    frontend.clear_log();
    TARVEL_LOG(Error, "t", "e");
    TARVEL_LOG(Warn, "t", "w");
    TARVEL_LOG(Info, "t", "i");
    TARVEL_LOG(Debug, "t", "hidden by the Info filter");
    log::set_filter(log::Level::Debug);
    TARVEL_LOG(Debug, "t", "hidden without the debug flag");
    log::set_debug_flag(true);
    TARVEL_LOG(Debug, "t", "d");
    TARVEL_LOG(Trace, "t", "hidden: above the Debug filter");
    log::set_filter(log::Level::Trace);
    TARVEL_LOG(Trace, "t", "t");
    EXPECT_THAT(frontend.log_summary(), ElementsAre("ERROR e", "WARN w", "INFO i", "DEBUG d", "DEBUG t"));

    // retro_init puts the filter back to Info and clears the debug flag.
    retro_init();
    frontend.clear_log();
    TARVEL_LOG(Debug, "t", "hidden again");
    EXPECT_TRUE(frontend.log().empty());
    log::set_filter(log::Level::Debug);
    TARVEL_LOG(Debug, "t", "still hidden: the flag was cleared");
    EXPECT_TRUE(frontend.log().empty());
    log::set_filter(log::Level::Info);
}

TEST(Logging, SecondInitSendsLinesToTheNewestSink) {
    TestFrontend first;
    first.start();
    {
        TestFrontend second;
        second.start();
        TARVEL_LOG(Info, "t", "to the second");
        EXPECT_THAT(second.log_texts(RETRO_LOG_INFO), ElementsAre("Tarvel libretro core initialized", "to the second"));
    }
    EXPECT_THAT(first.log_texts(RETRO_LOG_INFO), ElementsAre("Tarvel libretro core initialized"))
        << "lines after the second retro_init must not reach the first sink";
}

TEST(Logging, FallbackWritesTaggedLinesToStandardError) {
    TestFrontend frontend;
    frontend.set_log_interface(false);
    StderrCapture captured;
    frontend.start();
    TARVEL_LOG(Error, "t", "disk {}% full", 99);
    TARVEL_LOG(Warn, "t", "w");
    log::set_filter(log::Level::Trace);
    log::set_debug_flag(true);
    TARVEL_LOG(Debug, "t", "d");
    TARVEL_LOG(Trace, "t", "shown as debug");
    log::set_filter(log::Level::Info);
    log::set_debug_flag(false);
    EXPECT_EQ(captured.finish(),
              "[Tarvel] INFO: Tarvel libretro core initialized\n"
              "[Tarvel] ERROR: disk 99% full\n"
              "[Tarvel] WARN: w\n"
              "[Tarvel] DEBUG: d\n"
              "[Tarvel] DEBUG: shown as debug\n");
    EXPECT_TRUE(frontend.log().empty());
}

TEST(Logging, FallbackReplacesInvalidUtf8AndEmptiesNulText) {
    TestFrontend frontend;
    frontend.set_log_interface(false);
    StderrCapture captured;
    frontend.start();
    TARVEL_LOG(Info, "t", "bad {} byte", std::string_view("\xFF"));
    TARVEL_LOG(Info, "t", "cut{}", std::string_view("\0rest", 5));
    TARVEL_LOG(Info, "t", "100%% literal {}", "%%");
    std::string out = captured.finish();
    EXPECT_EQ(out,
              "[Tarvel] INFO: Tarvel libretro core initialized\n"
              "[Tarvel] INFO: bad \xEF\xBF\xBD byte\n"
              "[Tarvel] INFO: \n"
              "[Tarvel] INFO: 100%% literal %%\n") << "the text must survive the round trip unchanged";
}

TEST(Logging, FrontendThatOffersANullLogCallbackGetsTheFallback) {
    // Accepting the request without filling in a callback must not leave the
    // core calling a null pointer.
    TestFrontend frontend;
    StderrCapture captured;
    retro_set_environment([](unsigned command, void* data) {
        if (command == RETRO_ENVIRONMENT_GET_LOG_INTERFACE) {
            static_cast<retro_log_callback*>(data)->log = nullptr;
            return true;
        }
        return false;
    });
    retro_init();
    EXPECT_EQ(captured.finish(), "[Tarvel] INFO: Tarvel libretro core initialized\n");
}

}  // namespace
}  // namespace tarvel::test
