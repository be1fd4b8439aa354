// The resonant second-order low-pass of wavlim~: its design from a cutoff
// frequency at the oversampled rate, and one step of the filter. Designed
// in double where the trigonometry needs it, run in Pd's sample type T
// (float; double in Pd64): every step written "in T" below is single
// precision in Pd and double precision in Pd64.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>

namespace lorvex::lowpass {

template <std::floating_point T>
struct coefficients {
    T b0, b1, b2, a1, a2;
};

// The filter off: the output is the input.
template <std::floating_point T>
inline constexpr coefficients<T> pass_through{1, 0, 0, 0, 0};

// Normalized angular frequency of `cutoff` Hz at `factor` steps per sample
// of rate `sr`. 2f is in T, the product with pi a double, the divisor the
// product of factor and rate in T, the quotient rounded to T. A rate of
// 0 gives an infinite w (or NaN for a cutoff of 0, which is never designed).
template <std::floating_point T>
inline T angular(T cutoff, std::int32_t factor, T sr)
{
    const double divisor = static_cast<T>(factor) * sr;
    return static_cast<T>(static_cast<double>(T(2) * cutoff) * 3.1415926 / divisor);
}

// The low-pass with a fixed resonance (quality 1 / (2 * 0.7675231)) at w.
template <std::floating_point T>
inline coefficients<T> design_at(T w)
{
    double s, c;
    ::sincos(static_cast<double>(w), &s, &c);
    const T alpha = static_cast<T>(s * 0.7675231099128723);
    const T cw = static_cast<T>(c);
    const T a0 = alpha + 1;
    const T b0 = ((1 - cw) * T(0.5)) / a0;
    return {b0, (1 - cw) / a0, b0, (cw * -2) / a0, (1 - alpha) / a0};
}

// What the design gives at w = 6.28 (as a T); every w above it (a cutoff
// near or past the oversampled rate, or no sample rate known yet) keeps these.
// In single precision they are b0 = b2 = 2.5394054e-06, b1 = 5.0788108e-06,
// a1 = -2.0048912, a2 = 1.0049013.
template <std::floating_point T>
inline coefficients<T> above_range()
{
    return design_at(static_cast<T>(6.28));
}

// The coefficients for a non-zero cutoff.
template <std::floating_point T>
inline coefficients<T> design(T cutoff, std::int32_t factor, T sr)
{
    const T w = angular(cutoff, factor, sr);
    return design_at(static_cast<double>(w) > 6.28 ? static_cast<T>(6.28) : w);
}

// The filter memory: inputs and outputs one and two steps back.
template <std::floating_point T>
struct memory {
    T x1, x2, y1, y2;
};

// One step, in T, summed in exactly this order.
template <std::floating_point T>
[[gnu::always_inline]] inline T step(const coefficients<T> &c, memory<T> &m, T x)
{
    const T y = ((c.b1 * m.x1 + c.b0 * x) + c.b2 * m.x2) - c.a1 * m.y1 - c.a2 * m.y2;
    m.x2 = m.x1;
    m.x1 = x;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

} // namespace lorvex::lowpass
