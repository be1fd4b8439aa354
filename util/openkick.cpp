// openkick: a bang once the patch it sits in has been loaded.
#include "lorvex/plugin.hpp"
#include <g_canvas.h>
extern "C" {
#include <s_stuff.h>
}

struct t_openkick {
    t_object x_obj;
};

static t_class *openkick_class;

// Pd sends "loadbang" with an action: LB_LOAD once loading is complete, but
// also LB_INIT while an abstraction or file is still being read and LB_CLOSE
// before a containing patch closes. Only the load action (a bare "loadbang"
// counts as one) bangs, so opening a patch gives exactly one bang and
// closing it none. -noloadbang silences even a load action sent by hand.
static void openkick_loadbang(t_openkick *x, t_floatarg action)
{
    if (action == LB_LOAD && !sys_noloadbang)
        outlet_bang(x->x_obj.ob_outlet);
}

static void *openkick_new()
{
    auto *x = lorvex::new_record<t_openkick>(openkick_class);
    outlet_new(&x->x_obj, &s_bang);
    return x;
}

LORVEX_EXPORT void openkick_setup(void)
{
    openkick_class = class_new(gensym("openkick"), lorvex::creator(openkick_new), nullptr,
        sizeof(t_openkick), CLASS_NOINLET, A_NULL);
    class_addmethod(openkick_class, lorvex::method(openkick_loadbang), gensym("loadbang"),
        A_DEFFLOAT, A_NULL);
}
