// plug-roster: lists the ports of the running JACK server, output ports on
// the left outlet and input ports on the right, as (client, port) lists.
#include "lorvex_jack.h"

#include "lorvex/os/jack.hpp"
#include "lorvex/plugin.hpp"

#include <cstring>

namespace {
constexpr int buf_size = 128;
}

struct t_plug_roster {
    t_object x_obj;
    t_outlet *x_outlet_inputs;
    t_outlet *x_outlet_outputs;
    char x_pattern[buf_size];
    char *x_buf;
    t_atom *x_atoms; // kept for the record's layout: lists are built on the stack
};

static t_class *plug_roster_class;

// The shared client, asked for once per process, when the first object is
// made (never again, whether it came or not): registering the class, as a
// program that compiles every class in does at its start, touches no JACK
// server. Safe when instances on several threads make their first at once.
static jack_client_t *plug_roster_client()
{
    static jack_client_t *const client = lorvex_get_jack_client();
    return client;
}

// Copies at most size - 1 characters and always terminates.
static void plug_roster_copy(char *dst, const char *src, std::size_t len, std::size_t size)
{
    if (len > size - 1)
        len = size - 1;
    std::memcpy(dst, src, len);
    dst[len] = 0;
}

// Each list is built on the stack: a receiver may ask this object again
// while the list is still on its way to the receivers after it, and that
// request must not rewrite what they are handed.
static void plug_roster_query(t_plug_roster *x, const char *pattern, unsigned long flags,
    t_outlet *out)
{
    const char **ports = lorvex::os::jack_ports(plug_roster_client(), pattern, nullptr, flags);
    for (const char **p = ports; p && *p; p++) {
        const char *colon = std::strchr(*p, ':');
        if (!colon)
            continue;
        // A client name longer than the scratch buffer is cut, never overflowed.
        plug_roster_copy(x->x_buf, *p, static_cast<std::size_t>(colon - *p), buf_size);
        t_atom list[2];
        SETSYMBOL(&list[0], gensym(x->x_buf));
        SETSYMBOL(&list[1], gensym(colon + 1));
        outlet_list(out, &s_list, 2, list);
    }
    lorvex::os::jack_free_ports(ports);
}

// Keywords choose port kinds; the first other word is the name pattern.
static void plug_roster_anything(t_plug_roster *x, t_symbol *s, int argc, t_atom *argv)
{
    if (!plug_roster_client())
        return;
    unsigned long flags = 0;
    bool have_pattern = false;
    x->x_pattern[0] = 0;
    if (s != &s_bang) {
        if (!std::strcmp(s->s_name, "physical"))
            flags = JackPortIsPhysical;
        else if (!std::strcmp(s->s_name, "virtual"))
            flags = 0;
        else if (!std::strcmp(s->s_name, "input"))
            flags |= JackPortIsInput;
        else if (!std::strcmp(s->s_name, "output"))
            flags |= JackPortIsOutput;
        else {
            plug_roster_copy(x->x_pattern, s->s_name, std::strlen(s->s_name), buf_size);
            have_pattern = true;
        }
        for (int i = 0; i < argc; i++) {
            atom_string(&argv[i], x->x_buf, buf_size);
            if (!std::strcmp(x->x_buf, "physical"))
                flags |= JackPortIsPhysical;
            else if (!std::strcmp(x->x_buf, "virtual"))
                flags &= ~static_cast<unsigned long>(JackPortIsPhysical);
            else if (!std::strcmp(x->x_buf, "input"))
                flags |= JackPortIsInput;
            else if (!std::strcmp(x->x_buf, "output"))
                flags |= JackPortIsOutput;
            else if (!have_pattern) {
                plug_roster_copy(x->x_pattern, x->x_buf, std::strlen(x->x_buf), buf_size);
                have_pattern = true;
            }
        }
    }
    // The request goes on with its own copy of the pattern: a request made
    // from one of its lists sets and empties x_pattern in between.
    char pattern[buf_size];
    std::memcpy(pattern, x->x_pattern, buf_size);
    plug_roster_query(x, pattern, flags | JackPortIsOutput, x->x_outlet_outputs);
    plug_roster_query(x, pattern, flags | JackPortIsInput, x->x_outlet_inputs);
    x->x_pattern[0] = 0;
}

static void *plug_roster_new(void)
{
    plug_roster_client();
    auto *x = lorvex::new_record<t_plug_roster>(plug_roster_class);
    x->x_outlet_outputs = outlet_new(&x->x_obj, &s_list);
    x->x_outlet_inputs = outlet_new(&x->x_obj, &s_list);
    x->x_buf = static_cast<char *>(getbytes(buf_size));
    return x;
}

static void plug_roster_free(t_plug_roster *x)
{
    freebytes(x->x_buf, buf_size);
}

LORVEX_EXPORT void setup_plug0x2droster(void)
{
    plug_roster_class = class_new(gensym("plug-roster"), lorvex::creator(plug_roster_new),
        lorvex::method(plug_roster_free), sizeof(t_plug_roster), CLASS_DEFAULT, A_NULL);
    class_addanything(plug_roster_class, lorvex::method(plug_roster_anything));
}
