#include "common/error.hpp"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

Result<int> parse_positive(int v) {
    if (v <= 0) return Error::format("value {} is not positive", v);
    return v;
}

Result<int> doubled(int v) {
    auto r = parse_positive(v);
    if (!r) return std::move(r).error().context("Failed to double");
    return *r * 2;
}

Status chained(int v) {
    TARVEL_TRY_ASSIGN(int d, doubled(v));
    if (d > 100) return Error("too large");
    return {};
}

TEST(Error, ChainPrintsOutermostFirstJoinedByColon) {
    auto r = chained(-3);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().to_string(), "Failed to double: value -3 is not positive");
    EXPECT_EQ(r.error().message(), "Failed to double");
    EXPECT_EQ(r.error().chain().size(), 2u);
}

TEST(Error, SuccessAndPlainFailurePassThrough) {
    EXPECT_TRUE(chained(5).ok());
    auto big = chained(60);
    ASSERT_FALSE(big.ok());
    EXPECT_EQ(big.error().to_string(), "too large");
}

}  // namespace
}  // namespace tarvel
