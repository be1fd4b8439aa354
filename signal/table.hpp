// What the table-reading signal objects share besides their arithmetic:
// finding the array they read by name, and the silence they give without one.
#pragma once

#include "lorvex/plugin.hpp"

// For the lambdas of a perform routine: inlined even when the compiler
// thinks them large, as a call per sample would cost more than their work.
#define LORVEX_INLINE __attribute__((always_inline))

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

// Registers `perform` with the argument words every table object uses: the
// object, its input and output signals, and the block length.
inline void add_perform(t_perfroutine perform, void *x, t_signal **sp)
{
    dsp_add(perform, 4, x, sp[0]->s_vec, sp[1]->s_vec, static_cast<t_int>(sp[0]->s_n));
}

// The body of such a perform routine: unpacks its words, gives silence while
// no table is bound (x_vec null), else runs body(x, table, in, out, n).
template <typename Record, typename Body>
[[gnu::always_inline]] inline t_int *perform_table(t_int *w, Body &&body)
{
    auto *x = reinterpret_cast<Record *>(w[1]);
    const auto *in = reinterpret_cast<const t_sample *>(w[2]);
    auto *out = reinterpret_cast<t_sample *>(w[3]);
    const int n = static_cast<int>(w[4]);
    if (x->x_vec)
        body(x, static_cast<const t_word *>(x->x_vec), in, out, n);
    else
        silence(out, n);
    return w + 5;
}

// The perform routine of a table object whose block is `Block`, built twice
// on x86: once for every processor and once more with 256-bit vectors for
// processors that have AVX2. routine() gives the one for the processor it
// runs on. The arithmetic is the same operation for operation in both (no
// fused multiply-add), so are the bits. The choice is made by asking the
// processor, not by the loader's indirect functions, which 32-bit x86 and
// Windows modules cannot have; elsewhere there is the one routine.
template <typename Record, auto Block>
struct table_perform {
    static t_int *plain(t_int *w) { return perform_table<Record>(w, Block); }
#if defined(__x86_64__) || defined(__i386__)
    [[gnu::target("avx2")]] static t_int *wide(t_int *w)
    {
        return perform_table<Record>(w, Block);
    }
    static t_perfroutine routine()
    {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? wide : plain;
    }
#else
    static t_perfroutine routine() { return plain; }
#endif
};

} // namespace lorvex

namespace lorvex {

// The class of a table object: the signal inlet's scalar in x_f, then the
// methods "dsp" and "set"; the caller adds its own after them.
template <typename Record, typename New, typename Dsp, typename Set>
t_class *table_class(const char *name, New create, t_method destroy, Dsp dsp, Set set,
    int flags = CLASS_DEFAULT)
{
    t_class *c = class_new(gensym(name), creator(create), destroy, sizeof(Record),
        flags, A_DEFSYM, A_NULL);
    CLASS_MAINSIGNALIN(c, Record, x_f);
    class_addmethod(c, method(dsp), gensym("dsp"), A_CANT, A_NULL);
    class_addmethod(c, method(set), gensym("set"), A_SYMBOL, A_NULL);
    return c;
}

// A new oscillator: no table until the first DSP start, a period of 512
// meanwhile, a signal outlet and the phase inlet (delivered as "ft1").
template <typename Record>
Record *new_oscillator(t_class *c, t_symbol *s)
{
    auto *x = new_record<Record>(c);
    x->x_vec = nullptr;
    x->x_fsize = 512;
    x->x_arrayname = s;
    x->x_finvsize = 1.0f / 512;
    outlet_new(&x->x_obj, gensym("signal"));
    inlet_new(&x->x_obj, &x->x_obj.ob_pd, &s_float, gensym("ft1"));
    x->x_f = 0;
    return x;
}

// Binds an oscillator's table: period(npoints) is the period to play, or 0
// to refuse the array, which refuse(npoints) may report. An array found is
// registered either way, so that resizing it restarts DSP and binds it again.
template <typename Record, typename Refuse>
void bind_oscillator(Record *x, const char *cls, t_symbol *s, int (*period)(int),
    Refuse &&refuse)
{
    x->x_arrayname = s;
    int npoints = 0;
    t_garray *a = find_table(x, cls, s, &npoints, &x->x_vec);
    if (!a)
        return;
    const int size = period(npoints);
    if (size == 0) {
        refuse(npoints);
        x->x_vec = nullptr;
    } else {
        x->x_fsize = static_cast<t_float>(size);
        x->x_finvsize = static_cast<t_float>(1.0 / size);
    }
    garray_usedindsp(a);
}

} // namespace lorvex
