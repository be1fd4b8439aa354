// peekcub~: reads an array at the fractional point index of its signal
// inlet with cubic interpolation. The index is clipped so that the four
// points read lie inside the array: the first and the last point are only
// ever outer neighbours.
#include "lorvex/cubic.hpp"
#include "lorvex/trunc.hpp"
#include "table.hpp"

struct t_peekcub_tilde {
    t_object x_obj;
    std::int32_t x_npoints;
    t_word *x_vec;
    t_symbol *x_arrayname;
    t_float x_f;
};

static t_class *peekcub_tilde_class;

// An array of fewer than four points has no readable range: it is never
// read, and sounds like a missing one. It is still registered, so that
// growing it restarts DSP and binds it again.
LORVEX_EXPORT void peekcub_tilde_set(t_peekcub_tilde *x, t_symbol *s)
{
    x->x_arrayname = s;
    t_garray *a = lorvex::find_table(x, "peekcub~", s, &x->x_npoints, &x->x_vec);
    if (!a)
        return;
    if (x->x_npoints < 4)
        x->x_vec = nullptr;
    garray_usedindsp(a);
}

static t_int *peekcub_tilde_perform(t_int *w)
{
    auto *x = reinterpret_cast<t_peekcub_tilde *>(w[1]);
    const auto *in = reinterpret_cast<const t_sample *>(w[2]);
    auto *out = reinterpret_cast<t_sample *>(w[3]);
    const int n = static_cast<int>(w[4]);
    const t_word *tab = x->x_vec;
    if (!tab) {
        lorvex::silence(out, n);
        return w + 5;
    }
    const std::int32_t maxindex = x->x_npoints - 3;
    lorvex::interpolate(
        n,
        [&](std::int64_t k) {
            const float findex = in[k];
            std::int32_t index = lorvex::trunc(findex);
            float frac;
            if (index <= 0) {
                index = 1;
                frac = 0;
            } else if (index > maxindex) {
                index = maxindex;
                frac = 1;
            } else {
                frac = findex - static_cast<float>(index);
            }
            const t_word *a = tab + index;
            return lorvex::neighbourhood{
                a[-1].w_float, a[0].w_float, a[1].w_float, a[2].w_float, frac};
        },
        [&](std::int64_t k, float v) { out[k] = v; });
    return w + 5;
}

static void peekcub_tilde_dsp(t_peekcub_tilde *x, t_signal **sp)
{
    peekcub_tilde_set(x, x->x_arrayname);
    dsp_add(peekcub_tilde_perform, 4, x, sp[0]->s_vec, sp[1]->s_vec,
        static_cast<t_int>(sp[0]->s_n));
}

static void *peekcub_tilde_new(t_symbol *s)
{
    auto *x = lorvex::new_record<t_peekcub_tilde>(peekcub_tilde_class);
    x->x_arrayname = s;
    x->x_vec = nullptr;
    outlet_new(&x->x_obj, gensym("signal"));
    x->x_f = 0;
    return x;
}

static void peekcub_tilde_free(t_peekcub_tilde *)
{
}

LORVEX_EXPORT void peekcub_tilde_setup(void)
{
    using lorvex::method;
    peekcub_tilde_class = class_new(gensym("peekcub~"), lorvex::creator(peekcub_tilde_new),
        method(peekcub_tilde_free), sizeof(t_peekcub_tilde), CLASS_DEFAULT, A_DEFSYM, A_NULL);
    CLASS_MAINSIGNALIN(peekcub_tilde_class, t_peekcub_tilde, x_f);
    class_addmethod(peekcub_tilde_class, method(peekcub_tilde_dsp), gensym("dsp"), A_CANT,
        A_NULL);
    class_addmethod(peekcub_tilde_class, method(peekcub_tilde_set), gensym("set"), A_SYMBOL,
        A_NULL);
}
