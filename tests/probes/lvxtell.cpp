// Test-only probe: sends a message straight to objects that no wire or name
// reaches (objects without inlets), as the host itself would.
//
//   lvxtell <canvas> <class> <selector> <args...>
//       every object of class <class> in canvas pd-<canvas> gets the message
//       (NaN as @nan); prints "lvxtell: told N"
#include "lorvex/plugin.hpp"
#include "console.hpp"
#include <g_canvas.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

t_class *tell_class;

// The canvas name arrives as the selector.
void tell_anything(t_pd *, t_symbol *canvas, int argc, t_atom *argv)
{
    if (argc < 2 || argv[0].a_type != A_SYMBOL || argv[1].a_type != A_SYMBOL) {
        pd_error(nullptr, "lvxtell: needs a canvas, a class and a selector");
        return;
    }
    std::string full = std::string("pd-") + canvas->s_name;
    auto *gl = reinterpret_cast<t_glist *>(pd_findbyclass(gensym(full.c_str()), canvas_class));
    if (!gl) {
        pd_error(nullptr, "lvxtell: %s: no such canvas", full.c_str());
        return;
    }
    std::vector<t_atom> args(argv + 2, argv + argc);
    for (t_atom &a : args)
        if (a.a_type == A_SYMBOL && !std::strcmp(a.a_w.w_symbol->s_name, "@nan"))
            SETFLOAT(&a, NAN);
    int told = 0;
    for (t_gobj *g = gl->gl_list; g; g = g->g_next)
        if (!std::strcmp(class_getname(pd_class(&g->g_pd)), argv[0].a_w.w_symbol->s_name)) {
            pd_typedmess(&g->g_pd, argv[1].a_w.w_symbol, static_cast<int>(args.size()),
                args.data());
            told++;
        }
    lorvex::probe::console_line("lvxtell: told " + std::to_string(told));
}

} // namespace

// The receiver of the Pd instance current on this thread (see lvxprobe_bind).
LORVEX_EXPORT void lvxtell_bind(void) { pd_bind(pd_new(tell_class), gensym("lvxtell")); }

LORVEX_EXPORT void lvxtell_setup(void)
{
    tell_class = class_new(gensym("lvxtell"), nullptr, nullptr, sizeof(t_pd), CLASS_PD, A_NULL);
    class_addanything(tell_class, lorvex::method(tell_anything));
    lvxtell_bind();
}
