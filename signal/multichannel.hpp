// Multichannel signals, which Pd carries since 0.54: one signal holds several
// channels, one block after the other in one vector. A class that says it
// takes them (Pd's CLASS_MULTICHANNEL) sees the channel count of its inputs
// at DSP time and must make its outputs itself with signal_setmultiout().
//
// The plug-ins are built against older headers and must still load on a Pd
// without any of this: the function is found in the running Pd
// (lorvex/host.hpp), and a class asks for multichannel signals only where
// that Pd offers them. The others are refused by Pd with "can't take
// multichannel inputs", as its own are.
#pragma once

#include "lorvex/host.hpp"
#include "lorvex/plugin.hpp"

#include <cstddef>

namespace lorvex {

// Pd 0.54's class flag CLASS_MULTICHANNEL.
constexpr int class_multichannel = 0x10;

// The head of a signal as Pd 0.54 and later lay it out: the channel count
// follows the rate (where older releases keep their reference count).
struct signal_head {
    int s_length;
    t_sample *s_vec;
    t_float s_sr;
    int s_nchans;
};
static_assert(offsetof(signal_head, s_vec) == offsetof(t_signal, s_vec));
static_assert(offsetof(signal_head, s_sr) == offsetof(t_signal, s_sr));

// Whether the running Pd carries multichannel signals (asked at setup).
inline bool host_multichannel()
{
    int major = 0, minor = 0, bugfix = 0;
    sys_getversion(&major, &minor, &bugfix);
    return host::get().signal_setmultiout && (major > 0 || minor >= 54);
}

// Makes the outputs of a multichannel signal object (only where
// host_multichannel() said yes).
inline void set_multiout(t_signal **sig, int nchans)
{
    host::get().signal_setmultiout(sig, nchans);
}

// The channel count of a signal, on a Pd that carries several.
inline int channels(const t_signal *s)
{
    const int n = reinterpret_cast<const signal_head *>(s)->s_nchans;
    return n > 1 ? n : 1;
}

} // namespace lorvex
