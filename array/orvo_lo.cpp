// orvo_lo: element-wise minimum of two arrays into a third.
#include "minmax.hpp"

struct t_orvo_lo {
    t_object x_obj;
    t_symbol *x_src1;
    t_symbol *x_src2;
    t_symbol *x_dst;
    std::int32_t x_src1_offset;
    std::int32_t x_src2_offset;
    std::int32_t x_dst_offset;
    std::int32_t x_count;
    t_outlet *x_outlet;
};

static t_class *orvo_lo_class;

// Equal values and NaN fail the comparison and give the second source's value.
static void orvo_lo_compute(t_orvo_lo *x)
{
    lorvex::minmax::compute(x, "orvo_lo", [](t_float a, t_float b) { return a < b; });
}

static void orvo_lo_bang(t_orvo_lo *x)
{
    lorvex::minmax::reset(x);
    orvo_lo_compute(x);
}

static void orvo_lo_list(t_orvo_lo *x, t_symbol *, int argc, t_atom *argv)
{
    lorvex::minmax::read_list(x, argc, argv);
    orvo_lo_compute(x);
}

static void orvo_lo_src1(t_orvo_lo *x, t_symbol *s) { x->x_src1 = s; }
static void orvo_lo_src2(t_orvo_lo *x, t_symbol *s) { x->x_src2 = s; }
static void orvo_lo_dst(t_orvo_lo *x, t_symbol *s) { x->x_dst = s; }

static void *orvo_lo_new(t_symbol *src1, t_symbol *src2, t_symbol *dst)
{
    auto *x = lorvex::new_record<t_orvo_lo>(orvo_lo_class);
    x->x_src1 = src1;
    x->x_src2 = src2;
    x->x_dst = dst;
    x->x_outlet = outlet_new(&x->x_obj, &s_bang);
    return x;
}

LORVEX_EXPORT void orvo_lo_setup(void)
{
    using lorvex::method;
    orvo_lo_class = class_new(gensym("orvo_lo"), lorvex::creator(orvo_lo_new), nullptr,
        sizeof(t_orvo_lo), CLASS_DEFAULT, A_DEFSYM, A_DEFSYM, A_DEFSYM, A_NULL);
    class_addbang(orvo_lo_class, method(orvo_lo_bang));
    class_addlist(orvo_lo_class, method(orvo_lo_list));
    class_addmethod(orvo_lo_class, method(orvo_lo_src1), gensym("src1"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_lo_class, method(orvo_lo_src2), gensym("src2"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_lo_class, method(orvo_lo_dst), gensym("dst"), A_DEFSYM, A_NULL);
}
