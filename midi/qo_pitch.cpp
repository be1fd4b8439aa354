// qo_pitch: a note-on, key at the left, velocity from the middle inlet, to
// Pd's MIDI output.
#include "sender.hpp"

struct t_qo_pitch {
    t_object x_obj;
    t_float x_velo;
    t_float x_channel;
};

static t_class *qo_pitch_class;

static void qo_pitch_float(t_qo_pitch *x, t_floatarg f)
{
    auto [port, channel] = lorvex::midi::channel_address(x->x_channel);
    outmidi_noteon(port, channel, lorvex::trunc(f), lorvex::trunc(x->x_velo));
}

static void *qo_pitch_new(t_floatarg channel)
{
    auto *x = lorvex::midi::new_sender(qo_pitch_class, &t_qo_pitch::x_velo,
        &t_qo_pitch::x_channel);
    // Unlike its siblings it also lifts a fraction below 1 to channel 1.
    x->x_channel = channel < 1 ? 1 : channel;
    return x;
}

LORVEX_EXPORT void qo_pitch_setup(void)
{
    qo_pitch_class = lorvex::midi::sender_class("qo_pitch", qo_pitch_new, qo_pitch_float);
}
