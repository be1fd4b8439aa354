// varwipe: removes a variable from Pd's environment on bang.
#include "lorvex/plugin.hpp"

#include <cstdlib>

struct t_varwipe {
    t_object x_obj;
    t_symbol *x_variable_name;
    t_outlet *x_data_outlet;
};

static t_class *varwipe_class;

// A variable that is not set, or a name the system refuses (one with '='),
// leaves the environment as it was; neither is worth a console line.
static void varwipe_bang(t_varwipe *x)
{
    if (x->x_variable_name != &s_)
        unsetenv(x->x_variable_name->s_name);
}

static void varwipe_symbol(t_varwipe *x, t_symbol *s)
{
    x->x_variable_name = s;
}

static void *varwipe_new(t_symbol *s)
{
    auto *x = lorvex::new_record<t_varwipe>(varwipe_class);
    symbolinlet_new(&x->x_obj, &x->x_variable_name);
    x->x_variable_name = s;
    return x;
}

LORVEX_EXPORT void varwipe_setup(void)
{
    using lorvex::method;
    varwipe_class = class_new(gensym("varwipe"), lorvex::creator(varwipe_new), nullptr,
        sizeof(t_varwipe), CLASS_DEFAULT, A_DEFSYM, A_NULL);
    class_addbang(varwipe_class, method(varwipe_bang));
    class_addsymbol(varwipe_class, method(varwipe_symbol));
}
