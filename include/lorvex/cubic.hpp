// Four-point cubic Hermite (Catmull-Rom) interpolation, as every table
// oscillator and table reader of lorvex sounds it: the curve through p1 at
// frac 0 and p2 at frac 1, with p0 and p3 as outer neighbours.
//
// The precision of each step is part of the sound: the slope terms and the
// cubic coefficient are rounded to float, the quadratic coefficient and the
// nesting with frac are carried in double, and only the result is rounded
// back. Every object that interpolates calls this one function, so that
// they all give the same bits for the same four points.
#pragma once

namespace lorvex {

[[gnu::always_inline]] inline float cubic(float p0, float p1, float p2, float p3, float frac)
{
    const float slope = 0.5f * (p2 - p0);
    // The product first, then the other term added, both in float.
    const float c3 = 1.5f * (p1 - p2) + 0.5f * (p3 - p0);
    const double c2 = static_cast<double>(p0) - 2.5 * static_cast<double>(p1) +
                      static_cast<double>(2.0f * p2) - static_cast<double>(0.5f * p3);
    const double f = frac;
    return static_cast<float>(static_cast<double>(p1) +
                              f * (static_cast<double>(slope) +
                                      f * (c2 + f * static_cast<double>(c3))));
}

} // namespace lorvex
