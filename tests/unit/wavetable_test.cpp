// The table oscillators' shared arithmetic: the cubic curve with its
// precision, the fixed-point phase against plain floor-and-modulo, and the
// periods a table length gives.
#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lorvex/cubic.hpp"
#include "lorvex/wavetable.hpp"

using lorvex::cubic;
namespace wt = lorvex::wavetable;

namespace {

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

// The curve with its rounding points spelled out one operation at a time:
// float for the slope, the cubic coefficient and the products 2*p2, 0.5*p3;
// double for everything that meets 2.5*p1 or frac.
float stepwise(float p0, float p1, float p2, float p3, float frac)
{
    float slope = p2 - p0;
    slope *= 0.5f;
    float c3 = p1 - p2;
    c3 *= 1.5f;
    float outer = p3 - p0;
    outer *= 0.5f;
    c3 += outer;
    float two_p2 = p2 * 2.0f, half_p3 = p3 * 0.5f;
    double c2 = p1;
    c2 *= -2.5;
    c2 += p0;
    c2 += two_p2;
    c2 -= half_p3;
    double r = c3;
    r *= frac;
    r += c2;
    r *= frac;
    r += slope;
    r *= frac;
    r += p1;
    return static_cast<float>(r);
}

// The same curve all in float, and all in double: what a careless port gives.
float all_float(float p0, float p1, float p2, float p3, float f)
{
    return p1 + f * (0.5f * (p2 - p0) +
                        f * ((p0 - 2.5f * p1 + 2 * p2 - 0.5f * p3) +
                                f * (1.5f * (p1 - p2) + 0.5f * (p3 - p0))));
}

float all_double(double p0, double p1, double p2, double p3, double f)
{
    return static_cast<float>(
        p1 + f * (0.5 * (p2 - p0) +
                     f * ((p0 - 2.5 * p1 + 2 * p2 - 0.5 * p3) +
                             f * (1.5 * (p1 - p2) + 0.5 * (p3 - p0)))));
}

} // namespace

TEST(Cubic, KnownValues)
{
    EXPECT_EQ(cubic<float>(0, 0, 1, 0, 0.5f), 0.5625f);
    EXPECT_EQ(cubic<float>(0, 0, 1, 0, 0.25f), 0.2265625f);
    EXPECT_EQ(cubic<float>(0, 0, 1, 0, 0), 0.0f);
    EXPECT_EQ(cubic<float>(0, 0, 1, 0, 1), 1.0f);
    // Through p1 at frac 0, whatever the neighbours.
    EXPECT_EQ(cubic<float>(-7.25f, 0.3f, 1e6f, -3, 0), 0.3f);
    EXPECT_EQ(cubic<float>(5, 5, 5, 5, 0.7f), 5.0f);
}

TEST(Cubic, ReproducesLinesAndParabolas)
{
    // Points of t^2 at t = -1, 0, 1, 2: the curve between them is t^2 itself.
    for (float t : {0.0f, 0.125f, 0.25f, 0.5f, 0.75f, 0.9375f})
        EXPECT_EQ(cubic<float>(1, 0, 1, 4, t), t * t) << t;
    // A line 3 + 2t.
    for (float t : {0.0f, 0.125f, 0.5f, 0.875f})
        EXPECT_EQ(cubic<float>(1, 3, 5, 7, t), 3 + 2 * t) << t;
}

TEST(Cubic, RoundsExactlyWhereItShould)
{
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> point(-1.5f, 1.5f), frac(0.0f, 1.0f);
    int differs_float = 0, differs_double = 0;
    for (int k = 0; k < 200000; k++) {
        float p0 = point(gen), p1 = point(gen), p2 = point(gen), p3 = point(gen), f = frac(gen);
        float got = cubic<float>(p0, p1, p2, p3, f);
        ASSERT_EQ(bits(got), bits(stepwise(p0, p1, p2, p3, f)))
            << p0 << " " << p1 << " " << p2 << " " << p3 << " " << f;
        differs_float += bits(got) != bits(all_float(p0, p1, p2, p3, f));
        differs_double += bits(got) != bits(all_double(p0, p1, p2, p3, f));
    }
    // The comparison above would have caught either careless precision.
    EXPECT_GT(differs_float, 1000);
    EXPECT_GT(differs_double, 100);
}

