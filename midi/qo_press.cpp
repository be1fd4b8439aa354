// qo_press: polyphonic aftertouch, pressure at the left, key from the middle
// inlet, to Pd's MIDI output.
#include "sender.hpp"

struct t_qo_press {
    t_object x_obj;
    t_float x_channel;
    t_float x_pitch;
};

static t_class *qo_press_class;

static void qo_press_float(t_qo_press *x, t_floatarg n)
{
    auto [port, channel] = lorvex::midi::channel_address(x->x_channel);
    outmidi_polyaftertouch(port, channel, lorvex::trunc(x->x_pitch), lorvex::trunc(n));
}

static void *qo_press_new(t_floatarg channel)
{
    auto *x = lorvex::midi::new_sender(qo_press_class, &t_qo_press::x_pitch,
        &t_qo_press::x_channel);
    x->x_channel = lorvex::midi::one_based(channel);
    return x;
}

LORVEX_EXPORT void qo_press_setup(void)
{
    qo_press_class = lorvex::midi::sender_class("qo_press", qo_press_new, qo_press_float);
}
