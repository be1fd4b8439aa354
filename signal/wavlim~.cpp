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
    lorvex::bind_oscillator(x, "wavlim~", s, lorvex::wavetable::period, [](int) {});
}

static void wavlim_tilde_install(t_wavlim_tilde *x, const lorvex::lowpass::coefficients<t_float> &c)
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
        wavlim_tilde_install(x, lorvex::lowpass::pass_through<t_float>);
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

// One block: the interpolation steps, each through the filter, the output
// the filter's last step for each sample.
[[gnu::always_inline]] static inline void wavlim_tilde_block(
    t_wavlim_tilde *x, const t_word *tab, const t_sample *in, t_sample *out, int n)
{
    namespace wt = lorvex::wavetable;
    wt::block b = wt::begin(x->x_fsize, x->x_conv, x->x_phase);
    const std::int32_t steps = x->x_upsample;
    const t_sample factor = static_cast<t_sample>(steps);
    const lorvex::lowpass::coefficients<t_sample> c{x->x_b0, x->x_b1, x->x_b2, x->x_a1, x->x_a2};
    lorvex::lowpass::memory<t_sample> m{x->x_x1, x->x_x2, x->x_y1, x->x_y2};
    // The table wraps: each of the four points is taken modulo the period.
    auto around = [&]() LORVEX_INLINE {
        const std::uint32_t i = wt::index(b.p);
        return lorvex::neighbourhood<t_sample>{tab[i & b.mask].w_float, tab[(i + 1) & b.mask].w_float,
            tab[(i + 2) & b.mask].w_float, tab[(i + 3) & b.mask].w_float, wt::fraction<t_sample>(b.p)};
    };
    if (steps == 1) {
        // Dividing by 1 changes no bits: the plain oscillator skips it.
        lorvex::interpolate(
            n,
            [&](std::int64_t k) LORVEX_INLINE {
                const lorvex::neighbourhood<t_sample> h = around();
                b.p += static_cast<double>(in[k] * b.scale);
                return h;
            },
            [&](std::int64_t k, t_sample v) LORVEX_INLINE {
                out[k] = lorvex::lowpass::step(c, m, v);
            });
    } else {
        // One stream of n * steps interpolations, four at a time across
        // samples: each sample's input sets the step of its interpolations,
        // and its output is the filter's last.
        auto stream = [&](auto per_step) LORVEX_INLINE {
            std::int64_t read_k = 0, write_k = 0;
            std::int32_t read_r = 0, write_r = 0;
            t_sample inc = 0;
            lorvex::interpolate(
                static_cast<std::int64_t>(n) * steps,
                [&](std::int64_t) LORVEX_INLINE {
                    if (read_r == 0)
                        inc = per_step(in[read_k]) * b.scale;
                    const lorvex::neighbourhood<t_sample> h = around();
                    b.p += static_cast<double>(inc);
                    if (++read_r == steps) {
                        read_r = 0;
                        read_k++;
                    }
                    return h;
                },
                [&](std::int64_t, t_sample v) LORVEX_INLINE {
                    const t_sample y = lorvex::lowpass::step(c, m, v);
                    if (++write_r == steps) {
                        write_r = 0;
                        out[write_k++] = y;
                    }
                });
        };
        // A power of two divides exactly as its inverse multiplies: the
        // common factors skip the division.
        if ((steps & (steps - 1)) == 0) {
            const t_sample inverse = 1 / factor;
            stream([inverse](t_sample f) LORVEX_INLINE { return f * inverse; });
        } else {
            stream([factor](t_sample f) LORVEX_INLINE { return f / factor; });
        }
    }
    x->x_x1 = m.x1;
    x->x_x2 = m.x2;
    x->x_y1 = m.y1;
    x->x_y2 = m.y2;
    x->x_phase = wt::wrap(b.p, x->x_fsize, x->x_finvsize);
}

using wavlim_tilde_perform = lorvex::table_perform<t_wavlim_tilde, wavlim_tilde_block>;

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
    lorvex::add_perform(wavlim_tilde_perform::routine(), x, sp);
}

static void *wavlim_tilde_new(t_symbol *s)
{
    auto *x = lorvex::new_oscillator<t_wavlim_tilde>(wavlim_tilde_class, s);
    x->x_upsample = 1;
    x->x_cutoff = x->x_sr = 0;
    wavlim_tilde_cutoff(x, 0);
    return x;
}

LORVEX_EXPORT void wavlim_tilde_setup(void)
{
    using lorvex::method;
    wavlim_tilde_class = lorvex::table_class<t_wavlim_tilde>(
        "wavlim~", wavlim_tilde_new, nullptr, wavlim_tilde_dsp, wavlim_tilde_set);
    class_addmethod(wavlim_tilde_class, method(wavlim_tilde_cutoff), gensym("cutoff"),
        A_FLOAT, A_NULL);
    class_addmethod(wavlim_tilde_class, method(wavlim_tilde_upsample), gensym("upsample"),
        A_FLOAT, A_NULL);
    class_addmethod(wavlim_tilde_class, method(wavlim_tilde_ft1), gensym("ft1"), A_FLOAT,
        A_NULL);
}
