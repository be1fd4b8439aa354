// What orvo_slope and orvo_accum share: one source into one destination over
// their common length, limited by a float, in one ascending pass that carries
// its running value in a local, never re-reading the destination. They differ
// only in that pass.
#pragma once

#include "lorvex/array_frame.hpp"

namespace lorvex::running {

// n = min(len_src, len_dst); a limit greater than 0 and not greater than n
// (compared as floats) lowers it to trunc(limit). A limit of 0 or less, or
// NaN, does not limit.
constexpr std::int32_t count(std::int32_t n, t_float limit)
{
    if (limit > 0 && !(limit > static_cast<t_float>(n)))
        n = trunc(limit);
    return n;
}

// pass(src, dst, n) runs when n > 0; src and dst may be the same elements.
template <typename Record, typename Pass>
void compute(Record *x, const char *name, t_float limit, Pass pass)
{
    array_compute<2>(x, x->x_outlet, name, {x->x_src1, x->x_dst},
        [limit, pass](std::array<bound_array, 2> &a) {
            const std::int32_t n = count(std::min(a[0].n, a[1].n), limit);
            if (n > 0)
                pass(a[0].vec, a[1].vec, n);
        });
}

} // namespace lorvex::running
