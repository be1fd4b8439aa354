// The arithmetic of the value converters, free of Pd so that it can be
// checked bit for bit on its own.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "lorvex/trunc.hpp"

namespace lorvex::convert {

// Narrowing a double that lies beyond the float range to float is only
// defined (as infinity) by IEEE 754 arithmetic, which every target has.
static_assert(std::numeric_limits<float>::is_iec559);

// The number a text begins with, as strtod reads it: leading white space,
// sign, decimal or hexadecimal digits, exponent, "inf" and "nan"; whatever
// follows is ignored and a text without a number gives 0. The double is
// rounded to Pd's float (Real): in single precision a value beyond the float
// range becomes an infinity; in double precision it is kept as read.
template <std::floating_point Real>
inline Real text_number(const char *text)
{
    return static_cast<Real>(std::strtod(text, nullptr));
}

// The first byte of a text as an unsigned value 0..255 (0 for the empty text).
inline float first_byte(const char *text)
{
    return static_cast<unsigned char>(text[0]);
}

// The character code a float names: its unsigned 32-bit truncation, low 8
// bits. Negative numbers and NaN give 0, which stands for the empty text.
template <std::floating_point Real>
inline char glyph_byte(Real f)
{
    return static_cast<char>(trunc<std::uint32_t>(f) & 0xffu);
}

// The four bytes of a single-precision float in memory order (Pd64's double
// is rounded to the nearest float by the caller: the four bytes are a format
// other programs read).
inline std::array<unsigned char, 4> float_bytes(float f)
{
    static_assert(sizeof(float) == 4);
    return std::bit_cast<std::array<unsigned char, 4>>(f);
}

// Linear amplitude to decibels: 20 log10(f), computed as ln(f) times
// 20 / ln(10) in double and rounded to Pd's float (Real). Zero and negative
// amplitudes give -199.9 (the Real nearest to it); positive ones have no
// floor, and NaN stays NaN.
template <std::floating_point Real>
inline Real amplitude_db(Real f)
{
    if (f <= 0)
        return static_cast<Real>(-199.9);
    return static_cast<Real>(std::log(static_cast<double>(f)) * 8.6858896381);
}

} // namespace lorvex::convert
