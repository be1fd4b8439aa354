// The arithmetic of lorvex's table oscillators: which points of an array a
// cycle plays, and how the running position steps through them.
//
// The position in table points runs in a double P offset by 1.5 * 2^20.
// While P stays in [2^20, 2^21) its exponent is fixed and its 52-bit
// mantissa is a fixed-point number: the upper 32-bit word of the bit
// pattern holds the integer part of the position in its low bits, the lower
// word holds the fraction in units of 2^-32. Reading the integer part is a
// shift, and the fraction is the lower word with the upper word of the
// offset put back, minus the offset. The words are taken from the 64-bit
// value, never from memory, so the result does not depend on byte order.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>

#include "lorvex/trunc.hpp"

namespace lorvex::wavetable {

inline constexpr double offset = 1572864.0; // 1.5 * 2^20

namespace detail {
inline constexpr std::uint64_t low_word = 0xffffffffu;
inline constexpr std::uint64_t high_word = ~low_word;
inline constexpr std::uint64_t offset_high = std::bit_cast<std::uint64_t>(offset) & high_word;
} // namespace detail

// T is Pd's float type (float; double in Pd64): the table size, its
// inverse, the step and the fraction are held in it.

// The running position for a block that starts at `phase` cycles.
template <std::floating_point T>
constexpr double start(T fsize, double phase)
{
    return offset + static_cast<double>(fsize) * phase;
}

// What one block of an oscillator over a period of `fsize` points works
// with: the mask of the period, the step in points per sample for 1 Hz (at
// `conv` = 1 / sample rate), and the running position.
template <std::floating_point T>
struct block {
    std::uint32_t mask;
    T scale;
    double p;
};

template <std::floating_point T>
constexpr block<T> begin(T fsize, T conv, double phase)
{
    return {trunc<std::uint32_t>(fsize - 1), fsize * conv, start(fsize, phase)};
}

// The upper 32-bit word of P: the integer part of the position in its low
// bits (for positions within +-2^19 points), to be masked by the period.
[[gnu::always_inline]] constexpr std::uint32_t index(double p)
{
    return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(p) >> 32);
}

// The lower 32-bit word of P as a fraction in [0, 1], rounded to T.
template <std::floating_point T>
[[gnu::always_inline]] constexpr T fraction(double p)
{
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(p);
    return static_cast<T>(
        std::bit_cast<double>(detail::offset_high | (bits & detail::low_word)) - offset);
}

// The phase in cycles, in [0, 1), that P stands for at the end of a block:
// the position modulo the period. Shifting P by the offset times the period
// makes the lower word count the position modulo the period in units of
// period * 2^-32, and putting back the upper word of that shift drops the
// whole periods. Whatever P holds (even NaN or infinity), the result is a
// phase in [0, 1).
template <std::floating_point T>
constexpr double wrap(double p, T fsize, T finvsize)
{
    const double t = offset * static_cast<double>(fsize);
    const double q = p + (t - offset);
    const std::uint64_t kept = (std::bit_cast<std::uint64_t>(t) & detail::high_word) |
                               (std::bit_cast<std::uint64_t>(q) & detail::low_word);
    return (std::bit_cast<double>(kept) - t) * static_cast<double>(finvsize);
}

// The period of a table without guard points: the largest power of two not
// above its length. An empty table has none (0) and must not be read.
constexpr int period(int npoints)
{
    return npoints < 1 ? 0 : static_cast<int>(std::bit_floor(static_cast<unsigned>(npoints)));
}

// The period of a table with guard points (one before the period, two after
// it): its length minus three, if that is a power of two; else none (0).
constexpr int guarded_period(int npoints)
{
    if (npoints < 4)
        return 0;
    const auto n = static_cast<unsigned>(npoints - 3);
    return std::has_single_bit(n) ? static_cast<int>(n) : 0;
}

} // namespace lorvex::wavetable
