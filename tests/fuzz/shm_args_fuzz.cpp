// lorvex-shm's command line and the numbers it reads. The input is the
// argument list, the arguments separated by NUL bytes; the same bytes are
// also read as the values "write KEY SIZE POS -" takes from standard input.
// Whatever it is given, a request that is accepted holds only numbers in
// their ranges, and the check that a span fits a block agrees with exact
// arithmetic.
#include "shm_args.hpp"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tool = lorvex::shm_tool;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// The fit check done the long way, in 128 bits.
bool fits_exactly(std::int64_t first, std::int64_t count, std::int64_t floats)
{
    return first >= 0 && count >= 0 && static_cast<__int128>(first) + count <= floats;
}

void check_fits(std::int64_t first, std::int64_t count, std::int64_t floats)
{
    check(tool::fits(first, count, floats) == fits_exactly(first, count, floats));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> args;
    for (std::size_t at = 0; at <= text.size() && args.size() < 16;) {
        const std::size_t end = std::min(text.find('\0', at), text.size());
        args.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (!args.empty() && args.back().empty())
        args.pop_back();

    tool::request r;
    std::string why;
    if (tool::parse(args, r, why)) {
        check(r.what != tool::command::none && why.empty());
        check(r.size >= 0 && r.pos >= 0);
        switch (r.what) {
        case tool::command::list: check(args.size() == 1); break;
        case tool::command::help:
        case tool::command::version:
            // Asked for first, whatever follows.
            check(args[0] == "--help" || args[0] == "-h" || args[0] == "--version");
            break;
        case tool::command::prune:
            for (int k : r.keys)
                check(k >= 1);
            break;
        default: check(r.key >= 1); break;
        }
        check(r.span.size() <= 2);
        for (long long v : r.span)
            check(v >= 0);
        if (r.what == tool::command::write)
            check(!r.values.empty());
        // The block sizes a request may meet: its own, and the largest.
        const std::int64_t first = r.span.empty() ? r.pos : r.span[0];
        const std::int64_t count = r.span.size() < 2 ? static_cast<std::int64_t>(r.values.size()) : r.span[1];
        for (std::int64_t floats : {std::int64_t{r.size}, std::int64_t{INT32_MAX / 4}, std::int64_t{0}})
            check_fits(first, count, floats);
    } else {
        check(why.empty() || why.rfind("the key must be a positive integer, not ", 0) == 0);
    }

    // Every number of the arguments, as a key, a size and a float.
    for (const std::string &a : args) {
        long long v = 0;
        if (tool::parse_int(a, 0, 1, INT_MAX, v))
            check(v >= 1 && v <= INT_MAX && !a.empty());
        if (tool::parse_int(a, 10, 0, LLONG_MAX, v)) {
            check(v >= 0);
            check_fits(v, v, v / 2);
            check_fits(LLONG_MAX - v, v, LLONG_MAX);
        }
        float f;
        if (tool::parse_float(a, f))
            check(!a.empty() && std::strlen(a.c_str()) == a.size());
    }

    // The same bytes as standard input.
    std::vector<float> values;
    std::string bad;
    if (tool::parse_floats(text, values, bad)) {
        check(bad.empty());
    } else {
        check(!bad.empty() && text.find(bad) != std::string::npos);
        check(bad.find_first_of(" \t\n\r\f\v") == std::string::npos);
    }
    return 0;
}
