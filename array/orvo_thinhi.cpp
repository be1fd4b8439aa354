// orvo_thinhi: the largest element of every group of x_factor elements of
// the source.
#include "thin.hpp"

struct t_orvo_thinhi {
    t_object x_obj;
    t_symbol *x_src;
    t_symbol *x_dst;
    std::int32_t x_factor;
    t_outlet *x_outlet;
};

static t_class *orvo_thinhi_class;

// A later element replaces the running maximum unless it is smaller: equal
// values give the last of them (-0 after 0 gives -0), and a NaN both replaces
// and is replaced, so it survives only as a group's last element.
static void orvo_thinhi_bang(t_orvo_thinhi *x)
{
    lorvex::thin::groups(x, 0, lorvex::thin::replace_unless(
        [](t_float v, t_float m) { return v < m; }));
}

static void orvo_thinhi_src(t_orvo_thinhi *x, t_symbol *s) { x->x_src = s; }
static void orvo_thinhi_dst(t_orvo_thinhi *x, t_symbol *s) { x->x_dst = s; }
static void orvo_thinhi_factor(t_orvo_thinhi *x, t_floatarg f) { x->x_factor = lorvex::array_factor(f); }

static void *orvo_thinhi_new(t_symbol *src, t_symbol *dst, t_floatarg factor)
{
    auto *x = lorvex::new_record<t_orvo_thinhi>(orvo_thinhi_class);
    x->x_src = src;
    x->x_dst = dst;
    x->x_factor = lorvex::array_factor(factor);
    x->x_outlet = outlet_new(&x->x_obj, &s_bang);
    return x;
}

LORVEX_EXPORT void orvo_thinhi_setup(void)
{
    using lorvex::method;
    orvo_thinhi_class = class_new(gensym("orvo_thinhi"), lorvex::creator(orvo_thinhi_new), nullptr,
        sizeof(t_orvo_thinhi), CLASS_DEFAULT, A_DEFSYM, A_DEFSYM, A_DEFFLOAT, A_NULL);
    class_addbang(orvo_thinhi_class, method(orvo_thinhi_bang));
    class_addmethod(orvo_thinhi_class, method(orvo_thinhi_src), gensym("src"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_thinhi_class, method(orvo_thinhi_dst), gensym("dst"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_thinhi_class, method(orvo_thinhi_factor), gensym("factor"), A_DEFFLOAT, A_NULL);
}
