// The parser logs every archive it reads; keep the test output to the results.
// Tests that check log lines install their own capture and put this back.

#include <gtest/gtest.h>

#include "common/log.hpp"

namespace {

void discard(tarvel::log::Level, std::string_view, std::string_view) {}

class QuietLogs : public ::testing::Environment {
public:
    void SetUp() override { tarvel::log::set_sink(&discard); }
};

const auto* const kQuietLogs = ::testing::AddGlobalTestEnvironment(new QuietLogs);

}  // namespace
