// messages: shows "bang" on Pd's console for every bang.
#include "lorvex/plugin.hpp"

struct t_messages {
    t_object x_obj;
};

static t_class *messages_class;

LORVEX_EXPORT void messages_bang(t_messages *)
{
    post("bang");
}

static void *messages_new()
{
    return lorvex::new_record<t_messages>(messages_class);
}

LORVEX_EXPORT void messages_setup(void)
{
    messages_class = class_new(gensym("messages"), lorvex::creator(messages_new), nullptr,
        sizeof(t_messages), CLASS_DEFAULT, A_NULL);
    class_addbang(messages_class, lorvex::method(messages_bang));
}
