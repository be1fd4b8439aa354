// Symbol fields that only ever hold symbols.
//
// Pd hands the atoms of a list that an object has no list method for to its
// inlets one by one: the later atoms to the further inlets, then the first to
// the left inlet's own method. A separator among them (a comma or semicolon,
// such as [comma] sends) goes on as a "symbol" message whose symbol pointer
// is no symbol at all: null, or whatever the atom's unused bytes hold. Pd's
// symbolinlet_new, or a symbol method that stores what it gets, would keep
// it, and the next use of the field would crash.
//
// So an object with a further symbol inlet takes lists itself
// (list_with_symbol_inlet: the same distribution, with separators refused),
// makes that inlet with symbol_inlet, which hands symbols to the class's
// method "sym1" (add_symbol_inlet), and stores them with store_symbol.
#pragma once

#include "lorvex/plugin.hpp"

#include <cstddef>
#include <type_traits>

namespace lorvex {

template <typename Record>
void refuse_atom(Record *x, const t_atom &a)
{
    const char *name = class_getname(pd_class(&x->x_obj.ob_pd));
    if (a.a_type == A_FLOAT)
        pd_error(x, "%s: no method for 'float'", name);
    else if (a.a_type == A_POINTER)
        pd_error(x, "%s: no method for 'pointer'", name);
    else
        pd_error(x, "%s: not a symbol", name);
}

template <typename Record, t_symbol *Record::*Field>
void store_symbol(Record *x, t_symbol *s)
{
    if (!s) {
        pd_error(x, "%s: not a symbol", class_getname(pd_class(&x->x_obj.ob_pd)));
        return;
    }
    x->*Field = s;
}

inline t_symbol *symbol_inlet_selector() { return gensym("sym1"); }

// What the inlet hands on: a symbol, or the atoms of a list that reached it.
template <typename Record, t_symbol *Record::*Field>
void symbol_inlet_method(Record *x, t_symbol *, int argc, t_atom *argv)
{
    if (argc == 1 && argv[0].a_type == A_SYMBOL)
        store_symbol<Record, Field>(x, argv[0].a_w.w_symbol);
    else
        pd_error(x, "%s: not a symbol", class_getname(pd_class(&x->x_obj.ob_pd)));
}

// The further inlet, made in the constructor where symbolinlet_new would be.
template <typename Record>
t_inlet *symbol_inlet(Record *x)
{
    return inlet_new(&x->x_obj, &x->x_obj.ob_pd, &s_symbol, symbol_inlet_selector());
}

// Its method, registered in the setup function.
template <typename Record, t_symbol *Record::*Field>
void add_symbol_inlet(t_class *c)
{
    class_addmethod(c, method(symbol_inlet_method<Record, Field>), symbol_inlet_selector(), A_GIMME, A_NULL);
}

// The list method of a class whose one further inlet is symbol_inlet: the
// second atom to the field, then the first atom to the left inlet's float or
// symbol method (null: the class has none; an empty list is a bang), as Pd would; atoms
// beyond the second are dropped, as Pd drops those beyond the last inlet.
// The class's own methods are called directly: through Pd, a message the
// class has no method for would come back here as a list.
template <typename Record, t_symbol *Record::*Field, auto Bang, auto Float, auto Symbol>
void list_with_symbol_inlet(Record *x, t_symbol *, int argc, t_atom *argv)
{
    if (argc == 0) {
        Bang(x);
        return;
    }
    if (argc >= 2) {
        if (argv[1].a_type == A_SYMBOL)
            x->*Field = argv[1].a_w.w_symbol;
        else
            pd_error(x, "%s: not a symbol", class_getname(pd_class(&x->x_obj.ob_pd)));
    }
    if constexpr (!std::is_same_v<decltype(Float), std::nullptr_t>) {
        if (argv[0].a_type == A_FLOAT)
            return Float(x, argv[0].a_w.w_float);
    }
    if constexpr (!std::is_same_v<decltype(Symbol), std::nullptr_t>) {
        if (argv[0].a_type == A_SYMBOL)
            return Symbol(x, argv[0].a_w.w_symbol);
    }
    refuse_atom(x, argv[0]);
}

} // namespace lorvex
