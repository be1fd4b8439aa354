// The audio stream on the wire: every frame is a 24-byte header (the tag)
// followed by 1024 samples per channel, interleaved sample-major, in one of
// three encodings. The sender and every receiver meet only through these
// definitions, so the byte layout and the arithmetic of the encodings are
// written once, here.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lorvex/trunc.hpp"

namespace lorvex::stream {

// Multi-byte fields and samples go out in the sender's own order, unconverted;
// the stream is little-endian, so only little-endian hosts may send it as is.
static_assert(std::endian::native == std::endian::little,
    "the stream format is little-endian and is sent in native order");

inline constexpr int frame_samples = 1024;
inline constexpr int max_channels = 32;
inline constexpr int tag_size = 24;

// Format codes.
inline constexpr int SF_FLOAT = 1;
inline constexpr int SF_8BIT = 10;
inline constexpr int SF_16BIT = 11;
inline constexpr int SF_MP3 = 30;
inline constexpr int SF_AAC = 31;

// The header as it lies on the wire: the reserved bytes are spelled out, so the
// struct has no padding and its bytes are exactly the 24 bytes sent.
struct t_tag {
    std::uint8_t mark;          // always 1
    std::uint8_t format;        // format code of the data that follows
    std::uint8_t reserved0[2];
    std::int32_t count;         // frames completed since the last connect request
    std::int8_t channels;       // interleaved channels in the data, 0..32
    std::uint8_t reserved1[3];
    std::int32_t framesize;     // data bytes after the header
    std::uint8_t reserved2[8];
};
static_assert(sizeof(t_tag) == tag_size);
static_assert(offsetof(t_tag, format) == 1 && offsetof(t_tag, count) == 4 &&
              offsetof(t_tag, channels) == 8 && offsetof(t_tag, framesize) == 12 &&
              offsetof(t_tag, reserved2) == 16);

using tag_bytes = std::array<unsigned char, tag_size>;

// A header with every reserved byte 0, whatever the record holding it contains.
inline tag_bytes encode_tag(int format, std::int32_t count, int channels, std::int32_t framesize)
{
    t_tag t{};
    t.mark = 1;
    t.format = static_cast<std::uint8_t>(format);
    t.count = count;
    t.channels = static_cast<std::int8_t>(channels);
    t.framesize = framesize;
    return std::bit_cast<tag_bytes>(t);
}

inline t_tag decode_tag(const tag_bytes &b) { return std::bit_cast<t_tag>(b); }

// The frame count after `count`. A stream that runs long enough (about 1.4
// years at 48 kHz) passes the largest count; the next is the smallest, as the
// signed 32-bit field wraps on the wire, without a signed overflow.
constexpr std::int32_t next_count(std::int32_t count) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(count) + 1u);
}

// 4, 2 or 1: any code but float and 16-bit counts as one byte a sample.
constexpr int bytes_per_sample(int format) noexcept
{
    return format == SF_FLOAT ? 4 : format == SF_16BIT ? 2 : 1;
}

constexpr std::int32_t frame_bytes(int format, int channels) noexcept
{
    return frame_samples * channels * bytes_per_sample(format);
}

// What is wrong with a header, or nullptr when a receiver may read the
// framesize bytes it announces as samples.
inline const char *tag_problem(const t_tag &t)
{
    if (t.mark != 1)
        return "mark is not 1";
    auto zero = [](const auto &bytes) {
        return std::all_of(std::begin(bytes), std::end(bytes), [](auto b) { return b == 0; });
    };
    if (!zero(t.reserved0) || !zero(t.reserved1) || !zero(t.reserved2))
        return "reserved bytes are not 0";
    if (t.format != SF_FLOAT && t.format != SF_16BIT && t.format != SF_8BIT)
        return "unknown format code";
    if (t.channels < 0 || t.channels > max_channels)
        return "channel count out of range";
    if (t.framesize != frame_bytes(t.format, t.channels))
        return "framesize does not match format and channels";
    return nullptr;
}

constexpr const char *format_name(int format) noexcept
{
    switch (format) {
    case SF_FLOAT: return "float";
    case SF_16BIT: return "16bit";
    case SF_8BIT: return "8bit";
    case SF_MP3: return "mp3";
    case SF_AAC: return "aac";
    default: return "unknown";
    }
}

