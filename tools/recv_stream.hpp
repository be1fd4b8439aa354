// How lorvex-recv reads one sender: the bytes of a TCP connection, cut into
// reads wherever the network cut them, become whole frames (a checked header
// and exactly the data it announces) or stop at the first bad header; and the
// frame counts of a sender become "in order", "frames missing" or "restarted".
// Nothing here touches a socket or a file, so the same code runs in the tool
// and under the fuzzer.
#pragma once

#include "lorvex/stream_frame.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace lorvex::incoming {

namespace stream = lorvex::stream;

// The data of the largest frame a valid header can announce: a reader never
// holds more, whatever a header claims.
inline constexpr std::size_t max_frame_bytes =
    static_cast<std::size_t>(stream::frame_bytes(stream::SF_FLOAT, stream::max_channels));

class frame_reader {
public:
    // Takes the next n bytes of the stream. For every frame they complete,
    // on_frame(tag, data) sees the header and its framesize bytes of data;
    // answering false stops the reader. Answers false once the reader has
    // stopped, for that or for a bad header (problem() says which fault,
    // header() shows its bytes); later bytes are ignored, since a byte stream
    // cannot be resynchronised after a bad header.
    template <typename OnFrame>
    bool feed(const unsigned char *p, std::size_t n, OnFrame &&on_frame)
    {
        if (stopped_)
            return false;
        for (;;) {
            if (!in_data_) {
                const std::size_t take = std::min(n, raw_.size() - got_);
                copy(raw_.data() + got_, p, take);
                got_ += take;
                p += take;
                n -= take;
                if (got_ < raw_.size())
                    return true;
                got_ = 0;
                tag_ = stream::decode_tag(raw_);
                if ((problem_ = stream::tag_problem(tag_)) != nullptr) {
                    stopped_ = true;
                    return false;
                }
                // A checked header announces no more than max_frame_bytes.
                const auto size = static_cast<std::size_t>(tag_.framesize);
                if (data_.capacity() < size)
                    data_.reserve(size);
                data_.resize(size);
                in_data_ = true;
            }
            const std::size_t take = std::min(n, data_.size() - got_);
            copy(data_.data() + got_, p, take);
            got_ += take;
            p += take;
            n -= take;
            if (got_ < data_.size())
                return true;
            got_ = 0;
            in_data_ = false;
            if (!on_frame(tag_, static_cast<const unsigned char *>(data_.data()))) {
                stopped_ = true;
                return false;
            }
        }
    }

    const char *problem() const { return problem_; }
    const stream::tag_bytes &header() const { return raw_; }
    // Bytes of a frame begun but not yet complete.
    bool inside_frame() const { return in_data_ || got_ > 0; }
    // What the reader holds for frame data.
    std::size_t held() const { return data_.capacity(); }

private:
    static void copy(unsigned char *to, const unsigned char *from, std::size_t n)
    {
        if (n)
            std::memcpy(to, from, n);
    }

    stream::tag_bytes raw_{};
    stream::t_tag tag_{};
    std::vector<unsigned char> data_;
    std::size_t got_ = 0;
    bool in_data_ = false;
    bool stopped_ = false;
    const char *problem_ = nullptr;
};

// The frame counts of one sender. Counts go up by one per frame; a count
// above the next one means frames went missing, a count below it that the
// sender started counting again (it was asked to connect anew). The count
// after the largest is the smallest, as the sender's counter wraps.
class count_watch {
public:
    enum class order { first, next, gap, restart };

    // Takes the count of the next frame; for a gap, `missing` is how many
    // frames were skipped.
    order see(std::int32_t count, std::int64_t &missing)
    {
        missing = 0;
        const bool had = seen_;
        const std::int32_t expected = stream::next_count(last_);
        seen_ = true;
        last_ = count;
        if (!had)
            return order::first;
        if (count == expected)
            return order::next;
        if (count > expected) {
            missing = std::int64_t{count} - expected;
            return order::gap;
        }
        return order::restart;
    }

private:
    bool seen_ = false;
    std::int32_t last_ = 0;
};

// Sample k of channel j of a frame's data as it was sent: floats exactly,
// 16- and 8-bit samples as their codes.
inline std::string sample_text(const stream::t_tag &t, const unsigned char *data, int k, int j)
{
    const int size = stream::bytes_per_sample(t.format);
    const unsigned char *at = data + (static_cast<std::size_t>(k) * t.channels + j) * size;
    char text[32];
    if (t.format == stream::SF_FLOAT) {
        std::snprintf(text, sizeof text, "%.9g", static_cast<double>(stream::decode_sample(t.format, at)));
    } else if (t.format == stream::SF_16BIT) {
        std::int16_t v;
        std::memcpy(&v, at, 2);
        std::snprintf(text, sizeof text, "%d", v);
    } else {
        std::snprintf(text, sizeof text, "%d", *at);
    }
    return text;
}

} // namespace lorvex::incoming
