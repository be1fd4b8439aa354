// What karbox and lorvex-shm agree on about a shared block: raw 32-bit
// floats in native byte order, found by a positive integer key.
//
// On Linux the block is a System V segment with that key, no header,
// readable and writable by its owner and by others.
//
// On Windows it is the named file mapping "Local\lorvex-karbox-<key>" (the
// key in decimal) of the user's session: the floats from its first byte on.
// Windows tells nobody a mapping's exact size, so the mapping is made a
// whole number of 4096-byte pages long with room after the floats, and its
// last 8 bytes hold the block's size in bytes (a little-endian 64-bit
// integer). A program that makes a block for karbox does the same.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

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

// ---- the layout on Windows ----------------------------------------------------

inline constexpr const char *windows_prefix = "lorvex-karbox-";
inline constexpr std::int64_t windows_page = 4096;
inline constexpr std::int64_t windows_size_record = 8;

// The name other programs open the block of `key` by.
inline std::string windows_name(std::int32_t key)
{
    return std::string("Local\\") + windows_prefix + std::to_string(key);
}

// The key a name of the session's namespace (without "Local\") stands for,
// or 0 when it names no block: the prefix and a positive decimal key,
// written as windows_name() writes it.
inline std::int32_t windows_key(const std::string &name)
{
    const std::string prefix = windows_prefix;
    if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size() ||
        name.size() > prefix.size() + 10 || name[prefix.size()] == '0')
        return 0;
    std::int64_t key = 0;
    for (std::size_t i = prefix.size(); i < name.size(); i++) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        key = key * 10 + (name[i] - '0');
    }
    return key <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(key) : 0;
}

// The length of the mapping that holds a block of `bytes` bytes and its
// size record: whole pages.
constexpr std::int64_t windows_mapping_bytes(std::int64_t bytes) noexcept
{
    return (bytes + windows_size_record + windows_page - 1) / windows_page * windows_page;
}

// The block's size as a mapping of `mapping` bytes records it (`record`, its
// last 8 bytes): the record when it fits before itself, else -1 (a mapping
// some other program made without one, or one still being set up: 0).
constexpr std::int64_t windows_recorded_bytes(std::int64_t mapping, std::uint64_t record) noexcept
{
    return record > 0 && record <= static_cast<std::uint64_t>(mapping - windows_size_record)
               ? static_cast<std::int64_t>(record)
               : -1;
}

} // namespace lorvex::shm
