// Building a test machine parses a CBE file, which the parser reports at info
// level; only warnings and errors are shown here.

#include <gtest/gtest.h>

#include "common/log.hpp"

namespace {

class QuietLog : public ::testing::Environment {
public:
    void SetUp() override { tarvel::log::set_filter(tarvel::log::Level::Warn); }
};

const auto* const kQuietLog = ::testing::AddGlobalTestEnvironment(new QuietLog);

}  // namespace
