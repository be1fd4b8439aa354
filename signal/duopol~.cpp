// duopol~: a direct-form-I biquad whose five coefficients are signals, so they
// may change from one sample to the next.
//
//   y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] - a1 y[n-1] - a2 y[n-2]
#include "lorvex/plugin.hpp"

// The filter's memory: the last two inputs and the last two outputs.
struct t_duopol_state {
    t_float x1;
    t_float x2;
    t_float y1;
    t_float y2;
};

struct t_duopol_tilde {
    t_object x_obj;
    t_float x_f;
    t_duopol_state x_state;
    t_duopol_state *x_statep;
};

// Exported like the setup function (a braced linkage block, so that this is
// the definition and not a declaration).
extern "C" {
LORVEX_VISIBLE t_class *duopol_tilde_class;
}

// "set" and "clear" alike: missing or non-numeric arguments count as 0, so a
// bare "clear" empties the memory.
static void duopol_tilde_set(t_duopol_tilde *x, t_symbol *, int argc, t_atom *argv)
{
    x->x_state.x1 = atom_getfloatarg(0, argc, argv);
    x->x_state.x2 = atom_getfloatarg(1, argc, argv);
    x->x_state.y1 = atom_getfloatarg(2, argc, argv);
    x->x_state.y2 = atom_getfloatarg(3, argc, argv);
}

static t_int *duopol_tilde_perform(t_int *w)
{
    const auto *in = reinterpret_cast<const t_sample *>(w[1]);
    const auto *a1 = reinterpret_cast<const t_sample *>(w[2]);
    const auto *a2 = reinterpret_cast<const t_sample *>(w[3]);
    const auto *b0 = reinterpret_cast<const t_sample *>(w[4]);
    const auto *b1 = reinterpret_cast<const t_sample *>(w[5]);
    const auto *b2 = reinterpret_cast<const t_sample *>(w[6]);
    auto *out = reinterpret_cast<t_sample *>(w[7]);
    auto *state = reinterpret_cast<t_duopol_state *>(w[8]);
    const auto n = static_cast<int>(w[9]);
    // The memory stays in registers for the block; any output vector may be
    // one of the input vectors, so every sample is read before it is written.
    t_sample x1 = state->x1, x2 = state->x2, y1 = state->y1, y2 = state->y2;
    for (int i = 0; i < n; i++) {
        const t_sample xn = in[i];
        const t_sample y = ((b1[i] * x1 + b0[i] * xn) + b2[i] * x2) - a1[i] * y1 - a2[i] * y2;
        out[i] = y;
        x2 = x1;
        x1 = xn;
        y2 = y1;
        y1 = y;
    }
    state->x1 = x1;
    state->x2 = x2;
    state->y1 = y1;
    state->y2 = y2;
    return w + 10;
}

static void duopol_tilde_dsp(t_duopol_tilde *x, t_signal **sp)
{
    dsp_add(duopol_tilde_perform, 9, sp[0]->s_vec, sp[1]->s_vec, sp[2]->s_vec, sp[3]->s_vec,
        sp[4]->s_vec, sp[5]->s_vec, sp[6]->s_vec, x->x_statep, static_cast<t_int>(sp[0]->s_n));
}

// Creation arguments are accepted and ignored: the coefficients are signals.
static void *duopol_tilde_new(t_symbol *, int, t_atom *)
{
    auto *x = lorvex::new_record<t_duopol_tilde>(duopol_tilde_class);
    // a1, a2, b0, b1, b2
    for (int k = 0; k < 5; k++)
        inlet_new(&x->x_obj, &x->x_obj.ob_pd, &s_signal, &s_signal);
    outlet_new(&x->x_obj, &s_signal);
    x->x_statep = &x->x_state;
    x->x_state = {};
    x->x_f = 0;
    return x;
}

LORVEX_EXPORT void duopol_tilde_setup(void)
{
    using lorvex::method;
    duopol_tilde_class = class_new(gensym("duopol~"), lorvex::creator(duopol_tilde_new),
        nullptr, sizeof(t_duopol_tilde), CLASS_DEFAULT, A_GIMME, A_NULL);
    CLASS_MAINSIGNALIN(duopol_tilde_class, t_duopol_tilde, x_f);
    class_addmethod(duopol_tilde_class, method(duopol_tilde_dsp), gensym("dsp"), A_CANT,
        A_NULL);
    class_addmethod(duopol_tilde_class, method(duopol_tilde_set), gensym("set"), A_GIMME,
        A_NULL);
    class_addmethod(duopol_tilde_class, method(duopol_tilde_set), gensym("clear"), A_GIMME,
        A_NULL);
}
