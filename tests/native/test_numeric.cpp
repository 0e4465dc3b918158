// saturating_cast: the one double-to-integer conversion of the core.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "core/base/numeric.h"

namespace korvane {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(SaturatingCast, SignedTruncatesAndSaturates) {
  using Limits = std::numeric_limits<int64_t>;
  EXPECT_EQ(saturating_cast<int64_t>(kNaN), 0);
  EXPECT_EQ(saturating_cast<int64_t>(2.9), 2);
  EXPECT_EQ(saturating_cast<int64_t>(-2.9), -2);
  EXPECT_EQ(saturating_cast<int64_t>(kInf), Limits::max());
  EXPECT_EQ(saturating_cast<int64_t>(-kInf), Limits::min());
  EXPECT_EQ(saturating_cast<int64_t>(9223372036854775808.0), Limits::max());        // 2^63
  EXPECT_EQ(saturating_cast<int64_t>(9223372036854774784.0), 9223372036854774784);  // 2^63 - 1024
  EXPECT_EQ(saturating_cast<int64_t>(-1e300), Limits::min());
}

TEST(SaturatingCast, UnsignedTruncatesAndSaturates) {
  using Limits = std::numeric_limits<uint64_t>;
  EXPECT_EQ(saturating_cast<uint64_t>(kNaN), 0u);
  EXPECT_EQ(saturating_cast<uint64_t>(-0.5), 0u);
  EXPECT_EQ(saturating_cast<uint64_t>(7.99), 7u);
  EXPECT_EQ(saturating_cast<uint64_t>(18446744073709551616.0), Limits::max());  // 2^64
  EXPECT_EQ(saturating_cast<uint64_t>(18446744073709549568.0), 18446744073709549568u);
  EXPECT_EQ(saturating_cast<uint64_t>(kInf), Limits::max());
}

}  // namespace
}  // namespace korvane
