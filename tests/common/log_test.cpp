#include "common/log.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/log_capture.hpp"

namespace tarvel::log {
namespace {

int g_formatted = 0;
struct CountsFormatting {};
}  // namespace
}  // namespace tarvel::log

template <>
struct fmt::formatter<tarvel::log::CountsFormatting> : fmt::formatter<std::string_view> {
    auto format(const tarvel::log::CountsFormatting&, fmt::format_context& ctx) const {
        ++tarvel::log::g_formatted;
        return fmt::formatter<std::string_view>::format("x", ctx);
    }
};

namespace tarvel::log {
namespace {

TEST(Log, FilterAndDebugFlagGateLevels) {
    const Sink sink_before = sink();
    const auto filter_before = detail::g_filter.load();
    {
        test::LogCapture log{Level::Info};
        TARVEL_LOG(Info, "t", "info {}", 1);
        TARVEL_LOG(Debug, "t", "debug {}", CountsFormatting{});
        EXPECT_EQ(g_formatted, 0) << "a disabled level must not format its arguments";
        set_filter(Level::Debug);
        TARVEL_LOG(Debug, "t", "still hidden without the debug flag");
        set_debug_flag(true);
        TARVEL_LOG(Debug, "t", "debug {}", 2);
        TARVEL_LOG(Trace, "t", "trace is above the Debug filter");
        EXPECT_EQ(log.lines(), (std::vector<std::string>{"t|info 1", "t|debug 2"}));
    }
    // A test's capture leaves the log as the executable set it.
    EXPECT_EQ(sink(), sink_before);
    EXPECT_EQ(detail::g_filter.load(), filter_before);
    EXPECT_FALSE(debug_flag());
}

}  // namespace
}  // namespace tarvel::log
