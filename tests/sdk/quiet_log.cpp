// The archive parser reports every file it reads at info level; these tests
// read many, so only warnings and errors are shown.

#include <gtest/gtest.h>

#include "common/log.hpp"

namespace {

class QuietLog : public ::testing::Environment {
public:
    void SetUp() override { tarvel::log::set_filter(tarvel::log::Level::Warn); }
};

const auto* const kQuietLog = ::testing::AddGlobalTestEnvironment(new QuietLog);

}  // namespace