// 16-bit: x × 32767 rounded to the nearest integer, ties to even, as a 32-bit
// integer (the nearest limit beyond its range, 0 for NaN); its low 16 bits.
// No clipping: 1.5 gives -16386. A float times 32767 is exact in a double, and
// so are its whole part and fraction, so the result depends neither on the
// FPU's precision nor on its rounding mode; and no branch depends on the
// sample inside the range.
constexpr std::int16_t encode_16bit(float x) noexcept
{
    const double p = static_cast<double>(x) * 32767.0;
    std::int32_t r;
    if (p > -2147483648.0 && p < 2147483647.0) {
        const std::int32_t whole = trunc<std::int32_t>(p);
        const double frac = p - static_cast<double>(whole);
        const bool odd = (whole & 1) != 0;
        r = whole + static_cast<std::int32_t>((frac > 0.5) | ((frac == 0.5) & odd)) -
            static_cast<std::int32_t>((frac < -0.5) | ((frac == -0.5) & odd));
    } else {
        // Every value from here on rounds to a limit or beyond it.
        r = p != p ? 0 : p > 0 ? INT32_MAX : INT32_MIN;
    }
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(r & 0xffff));
}

// 8-bit: (x + 1) × 128 truncated toward zero to a 16-bit integer (the nearest
// limit beyond its range, 0 for NaN); its low 8 bits. No clipping: 1.0 gives 0,
// -1.5 gives 192. Computed as 128x + 128 with 128x split exactly into whole
// part and fraction, so no intermediate rounding moves a value across an integer.
constexpr std::uint8_t encode_8bit(float x) noexcept
{
    const double y = static_cast<double>(x) * 128.0;
    std::int32_t v;
    if (y > -1073741824.0 && y < 1073741824.0) {
        const std::int32_t whole = trunc<std::int32_t>(y);
        const double frac = y - static_cast<double>(whole);
        v = whole + 128;
        // v + frac with |frac| < 1: truncating toward zero moves v only when
        // frac points back toward zero.
        v -= static_cast<std::int32_t>((v > 0) & (frac < 0));
        v += static_cast<std::int32_t>((v < 0) & (frac > 0));
        v = std::clamp<std::int32_t>(v, INT16_MIN, INT16_MAX);
    } else {
        v = y != y ? 0 : y > 0 ? INT16_MAX : INT16_MIN;
    }
    return static_cast<std::uint8_t>(v & 0xff);
}

constexpr float decode_16bit(std::int16_t code) noexcept { return static_cast<float>(code) / 32767.f; }
constexpr float decode_8bit(std::uint8_t code) noexcept { return static_cast<float>(code - 128) / 128.f; }

namespace detail {

template <int Format, typename Sample>
inline unsigned char *encode_block(const Sample *const *in, int channels, int n, unsigned char *out) noexcept
{
    for (int k = 0; k < n; k++)
        for (int j = 0; j < channels; j++) {
            const float x = static_cast<float>(in[j][k]);
            if constexpr (Format == SF_FLOAT) {
                std::memcpy(out, &x, 4);
                out += 4;
            } else if constexpr (Format == SF_16BIT) {
                const std::int16_t v = encode_16bit(x);
                std::memcpy(out, &v, 2);
                out += 2;
            } else {
                *out++ = encode_8bit(x);
            }
        }
    return out;
}

} // namespace detail

// Encodes samples 0..n-1 of the first `channels` inputs, sample-major, at out;
// answers the end of what it wrote. Codes other than float and 16-bit encode 8-bit.
// The stream is single precision whatever Pd's sample type (Sample): a
// double sample (Pd64) is rounded to the nearest float first and then
// encoded, so a receiver sees the same bytes from either Pd.
template <typename Sample>
inline unsigned char *encode_block(int format, const Sample *const *in, int channels, int n,
    unsigned char *out) noexcept
{
    switch (format) {
    case SF_FLOAT: return detail::encode_block<SF_FLOAT>(in, channels, n, out);
    case SF_16BIT: return detail::encode_block<SF_16BIT>(in, channels, n, out);
    default: return detail::encode_block<SF_8BIT>(in, channels, n, out);
    }
}

// One sample of a frame's data back to float.
inline float decode_sample(int format, const unsigned char *at) noexcept
{
    switch (format) {
    case SF_FLOAT: {
        float f;
        std::memcpy(&f, at, 4);
        return f;
    }
    case SF_16BIT: {
        std::int16_t v;
        std::memcpy(&v, at, 2);
        return decode_16bit(v);
    }
    default: return decode_8bit(*at);
    }
}

} // namespace lorvex::stream
