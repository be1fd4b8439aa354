// offcull: passes a pitch with the last velocity unless that velocity is 0,
// so that note-offs never reach what follows.
#include "lorvex/plugin.hpp"

struct t_offcull {
    t_object x_obj;
    t_float x_velo;
    t_outlet *x_pitchout;
    t_outlet *x_velout;
};

static t_class *offcull_class;

// Right to left, as Pd's own note objects send; values pass unchanged. -0
// compares equal to 0 and is dropped too.
static void offcull_float(t_offcull *x, t_floatarg f)
{
    if (x->x_velo == 0)
        return;
    outlet_float(x->x_velout, x->x_velo);
    outlet_float(x->x_pitchout, f);
}

static void *offcull_new(void)
{
    auto *x = lorvex::new_record<t_offcull>(offcull_class);
    floatinlet_new(&x->x_obj, &x->x_velo);
    x->x_pitchout = outlet_new(&x->x_obj, &s_float);
    x->x_velout = outlet_new(&x->x_obj, &s_float);
    return x;
}

LORVEX_EXPORT void offcull_setup(void)
{
    offcull_class = class_new(gensym("offcull"), lorvex::creator(offcull_new), nullptr,
        sizeof(t_offcull), CLASS_DEFAULT, A_NULL);
    class_addfloat(offcull_class, lorvex::method(offcull_float));
}
