// wavcub~: wavetable oscillator with cubic interpolation for tables with
// guard points: a power of two of points is the period, with one point before
// it and two after it, so that the four points read never wrap.
#include "lorvex/cubic.hpp"
#include "lorvex/trunc.hpp"
#include "lorvex/wavetable.hpp"
#include "table.hpp"

struct t_wavcub_tilde {
    t_object x_obj;
    t_float x_fsize;
    t_float x_finvsize;
    t_word *x_vec;
    t_symbol *x_arrayname;
    t_float x_f;
    double x_phase;
    t_float x_conv;
};

static t_class *wavcub_tilde_class;

// A refused length still registers the array, so that resizing it restarts
// DSP and binds it again.
LORVEX_EXPORT void wavcub_tilde_set(t_wavcub_tilde *x, t_symbol *s)
{
    x->x_arrayname = s;
    int npoints = 0;
    t_garray *a = lorvex::find_table(x, "wavcub~", s, &npoints, &x->x_vec);
    if (!a)
        return;
    const int size = lorvex::wavetable::guarded_period(npoints);
    if (size == 0) {
        pd_error(x, "%s: number of points (%d) not a power of 2 plus three", s->s_name, npoints);
        x->x_vec = nullptr;
    } else {
        x->x_fsize = static_cast<t_float>(size);
        x->x_finvsize = static_cast<t_float>(1.0 / size);
    }
    garray_usedindsp(a);
}

static void wavcub_tilde_ft1(t_wavcub_tilde *x, t_floatarg f)
{
    x->x_phase = f;
}

static t_int *wavcub_tilde_perform(t_int *w)
{
    namespace wt = lorvex::wavetable;
    auto *x = reinterpret_cast<t_wavcub_tilde *>(w[1]);
    const auto *in = reinterpret_cast<const t_sample *>(w[2]);
    auto *out = reinterpret_cast<t_sample *>(w[3]);
    const int n = static_cast<int>(w[4]);
    const t_word *tab = x->x_vec;
    if (!tab) {
        lorvex::silence(out, n);
        return w + 5;
    }
    const auto mask = lorvex::trunc<std::uint32_t>(x->x_fsize - 1);
    const float scale = x->x_fsize * x->x_conv;
    double p = wt::start(x->x_fsize, x->x_phase);
    lorvex::interpolate(
        n,
        [&](std::int64_t k) {
            const t_word *a = tab + (wt::index(p) & mask);
            const lorvex::neighbourhood h{
                a[0].w_float, a[1].w_float, a[2].w_float, a[3].w_float, wt::fraction(p)};
            p += static_cast<double>(scale * in[k]);
            return h;
        },
        [&](std::int64_t k, float v) { out[k] = v; });
    x->x_phase = wt::wrap(p, x->x_fsize, x->x_finvsize);
    return w + 5;
}

static void wavcub_tilde_dsp(t_wavcub_tilde *x, t_signal **sp)
{
    x->x_conv = 1.0f / sp[0]->s_sr;
    wavcub_tilde_set(x, x->x_arrayname);
    dsp_add(wavcub_tilde_perform, 4, x, sp[0]->s_vec, sp[1]->s_vec,
        static_cast<t_int>(sp[0]->s_n));
}

static void *wavcub_tilde_new(t_symbol *s)
{
    auto *x = lorvex::new_record<t_wavcub_tilde>(wavcub_tilde_class);
    x->x_vec = nullptr;
    x->x_fsize = 512;
    x->x_arrayname = s;
    x->x_finvsize = 1.0f / 512;
    outlet_new(&x->x_obj, gensym("signal"));
    inlet_new(&x->x_obj, &x->x_obj.ob_pd, &s_float, gensym("ft1"));
    x->x_f = 0;
    return x;
}

LORVEX_EXPORT void wavcub_tilde_setup(void)
{
    using lorvex::method;
    wavcub_tilde_class = class_new(gensym("wavcub~"), lorvex::creator(wavcub_tilde_new),
        nullptr, sizeof(t_wavcub_tilde), CLASS_DEFAULT, A_DEFSYM, A_NULL);
    CLASS_MAINSIGNALIN(wavcub_tilde_class, t_wavcub_tilde, x_f);
    class_addmethod(wavcub_tilde_class, method(wavcub_tilde_dsp), gensym("dsp"), A_CANT,
        A_NULL);
    class_addmethod(wavcub_tilde_class, method(wavcub_tilde_set), gensym("set"), A_SYMBOL,
        A_NULL);
    class_addmethod(wavcub_tilde_class, method(wavcub_tilde_ft1), gensym("ft1"), A_FLOAT,
        A_NULL);
}
