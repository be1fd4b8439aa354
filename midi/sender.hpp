// What the MIDI senders share when they meet Pd: the host's output entries,
// and the one shape of their classes (float creation arguments, float inlets
// that write straight into fields, one float method, no destructor).
#pragma once

#include "lorvex/midi.hpp"
#include "lorvex/plugin.hpp"

// Pd exports its MIDI output functions but declares them in no public header.
extern "C" {
void outmidi_noteon(int portno, int channel, int pitch, int velo);
void outmidi_controlchange(int portno, int channel, int ctl, int value);
void outmidi_programchange(int portno, int channel, int value);
void outmidi_pitchbend(int portno, int channel, int value);
void outmidi_aftertouch(int portno, int channel, int value);
void outmidi_polyaftertouch(int portno, int channel, int pitch, int value);
void outmidi_byte(int portno, int value);
// The three-value message entry of Pd's own MIDI devices; a program that
// embeds Pd (libpd) has no devices and so no such entry.
void sys_putmidimess(int portno, int a, int b, int c) __attribute__((weak));
}

namespace lorvex::midi {

// A message through Pd's device entry; where Pd is embedded in a program,
// byte by byte through the output's byte entry (which hands the bytes to the
// program), as many as its status takes. A port below 0 is none, dropped.
inline void put_message(int port, int a, int b, int c)
{
    if (sys_putmidimess) {
        sys_putmidimess(port, a, b, c);
        return;
    }
    if (port < 0)
        return;
    const int n = data_bytes(a);
    outmidi_byte(port, a);
    if (n > 0)
        outmidi_byte(port, b);
    if (n > 1)
        outmidi_byte(port, c);
}

template <typename>
inline constexpr t_atomtype float_argument = A_DEFFLOAT;

// The class of a sender: every creation argument a float (0 when missing),
// and nothing but floats handled at the left inlet.
template <typename Record, typename... Args>
t_class *sender_class(const char *name, void *(*make)(Args...),
    void (*on_float)(Record *, t_floatarg))
{
    t_class *c = class_new(gensym(name), creator(make), nullptr, sizeof(Record),
        CLASS_DEFAULT, float_argument<Args>..., A_NULL);
    class_addfloat(c, method(on_float));
    return c;
}

// A new record with a float inlet on each field named, left to right. The
// inlets store whatever arrives, unchecked; only constructors lift small
// channels to 1.
template <typename Record, typename... Fields>
Record *new_sender(t_class *c, Fields Record::*...inlets)
{
    auto *x = new_record<Record>(c);
    (floatinlet_new(&x->x_obj, &(x->*inlets)), ...);
    return x;
}

} // namespace lorvex::midi
