// orvo_accum: the running sum of an array, each element plus all before it.
#include "running.hpp"

struct t_orvo_accum {
    t_object x_obj;
    t_symbol *x_src1;
    t_symbol *x_dst;
    t_outlet *x_outlet;
};

static t_class *orvo_accum_class;

// Each sum is formed from the previous one in single precision, kept in a
// local: an array computed into itself gives what it would give into another.
static void orvo_accum_compute(t_orvo_accum *x, t_floatarg limit)
{
    lorvex::running::compute(x, "orvo_accum", limit, [](const t_word *src, t_word *dst, std::int32_t n) {
        t_float s = 0;
        for (std::int32_t i = 0; i < n; i++) {
            s = s + src[i].w_float;
            dst[i].w_float = s;
        }
    });
}

static void orvo_accum_bang(t_orvo_accum *x) { orvo_accum_compute(x, -1); }
static void orvo_accum_float(t_orvo_accum *x, t_floatarg f) { orvo_accum_compute(x, f); }
static void orvo_accum_src1(t_orvo_accum *x, t_symbol *s) { x->x_src1 = s; }
static void orvo_accum_dst(t_orvo_accum *x, t_symbol *s) { x->x_dst = s; }

// The third name is accepted for the sake of patches that give one; it is not kept.
static void *orvo_accum_new(t_symbol *src1, t_symbol *dst, t_symbol *)
{
    auto *x = lorvex::new_record<t_orvo_accum>(orvo_accum_class);
    x->x_src1 = src1;
    x->x_dst = dst;
    x->x_outlet = outlet_new(&x->x_obj, &s_bang);
    return x;
}

LORVEX_EXPORT void orvo_accum_setup(void)
{
    using lorvex::method;
    orvo_accum_class = class_new(gensym("orvo_accum"), lorvex::creator(orvo_accum_new), nullptr,
        sizeof(t_orvo_accum), CLASS_DEFAULT, A_DEFSYM, A_DEFSYM, A_DEFSYM, A_NULL);
    class_addbang(orvo_accum_class, method(orvo_accum_bang));
    class_doaddfloat(orvo_accum_class, method(orvo_accum_float));
    class_addmethod(orvo_accum_class, method(orvo_accum_src1), gensym("src1"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_accum_class, method(orvo_accum_dst), gensym("dst"), A_DEFSYM, A_NULL);
}
