// glyphnum: the code of the first byte of a symbol's text.
#include "lorvex/convert.hpp"
#include "symbol_list.hpp"

struct t_glyphnum {
    t_object x_obj;
};

LORVEX_EXPORT t_class *glyphnum_class;
t_class *glyphnum_class;

// A UTF-8 character beyond ASCII gives only its lead byte (192..255).
static void glyphnum_symbol(t_glyphnum *x, t_symbol *sym)
{
    outlet_float(x->x_obj.ob_outlet, lorvex::convert::first_byte(sym->s_name));
}

static void glyphnum_list(t_glyphnum *x, t_symbol *, int argc, t_atom *argv)
{
    lorvex::symbol_list(x, argc, argv, glyphnum_symbol);
}

static void *glyphnum_new()
{
    auto *x = lorvex::new_record<t_glyphnum>(glyphnum_class);
    outlet_new(&x->x_obj, &s_float);
    return x;
}

LORVEX_EXPORT void glyphnum_setup(void)
{
    glyphnum_class = class_new(gensym("glyphnum"), lorvex::creator(glyphnum_new), nullptr,
        sizeof(t_glyphnum), CLASS_DEFAULT, A_NULL);
    class_addsymbol(glyphnum_class, lorvex::method(glyphnum_symbol));
    class_addlist(glyphnum_class, lorvex::method(glyphnum_list));
}
