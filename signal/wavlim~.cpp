// wavlim~: wavetable oscillator with cubic interpolation, oversampling and a
// resonant low-pass. It plays one cycle stored in an array at the frequency of
// its signal inlet; each output sample takes "upsample" interpolation steps,
// each passed through the low-pass, and sounds the last filter output.
#include "lorvex/cubic.hpp"
#include "lorvex/trunc.hpp"
#include "lorvex/wavetable.hpp"
#include "lowpass.hpp"
#include "table.hpp"

struct t_wavlim_tilde {
    t_object x_obj;
    t_float x_fsize;
    t_float x_finvsize;
    t_word *x_vec;
    t_symbol *x_arrayname;
    t_float x_f;
    double x_phase;
    t_float x_conv;
    t_float x_x2;
    t_float x_x1;
    t_float x_y2;
    t_float x_y1;
    t_float x_a1;
    t_float x_a2;
    t_float x_b0;
    t_float x_b1;
    t_float x_b2;
    t_float x_cutoff;
    std::int32_t x_upsample;
    t_float x_sr;
};

static t_class *wavlim_tilde_class;

// The table is periodic without guard points: the largest power of two not
// above its length is played, and reads wrap around it. An empty array
// (which the host cannot make today, but may report) is never read.
LORVEX_EXPORT void wavlim_tilde_set(t_wavlim_tilde *x, t_symbol *s)
{
    x->x_arrayname = s;
    int npoints = 0;
    t_garray *a = lorvex::find_table(x, "wavlim~", s, &npoints, &x->x_vec);
    if (!a)
        return;
    const int size = lorvex::wavetable::period(npoints);
    if (size == 0)
        x->x_vec = nullptr;
    else {
        x->x_fsize = static_cast<t_float>(size);
        x->x_finvsize = static_cast<t_float>(1.0 / size);
    }
    garray_usedindsp(a);
}

static void wavlim_tilde_install(t_wavlim_tilde *x, const lorvex::lowpass::coefficients &c)
{
    x->x_b0 = c.b0;
    x->x_b1 = c.b1;
    x->x_b2 = c.b2;
    x->x_a1 = c.a1;
    x->x_a2 = c.a2;
}

// A cutoff of 0 turns the filter off and clears its whole memory, so that
// the output is again exactly the interpolated value even after the memory
// held a NaN or an infinity (which would otherwise stay forever: 0 * NaN).
// Other cutoffs keep the memory, so that a sweep does not click.
LORVEX_EXPORT void wavlim_tilde_cutoff(t_wavlim_tilde *x, t_floatarg f)
{
    x->x_cutoff = f;
    if (f == 0) {
        wavlim_tilde_install(x, lorvex::lowpass::pass_through);
        x->x_x2 = x->x_x1 = x->x_y2 = x->x_y1 = 0;
        return;
    }
    wavlim_tilde_install(x, lorvex::lowpass::design(f, x->x_upsample, x->x_sr));
}

LORVEX_EXPORT void wavlim_tilde_upsample(t_wavlim_tilde *x, t_floatarg f)
{
    x->x_upsample = f >= 1 ? lorvex::trunc(f) : 1;
    wavlim_tilde_cutoff(x, x->x_cutoff);
}

static void wavlim_tilde_ft1(t_wavlim_tilde *x, t_floatarg f)
{
    x->x_phase = f;
}

