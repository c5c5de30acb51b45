#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "util/NumericCasts.h"

namespace zembra::testing {
namespace {

TEST(SaturatingCast, StopsAtTheEndsOfIntegerTypes) {
    EXPECT_EQ(SaturatingCast<int>(1.28e11), std::numeric_limits<int>::max());
    EXPECT_EQ(SaturatingCast<int>(-1.28e11), std::numeric_limits<int>::min());
    EXPECT_EQ(SaturatingCast<int>(2147483647.0), 2147483647);
    EXPECT_EQ(SaturatingCast<int>(2147483647.9), 2147483647);
    EXPECT_EQ(SaturatingCast<int>(-2147483648.0), std::numeric_limits<int>::min());
    EXPECT_EQ(SaturatingCast<int>(-2147483648.9), std::numeric_limits<int>::min());
    // 2^63 is the first double past int64; the largest double below it still fits.
    EXPECT_EQ(SaturatingCast<int64_t>(9223372036854775808.0), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(SaturatingCast<int64_t>(std::nextafter(9223372036854775808.0, 0.0)),
              int64_t(9223372036854774784));
    EXPECT_EQ(SaturatingCast<int64_t>(-9223372036854775808.0), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(SaturatingCast<int64_t>(1e300), std::numeric_limits<int64_t>::max());
}

TEST(SaturatingCast, KeepsValuesInRangeAndTruncatesTowardZero) {
    EXPECT_EQ(SaturatingCast<int>(700000.0), 700000);
    EXPECT_EQ(SaturatingCast<int>(2.9), 2);
    EXPECT_EQ(SaturatingCast<int>(-2.9), -2);
    EXPECT_EQ(SaturatingCast<int64_t>(-1.5e15), int64_t(-1500000000000000));
    EXPECT_FLOAT_EQ(SaturatingCast<float>(0.7), 0.7f);
}

TEST(SaturatingCast, InfinitiesSaturateAndNaNIsZero) {
    const double Inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(SaturatingCast<int>(Inf), std::numeric_limits<int>::max());
    EXPECT_EQ(SaturatingCast<int64_t>(-Inf), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(SaturatingCast<int>(std::nan("")), 0);
    EXPECT_EQ(SaturatingCast<float>(std::nan("")), 0.0f);
    EXPECT_EQ(SaturatingCast<float>(1e39), std::numeric_limits<float>::max());
    EXPECT_EQ(SaturatingCast<float>(-1e39), std::numeric_limits<float>::lowest());
    EXPECT_EQ(SaturatingCast<float>(Inf), std::numeric_limits<float>::max());
}

TEST(SaturatingTimeArithmetic, StopsAtTheEndsAndNeverMakesNoTime) {
    constexpr int64_t Max = std::numeric_limits<int64_t>::max();
    constexpr int64_t NoTime = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(SaturatingAdd(Max, 1), Max);
    EXPECT_EQ(SaturatingAdd(Max - 5, 5), Max);
    EXPECT_EQ(SaturatingAdd(kLowestTime, -1), kLowestTime);
    EXPECT_EQ(SaturatingAdd(-5, NoTime + 5), kLowestTime);  // exactly "no time": one above it
    EXPECT_EQ(SaturatingSub(Max, -1), Max);
    EXPECT_EQ(SaturatingSub(0, NoTime), Max);
    EXPECT_EQ(SaturatingSub(NoTime + 10, 10), kLowestTime);
    EXPECT_EQ(SaturatingSub(-10, Max), kLowestTime);
    EXPECT_EQ(SaturatingAdd(1000, -3000), -2000);
    // Rounded floating-point times: out of range stops at the ends, never at "no time".
    EXPECT_EQ(SaturatingTime(1e19), Max);
    EXPECT_EQ(SaturatingTime(-1e19), kLowestTime);
    EXPECT_EQ(SaturatingTime(-9223372036854775808.0), kLowestTime);
    EXPECT_EQ(SaturatingTime(std::round(2.5)), 3);
    EXPECT_EQ(SaturatingTime(std::nearbyint(2.5)), 2);
    EXPECT_EQ(SaturatingSub(1000, -3000), 4000);
}

}  // namespace
}  // namespace zembra::testing
