// What every plug-in source needs to meet Pd: its header, the export of the
// setup function (everything else stays hidden), and typed wrappers for the
// casts that class_new and class_addmethod want.
#pragma once

#include <m_pd.h>

// Pd finds a plug-in by its setup function; only that (and the few names a
// plug-in deliberately offers) leave the shared object. A Windows DLL exports
// what is marked dllexport, and then nothing else.
#ifdef _WIN32
#define LORVEX_VISIBLE __declspec(dllexport)
#else
#define LORVEX_VISIBLE __attribute__((visibility("default")))
#endif
#define LORVEX_EXPORT extern "C" LORVEX_VISIBLE

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
