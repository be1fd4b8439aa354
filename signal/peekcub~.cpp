// peekcub~: reads an array at the fractional point index of its signal
// inlet with cubic interpolation. The index is clipped so that the four
// points read lie inside the array: the first and the last point are only
// ever outer neighbours.
//
// On a Pd with multichannel signals it reads every channel of the index and
// gives as many output channels, as Pd's own table readers do.
#include "lorvex/cubic.hpp"
#include "lorvex/trunc.hpp"
#include "multichannel.hpp"
#include "table.hpp"

struct t_peekcub_tilde {
    t_object x_obj;
    std::int32_t x_npoints;
    t_word *x_vec;
    t_symbol *x_arrayname;
    t_float x_f;
};

static t_class *peekcub_tilde_class;
static bool peekcub_tilde_multichannel;

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

// One block: every index clipped to the readable range, then read.
[[gnu::always_inline]] static inline void peekcub_tilde_block(
    t_peekcub_tilde *x, const t_word *tab, const t_sample *in, t_sample *out, int n)
{
    const std::int32_t maxindex = x->x_npoints - 3;
    lorvex::interpolate(
        n,
        [&](std::int64_t k) LORVEX_INLINE {
            const t_sample findex = in[k];
            std::int32_t index = lorvex::trunc(findex);
            t_sample frac;
            if (index <= 0) {
                index = 1;
                frac = 0;
            } else if (index > maxindex) {
                index = maxindex;
                frac = 1;
            } else {
                frac = findex - static_cast<t_sample>(index);
            }
            const t_word *a = tab + index;
            return lorvex::neighbourhood<t_sample>{
                a[-1].w_float, a[0].w_float, a[1].w_float, a[2].w_float, frac};
        },
        [&](std::int64_t k, t_sample v) LORVEX_INLINE { out[k] = v; });
}

using peekcub_tilde_perform = lorvex::table_perform<t_peekcub_tilde, peekcub_tilde_block>;

// Every channel reads the same array in the same way, and the channels lie
// one after the other: one pass reads them all.
static void peekcub_tilde_dsp(t_peekcub_tilde *x, t_signal **sp)
{
    peekcub_tilde_set(x, x->x_arrayname);
    int nchans = 1;
    if (peekcub_tilde_multichannel) {
        nchans = lorvex::channels(sp[0]);
        lorvex::set_multiout(&sp[1], nchans);
    }
    dsp_add(peekcub_tilde_perform::routine(), 4, x, sp[0]->s_vec, sp[1]->s_vec,
        static_cast<t_int>(sp[0]->s_n) * nchans);
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
    peekcub_tilde_multichannel = lorvex::host_multichannel();
    peekcub_tilde_class = lorvex::table_class<t_peekcub_tilde>("peekcub~", peekcub_tilde_new,
        lorvex::method(peekcub_tilde_free), peekcub_tilde_dsp, peekcub_tilde_set,
        CLASS_DEFAULT | (peekcub_tilde_multichannel ? lorvex::class_multichannel : 0));
}
