// qo_knob: a controller value to Pd's MIDI output.
#include "sender.hpp"

struct t_qo_knob {
    t_object x_obj;
    t_float x_ctl;
    t_float x_channel;
};

static t_class *qo_knob_class;

static void qo_knob_float(t_qo_knob *x, t_floatarg f)
{
    auto [port, channel] = lorvex::midi::channel_address(x->x_channel);
    outmidi_controlchange(port, channel, lorvex::trunc(x->x_ctl), lorvex::trunc(f));
}

static void *qo_knob_new(t_floatarg ctl, t_floatarg channel)
{
    auto *x = lorvex::midi::new_sender(qo_knob_class, &t_qo_knob::x_ctl, &t_qo_knob::x_channel);
    x->x_ctl = ctl;
    x->x_channel = lorvex::midi::one_based(channel);
    return x;
}

LORVEX_EXPORT void qo_knob_setup(void)
{
    qo_knob_class = lorvex::midi::sender_class("qo_knob", qo_knob_new, qo_knob_float);
}
