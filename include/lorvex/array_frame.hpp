// The frame every array object computes in: bind the named arrays in a fixed
// order, run one pass over the elements, redraw the destination, and send
// exactly one bang, whether the computation ran or binding failed.
#pragma once

#include "lorvex/plugin.hpp"

#include <array>
#include <cstddef>

#include "lorvex/array_window.hpp"

namespace lorvex {

// One array bound for a single computation; never kept between messages.
struct bound_array {
    t_garray *garray;
    int n;
    t_word *vec;
};

// Looks up one name. Reports "<name>: no such array" or the class's
// bad-template text on the owner and answers false.
inline bool bind_array(void *owner, const char *template_class, t_symbol *name,
    bound_array &out)
{
    auto *a = reinterpret_cast<t_garray *>(pd_findbyclass(name, garray_class));
    if (!a) {
        pd_error(owner, "%s: no such array", name->s_name);
        return false;
    }
    int n = 0;
    t_word *vec = nullptr;
    if (!garray_getfloatwords(a, &n, &vec)) {
        pd_error(owner, "%s: bad template for %s", name->s_name, template_class);
        return false;
    }
    out = {a, n, vec};
    return true;
}

// Binds the names in order (sources first, destination last), stopping at
// the first failure; if all bind, runs kernel over them and redraws the
// destination. Either way one bang leaves the outlet.
template <std::size_t N, typename Kernel>
void array_compute(void *owner, t_outlet *outlet, const char *template_class,
    const std::array<t_symbol *, N> &names, Kernel &&kernel)
{
    std::array<bound_array, N> arrays{};
    bool bound = true;
    for (std::size_t k = 0; bound && k < N; k++)
        bound = bind_array(owner, template_class, names[k], arrays[k]);
    if (bound) {
        kernel(arrays);
        garray_redraw(arrays[N - 1].garray);
    }
    outlet_bang(outlet);
}

} // namespace lorvex
