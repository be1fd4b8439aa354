// key: the key numbers Pd sends to "#key" as keys go down.
//
// Pd has a built-in class of this name; a patch gets this one only when the
// plug-in is loaded at startup (pd -lib key), which replaces the built-in.
#include "lorvex/plugin.hpp"

struct t_key {
    t_object x_obj;
};

static t_class *key_class;

// Looked up where it is used: each Pd instance of a program running several
// has its own "#key", and the plug-in is set up only once, in one of them.
static t_symbol *key_sym() { return gensym("#key"); }

static void key_float(t_key *x, t_floatarg f)
{
    outlet_float(x->x_obj.ob_outlet, f);
}

static void *key_new()
{
    auto *x = lorvex::new_record<t_key>(key_class);
    outlet_new(&x->x_obj, &s_float);
    pd_bind(&x->x_obj.ob_pd, key_sym());
    return x;
}

static void key_free(t_key *x)
{
    pd_unbind(&x->x_obj.ob_pd, key_sym());
}

LORVEX_EXPORT void key_setup(void)
{
    key_class = class_new(gensym("key"), lorvex::creator(key_new), lorvex::method(key_free),
        sizeof(t_key), CLASS_NOINLET, A_NULL);
    class_addfloat(key_class, lorvex::method(key_float));
}
