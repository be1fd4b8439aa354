// Test-only probe: takes over the object name "inlet~" the way another
// library loaded into Pd could, so that a test sees what an object that
// relies on Pd's own [inlet~] does when that name no longer gives it.
//   lvxfakeinlet object   "inlet~" makes a plain object of another class
//   lvxfakeinlet nothing  "inlet~" makes nothing
#include "lorvex/plugin.hpp"
#include "console.hpp"

namespace {

t_class *fake_class;
t_class *mode_class;

// The mode, one per Pd instance: its receiver "lvxfakeinlet".
struct t_mode {
    t_pd x_pd;
    bool x_make_nothing;
};

bool make_nothing()
{
    t_pd *mode = gensym("lvxfakeinlet")->s_thing;
    return mode && *mode == mode_class && reinterpret_cast<t_mode *>(mode)->x_make_nothing;
}

struct t_fake {
    t_object x_obj;
};

void *fake_new(t_symbol *, int, t_atom *)
{
    if (make_nothing())
        return nullptr;
    auto *x = reinterpret_cast<t_fake *>(pd_new(fake_class));
    outlet_new(&x->x_obj, &s_signal);
    return x;
}

void mode_object(t_mode *x) { x->x_make_nothing = false; }
void mode_nothing(t_mode *x) { x->x_make_nothing = true; }

} // namespace

// The receiver of the Pd instance current on this thread (see lvxprobe_bind).
LORVEX_EXPORT void lvxfakeinlet_bind(void) { pd_bind(pd_new(mode_class), gensym("lvxfakeinlet")); }

LORVEX_EXPORT void lvxfakeinlet_setup(void)
{
    fake_class = class_new(gensym("lvx_fakeinlet"), lorvex::creator(fake_new), nullptr,
        sizeof(t_fake), CLASS_DEFAULT, A_GIMME, A_NULL);
    class_addcreator(lorvex::creator(fake_new), gensym("inlet~"), A_GIMME, A_NULL);
    mode_class = class_new(gensym("lvxfakeinlet"), nullptr, nullptr, sizeof(t_mode),
        CLASS_PD, A_NULL);
    class_addmethod(mode_class, lorvex::method(mode_object), gensym("object"), A_NULL);
    class_addmethod(mode_class, lorvex::method(mode_nothing), gensym("nothing"), A_NULL);
    lvxfakeinlet_bind();
}
