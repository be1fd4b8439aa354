// orvo_widen: writes every source element x_factor times in a row into the
// destination (a zero-order hold), from any destination index on.
#include "lorvex/array_frame.hpp"

struct t_orvo_widen {
    t_object x_obj;
    t_symbol *x_src;
    t_symbol *x_dst;
    std::int32_t x_factor;
    std::int32_t x_offset;
    t_outlet *x_outlet;
};

static t_class *orvo_widen_class;

// dst[x_offset + i] = src[i / x_factor] for i below min(len_src * x_factor,
// len_dst - x_offset), the product formed in 64 bits so that no factor can
// overflow it. A negative offset skips the positions before the destination's
// start; the rest stay where the offset puts them. Each run of copies reads its
// source element as its first copy is written, so a source that is also the
// destination sees the values already written (offset 0, factor 2: p, p, p, p).
static void orvo_widen_compute(t_orvo_widen *x)
{
    lorvex::array_compute<2>(x, x->x_outlet, "orvo_widen", {x->x_src, x->x_dst},
        [x](std::array<lorvex::bound_array, 2> &a) {
            const std::int64_t f = x->x_factor, o = x->x_offset;
            const lorvex::window w = lorvex::clip_window<2>({a[0].n * f, a[1].n}, {0, o});
            const t_word *src = a[0].vec;
            t_word *dst = a[1].vec;
            for (std::int64_t i = w.first; i < w.end;) {
                // A copy written inside its own run is the value just read, so
                // reading once per run equals reading once per element.
                const std::int64_t j = i / f, run_end = std::min((j + 1) * f, w.end);
                const t_float v = src[j].w_float;
                for (; i < run_end; i++)
                    dst[o + i].w_float = v;
            }
        });
}

static void orvo_widen_bang(t_orvo_widen *x)
{
    x->x_offset = 0;
    orvo_widen_compute(x);
}

static void orvo_widen_float(t_orvo_widen *x, t_floatarg f)
{
    x->x_offset = lorvex::trunc(f);
    orvo_widen_compute(x);
}

static void orvo_widen_src(t_orvo_widen *x, t_symbol *s) { x->x_src = s; }
static void orvo_widen_dst(t_orvo_widen *x, t_symbol *s) { x->x_dst = s; }
static void orvo_widen_factor(t_orvo_widen *x, t_floatarg f) { x->x_factor = lorvex::array_factor(f); }

static void *orvo_widen_new(t_symbol *src, t_symbol *dst, t_floatarg factor)
{
    auto *x = lorvex::new_record<t_orvo_widen>(orvo_widen_class);
    x->x_src = src;
    x->x_dst = dst;
    x->x_factor = lorvex::array_factor(factor);
    x->x_offset = 0;
    x->x_outlet = outlet_new(&x->x_obj, &s_bang);
    return x;
}

LORVEX_EXPORT void orvo_widen_setup(void)
{
    using lorvex::method;
    orvo_widen_class = class_new(gensym("orvo_widen"), lorvex::creator(orvo_widen_new), nullptr,
        sizeof(t_orvo_widen), CLASS_DEFAULT, A_DEFSYM, A_DEFSYM, A_DEFFLOAT, A_NULL);
    class_addbang(orvo_widen_class, method(orvo_widen_bang));
    class_doaddfloat(orvo_widen_class, method(orvo_widen_float));
    class_addmethod(orvo_widen_class, method(orvo_widen_src), gensym("src"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_widen_class, method(orvo_widen_dst), gensym("dst"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_widen_class, method(orvo_widen_factor), gensym("factor"), A_DEFFLOAT, A_NULL);
}
