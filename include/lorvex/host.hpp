// Names that Pd exports without declaring them in the headers the plug-ins
// build against (or that only newer releases have), found in the running Pd:
// each is null where that Pd lacks it, so that a plug-in still loads and can
// say what it misses.
//
// Linux binds weak references to them when it loads the plug-in. A Windows
// DLL binds no weak reference to another DLL: there each name is looked up
// in the module that holds Pd's own functions (pd.dll, or a program that
// embeds Pd), once, the first time a plug-in asks.
#pragma once

#include <m_pd.h>

#ifdef _WIN32
#include "lorvex/os/windows.hpp"
#else
extern "C" {
extern t_class *vinlet_class __attribute__((weak));
t_inlet *vinlet_getit(t_pd *x) __attribute__((weak));
int inlet_getsignalindex(t_inlet *x) __attribute__((weak));
void signal_setmultiout(t_signal **sig, int nchans) __attribute__((weak));
}
#endif

namespace lorvex::host {

struct names {
    // Pd's signal-inlet class (the variable that holds it).
    t_class **vinlet_class;
    // The inlet of a subpatch's box that one of its [inlet~] objects feeds.
    t_inlet *(*vinlet_getit)(t_pd *x);
    // An inlet's index among its owner's signal inlets.
    int (*inlet_getsignalindex)(t_inlet *x);
    // Pd 0.54 and later: makes the outputs of a multichannel signal object.
    void (*signal_setmultiout)(t_signal **sig, int nchans);
};

#ifdef _WIN32
// The address of `name` in the module that holds pd_new, or null.
inline void *find(const char *name)
{
    HMODULE pd = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&pd_new), &pd))
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(pd, name));
}

template <typename T>
inline T find_as(const char *name)
{
    return reinterpret_cast<T>(find(name));
}
#endif

// What the running Pd offers; the same for the life of the process.
inline const names &get()
{
#ifdef _WIN32
    static const names found = {find_as<t_class **>("vinlet_class"),
        find_as<t_inlet *(*)(t_pd *)>("vinlet_getit"),
        find_as<int (*)(t_inlet *)>("inlet_getsignalindex"),
        find_as<void (*)(t_signal **, int)>("signal_setmultiout")};
#else
    static const names found = {&::vinlet_class, ::vinlet_getit, ::inlet_getsignalindex,
        ::signal_setmultiout};
#endif
    return found;
}

} // namespace lorvex::host
