// The resonant second-order low-pass of wavlim~: its design from a cutoff
// frequency at the oversampled rate, and one step of the filter. Designed
// in double where the trigonometry needs it, run in float.
#pragma once

#include <cmath>
#include <cstdint>

namespace lorvex::lowpass {

struct coefficients {
    float b0, b1, b2, a1, a2;
};

// The filter off: the output is the input.
inline constexpr coefficients pass_through{1, 0, 0, 0, 0};

// What the design gives at w = 6.28; every w above it (a cutoff near or past
// the oversampled rate, or no sample rate known yet) keeps these.
inline constexpr float above_b0 = 2.5394054e-06f;
inline constexpr coefficients above_range{
    above_b0, 5.0788108e-06f, above_b0, -2.0048912f, 1.0049013f};

// Normalized angular frequency of `cutoff` Hz at `factor` steps per sample
// of rate `sr`. 2f is a float, the product with pi a double, the divisor the
// float product of factor and rate, the quotient rounded to float. A rate of
// 0 gives an infinite w (or NaN for a cutoff of 0, which is never designed).
inline float angular(float cutoff, std::int32_t factor, float sr)
{
    const double divisor = static_cast<float>(factor) * sr;
    return static_cast<float>(static_cast<double>(2.0f * cutoff) * 3.1415926 / divisor);
}

// The low-pass with a fixed resonance (quality 1 / (2 * 0.7675231)) at w.
inline coefficients design_at(float w)
{
    double s, c;
    ::sincos(w, &s, &c);
    const float alpha = static_cast<float>(s * 0.7675231099128723);
    const float cw = static_cast<float>(c);
    const float a0 = alpha + 1;
    const float b0 = ((1 - cw) * 0.5f) / a0;
    return {b0, (1 - cw) / a0, b0, (cw * -2) / a0, (1 - alpha) / a0};
}

// The coefficients for a non-zero cutoff.
inline coefficients design(float cutoff, std::int32_t factor, float sr)
{
    const float w = angular(cutoff, factor, sr);
    return static_cast<double>(w) > 6.28 ? above_range : design_at(w);
}

// The filter memory: inputs and outputs one and two steps back.
struct memory {
    float x1, x2, y1, y2;
};

// One step, in float, summed in exactly this order.
[[gnu::always_inline]] inline float step(const coefficients &c, memory &m, float x)
{
    const float y = ((c.b1 * m.x1 + c.b0 * x) + c.b2 * m.x2) - c.a1 * m.y1 - c.a2 * m.y2;
    m.x2 = m.x1;
    m.x1 = x;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

} // namespace lorvex::lowpass