// The vector form against the scalar one, lane by lane, in Pd's float type T
// (float; double in Pd64).
template <typename T>
void four_lanes_give_the_same_bits()
{
    using q = lorvex::quad_of<T>;
    std::mt19937 gen(3);
    const T special[] = {0.0f, -0.0f, 1e-40f, -1e-42f, 1e-38f, 3e38f, -3e38f, INFINITY,
        -INFINITY, NAN, 1.0f, -1.0f, 0.5f, 1e20f, -7e-20f};
    std::uniform_real_distribution<T> point(-2.0f, 2.0f), frac(0.0f, 1.0f);
    std::uniform_int_distribution<int> pick(0, 14), kind(0, 5);
    auto draw = [&] { return kind(gen) == 0 ? special[pick(gen)] : point(gen); };
    for (int k = 0; k < 100000; k++) {
        T p[4][4], f[4];
        for (int lane = 0; lane < 4; lane++) {
            for (auto &row : p)
                row[lane] = draw();
            f[lane] = k % 97 == 0 ? special[pick(gen)] : frac(gen);
        }
        const q v = lorvex::cubic4<T>(q{p[0][0], p[0][1], p[0][2], p[0][3]},
            q{p[1][0], p[1][1], p[1][2], p[1][3]}, q{p[2][0], p[2][1], p[2][2], p[2][3]},
            q{p[3][0], p[3][1], p[3][2], p[3][3]}, q{f[0], f[1], f[2], f[3]});
        for (int lane = 0; lane < 4; lane++) {
            const T one = cubic<T>(p[0][lane], p[1][lane], p[2][lane], p[3][lane], f[lane]);
            const T got = v[lane];
            // Where two NaNs meet in an addition or a product, the processor
            // passes on the one in its first operand, and which that is the
            // compiler chooses (C++ leaves the order of + and * open): the
            // sign and payload of a NaN result differ between builds (MinGW's
            // for Windows, or the same compiler inlining differently), and so
            // may the two forms'. A NaN must stay a NaN; every number, the
            // same bits.
            if (std::isnan(one)) {
                ASSERT_TRUE(std::isnan(got)) << p[0][lane] << " " << p[1][lane] << " "
                                             << p[2][lane] << " " << p[3][lane] << " " << f[lane];
                continue;
            }
            ASSERT_EQ(std::memcmp(&got, &one, sizeof one), 0)
                << p[0][lane] << " " << p[1][lane] << " " << p[2][lane] << " " << p[3][lane]
                << " " << f[lane];
        }
    }
}

TEST(Cubic, FourLanesGiveTheSameBits)
{
    four_lanes_give_the_same_bits<float>();
    four_lanes_give_the_same_bits<double>();
}

// Reads and writes in order, four reads of a group before its writes, every
// count (also those that are no multiple of four), the same values as one by one.
TEST(Interpolate, OrderAndValues)
{
    for (int count = 0; count <= 11; count++) {
        std::vector<float> signal(static_cast<std::size_t>(count));
        for (int t = 0; t < count; t++)
            signal[static_cast<std::size_t>(t)] = 0.1f * static_cast<float>(t) + 0.05f;
        std::vector<std::string> log;
        lorvex::interpolate(
            count,
            [&](std::int64_t t) {
                log.push_back("r" + std::to_string(t));
                // In place: the value read here is overwritten by write(t).
                const float x = signal[static_cast<std::size_t>(t)];
                return lorvex::neighbourhood<float>{x, 2 * x, -x, 3, x};
            },
            [&](std::int64_t t, float v) {
                log.push_back("w" + std::to_string(t));
                signal[static_cast<std::size_t>(t)] = v;
            });
        std::vector<std::string> want;
        int t = 0;
        for (; t + 4 <= count; t += 4) {
            for (int j = 0; j < 4; j++)
                want.push_back("r" + std::to_string(t + j));
            for (int j = 0; j < 4; j++)
                want.push_back("w" + std::to_string(t + j));
        }
        for (; t < count; t++) {
            want.push_back("r" + std::to_string(t));
            want.push_back("w" + std::to_string(t));
        }
        EXPECT_EQ(log, want) << count;
        for (int k = 0; k < count; k++) {
            const float x = 0.1f * static_cast<float>(k) + 0.05f;
            EXPECT_EQ(bits(signal[static_cast<std::size_t>(k)]), bits(cubic<float>(x, 2 * x, -x, 3, x)))
                << count << " " << k;
        }
    }
}

// ---- the fixed-point phase ------------------------------------------------

TEST(Phase, IndexAndFractionOfSimplePositions)
{
    // A quarter cycle of 512 points is point 128.
    double p = wt::start<float>(512, 0.25);
    EXPECT_EQ(wt::index(p) & 511u, 128u);
    EXPECT_EQ(wt::fraction<float>(p), 0.0f);
    p += 2.75;
    EXPECT_EQ(wt::index(p) & 511u, 130u);
    EXPECT_EQ(wt::fraction<float>(p), 0.75f);
    // Half a point before 0 is point 7.5 of an 8-point period.
    p = wt::start<float>(8, -0.0625);
    EXPECT_EQ(wt::index(p) & 7u, 7u);
    EXPECT_EQ(wt::fraction<float>(p), 0.5f);
    // The smallest step the position keeps is 2^-32 of a point.
    p = wt::start<float>(8, 0) + std::ldexp(1.0, -32);
    EXPECT_EQ(wt::fraction<float>(p), std::ldexp(1.0f, -32));
}

