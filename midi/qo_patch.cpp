// qo_patch: a program change from a 1-based program number, to Pd's MIDI output.
#include "sender.hpp"

struct t_qo_patch {
    t_object x_obj;
    t_float x_channel;
};

static t_class *qo_patch_class;

static void qo_patch_float(t_qo_patch *x, t_floatarg f)
{
    auto [port, channel] = lorvex::midi::channel_address(x->x_channel);
    outmidi_programchange(port, channel, lorvex::midi::program(f));
}

static void *qo_patch_new(t_floatarg channel)
{
    auto *x = lorvex::midi::new_sender(qo_patch_class, &t_qo_patch::x_channel);
    x->x_channel = lorvex::midi::one_based(channel);
    return x;
}

LORVEX_EXPORT void qo_patch_setup(void)
{
    qo_patch_class = lorvex::midi::sender_class("qo_patch", qo_patch_new, qo_patch_float);
}
