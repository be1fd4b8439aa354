#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "lorvex/trunc.hpp"

using lorvex::trunc;

TEST(Trunc, TowardZero)
{
    EXPECT_EQ(trunc(2.9f), 2);
    EXPECT_EQ(trunc(-2.9f), -2);
    EXPECT_EQ(trunc(0.5f), 0);
    EXPECT_EQ(trunc(-0.5f), 0);
    EXPECT_EQ(trunc(-0.0f), 0);
}

TEST(Trunc, NanGivesZero)
{
    EXPECT_EQ(trunc(NAN), 0);
    EXPECT_EQ(trunc(-NAN), 0);
    EXPECT_EQ(trunc<std::uint32_t>(NAN), 0u);
    EXPECT_EQ(trunc<std::int16_t>(std::nan("")), 0);
}

TEST(Trunc, SaturatesAtTheLimits)
{
    constexpr auto max = std::numeric_limits<std::int32_t>::max();
    constexpr auto min = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(trunc(INFINITY), max);
    EXPECT_EQ(trunc(-INFINITY), min);
    EXPECT_EQ(trunc(1e30f), max);
    EXPECT_EQ(trunc(-1e30f), min);
    // 2^31 is the first float past the top; -2^31 itself is in range.
    EXPECT_EQ(trunc(2147483648.f), max);
    EXPECT_EQ(trunc(-2147483648.f), min);
    EXPECT_EQ(trunc(2147483520.f), 2147483520);
    EXPECT_EQ(trunc<std::int32_t>(2147483647.9), max);
    EXPECT_EQ(trunc<std::int32_t>(-2147483648.9), min);
}

TEST(Trunc, OtherWidthsAndUnsigned)
{
    EXPECT_EQ(trunc<std::uint32_t>(-5.f), 0u);
    EXPECT_EQ(trunc<std::uint32_t>(5e9), 4294967295u);
    EXPECT_EQ(trunc<std::uint32_t>(4294967295.5), 4294967295u);
    EXPECT_EQ(trunc<std::int16_t>(40000.f), 32767);
    EXPECT_EQ(trunc<std::int16_t>(-32768.7f), -32768);
    EXPECT_EQ(trunc<std::int8_t>(-127.9f), -127);
    EXPECT_EQ(trunc<std::uint8_t>(255.9f), 255);
    EXPECT_EQ(trunc<std::uint8_t>(256.f), 255);
}

// Pd64's floats are doubles: the same rule, for every double. (Qualified:
// for a double the C library's ::trunc would otherwise be the better match.)
TEST(Trunc, DoublesAsPdsFloat)
{
    constexpr auto max = std::numeric_limits<std::int32_t>::max();
    constexpr auto min = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(lorvex::trunc(2147483647.9), max);
    EXPECT_EQ(lorvex::trunc(2147483648.0), max);
    EXPECT_EQ(lorvex::trunc(-2147483648.9), min);
    EXPECT_EQ(lorvex::trunc(-2147483647.5), -2147483647);
    EXPECT_EQ(lorvex::trunc(16777217.0), 16777217);
    EXPECT_EQ(lorvex::trunc(1e300), max);
    EXPECT_EQ(lorvex::trunc(-HUGE_VAL), min);
    EXPECT_EQ(lorvex::trunc(std::nan("")), 0);
    EXPECT_EQ(lorvex::trunc(-0.0), 0);
    EXPECT_EQ(lorvex::trunc(std::nextafter(1.0, 0.0)), 0);
}
