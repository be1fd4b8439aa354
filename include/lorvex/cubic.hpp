// Four-point cubic Hermite (Catmull-Rom) interpolation, as every table
// oscillator and table reader of lorvex sounds it: the curve through p1 at
// frac 0 and p2 at frac 1, with p0 and p3 as outer neighbours.
//
// The precision of each step is part of the sound: the slope terms and the
// cubic coefficient are rounded to float, the quadratic coefficient and the
// nesting with frac are carried in double, and only the result is rounded
// back. Every object that interpolates goes through this header, so that
// they all give the same bits for the same four points.
#pragma once

#include <cstdint>

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

// Four curves at once, one per lane: lane by lane the same operations in
// the same precision as above, so the same bits, in about half the
// instructions where the processor has vector units. Where it has none the
// compiler splits the lanes.
using quad = float __attribute__((vector_size(16)));

// The double part runs on four lanes at once: two halves where the processor
// has 128-bit vectors only, one 256-bit operation where it has more.
[[gnu::always_inline]] inline quad cubic(quad p0, quad p1, quad p2, quad p3, quad frac)
{
    using wide = double __attribute__((vector_size(32)));
    const quad slope = 0.5f * (p2 - p0);
    const quad c3 = 1.5f * (p1 - p2) + 0.5f * (p3 - p0);
    const wide c2 = __builtin_convertvector(p0, wide) - 2.5 * __builtin_convertvector(p1, wide) +
                    __builtin_convertvector(2.0f * p2, wide) -
                    __builtin_convertvector(0.5f * p3, wide);
    const wide f = __builtin_convertvector(frac, wide);
    const wide y = __builtin_convertvector(p1, wide) +
                   f * (__builtin_convertvector(slope, wide) +
                           f * (c2 + f * __builtin_convertvector(c3, wide)));
    return __builtin_convertvector(y, quad);
}

// The four points of one interpolation and the position between p1 and p2.
struct neighbourhood {
    float p0, p1, p2, p3, frac;
};

// Interpolates `count` neighbourhoods: read(t) gives the t-th and write(t, value)
// takes its value, both called in order of t (so that read may step a phase and
// write may run a filter). Four at a time through the vector form, the rest
// one by one. The four reads of a group come before its four writes, so a
// signal may be read and written in place.
template <typename Read, typename Write>
[[gnu::always_inline]] inline void interpolate(std::int64_t count, Read &&read, Write &&write)
{
    std::int64_t t = 0;
    for (; t + 4 <= count; t += 4) {
        const neighbourhood a = read(t), b = read(t + 1), c = read(t + 2), d = read(t + 3);
        const quad v = cubic(quad{a.p0, b.p0, c.p0, d.p0}, quad{a.p1, b.p1, c.p1, d.p1},
            quad{a.p2, b.p2, c.p2, d.p2}, quad{a.p3, b.p3, c.p3, d.p3},
            quad{a.frac, b.frac, c.frac, d.frac});
        write(t, v[0]);
        write(t + 1, v[1]);
        write(t + 2, v[2]);
        write(t + 3, v[3]);
    }
    for (; t < count; t++) {
        const neighbourhood a = read(t);
        write(t, cubic(a.p0, a.p1, a.p2, a.p3, a.frac));
    }
}

} // namespace lorvex
