// qo_wheel: pitch bend, signed around the centre, to Pd's MIDI output.
#include "sender.hpp"

struct t_qo_wheel {
    t_object x_obj;
    t_float x_channel;
};

static t_class *qo_wheel_class;

static void qo_wheel_float(t_qo_wheel *x, t_floatarg f)
{
    auto [port, channel] = lorvex::midi::channel_address(x->x_channel);
    outmidi_pitchbend(port, channel, lorvex::midi::bend(f));
}

static void *qo_wheel_new(t_floatarg channel)
{
    auto *x = lorvex::midi::new_sender(qo_wheel_class, &t_qo_wheel::x_channel);
    x->x_channel = lorvex::midi::one_based(channel);
    return x;
}

LORVEX_EXPORT void qo_wheel_setup(void)
{
    qo_wheel_class = lorvex::midi::sender_class("qo_wheel", qo_wheel_new, qo_wheel_float);
}
