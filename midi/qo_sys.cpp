// qo_sys: a system (real-time) status byte to Pd's MIDI output, through its
// three-value message entry with two zero data values.
#include "sender.hpp"

struct t_qo_sys {
    t_object x_obj;
    t_float x_rt; // kept for the record's layout; nothing reads or writes it
    t_float x_channel;
};

static t_class *qo_sys_class;

static void qo_sys_float(t_qo_sys *x, t_floatarg f)
{
    lorvex::midi::put_message(lorvex::midi::system_port(x->x_channel), lorvex::trunc(f), 0, 0);
}

// The second argument is accepted and has no use.
static void *qo_sys_new(t_floatarg channel, t_floatarg)
{
    auto *x = lorvex::midi::new_sender<t_qo_sys>(qo_sys_class);
    x->x_channel = lorvex::midi::one_based(channel);
    return x;
}

LORVEX_EXPORT void qo_sys_setup(void)
{
    qo_sys_class = lorvex::midi::sender_class("qo_sys", qo_sys_new, qo_sys_float);
}
