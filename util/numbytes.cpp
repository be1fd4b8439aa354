// numbytes: the four bytes of a float's single-precision representation.
#include "lorvex/convert.hpp"
#include "lorvex/plugin.hpp"

struct t_numbytes {
    t_object x_obj;
    t_outlet *x_out;
};

static t_class *numbytes_class;

// Memory order: on the little-endian targets the least significant byte of
// the IEEE 754 bit pattern comes first.
static void numbytes_float(t_numbytes *x, t_floatarg f)
{
    const auto fbuf = lorvex::convert::float_bytes(static_cast<float>(f));
    t_atom list[4];
    for (int i = 0; i < 4; i++)
        SETFLOAT(&list[i], fbuf[i]);
    outlet_list(x->x_out, gensym("list"), 4, list);
}

static void *numbytes_new()
{
    auto *x = lorvex::new_record<t_numbytes>(numbytes_class);
    x->x_out = outlet_new(&x->x_obj, &s_float);
    return x;
}

static void numbytes_free(t_numbytes *) {}

LORVEX_EXPORT void numbytes_setup(void)
{
    numbytes_class = class_new(gensym("numbytes"), lorvex::creator(numbytes_new),
        lorvex::method(numbytes_free), sizeof(t_numbytes), CLASS_DEFAULT, A_NULL);
    class_addfloat(numbytes_class, lorvex::method(numbytes_float));
}
