// qo_squeeze: channel aftertouch to Pd's MIDI output.
#include "sender.hpp"

struct t_qo_squeeze {
    t_object x_obj;
    t_float x_channel;
};

static t_class *qo_squeeze_class;

static void qo_squeeze_float(t_qo_squeeze *x, t_floatarg f)
{
    auto [port, channel] = lorvex::midi::channel_address(x->x_channel);
    outmidi_aftertouch(port, channel, lorvex::trunc(f));
}

static void *qo_squeeze_new(t_floatarg channel)
{
    auto *x = lorvex::midi::new_sender(qo_squeeze_class, &t_qo_squeeze::x_channel);
    x->x_channel = lorvex::midi::one_based(channel);
    return x;
}

LORVEX_EXPORT void qo_squeeze_setup(void)
{
    qo_squeeze_class = lorvex::midi::sender_class("qo_squeeze", qo_squeeze_new,
        qo_squeeze_float);
}
