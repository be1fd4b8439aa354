// demoprobe: the smallest complete object. It reports on the console when
// its plug-in is loaded, when an instance is made, and what it receives.
#include "lorvex/plugin.hpp"

struct t_demoprobe {
    t_object x_obj;
};

LORVEX_EXPORT t_class *demoprobe_class;
t_class *demoprobe_class;

LORVEX_EXPORT void demoprobe_float(t_demoprobe *, t_floatarg f)
{
    post("demoprobe: %f", static_cast<double>(f));
}

LORVEX_EXPORT void demoprobe_rats(t_demoprobe *)
{
    post("demoprobe: rats");
}

LORVEX_EXPORT void *demoprobe_new(void)
{
    auto *x = lorvex::new_record<t_demoprobe>(demoprobe_class);
    post("demoprobe_new");
    return x;
}

LORVEX_EXPORT void demoprobe_setup(void)
{
    post("demoprobe_setup");
    demoprobe_class = class_new(gensym("demoprobe"), lorvex::creator(demoprobe_new), nullptr,
        sizeof(t_demoprobe), CLASS_DEFAULT, A_NULL);
    class_addmethod(demoprobe_class, lorvex::method(demoprobe_rats), gensym("rats"), A_NULL);
    class_addfloat(demoprobe_class, lorvex::method(demoprobe_float));
}
