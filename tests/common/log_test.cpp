#include "common/log.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvel::log {
namespace {

std::vector<std::string> g_lines;
void capture(Level, std::string_view target, std::string_view text) {
    g_lines.push_back(std::string(target) + "|" + std::string(text));
}

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
    set_sink(&capture);
    g_lines.clear();
    set_filter(Level::Info);
    set_debug_flag(false);
    TARVEL_LOG(Info, "t", "info {}", 1);
    TARVEL_LOG(Debug, "t", "debug {}", CountsFormatting{});
    EXPECT_EQ(g_formatted, 0) << "a disabled level must not format its arguments";
    set_filter(Level::Debug);
    TARVEL_LOG(Debug, "t", "still hidden without the debug flag");
    set_debug_flag(true);
    TARVEL_LOG(Debug, "t", "debug {}", 2);
    TARVEL_LOG(Trace, "t", "trace is above the Debug filter");
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0], "t|info 1");
    EXPECT_EQ(g_lines[1], "t|debug 2");
    set_filter(Level::Info);
    set_debug_flag(false);
    set_sink(nullptr);
}

}  // namespace
}  // namespace tarvel::log
