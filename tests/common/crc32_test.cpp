#include "common/crc32.hpp"

#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace tarvel {
namespace {

std::span<const u8> bytes_of(std::string_view text) { return {reinterpret_cast<const u8*>(text.data()), text.size()}; }

TEST(Crc32, MatchesTheStandardCheckValueAndIsZeroForNothing) {
    EXPECT_EQ(crc32_of(bytes_of("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32_of({}), 0u);
}

// Large inputs are summed piece by piece; every piece size, including ones
// that do not divide the length and a bound of 0, must give the one-call sum.
TEST(Crc32, PiecewiseSumEqualsTheWholeSum) {
    std::vector<u8> data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<u8>(i * 131 + 7);
    const u32 whole = crc32_of(data);
    for (size_t piece : {size_t{0}, size_t{1}, size_t{3}, size_t{64}, size_t{999}, size_t{1000}, size_t{4096}}) {
        EXPECT_EQ(crc32_of(data, piece), whole) << "piece " << piece;
    }
    EXPECT_EQ(crc32_of(bytes_of("123456789"), 2), 0xCBF43926u);
}

}  // namespace
}  // namespace tarvel
