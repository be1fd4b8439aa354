// What karbox and lorvex-shm agree on about a shared block: a System V
// segment of raw 32-bit floats in native byte order, no header, found by a
// positive integer key, readable and writable by its owner and by others.
#pragma once

#include <cstdint>
#include <limits>

namespace lorvex::shm {

// Owner and others read and write; the group gets nothing.
inline constexpr int mode = 0606;

// The largest block: its byte count must fit an int, so that every position
// and count computed over it stays a plain int.
inline constexpr std::int32_t max_floats = std::numeric_limits<std::int32_t>::max() / 4;

// The bytes of a block of `floats` floats, or -1 for a count that no segment
// may be asked for: negative, or too large for its bytes to fit an int.
constexpr std::int64_t block_bytes(std::int64_t floats) noexcept
{
    return floats < 0 || floats > max_floats ? -1 : floats * 4;
}

} // namespace lorvex::shm