// Plays random blocks both ways: through the bit patterns, and with the
// position as a plain number (floor for the point, rounding and modulo for
// the wrap).
TEST(Phase, AgreesWithFloorAndModulo)
{
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> log_size(0, 18), length(1, 256);
    std::uniform_real_distribution<double> phase(0, 1);
    for (int trial = 0; trial < 3000; trial++) {
        const int size = 1 << log_size(gen);
        const auto fsize = static_cast<float>(size);
        const auto finv = static_cast<float>(1.0 / size);
        const auto mask = static_cast<std::uint32_t>(size - 1);
        // Steps up to a few periods per sample, either way, with the
        // position kept within 2^19 points of 0 over the block.
        const int n = length(gen);
        const double reach = std::min(4.0 * size, 250000.0 / n);
        std::uniform_real_distribution<float> step(static_cast<float>(-reach),
            static_cast<float>(reach));
        const double ph = trial % 7 ? phase(gen) : 0.0;

        double p = wt::start<float>(fsize, ph);
        double plain = p - wt::offset; // exact: both lie on the 2^-32 grid
        for (int k = 0; k < n; k++) {
            const double whole = std::floor(plain);
            const auto expect_i = static_cast<std::uint32_t>(
                static_cast<std::int64_t>(whole) & static_cast<std::int64_t>(mask));
            ASSERT_EQ(wt::index(p) & mask, expect_i) << size << " " << plain;
            ASSERT_EQ(wt::fraction<float>(p), static_cast<float>(plain - whole)) << size << " " << plain;
            const float inc = step(gen);
            p += inc;
            plain = p - wt::offset;
        }
        // The wrap keeps 32 bits of the position within the period: it
        // rounds to the nearest (even) multiple of period * 2^-32 points.
        const double grid = std::ldexp(static_cast<double>(size), -32);
        const double kept = std::nearbyint(plain / grid) * grid;
        const double wrapped = kept - size * std::floor(kept / size);
        const double got = wt::wrap(p, fsize, finv);
        ASSERT_EQ(got, wrapped / size) << size << " " << plain;
        ASSERT_GE(got, 0.0);
        ASSERT_LT(got, 1.0);
        // The next block starts exactly where this one ended.
        ASSERT_EQ(wt::start<float>(fsize, got) - wt::offset, wrapped);
    }
}

TEST(Phase, AnythingWrapsToACycle)
{
    const double nan = NAN, inf = INFINITY;
    for (double p : {nan, -nan, inf, -inf, 1e300, -1e300, 0.0, -0.0, 1e-310, 5e15}) {
        for (float size : {1.0f, 8.0f, 512.0f, 1048576.0f}) {
            double ph = wt::wrap(p, size, 1 / size);
            EXPECT_GE(ph, 0.0) << p << " " << size;
            EXPECT_LT(ph, 1.0) << p << " " << size;
            float f = wt::fraction<float>(p);
            EXPECT_GE(f, 0.0f) << p;
            EXPECT_LE(f, 1.0f) << p;
        }
    }
}

// ---- periods --------------------------------------------------------------

TEST(Period, LargestPowerOfTwoNotAbove)
{
    EXPECT_EQ(wt::period(1024), 1024);
    EXPECT_EQ(wt::period(1000), 512);
    EXPECT_EQ(wt::period(1023), 512);
    EXPECT_EQ(wt::period(1), 1);
    EXPECT_EQ(wt::period(3), 2);
    EXPECT_EQ(wt::period(INT_MAX), 1 << 30);
    // Nothing to play: an empty table is never read.
    EXPECT_EQ(wt::period(0), 0);
    EXPECT_EQ(wt::period(-1), 0);
    EXPECT_EQ(wt::period(INT_MIN), 0);
}

TEST(Period, GuardPointsAroundAPowerOfTwo)
{
    int size = 1;
    for (int npoints : {4, 5, 7, 11, 19, 35, 67, 131, 259, 515, 1027, 2051}) {
        EXPECT_EQ(wt::guarded_period(npoints), size) << npoints;
        size *= 2;
    }
    EXPECT_EQ(wt::guarded_period((1 << 30) + 3), 1 << 30);
    for (int npoints : {3, 6, 8, 512, 1024, 1026, 2, 1, 0, -1, INT_MIN, INT_MAX})
        EXPECT_EQ(wt::guarded_period(npoints), 0) << npoints;
}
