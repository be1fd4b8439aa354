// Test-only probe: [lvx_vec~ label] copies its signal through and, each time
// Pd builds its signal graph, prints where its input and output vectors lie:
//   "label: in <address> out <address>"
// Placed before and after a signal object, it shows whether that object was
// given the same memory for an input and its output.
#include "lorvex/plugin.hpp"
#include "console.hpp"

#include <cstdio>

namespace {

t_class *vec_class;

struct t_lvx_vec {
    t_object x_obj;
    t_float x_f;
    t_symbol *x_label;
};

t_int *vec_perform(t_int *w)
{
    auto *in = reinterpret_cast<t_sample *>(w[1]);
    auto *out = reinterpret_cast<t_sample *>(w[2]);
    int n = static_cast<int>(w[3]);
    for (int i = 0; i < n; i++)
        out[i] = in[i];
    return w + 4;
}

void vec_dsp(t_lvx_vec *x, t_signal **sp)
{
    char line[MAXPDSTRING];
    std::snprintf(line, sizeof line, "%s: in %p out %p", x->x_label->s_name,
        static_cast<void *>(sp[0]->s_vec), static_cast<void *>(sp[1]->s_vec));
    lorvex::probe::console_line(line);
    dsp_add(vec_perform, 3, sp[0]->s_vec, sp[1]->s_vec, static_cast<t_int>(sp[0]->s_n));
}

void *vec_new(t_symbol *label)
{
    auto *x = reinterpret_cast<t_lvx_vec *>(pd_new(vec_class));
    x->x_label = *label->s_name ? label : gensym("vec");
    outlet_new(&x->x_obj, &s_signal);
    return x;
}

} // namespace

LORVEX_EXPORT void lvxvec_setup(void)
{
    vec_class = class_new(gensym("lvx_vec~"), lorvex::creator(vec_new), nullptr,
        sizeof(t_lvx_vec), CLASS_DEFAULT, A_DEFSYM, A_NULL);
    CLASS_MAINSIGNALIN(vec_class, t_lvx_vec, x_f);
    class_addmethod(vec_class, lorvex::method(vec_dsp), gensym("dsp"), A_CANT, A_NULL);
}
