// varwipe: removes a variable from Pd's environment on bang.
#include "lorvex/os/environment.hpp"
#include "lorvex/plugin.hpp"
#include "lorvex/symbol_inlet.hpp"

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
        lorvex::os::unset_variable(x->x_variable_name->s_name);
}

static void *varwipe_new(t_symbol *s)
{
    auto *x = lorvex::new_record<t_varwipe>(varwipe_class);
    lorvex::symbol_inlet(x);
    x->x_variable_name = s;
    return x;
}

LORVEX_EXPORT void varwipe_setup(void)
{
    using lorvex::method;
    varwipe_class = class_new(gensym("varwipe"), lorvex::creator(varwipe_new), nullptr,
        sizeof(t_varwipe), CLASS_DEFAULT, A_DEFSYM, A_NULL);
    class_addbang(varwipe_class, method(varwipe_bang));
    // Left and right alike: a symbol names the variable, a separator is refused.
    constexpr auto name = &t_varwipe::x_variable_name;
    class_addsymbol(varwipe_class, method(lorvex::store_symbol<t_varwipe, name>));
    lorvex::add_symbol_inlet<t_varwipe, name>(varwipe_class);
    class_addlist(varwipe_class, method(lorvex::list_with_symbol_inlet<t_varwipe, name,
        varwipe_bang, nullptr, lorvex::store_symbol<t_varwipe, name>>));
}
