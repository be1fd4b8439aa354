// numglyph: the one-character symbol whose code a float names.
#include "lorvex/convert.hpp"
#include "lorvex/plugin.hpp"

struct t_numglyph {
    t_object x_obj;
};

LORVEX_EXPORT t_class *numglyph_class;
t_class *numglyph_class;

// Code 0 ends the text at once: 0, 256, negatives and NaN send the empty symbol.
static void numglyph_float(t_numglyph *x, t_floatarg f)
{
    const char text[2] = {lorvex::convert::glyph_byte(f), 0};
    outlet_symbol(x->x_obj.ob_outlet, gensym(text));
}

static void *numglyph_new()
{
    auto *x = lorvex::new_record<t_numglyph>(numglyph_class);
    outlet_new(&x->x_obj, &s_symbol);
    return x;
}

LORVEX_EXPORT void numglyph_setup(void)
{
    numglyph_class = class_new(gensym("numglyph"), lorvex::creator(numglyph_new), nullptr,
        sizeof(t_numglyph), CLASS_DEFAULT, A_NULL);
    class_addfloat(numglyph_class, lorvex::method(numglyph_float));
}
