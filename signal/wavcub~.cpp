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

LORVEX_EXPORT void wavcub_tilde_set(t_wavcub_tilde *x, t_symbol *s)
{
    lorvex::bind_oscillator(x, "wavcub~", s, lorvex::wavetable::guarded_period, [&](int npoints) {
        pd_error(x, "%s: number of points (%d) not a power of 2 plus three", s->s_name, npoints);
    });
}

static void wavcub_tilde_ft1(t_wavcub_tilde *x, t_floatarg f)
{
    x->x_phase = f;
}

// One block: four consecutive points from the one before the position.
[[gnu::always_inline]] static inline void wavcub_tilde_block(
    t_wavcub_tilde *x, const t_word *tab, const t_sample *in, t_sample *out, int n)
{
    namespace wt = lorvex::wavetable;
    wt::block b = wt::begin(x->x_fsize, x->x_conv, x->x_phase);
    lorvex::interpolate(
        n,
        [&](std::int64_t k) LORVEX_INLINE {
            const t_word *a = tab + (wt::index(b.p) & b.mask);
            const lorvex::neighbourhood<t_sample> h{
                a[0].w_float, a[1].w_float, a[2].w_float, a[3].w_float, wt::fraction<t_sample>(b.p)};
            b.p += static_cast<double>(b.scale * in[k]);
            return h;
        },
        [&](std::int64_t k, t_sample v) LORVEX_INLINE { out[k] = v; });
    x->x_phase = wt::wrap(b.p, x->x_fsize, x->x_finvsize);
}

using wavcub_tilde_perform = lorvex::table_perform<t_wavcub_tilde, wavcub_tilde_block>;

static void wavcub_tilde_dsp(t_wavcub_tilde *x, t_signal **sp)
{
    x->x_conv = 1.0f / sp[0]->s_sr;
    wavcub_tilde_set(x, x->x_arrayname);
    lorvex::add_perform(wavcub_tilde_perform::routine(), x, sp);
}

static void *wavcub_tilde_new(t_symbol *s)
{
    return lorvex::new_oscillator<t_wavcub_tilde>(wavcub_tilde_class, s);
}

LORVEX_EXPORT void wavcub_tilde_setup(void)
{
    wavcub_tilde_class = lorvex::table_class<t_wavcub_tilde>(
        "wavcub~", wavcub_tilde_new, nullptr, wavcub_tilde_dsp, wavcub_tilde_set);
    class_addmethod(wavcub_tilde_class, lorvex::method(wavcub_tilde_ft1), gensym("ft1"),
        A_FLOAT, A_NULL);
}
