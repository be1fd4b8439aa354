// comma: a list whose only element is a comma separator, the one atom a
// message box cannot send by itself.
#include "lorvex/plugin.hpp"

struct t_comma {
    t_object x_obj;
};

LORVEX_EXPORT t_class *comma_class;
t_class *comma_class;

namespace {
// Written once in setup; every instance sends this same atom.
t_atom _commaatom_;
} // namespace

static void comma_bang(t_comma *x)
{
    outlet_list(x->x_obj.ob_outlet, &s_list, 1, &_commaatom_);
}

static void *comma_new()
{
    auto *x = lorvex::new_record<t_comma>(comma_class);
    outlet_new(&x->x_obj, &s_symbol);
    return x;
}

LORVEX_EXPORT void comma_setup(void)
{
    comma_class = class_new(gensym("comma"), lorvex::creator(comma_new), nullptr,
        sizeof(t_comma), CLASS_DEFAULT, A_NULL);
    class_addbang(comma_class, lorvex::method(comma_bang));
    SETCOMMA(&_commaatom_);
}
