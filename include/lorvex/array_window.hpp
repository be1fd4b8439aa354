// The arithmetic of the array objects that needs no Pd: the factor rule and
// the window of positions a computation visits.
#pragma once

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>

#include "lorvex/trunc.hpp"

namespace lorvex {

// A factor is never below 1: anything less (0, negatives, NaN) gives 1.
template <std::floating_point Real>
constexpr std::int32_t array_factor(Real f) noexcept
{
    return f < 1 ? 1 : std::max<std::int32_t>(1, trunc(f));
}

// Division rounding down / up, for a positive divisor.
constexpr std::int64_t floor_div(std::int64_t a, std::int64_t b) noexcept
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}
constexpr std::int64_t ceil_div(std::int64_t a, std::int64_t b) noexcept
{
    return -floor_div(-a, b);
}

// The positions [first, end) a computation visits. Position i touches, in
// array k, the strides[k] elements from offsets[k] + i * strides[k] on: one
// element for a stride of 1, a whole group for a stride that is a factor.
// A position is visited only if what it touches lies inside every array, so
// offsets may be negative: the positions that would fall before an array's
// start are skipped, and every visited position keeps the pairing the offsets
// ask for. Worked in 64 bits so that offsets and lengths near the 32-bit
// limits cannot overflow.
struct window {
    std::int64_t first;
    std::int64_t end;
};

// end = the smallest floor((length - offset) / stride);
// first = the largest ceil(-offset / stride), at least 0.
template <std::size_t N>
constexpr window clip_window(const std::array<std::int64_t, N> &lengths,
    const std::array<std::int64_t, N> &offsets, const std::array<std::int64_t, N> &strides)
{
    window w{0, INT64_MAX};
    for (std::size_t k = 0; k < N; k++) {
        w.end = std::min(w.end, floor_div(lengths[k] - offsets[k], strides[k]));
        w.first = std::max(w.first, ceil_div(-offsets[k], strides[k]));
    }
    return w;
}

// Every array stepped one element per position.
template <std::size_t N>
constexpr window clip_window(const std::array<std::int64_t, N> &lengths,
    const std::array<std::int64_t, N> &offsets)
{
    std::array<std::int64_t, N> ones{};
    ones.fill(1);
    return clip_window<N>(lengths, offsets, ones);
}

} // namespace lorvex