static t_int *wavlim_tilde_perform(t_int *w)
{
    namespace wt = lorvex::wavetable;
    auto *x = reinterpret_cast<t_wavlim_tilde *>(w[1]);
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
    const std::int32_t steps = x->x_upsample;
    const float factor = static_cast<float>(steps);
    const lorvex::lowpass::coefficients c{x->x_b0, x->x_b1, x->x_b2, x->x_a1, x->x_a2};
    lorvex::lowpass::memory m{x->x_x1, x->x_x2, x->x_y1, x->x_y2};
    double p = wt::start(x->x_fsize, x->x_phase);
    // The table wraps: each of the four points is taken modulo the period.
    auto around = [&] {
        const std::uint32_t i = wt::index(p);
        return lorvex::neighbourhood{tab[i & mask].w_float, tab[(i + 1) & mask].w_float,
            tab[(i + 2) & mask].w_float, tab[(i + 3) & mask].w_float, wt::fraction(p)};
    };
    if (steps == 1) {
        // Dividing by 1 changes no bits: the plain oscillator skips it.
        lorvex::interpolate(
            n,
            [&](std::int64_t k) {
                const lorvex::neighbourhood h = around();
                p += static_cast<double>(in[k] * scale);
                return h;
            },
            [&](std::int64_t k, float v) { out[k] = lorvex::lowpass::step(c, m, v); });
    } else {
        // A power of two divides exactly as its inverse multiplies: the
        // common factors skip the division.
        const bool power = (steps & (steps - 1)) == 0;
        const float inverse = 1 / factor;
        for (int k = 0; k < n; k++) {
            const float inc = (power ? in[k] * inverse : in[k] / factor) * scale;
            float y = 0;
            lorvex::interpolate(
                steps,
                [&](std::int64_t) {
                    const lorvex::neighbourhood h = around();
                    p += static_cast<double>(inc);
                    return h;
                },
                [&](std::int64_t, float v) { y = lorvex::lowpass::step(c, m, v); });
            out[k] = y;
        }
    }
    x->x_x1 = m.x1;
    x->x_x2 = m.x2;
    x->x_y1 = m.y1;
    x->x_y2 = m.y2;
    x->x_phase = wt::wrap(p, x->x_fsize, x->x_finvsize);
    return w + 5;
}

// The coefficients depend on the rate: they are designed again only when it
// changes (and at the first start, replacing those a cutoff got without one).
static void wavlim_tilde_dsp(t_wavlim_tilde *x, t_signal **sp)
{
    if (x->x_sr != sp[0]->s_sr) {
        x->x_sr = sp[0]->s_sr;
        wavlim_tilde_cutoff(x, x->x_cutoff);
        x->x_conv = 1.0f / sp[0]->s_sr;
    }
    wavlim_tilde_set(x, x->x_arrayname);
    dsp_add(wavlim_tilde_perform, 4, x, sp[0]->s_vec, sp[1]->s_vec,
        static_cast<t_int>(sp[0]->s_n));
}

static void *wavlim_tilde_new(t_symbol *s)
{
    auto *x = lorvex::new_record<t_wavlim_tilde>(wavlim_tilde_class);
    x->x_vec = nullptr;
    x->x_fsize = 512;
    x->x_arrayname = s;
    x->x_finvsize = 1.0f / 512;
    outlet_new(&x->x_obj, gensym("signal"));
    inlet_new(&x->x_obj, &x->x_obj.ob_pd, &s_float, gensym("ft1"));
    x->x_upsample = 1;
    x->x_f = x->x_cutoff = x->x_sr = 0;
    wavlim_tilde_cutoff(x, 0);
    return x;
}

LORVEX_EXPORT void wavlim_tilde_setup(void)
{
    using lorvex::method;
    wavlim_tilde_class = class_new(gensym("wavlim~"), lorvex::creator(wavlim_tilde_new),
        nullptr, sizeof(t_wavlim_tilde), CLASS_DEFAULT, A_DEFSYM, A_NULL);
    CLASS_MAINSIGNALIN(wavlim_tilde_class, t_wavlim_tilde, x_f);
    class_addmethod(wavlim_tilde_class, method(wavlim_tilde_dsp), gensym("dsp"), A_CANT,
        A_NULL);
    class_addmethod(wavlim_tilde_class, method(wavlim_tilde_set), gensym("set"), A_SYMBOL,
        A_NULL);
    class_addmethod(wavlim_tilde_class, method(wavlim_tilde_cutoff), gensym("cutoff"),
        A_FLOAT, A_NULL);
    class_addmethod(wavlim_tilde_class, method(wavlim_tilde_upsample), gensym("upsample"),
        A_FLOAT, A_NULL);
    class_addmethod(wavlim_tilde_class, method(wavlim_tilde_ft1), gensym("ft1"), A_FLOAT,
        A_NULL);
}
