// orvo_thinmean: the mean of every group of x_factor elements of the source.
#include "thin.hpp"

struct t_orvo_thinmean {
    t_object x_obj;
    t_symbol *x_src;
    t_symbol *x_dst;
    std::int32_t x_factor;
    t_outlet *x_outlet;
};

static t_class *orvo_thinmean_class;

// Summed in single precision from the group's first element to its last,
// then divided by the factor as a float, so results are the same bits on
// every machine (a factor of 1 writes 0 + v, which is v but for -0).
static void orvo_thinmean_bang(t_orvo_thinmean *x)
{
    lorvex::thin::groups(x, 0, [](const t_word *group, std::int64_t f) {
        t_float s = 0;
        for (std::int64_t j = 0; j < f; j++)
            s = s + group[j].w_float;
        return s / static_cast<t_float>(f);
    });
}

static void orvo_thinmean_src(t_orvo_thinmean *x, t_symbol *s) { x->x_src = s; }
static void orvo_thinmean_dst(t_orvo_thinmean *x, t_symbol *s) { x->x_dst = s; }
static void orvo_thinmean_factor(t_orvo_thinmean *x, t_floatarg f) { x->x_factor = lorvex::array_factor(f); }

static void *orvo_thinmean_new(t_symbol *src, t_symbol *dst, t_floatarg factor)
{
    auto *x = lorvex::new_record<t_orvo_thinmean>(orvo_thinmean_class);
    x->x_src = src;
    x->x_dst = dst;
    x->x_factor = lorvex::array_factor(factor);
    x->x_outlet = outlet_new(&x->x_obj, &s_bang);
    return x;
}

LORVEX_EXPORT void orvo_thinmean_setup(void)
{
    using lorvex::method;
    orvo_thinmean_class = class_new(gensym("orvo_thinmean"), lorvex::creator(orvo_thinmean_new),
        nullptr, sizeof(t_orvo_thinmean), CLASS_DEFAULT, A_DEFSYM, A_DEFSYM, A_DEFFLOAT, A_NULL);
    class_addbang(orvo_thinmean_class, method(orvo_thinmean_bang));
    class_addmethod(orvo_thinmean_class, method(orvo_thinmean_src), gensym("src"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_thinmean_class, method(orvo_thinmean_dst), gensym("dst"), A_DEFSYM, A_NULL);
    class_addmethod(orvo_thinmean_class, method(orvo_thinmean_factor), gensym("factor"), A_DEFFLOAT, A_NULL);
}
