// orvo_slope: the first difference of an array, each element minus the one
// before it, the first copied unchanged.
#include "running.hpp"

struct t_orvo_slope {
    t_object x_obj;
    t_symbol *x_src1;
    t_symbol *x_dst;
    t_outlet *x_outlet;
};

static t_class *orvo_slope_class;

// Each source element is read before the destination element of its index is
// written and the previous one lives in a local, so an array computed into
// itself gives what it would give into another array.
static void orvo_slope_compute(t_orvo_slope *x, t_floatarg limit)
{
    lorvex::running::compute(x, "orvo_slope", limit, [](const t_word *src, t_word *dst, std::int32_t n) {
        t_float prev = src[0].w_float;
        dst[0].w_float = prev;
        for (std::int32_t i = 1; i < n; i++) {
            const t_float cur = src[i].w_float;
            dst[i].w_float = cur - prev;
            prev = cur;
        }
    });
}

static void orvo_slope_bang(t_orvo_slope *x) { orvo_slope_compute(x, -1); }
static void orvo_slope_float(t_orvo_slope *x, t_floatarg f) { orvo_slope_compute(x, f); }
static void orvo_slope_src1(t_orvo_slope *x, t_symbol *s) { x->x_src1 = s; }
static void orvo_slope_dst(t_orvo_slope *x, t_symbol *s) { x->x_dst = s; }

// The third name is accepted for the sake of patches that give one; it is not kept.
static void *orvo_slope_new(t_symbol *src1, t_symbol *dst, t_symbol *)
{
    auto *x = lorvex::new_record<t_orvo_slope>(orvo_slope_class);
    x->x_src1 = src1;
    x->x_dst = dst;
    x->x_outlet = outlet_new(&x->x_obj, &s_bang);
    return x;
}

LORVEX_EXPORT void orvo_slope_setup(void)
{
    using lorvex::method;
    orvo_slope_class = class_new(gensym("orvo_slope"), lorvex::creator(orvo_slope_new), nullptr,
        sizeof(t_orvo_slope), CLASS_DEFAULT, A_DEFSYM, A_DEFSYM, A_DEFSYM, A_NULL);
    class_addbang(orvo_slope_class, method(orvo_slope_bang));
    class_doaddfloat(orvo_slope_class, method(orvo_slope_float));
    class_addmethod(orvo_slope_class, method(orvo_slope_src1), gensym("src1"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_slope_class, method(orvo_slope_dst), gensym("dst"), A_DEFSYM, A_NULL);
}
