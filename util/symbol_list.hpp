// Lists for objects that take only symbols.
//
// Pd's default list handling passes a list's first atom to the symbol method
// whatever its type, so a list holding a separator (such as [comma] sends)
// would arrive as a symbol pointer that is not one. A list method of our own
// takes the symbol when there is one and refuses everything else. With it,
// Pd also routes bang, float and pointer here (with no selector).
#pragma once

#include "lorvex/plugin.hpp"

namespace lorvex {

template <typename Record>
void symbol_list(Record *x, int argc, const t_atom *argv, void (*symbol)(Record *, t_symbol *))
{
    if (argc > 0 && argv[0].a_type == A_SYMBOL) {
        symbol(x, argv[0].a_w.w_symbol);
        return;
    }
    const char *what = argc == 0                  ? "bang"
                       : argv[0].a_type == A_FLOAT   ? "float"
                       : argv[0].a_type == A_POINTER ? "pointer"
                                                     : "list";
    pd_error(x, "%s: no method for '%s'", class_getname(pd_class(&x->x_obj.ob_pd)), what);
}

} // namespace lorvex
