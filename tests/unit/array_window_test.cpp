// The factor rule and the window of positions the array objects visit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "lorvex/array_window.hpp"

using lorvex::array_factor;
using lorvex::clip_window;
using lorvex::window;

namespace {

constexpr std::int64_t imax = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t imin = std::numeric_limits<std::int32_t>::min();

bool same(window a, window b) { return a.first == b.first && a.end == b.end; }

} // namespace

TEST(ArrayFactor, NeverBelowOne)
{
    EXPECT_EQ(array_factor<float>(0), 1);
    EXPECT_EQ(array_factor<float>(0.5f), 1);
    EXPECT_EQ(array_factor<float>(-3), 1);
    EXPECT_EQ(array_factor<float>(-INFINITY), 1);
    EXPECT_EQ(array_factor<float>(std::nanf("")), 1);
    EXPECT_EQ(array_factor<float>(-std::nanf("")), 1);
    EXPECT_EQ(array_factor<float>(2.9f), 2);
    EXPECT_EQ(array_factor<float>(1e30f), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(array_factor<float>(INFINITY), std::numeric_limits<std::int32_t>::max());
}

TEST(ClipWindow, OneElementPerPosition)
{
    // The shortest remainder bounds the end.
    EXPECT_TRUE(same(clip_window<3>({10, 5, 8}, {0, 0, 0}), {0, 5}));
    EXPECT_TRUE(same(clip_window<3>({10, 5, 8}, {2, 0, 4}), {0, 4}));
    // Negative offsets skip the positions before the start.
    EXPECT_TRUE(same(clip_window<2>({5, 5}, {-2, 0}), {2, 5}));
    EXPECT_TRUE(same(clip_window<2>({5, 5}, {0, -1}), {1, 5}));
    // Offsets at the limits of 32 bits cannot overflow.
    window w = clip_window<2>({imax, imax}, {imin, imin});
    EXPECT_TRUE(same(w, {-imin, imax - imin}));
    EXPECT_LE(clip_window<2>({3, 3}, {imax, 0}).end, 0);
}

TEST(ClipWindow, GroupsAreVisitedOnlyWhole)
{
    // 10 elements in groups of 4: two whole groups, the third would be cut.
    EXPECT_TRUE(same(clip_window<2>({10, 100}, {0, 0}, {4, 1}), {0, 2}));
    EXPECT_TRUE(same(clip_window<2>({10, 100}, {2, 0}, {4, 1}), {0, 2}));
    EXPECT_TRUE(same(clip_window<2>({10, 100}, {3, 0}, {4, 1}), {0, 1}));
    // An offset past the end leaves nothing, however it rounds.
    EXPECT_LE(clip_window<2>({10, 100}, {11, 0}, {4, 1}).end, 0);
    EXPECT_LE(clip_window<2>({10, 100}, {15, 0}, {4, 1}).end, 0);
    // A negative offset skips groups that would begin before the start:
    // offset -5, groups at -5, -1, 3, 7 (the last would reach index 10).
    EXPECT_TRUE(same(clip_window<2>({10, 100}, {-5, 0}, {4, 1}), {2, 3}));
    EXPECT_TRUE(same(clip_window<2>({10, 100}, {-4, 0}, {4, 1}), {1, 3}));
    // The destination still bounds the end.
    EXPECT_TRUE(same(clip_window<2>({100, 10}, {0, 0}, {2, 1}), {0, 10}));
    // A factor larger than the source leaves nothing.
    EXPECT_TRUE(same(clip_window<2>({10, 10}, {0, 0}, {imax, 1}), {0, 0}));
}

TEST(ArrayFactor, DoublesAsPdsFloat)
{
    EXPECT_EQ(array_factor(0.0), 1);
    EXPECT_EQ(array_factor(std::nan("")), 1);
    EXPECT_EQ(array_factor(-HUGE_VAL), 1);
    EXPECT_EQ(array_factor(16777217.5), 16777217);
    EXPECT_EQ(array_factor(1e300), std::numeric_limits<std::int32_t>::max());
}
