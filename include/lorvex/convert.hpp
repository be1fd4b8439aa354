// The arithmetic of the value converters, free of Pd so that it can be
// checked bit for bit on its own.
#pragma once

#include <array>
#include <bit>
#include <cmath>
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
// rounded to the nearest float, so a value beyond the float range becomes an
// infinity.
inline float text_number(const char *text)
{
    return static_cast<float>(std::strtod(text, nullptr));
}

// The first byte of a text as an unsigned value 0..255 (0 for the empty text).
inline float first_byte(const char *text)
{
    return static_cast<unsigned char>(text[0]);
}

// The character code a float names: its unsigned 32-bit truncation, low 8
// bits. Negative numbers and NaN give 0, which stands for the empty text.
inline char glyph_byte(float f)
{
    return static_cast<char>(trunc<std::uint32_t>(f) & 0xffu);
}

// The four bytes of a float in memory order.
inline std::array<unsigned char, 4> float_bytes(float f)
{
    static_assert(sizeof(float) == 4);
    return std::bit_cast<std::array<unsigned char, 4>>(f);
}

// Linear amplitude to decibels: 20 log10(f), computed as ln(f) times
// 20 / ln(10) in double. Zero and negative amplitudes give -199.9; positive
// ones have no floor, and NaN stays NaN.
inline float amplitude_db(float f)
{
    if (f <= 0)
        return -199.9f;
    return static_cast<float>(std::log(static_cast<double>(f)) * 8.6858896381);
}

} // namespace lorvex::convert
