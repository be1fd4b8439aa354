// Test-only probe: [lvx_jack] asks liblorvex for the shared JACK client from
// inside Pd, as a plug-in does.
//   bang  -> "lvx_jack: client <name>" or "lvx_jack: null"
//   poll  -> asks again every 100 ms until a client comes (at most 15 s),
//            then prints as bang does and bangs its outlet (also on giving up)
#include "lorvex_jack.h"

#include "lorvex/os/jack.hpp"
#include "lorvex/plugin.hpp"
#include "console.hpp"

#include <cstdio>

namespace {

t_class *lvx_jack_class;

struct t_lvx_jack {
    t_object x_obj;
    t_clock *x_clock;
    int x_tries;
    t_outlet *x_done;
};

bool report(bool quiet_if_null)
{
    jack_client_t *c = lorvex_get_jack_client();
    if (!c && quiet_if_null)
        return false;
    if (c)
        lorvex::probe::console_line(std::string("lvx_jack: client ") + lorvex::os::jack_name(c));
    else
        lorvex::probe::console_line("lvx_jack: null");
    return c != nullptr;
}

void lvx_jack_bang(t_lvx_jack *) { report(false); }

void lvx_jack_tick(t_lvx_jack *x)
{
    if (report(true)) {
        outlet_bang(x->x_done);
    } else if (++x->x_tries >= 150) {
        lorvex::probe::console_line("lvx_jack: gave up");
        outlet_bang(x->x_done);
    } else {
        clock_delay(x->x_clock, 100);
    }
}

void lvx_jack_poll(t_lvx_jack *x)
{
    x->x_tries = 0;
    clock_delay(x->x_clock, 0);
}

void *lvx_jack_new()
{
    auto *x = lorvex::new_record<t_lvx_jack>(lvx_jack_class);
    x->x_clock = clock_new(x, lorvex::method(lvx_jack_tick));
    x->x_done = outlet_new(&x->x_obj, &s_bang);
    return x;
}

void lvx_jack_free(t_lvx_jack *x) { clock_free(x->x_clock); }

} // namespace

LORVEX_EXPORT void lvxjack_setup(void)
{
    lvx_jack_class = class_new(gensym("lvx_jack"), lorvex::creator(lvx_jack_new),
        lorvex::method(lvx_jack_free), sizeof(t_lvx_jack), CLASS_DEFAULT, A_NULL);
    class_addbang(lvx_jack_class, lorvex::method(lvx_jack_bang));
    class_addmethod(lvx_jack_class, lorvex::method(lvx_jack_poll), gensym("poll"), A_NULL);
}
