// Test-only probe for the files-and-environment objects: loaded with
// "-lib lvxsystem", never installed. One receiver, "lvxsys":
//
//   lvxsys locale               one line per locale category, "locale LC_CTYPE: <name>",
//                               then "locale decimal_point: ." and
//                               "locale mon_decimal_point: ," from localeconv()
//   lvxsys dir <canvas> <VAR>   moves patch pd-<canvas> to the directory named by
//                               the environment variable VAR
//   lvxsys send <recv> <VAR>    sends the text of VAR to <recv> as a symbol
//   lvxsys setenv <NAME> <VAR>  sets NAME in Pd's environment to the text of VAR
//                               (wine gives a Windows program no HOME of Linux's:
//                               a scenario sets it from inside Pd)
//
// Words in a script are cut at Pd's 1000 characters; texts from the
// environment are not, so overlong directories and patterns come from there.
#include "lorvex/plugin.hpp"
#include "console.hpp"
#include <g_canvas.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void emit(const std::string &line) { lorvex::probe::console_line(line); }

t_class *lvxsys_class;

struct t_lvxsys {
    t_pd x_pd;
};

const char *env_or_complain(t_symbol *var)
{
    const char *v = std::getenv(var->s_name);
    if (!v)
        pd_error(nullptr, "lvxsys: %s is not set", var->s_name);
    return v;
}

void lvxsys_locale(t_lvxsys *)
{
    // C's own categories, then those of POSIX and the GNU C library, which
    // Windows' C runtime does not have.
    const std::pair<int, const char *> categories[] = {{LC_CTYPE, "LC_CTYPE"},
        {LC_NUMERIC, "LC_NUMERIC"}, {LC_TIME, "LC_TIME"}, {LC_COLLATE, "LC_COLLATE"},
        {LC_MONETARY, "LC_MONETARY"},
#ifdef LC_MESSAGES
        {LC_MESSAGES, "LC_MESSAGES"},
#endif
#ifdef LC_IDENTIFICATION
        {LC_PAPER, "LC_PAPER"}, {LC_NAME, "LC_NAME"}, {LC_ADDRESS, "LC_ADDRESS"},
        {LC_TELEPHONE, "LC_TELEPHONE"}, {LC_MEASUREMENT, "LC_MEASUREMENT"},
        {LC_IDENTIFICATION, "LC_IDENTIFICATION"},
#endif
        {LC_ALL, "LC_ALL"}};
    for (const auto &[category, name] : categories) {
        const char *value = std::setlocale(category, nullptr);
        emit(std::string("locale ") + name + ": " + (value ? value : "(null)"));
    }
    const std::lconv *conv = std::localeconv();
    emit(std::string("locale decimal_point: ") + conv->decimal_point);
    emit(std::string("locale mon_decimal_point: ") + conv->mon_decimal_point);
}

void lvxsys_dir(t_lvxsys *, t_symbol *canvasname, t_symbol *var)
{
    std::string full = std::string("pd-") + canvasname->s_name;
    auto *gl = reinterpret_cast<t_canvas *>(pd_findbyclass(gensym(full.c_str()), canvas_class));
    const char *dir = env_or_complain(var);
    if (!gl)
        pd_error(nullptr, "lvxsys: %s: no such canvas", full.c_str());
    if (gl && dir)
        canvas_rename(gl, gl->gl_name, gensym(dir));
}

void lvxsys_send(t_lvxsys *, t_symbol *receiver, t_symbol *var)
{
    const char *text = env_or_complain(var);
    if (!receiver->s_thing)
        pd_error(nullptr, "lvxsys: %s: no such receiver", receiver->s_name);
    else if (text)
        pd_symbol(receiver->s_thing, gensym(text));
}

void lvxsys_setenv(t_lvxsys *, t_symbol *name, t_symbol *var)
{
    const char *text = env_or_complain(var);
    if (!text)
        return;
#ifdef _WIN32
    _putenv_s(name->s_name, text);
#else
    setenv(name->s_name, text, 1);
#endif
}

} // namespace

// The receiver of the Pd instance current on this thread (see lvxprobe_bind).
LORVEX_EXPORT void lvxsystem_bind(void) { pd_bind(pd_new(lvxsys_class), gensym("lvxsys")); }

LORVEX_EXPORT void lvxsystem_setup(void)
{
    lvxsys_class = class_new(gensym("lvxsys"), nullptr, nullptr, sizeof(t_lvxsys),
        CLASS_PD, A_NULL);
    class_addmethod(lvxsys_class, lorvex::method(lvxsys_locale), gensym("locale"), A_NULL);
    class_addmethod(lvxsys_class, lorvex::method(lvxsys_dir), gensym("dir"), A_SYMBOL,
        A_SYMBOL, A_NULL);
    class_addmethod(lvxsys_class, lorvex::method(lvxsys_setenv), gensym("setenv"), A_SYMBOL,
        A_SYMBOL, A_NULL);
    class_addmethod(lvxsys_class, lorvex::method(lvxsys_send), gensym("send"), A_SYMBOL,
        A_SYMBOL, A_NULL);
    lvxsystem_bind();
}
