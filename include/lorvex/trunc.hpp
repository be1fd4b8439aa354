// Float-to-integer conversion for every number a message turns into a count,
// an offset, an index or a sample code: truncation toward zero, saturating at
// the integer type's limits, NaN giving 0. A bare cast is undefined for NaN and
// out-of-range values, so no plug-in converts floats any other way.
#pragma once

#include <concepts>
#include <cstdint>
#include <limits>

namespace lorvex {

template <std::integral Int, std::floating_point Real>
constexpr Int trunc(Real v) noexcept
{
    using lim = std::numeric_limits<Int>;
    if (v != v)
        return 0;
    // Both limits + 1 and lim::min() are powers of two (or 0), so they are exact in Real.
    constexpr Real upper = static_cast<Real>(lim::max() / 2 + 1) * 2;
    constexpr Real lower = static_cast<Real>(lim::min());
    if (v >= upper)
        return lim::max();
    if (v <= lower)
        return lim::min();
    return static_cast<Int>(v);
}

// The rule for message arguments: Pd's float (single or double precision)
// becomes a 32-bit signed integer.
template <std::floating_point Real>
constexpr std::int32_t trunc(Real v) noexcept
{
    return trunc<std::int32_t>(v);
}

} // namespace lorvex
