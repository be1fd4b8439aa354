// Four-point cubic Hermite (Catmull-Rom) interpolation, as every table
// oscillator and table reader of lorvex sounds it: the curve through p1 at
// frac 0 and p2 at frac 1, with p0 and p3 as outer neighbours.
//
// The precision of each step is part of the sound: the slope terms and the
// cubic coefficient are rounded to Pd's sample type T (float; double in
// Pd64), the quadratic coefficient and the nesting with frac are carried in
// double, and only the result is rounded back to T. Every object that
// interpolates goes through this header, so that they all give the same bits
// for the same four points.
#pragma once

#include <concepts>
#include <cstdint>

namespace lorvex {

template <std::floating_point T>
[[gnu::always_inline]] inline T cubic(T p0, T p1, T p2, T p3, T frac)
{
    const T slope = T(0.5) * (p2 - p0);
    // The product first, then the other term added, both in T.
    const T c3 = T(1.5) * (p1 - p2) + T(0.5) * (p3 - p0);
    const double c2 = static_cast<double>(p0) - 2.5 * static_cast<double>(p1) +
                      static_cast<double>(T(2) * p2) - static_cast<double>(T(0.5) * p3);
    const double f = frac;
    return static_cast<T>(static_cast<double>(p1) +
                          f * (static_cast<double>(slope) +
                                  f * (c2 + f * static_cast<double>(c3))));
}

// Four curves at once, one per lane: lane by lane the same operations in
// the same precision as above, so the same bits, in about half the
// instructions where the processor has vector units. Where it has none the
// compiler splits the lanes.
namespace detail {
template <typename T>
using lanes4 [[gnu::vector_size(4 * sizeof(T))]] = T;
using wide = lanes4<double>;
} // namespace detail

// Four values of Pd's sample type T side by side.
template <std::floating_point T>
using quad_of = detail::lanes4<T>;
using quad = quad_of<float>;

// The double part runs on four lanes at once: two halves where the processor
// has 128-bit vectors only, one 256-bit operation where it has more.
template <std::floating_point T>
[[gnu::always_inline]] inline quad_of<T> cubic4(
    quad_of<T> p0, quad_of<T> p1, quad_of<T> p2, quad_of<T> p3, quad_of<T> frac)
{
    using detail::wide;
    const quad_of<T> slope = T(0.5) * (p2 - p0);
    const quad_of<T> c3 = T(1.5) * (p1 - p2) + T(0.5) * (p3 - p0);
    const wide c2 = __builtin_convertvector(p0, wide) - 2.5 * __builtin_convertvector(p1, wide) +
                    __builtin_convertvector(T(2) * p2, wide) -
                    __builtin_convertvector(T(0.5) * p3, wide);
    const wide f = __builtin_convertvector(frac, wide);
    const wide y = __builtin_convertvector(p1, wide) +
                   f * (__builtin_convertvector(slope, wide) +
                           f * (c2 + f * __builtin_convertvector(c3, wide)));
    return __builtin_convertvector(y, quad_of<T>);
}

[[gnu::always_inline]] inline quad cubic(quad p0, quad p1, quad p2, quad p3, quad frac)
{
    return cubic4<float>(p0, p1, p2, p3, frac);
}

// The four points of one interpolation and the position between p1 and p2.
template <std::floating_point T>
struct neighbourhood {
    T p0, p1, p2, p3, frac;
};

// Interpolates `count` neighbourhoods: read(t) gives the t-th and write(t, value)
// takes its value, both called in order of t (so that read may step a phase and
// write may run a filter). Four at a time through the vector form, the rest
// one by one. The four reads of a group come before its four writes, so a
// signal may be read and written in place.
template <typename Read, typename Write>
[[gnu::always_inline]] inline void interpolate(std::int64_t count, Read &&read, Write &&write)
{
    using T = decltype(read(std::int64_t{}).p0);
    std::int64_t t = 0;
    using q = quad_of<T>;
    for (; t + 4 <= count; t += 4) {
        const neighbourhood<T> a = read(t), b = read(t + 1), c = read(t + 2), d = read(t + 3);
        const q v = cubic4<T>(q{a.p0, b.p0, c.p0, d.p0}, q{a.p1, b.p1, c.p1, d.p1},
            q{a.p2, b.p2, c.p2, d.p2}, q{a.p3, b.p3, c.p3, d.p3}, q{a.frac, b.frac, c.frac, d.frac});
        write(t, v[0]);
        write(t + 1, v[1]);
        write(t + 2, v[2]);
        write(t + 3, v[3]);
    }
    for (; t < count; t++) {
        const neighbourhood<T> a = read(t);
        write(t, cubic<T>(a.p0, a.p1, a.p2, a.p3, a.frac));
    }
}

} // namespace lorvex
