// What every plug-in source needs to meet Pd: its header, the export of the
// setup function (everything else stays hidden), and typed wrappers for the
// casts that class_new and class_addmethod want.
#pragma once

#include <m_pd.h>

// Pd finds a plug-in by its setup function; only that (and the few names a
// plug-in deliberately offers) leave the shared object.
#define LORVEX_EXPORT extern "C" __attribute__((visibility("default")))

namespace lorvex {

template <typename R, typename... Args>
inline t_method method(R (*fn)(Args...))
{
    return reinterpret_cast<t_method>(fn);
}

template <typename... Args>
inline t_newmethod creator(void *(*fn)(Args...))
{
    // Through void (*)(void), the type that stands for "any function".
    return reinterpret_cast<t_newmethod>(reinterpret_cast<void (*)(void)>(fn));
}

template <typename Record>
inline Record *new_record(t_class *c)
{
    return reinterpret_cast<Record *>(pd_new(c));
}

} // namespace lorvex
