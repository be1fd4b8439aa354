// What the four downsamplers share: the source cut into consecutive groups of
// x_factor elements, from a start index on, each whole group giving one
// destination element from index 0 on. They differ only in how a group
// becomes one value; all four report the bad-template text of orvo_thin.
#pragma once

#include "lorvex/array_frame.hpp"

namespace lorvex::thin {

// dst[i] = reduce(the group src[offset + i * factor] ... src[offset + i * factor + factor - 1]).
// A negative offset skips the groups that would begin before the source's start.
// Each group is read whole before its result is written, and with a
// non-negative offset the written index never passes the start of a group
// still to be read, so a source that is also the destination comes out as
// if it were another array.
template <typename Record, typename Reduce>
void groups(Record *x, std::int32_t offset, Reduce reduce)
{
    array_compute<2>(x, x->x_outlet, "orvo_thin", {x->x_src, x->x_dst},
        [x, offset, reduce](std::array<bound_array, 2> &a) {
            const std::int64_t f = x->x_factor;
            const window w = clip_window<2>({a[0].n, a[1].n}, {offset, 0}, {f, 1});
            const t_word *src = a[0].vec;
            t_word *dst = a[1].vec;
            for (std::int64_t i = w.first; i < w.end; i++)
                dst[i].w_float = reduce(src + (offset + i * f), f);
        });
}

// A running value m = the group's first element, replaced by each later
// element v for which keep(v, m) is false: among equal values the last wins,
// and a comparison with NaN always replaces m.
template <typename Keep>
auto replace_unless(Keep keep)
{
    return [keep](const t_word *group, std::int64_t f) {
        t_float m = group[0].w_float;
        for (std::int64_t j = 1; j < f; j++) {
            t_float v = group[j].w_float;
            if (!keep(v, m))
                m = v;
        }
        return m;
    };
}

} // namespace lorvex::thin
