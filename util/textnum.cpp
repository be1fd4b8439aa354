// textnum: the number a symbol's text begins with.
#include "lorvex/convert.hpp"
#include "symbol_list.hpp"

struct t_textnum {
    t_object x_obj;
};

LORVEX_EXPORT t_class *textnum_class;
t_class *textnum_class;

static void textnum_symbol(t_textnum *x, t_symbol *sym)
{
    outlet_float(x->x_obj.ob_outlet, lorvex::convert::text_number<t_float>(sym->s_name));
}

static void textnum_list(t_textnum *x, t_symbol *, int argc, t_atom *argv)
{
    lorvex::symbol_list(x, argc, argv, textnum_symbol);
}

static void *textnum_new()
{
    auto *x = lorvex::new_record<t_textnum>(textnum_class);
    outlet_new(&x->x_obj, &s_float);
    return x;
}

LORVEX_EXPORT void textnum_setup(void)
{
    textnum_class = class_new(gensym("textnum"), lorvex::creator(textnum_new), nullptr,
        sizeof(t_textnum), CLASS_DEFAULT, A_NULL);
    class_addsymbol(textnum_class, lorvex::method(textnum_symbol));
    class_addlist(textnum_class, lorvex::method(textnum_list));
}
