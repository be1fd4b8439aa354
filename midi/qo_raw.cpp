// qo_raw: raw bytes to one port of Pd's MIDI output.
#include "sender.hpp"

struct t_qo_raw {
    t_object x_obj;
    t_float x_portno;
};

static t_class *qo_raw_class;

static void qo_raw_float(t_qo_raw *x, t_floatarg f)
{
    outmidi_byte(lorvex::midi::port_index(x->x_portno), lorvex::trunc(f));
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
