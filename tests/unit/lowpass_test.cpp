// wavlim~'s resonant low-pass: the design at known frequencies, the fixed
// coefficients above the usable range, and the order of one step.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "../../signal/lowpass.hpp"

namespace lp = lorvex::lowpass;

namespace {

bool same(const lp::coefficients<float> &a, const lp::coefficients<float> &b)
{
    return std::bit_cast<std::uint32_t>(a.b0) == std::bit_cast<std::uint32_t>(b.b0) &&
           std::bit_cast<std::uint32_t>(a.b1) == std::bit_cast<std::uint32_t>(b.b1) &&
           std::bit_cast<std::uint32_t>(a.b2) == std::bit_cast<std::uint32_t>(b.b2) &&
           std::bit_cast<std::uint32_t>(a.a1) == std::bit_cast<std::uint32_t>(b.a1) &&
           std::bit_cast<std::uint32_t>(a.a2) == std::bit_cast<std::uint32_t>(b.a2);
}

} // namespace

TEST(Lowpass, ThousandHertzAt44100)
{
    EXPECT_NEAR(lp::angular<float>(1000, 1, 44100), 0.1424759, 5e-8);
    lp::coefficients<float> c = lp::design<float>(1000, 1, 44100);
    EXPECT_NEAR(c.b0, 0.0045684, 5e-8);
    EXPECT_EQ(c.b2, c.b0);
    EXPECT_NEAR(c.b1, 0.0091368, 5e-8);
    EXPECT_NEAR(c.a1, -1.7851791, 5e-8);
    EXPECT_NEAR(c.a2, 0.8034527, 5e-8);
    // A low-pass passes DC: (b0 + b1 + b2) / (1 + a1 + a2) = 1.
    EXPECT_NEAR((c.b0 + c.b1 + c.b2) / (1 + c.a1 + c.a2), 1.0, 1e-5);
}

TEST(Lowpass, FactorRaisesTheDesignRate)
{
    // Four steps per sample at 44100 design for 176400: the same as one at that rate.
    EXPECT_TRUE(same(lp::design<float>(1000, 4, 44100), lp::design<float>(1000, 1, 176400)));
    EXPECT_EQ(lp::angular<float>(1000, 4, 44100), lp::angular<float>(1000, 1, 176400));
    EXPECT_FALSE(same(lp::design<float>(1000, 4, 44100), lp::design<float>(1000, 1, 44100)));
}

TEST(Lowpass, AboveTheRangeTheFixedCoefficients)
{
    // The fixed values are the design at w = 6.28 (as a float), to the bit.
    EXPECT_TRUE(same(lp::above_range<float>(),
        {2.5394054e-06f, 5.0788108e-06f, 2.5394054e-06f, -2.0048912f, 1.0049013f}));
    // A cutoff near the rate gives w > 6.28; one a little lower is designed.
    EXPECT_GT(lp::angular<float>(44100, 1, 44100), 6.28f);
    EXPECT_TRUE(same(lp::design<float>(44100, 1, 44100), lp::above_range<float>()));
    EXPECT_TRUE(same(lp::design<float>(1e30f, 1, 44100), lp::above_range<float>()));
    EXPECT_LT(lp::angular<float>(44000, 1, 44100), 6.28f);
    EXPECT_FALSE(same(lp::design<float>(44000, 1, 44100), lp::above_range<float>()));
    // Oversampling moves the limit up.
    EXPECT_FALSE(same(lp::design<float>(44100, 2, 44100), lp::above_range<float>()));
    // No rate yet: an infinite w, so the fixed coefficients.
    EXPECT_TRUE(std::isinf(lp::angular<float>(1000, 1, 0)));
    EXPECT_TRUE(same(lp::design<float>(1000, 1, 0), lp::above_range<float>()));
}

TEST(Lowpass, PassThroughAndStepOrder)
{
    lp::memory<float> m{3, -2, 7, 1e6f};
    for (float x : {0.5f, -1e-30f, 123.25f})
        EXPECT_EQ(lp::step<float>(lp::pass_through<float>, m, x), x);
    EXPECT_EQ(m.x1, 123.25f);
    EXPECT_EQ(m.x2, -1e-30f);
    EXPECT_EQ(m.y1, 123.25f);
    EXPECT_EQ(m.y2, -1e-30f);

    // Coefficients whose products and sums are exact: the memory shifts by one
    // step and each term meets its own coefficient.
    const lp::coefficients<float> c{1, 2, 4, 0.5f, 0.25f};
    lp::memory<float> s{0, 0, 0, 0};
    EXPECT_EQ(lp::step<float>(c, s, 8), 8.0f);             // 1*8
    EXPECT_EQ(lp::step<float>(c, s, 0), 12.0f);            // 2*8 - 0.5*8
    EXPECT_EQ(lp::step<float>(c, s, 0), 32.0f - 6 - 2);    // 4*8 - 0.5*12 - 0.25*8
    EXPECT_EQ(s.y2, 12.0f);
    EXPECT_EQ(s.x2, 0.0f);
}

// In double precision (Pd64) the same design runs in double: the limit is
// the design at 6.28 as a double, and a thousand hertz lands on the float
// design's values rounded no further.
TEST(Lowpass, DoublePrecisionDesign)
{
    const lp::coefficients<double> at = lp::design_at(6.28), above = lp::above_range<double>();
    EXPECT_EQ(std::bit_cast<std::uint64_t>(at.b0), std::bit_cast<std::uint64_t>(above.b0));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(at.a2), std::bit_cast<std::uint64_t>(above.a2));
    const lp::coefficients<double> past = lp::design<double>(44100, 1, 44100);
    EXPECT_EQ(past.a1, above.a1);
    EXPECT_NE(above.b0, static_cast<double>(lp::above_range<float>().b0));
    const lp::coefficients<double> c = lp::design<double>(1000, 1, 44100);
    const lp::coefficients<float> f = lp::design<float>(1000, 1, 44100);
    EXPECT_NEAR(c.a1, f.a1, 2e-7);
    EXPECT_NE(c.a1, static_cast<double>(f.a1));
    EXPECT_NEAR((c.b0 + c.b1 + c.b2) / (1 + c.a1 + c.a2), 1.0, 1e-12);
}
