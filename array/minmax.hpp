// What orvo_lo and orvo_hi share: the list of offsets and count, and the
// element-wise pass. They differ only in the comparison that picks the first
// source's value.
#pragma once

#include "lorvex/array_frame.hpp"

namespace lorvex::minmax {

// Resets the per-computation fields, as bang does.
template <typename Record>
void reset(Record *x)
{
    x->x_src1_offset = x->x_src2_offset = x->x_dst_offset = 0;
    x->x_count = -1;
}

// Positions 0..3 of a list: first source offset, second source offset,
// destination offset, count. A non-float atom leaves its field as reset.
template <typename Record>
void read_list(Record *x, int argc, t_atom *argv)
{
    reset(x);
    std::int32_t *fields[] = {
        &x->x_src1_offset, &x->x_src2_offset, &x->x_dst_offset, &x->x_count};
    for (int k = 0; k < argc && k < 4; k++)
        if (argv[k].a_type == A_FLOAT)
            *fields[k] = trunc(atom_getfloatarg(k, argc, argv));
}

// dst[od + i] = pick(a, b) ? a : b, with a and b read before the write.
template <typename Record, typename Pick>
void compute(Record *x, const char *name, Pick pick)
{
    array_compute<3>(x, x->x_outlet, name, {x->x_src1, x->x_src2, x->x_dst},
        [x, pick](std::array<bound_array, 3> &a) {
            window w = clip_window<3>({a[0].n, a[1].n, a[2].n},
                {x->x_src1_offset, x->x_src2_offset, x->x_dst_offset});
            if (x->x_count > 0)
                w.end = std::min<std::int64_t>(w.end, x->x_count);
            const std::int64_t o1 = x->x_src1_offset, o2 = x->x_src2_offset,
                               od = x->x_dst_offset;
            for (std::int64_t i = w.first; i < w.end; i++) {
                t_float va = a[0].vec[o1 + i].w_float, vb = a[1].vec[o2 + i].w_float;
                a[2].vec[od + i].w_float = pick(va, vb) ? va : vb;
            }
        });
}

} // namespace lorvex::minmax
