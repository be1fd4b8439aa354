// orvo_thin: keeps the first element of every group of x_factor elements of
// the source, the groups starting at any source index.
#include "thin.hpp"

struct t_orvo_thin {
    t_object x_obj;
    t_symbol *x_src;
    t_symbol *x_dst;
    std::int32_t x_factor;
    std::int32_t x_offset;
    t_outlet *x_outlet;
};

static t_class *orvo_thin_class;

// The element value is copied unchanged, NaN payloads and signed zeros included.
static void orvo_thin_compute(t_orvo_thin *x)
{
    lorvex::thin::groups(x, x->x_offset,
        [](const t_word *group, std::int64_t) { return group[0].w_float; });
}

static void orvo_thin_bang(t_orvo_thin *x)
{
    x->x_offset = 0;
    orvo_thin_compute(x);
}

static void orvo_thin_float(t_orvo_thin *x, t_floatarg f)
{
    x->x_offset = lorvex::trunc(f);
    orvo_thin_compute(x);
}

static void orvo_thin_src(t_orvo_thin *x, t_symbol *s) { x->x_src = s; }
static void orvo_thin_dst(t_orvo_thin *x, t_symbol *s) { x->x_dst = s; }
static void orvo_thin_factor(t_orvo_thin *x, t_floatarg f) { x->x_factor = lorvex::array_factor(f); }

static void *orvo_thin_new(t_symbol *src, t_symbol *dst, t_floatarg factor)
{
    auto *x = lorvex::new_record<t_orvo_thin>(orvo_thin_class);
    x->x_src = src;
    x->x_dst = dst;
    x->x_factor = lorvex::array_factor(factor);
    x->x_offset = 0;
    x->x_outlet = outlet_new(&x->x_obj, &s_bang);
    return x;
}

LORVEX_EXPORT void orvo_thin_setup(void)
{
    using lorvex::method;
    orvo_thin_class = class_new(gensym("orvo_thin"), lorvex::creator(orvo_thin_new), nullptr,
        sizeof(t_orvo_thin), CLASS_DEFAULT, A_DEFSYM, A_DEFSYM, A_DEFFLOAT, A_NULL);
    class_addbang(orvo_thin_class, method(orvo_thin_bang));
    class_doaddfloat(orvo_thin_class, method(orvo_thin_float));
    class_addmethod(orvo_thin_class, method(orvo_thin_src), gensym("src"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_thin_class, method(orvo_thin_dst), gensym("dst"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_thin_class, method(orvo_thin_factor), gensym("factor"), A_DEFFLOAT, A_NULL);
}
