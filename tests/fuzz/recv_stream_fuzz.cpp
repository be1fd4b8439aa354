// lorvex-recv's reading of one TCP sender, as the network may cut it: the
// input is a stream of bytes and the places where reads end. Fed in one
// piece and fed in those pieces, the stream must give the same frames, the
// same verdict on its headers and the same counts; no frame may hold more
// than a valid header allows.
//
// Input: byte 0 = after how many frames the receiver stops (0: never),
// byte 1 = n, then n little-endian 16-bit read lengths, then the stream.
#include "recv_stream.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace stream = lorvex::stream;
namespace incoming = lorvex::incoming;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// What one reading saw, in order.
struct seen {
    std::string events;
    bool went_on = true;
    const char *problem = nullptr;
};

// FNV-1a over a frame's data: equal data in both readings, without keeping it.
std::uint64_t digest(const unsigned char *p, std::size_t n)
{
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < n; i++)
        h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

seen read(const unsigned char *data, std::size_t size, const std::vector<std::size_t> &cuts, unsigned stop_after)
{
    incoming::frame_reader reader;
    incoming::count_watch counts;
    seen s;
    unsigned frames = 0;
    auto on_frame = [&](const stream::t_tag &t, const unsigned char *d) {
        check(stream::tag_problem(t) == nullptr);
        check(t.framesize == stream::frame_bytes(t.format, t.channels));
        check(static_cast<std::size_t>(t.framesize) <= incoming::max_frame_bytes);
        std::int64_t missing = -1;
        const auto order = counts.see(t.count, missing);
        check((order == incoming::count_watch::order::gap) == (missing > 0));
        check(missing >= 0 && missing <= 0xffffffffll);
        s.events += std::to_string(t.count) + "/" + std::to_string(static_cast<int>(order)) + "/" +
                    std::to_string(missing) + "/" + std::to_string(digest(d, static_cast<std::size_t>(t.framesize)));
        if (t.channels > 0) {
            // The first and the last sample of the frame, as -s prints them.
            s.events += incoming::sample_text(t, d, 0, 0);
            s.events += incoming::sample_text(t, d, stream::frame_samples - 1, t.channels - 1);
        }
        s.events += ";";
        return stop_after == 0 || ++frames < stop_after;
    };
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
        if (at >= size)
            break;
        const std::size_t n = std::min(cut, size - at);
        if (!reader.feed(data + at, n, on_frame)) {
            s.went_on = false;
            break;
        }
        at += n;
        check(reader.held() <= incoming::max_frame_bytes);
    }
    if (s.went_on && at < size)
        s.went_on = reader.feed(data + at, size - at, on_frame);
    check(reader.held() <= incoming::max_frame_bytes);
    s.problem = reader.problem();
    // A stopped reader takes nothing more.
    if (!s.went_on) {
        const unsigned char more[stream::tag_size] = {1, 1};
        check(!reader.feed(more, sizeof more, on_frame));
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const unsigned stop_after = data[0];
    const std::size_t n = data[1];
    if (size < 2 + 2 * n)
        return 0;
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i < n; i++)
        cuts.push_back(static_cast<std::size_t>(data[2 + 2 * i] | (data[3 + 2 * i] << 8)));
    const unsigned char *bytes = data + 2 + 2 * n;
    const std::size_t length = size - 2 - 2 * n;
    const seen whole = read(bytes, length, {}, stop_after);
    const seen cut = read(bytes, length, cuts, stop_after);
    check(whole.events == cut.events);
    check(whole.went_on == cut.went_on);
    check(whole.problem == cut.problem);
    return 0;
}
