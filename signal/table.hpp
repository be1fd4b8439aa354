// What the table-reading signal objects share besides their arithmetic:
// finding the array they read by name, and the silence they give without one.
#pragma once

#include "lorvex/plugin.hpp"

namespace lorvex {

// Looks up the array `name` for the signal object `owner` of class `cls`
// and writes its point count and element vector. Without such an array it
// reports "<cls>: <name>: no such array" (nothing for the empty name); for
// elements that are not plain floats "<name>: bad template for <cls>".
// Either way *vec becomes null and the answer is null.
inline t_garray *find_table(void *owner, const char *cls, t_symbol *name, int *npoints,
    t_word **vec)
{
    auto *a = reinterpret_cast<t_garray *>(pd_findbyclass(name, garray_class));
    if (!a) {
        if (*name->s_name)
            pd_error(owner, "%s: %s: no such array", cls, name->s_name);
        *vec = nullptr;
        return nullptr;
    }
    if (!garray_getfloatwords(a, npoints, vec)) {
        pd_error(owner, "%s: bad template for %s", name->s_name, cls);
        *vec = nullptr;
        return nullptr;
    }
    return a;
}

inline void silence(t_sample *out, int n)
{
    for (int i = 0; i < n; i++)
        out[i] = 0;
}

} // namespace lorvex
