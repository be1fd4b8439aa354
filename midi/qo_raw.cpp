// qo_raw: raw bytes to one port of Pd's MIDI output.
#include "sender.hpp"

struct t_qo_raw {
    t_object x_obj;
    t_float x_portno;
};

static t_class *qo_raw_class;

// A port below 0 (a port number of 0 or below sent to the right inlet) is
// none: Pd drops it, and a program embedding Pd would take it for port 0.
static void qo_raw_float(t_qo_raw *x, t_floatarg f)
{
    const std::int32_t port = lorvex::midi::port_index(x->x_portno);
    if (port >= 0)
        outmidi_byte(port, lorvex::trunc(f));
}

// The second argument is accepted and has no use.
static void *qo_raw_new(t_floatarg portno, t_floatarg)
{
    auto *x = lorvex::midi::new_sender(qo_raw_class, &t_qo_raw::x_portno);
    x->x_portno = lorvex::midi::one_based(portno);
    return x;
}

LORVEX_EXPORT void qo_raw_setup(void)
{
    qo_raw_class = lorvex::midi::sender_class("qo_raw", qo_raw_new, qo_raw_float);
}
