// orvo_thinlo: the smallest element of every group of x_factor elements of
// the source.
#include "thin.hpp"

struct t_orvo_thinlo {
    t_object x_obj;
    t_symbol *x_src;
    t_symbol *x_dst;
    std::int32_t x_factor;
    t_outlet *x_outlet;
};

static t_class *orvo_thinlo_class;

// A later element replaces the running minimum unless it is greater: equal
// values give the last of them (-0 after 0 gives -0), and a NaN both replaces
// and is replaced, so it survives only as a group's last element.
static void orvo_thinlo_bang(t_orvo_thinlo *x)
{
    lorvex::thin::groups(x, 0, lorvex::thin::replace_unless(
        [](t_float v, t_float m) { return v > m; }));
}

static void orvo_thinlo_src(t_orvo_thinlo *x, t_symbol *s) { x->x_src = s; }
static void orvo_thinlo_dst(t_orvo_thinlo *x, t_symbol *s) { x->x_dst = s; }
static void orvo_thinlo_factor(t_orvo_thinlo *x, t_floatarg f) { x->x_factor = lorvex::array_factor(f); }

static void *orvo_thinlo_new(t_symbol *src, t_symbol *dst, t_floatarg factor)
{
    auto *x = lorvex::new_record<t_orvo_thinlo>(orvo_thinlo_class);
    x->x_src = src;
    x->x_dst = dst;
    x->x_factor = lorvex::array_factor(factor);
    x->x_outlet = outlet_new(&x->x_obj, &s_bang);
    return x;
}

LORVEX_EXPORT void orvo_thinlo_setup(void)
{
    using lorvex::method;
    orvo_thinlo_class = class_new(gensym("orvo_thinlo"), lorvex::creator(orvo_thinlo_new), nullptr,
        sizeof(t_orvo_thinlo), CLASS_DEFAULT, A_DEFSYM, A_DEFSYM, A_DEFFLOAT, A_NULL);
    class_addbang(orvo_thinlo_class, method(orvo_thinlo_bang));
    class_addmethod(orvo_thinlo_class, method(orvo_thinlo_src), gensym("src"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_thinlo_class, method(orvo_thinlo_dst), gensym("dst"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_thinlo_class, method(orvo_thinlo_factor), gensym("factor"), A_DEFFLOAT, A_NULL);
}
