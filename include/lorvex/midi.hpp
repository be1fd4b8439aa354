// How the MIDI senders turn their stored numbers into what Pd's MIDI output
// wants. Channels are addressed by one combined, 1-based number: 1..16 are the
// channels of output port 0, 17..32 those of port 1, and so on. Pure
// arithmetic, so that every rule is checked without Pd.
#pragma once

#include <concepts>
#include <cstdint>
#include <limits>

#include "lorvex/trunc.hpp"

namespace lorvex::midi {

struct address {
    std::int32_t port;
    std::int32_t channel; // 0..15
};

// The combined channel as a float inlet stores it. The subtraction stays in
// Pd's float type (single precision; double in Pd64) before truncating;
// anything below 1 (including what the
// channel inlet may write later) is channel 1.
template <std::floating_point Real>
constexpr address channel_address(Real combined) noexcept
{
    std::int32_t binchan = trunc(combined - Real{1});
    if (binchan < 0)
        binchan = 0;
    return {binchan >> 4, binchan & 15};
}

// A 1-based channel or port number given as a creation argument: 0 or less
// (also a missing one, which arrives as 0) means 1. Only constructors do
// this; the inlets store anything.
template <std::floating_point Real>
constexpr Real one_based(Real arg) noexcept { return arg <= 0 ? Real{1} : arg; }

// A 1-based program number becomes the 0..127 program change value.
template <std::floating_point Real>
constexpr std::int32_t program(Real number) noexcept
{
    std::int32_t p = trunc(number - Real{1});
    return p < 0 ? 0 : p > 127 ? 127 : p;
}

// A bend relative to the centre becomes the 14-bit value around 8192. It is
// not clipped to 0..16383 (Pd's output does that); only a sum that would
// leave the integer range stops at its limit instead of overflowing.
template <std::floating_point Real>
constexpr std::int32_t bend(Real offset) noexcept
{
    constexpr std::int32_t centre = 8192;
    std::int32_t b = trunc(offset);
    if (b > std::numeric_limits<std::int32_t>::max() - centre)
        return std::numeric_limits<std::int32_t>::max();
    return b + centre;
}

// A 1-based port number, unclipped: port 0 (or below) is an index Pd drops.
template <std::floating_point Real>
constexpr std::int32_t port_index(Real number) noexcept { return trunc(number - Real{1}); }

// The port of a system message: truncated first, then 1 taken away as an
// integer, and floor-divided by 16, so that a channel below 1 gives port -1.
template <std::floating_point Real>
constexpr std::int32_t system_port(Real combined) noexcept
{
    std::int64_t binchan = std::int64_t{trunc(combined)} - 1;
    return static_cast<std::int32_t>(binchan >> 4);
}

// How many data bytes follow a status byte in a message, as MIDI devices
// are given them: channel messages two, program change and channel pressure
// one, song position two, time code and song select one, everything from
// F4 on (tune request, real time) none. A value below 80 hex, no status at
// all, goes out with two, as a channel message would.
constexpr int data_bytes(std::int32_t status) noexcept
{
    if (status < 0xc0)
        return 2;
    if (status < 0xe0)
        return 1;
    if (status < 0xf0 || status == 0xf2)
        return 2;
    return status < 0xf4 ? 1 : 0;
}

} // namespace lorvex::midi
