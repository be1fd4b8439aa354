// Test-only probe: takes over the object name "inlet~" the way another
// library loaded into Pd could, so that a test sees what an object that
// relies on Pd's own [inlet~] does when that name no longer gives it.
//   lvxfakeinlet object   "inlet~" makes a plain object of another class
//   lvxfakeinlet nothing  "inlet~" makes nothing
#include "lorvex/plugin.hpp"

namespace {

t_class *fake_class;
t_class *mode_class;
bool make_nothing = false;

struct t_fake {
    t_object x_obj;
};

void *fake_new(t_symbol *, int, t_atom *)
{
    if (make_nothing)
        return nullptr;
    auto *x = reinterpret_cast<t_fake *>(pd_new(fake_class));
    outlet_new(&x->x_obj, &s_signal);
    return x;
}

void mode_object(t_pd *) { make_nothing = false; }
void mode_nothing(t_pd *) { make_nothing = true; }

} // namespace

LORVEX_EXPORT void lvxfakeinlet_setup(void)
{
    fake_class = class_new(gensym("lvx_fakeinlet"), lorvex::creator(fake_new), nullptr,
        sizeof(t_fake), CLASS_DEFAULT, A_GIMME, A_NULL);
    class_addcreator(lorvex::creator(fake_new), gensym("inlet~"), A_GIMME, A_NULL);
    mode_class = class_new(gensym("lvxfakeinlet"), nullptr, nullptr, sizeof(t_pd),
        CLASS_PD, A_NULL);
    class_addmethod(mode_class, lorvex::method(mode_object), gensym("object"), A_NULL);
    class_addmethod(mode_class, lorvex::method(mode_nothing), gensym("nothing"), A_NULL);
    pd_bind(pd_new(mode_class), gensym("lvxfakeinlet"));
}
