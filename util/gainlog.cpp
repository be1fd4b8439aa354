// gainlog: linear amplitude to decibels.
#include "lorvex/convert.hpp"
#include "lorvex/plugin.hpp"

static t_class *gainlog_class;

LORVEX_EXPORT t_float gainlog(t_float f)
{
    return lorvex::convert::amplitude_db(f);
}

static void gainlog_float(t_object *x, t_floatarg f)
{
    outlet_float(x->ob_outlet, gainlog(f));
}

static void *gainlog_new()
{
    auto *x = lorvex::new_record<t_object>(gainlog_class);
    outlet_new(x, &s_float);
    return x;
}

LORVEX_EXPORT void gainlog_setup(void)
{
    gainlog_class = class_new(gensym("gainlog"), lorvex::creator(gainlog_new), nullptr,
        sizeof(t_object), CLASS_DEFAULT, A_NULL);
    class_addfloat(gainlog_class, lorvex::method(gainlog_float));
}
