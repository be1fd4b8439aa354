// Test-only probes: loaded with "-lib lvxprobe" by the test harness, never
// installed. They observe what happens inside Pd and print it exactly.
//
//   [lvx_print label]      prints every message as "label: ..." with floats in
//                          round-trip precision (%.9g, in Pd64 %.17g; nan,
//                          inf and -0 kept)
//   [lvx_capture~ label N] records N samples from the next DSP block on
//                          (bang re-arms) and prints them as one line
//   [lvx_hostile~]         a signal of hostile values: nan, inf, huge, -0, denormals
//
// and one receiver named "lvx" for the scenario script:
//   lvx send <receiver> <selector> <args...>   args may use @nan @-nan @inf @-inf
//       @-0 @big @-big @max @denorm @empty @long @comma @semi @dollar
//   lvx dump <array>            "array <name>: v0 v1 ..."
//   lvx spoil <array> <struct>  gives an array an element template that is not plain floats
//   lvx getenv <NAME>           "getenv NAME: value" or "getenv NAME: (unset)"
//   lvx hostile <canvas>        every object in canvas pd-<canvas> gets every selector of
//                               its class, with hostile arguments, at every inlet
//   lvx say <text...>           "lvx: text" (marks a point in the output)
#include "lorvex/plugin.hpp"
#include <g_canvas.h>
extern "C" {
#include <m_imp.h>
}
#include "console.hpp"
#include "methods.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void format_float(std::string &out, t_float f)
{
    char buf[64];
    if (std::isnan(f))
        std::snprintf(buf, sizeof buf, "%s", std::signbit(f) ? "-nan" : "nan");
    else
        // Round-trip precision: 9 significant digits for float, 17 for Pd64's double.
        std::snprintf(buf, sizeof buf, sizeof(t_float) == 8 ? "%.17g" : "%.9g",
            static_cast<double>(f));
    out += buf;
}

void format_atoms(std::string &out, int argc, const t_atom *argv)
{
    for (int i = 0; i < argc; i++) {
        out += ' ';
        switch (argv[i].a_type) {
        case A_FLOAT: format_float(out, argv[i].a_w.w_float); break;
        case A_SYMBOL: out += argv[i].a_w.w_symbol->s_name; break;
        case A_SEMI: out += ';'; break;
        case A_COMMA: out += ','; break;
        case A_POINTER: out += "(pointer)"; break;
        default: out += "(atom)"; break;
        }
    }
}

// Straight to stderr, like Pd's own -stderr console, but without post()'s
// line-length limit, so long captures arrive whole and in order.
void emit(const std::string &line) { lorvex::probe::console_line(line); }

// ---- [lvx_print label] ----------------------------------------------------

t_class *print_class;

struct t_lvx_print {
    t_object x_obj;
    t_symbol *x_label;
};

void print_anything(t_lvx_print *x, t_symbol *s, int argc, t_atom *argv)
{
    std::string line = std::string(x->x_label->s_name) + ":";
    if (s == &s_float && argc == 1 && argv[0].a_type == A_FLOAT) {
        format_atoms(line, argc, argv);
    } else if (s == &s_list && argc > 0) {
        line += " list";
        format_atoms(line, argc, argv);
    } else {
        line += ' ';
        line += s->s_name;
        format_atoms(line, argc, argv);
    }
    emit(line);
}

void print_bang(t_lvx_print *x) { print_anything(x, &s_bang, 0, nullptr); }
void print_float(t_lvx_print *x, t_float f)
{
    t_atom a;
    SETFLOAT(&a, f);
    print_anything(x, &s_float, 1, &a);
}
void print_symbol(t_lvx_print *x, t_symbol *s)
{
    t_atom a;
    SETSYMBOL(&a, s);
    print_anything(x, &s_symbol, 1, &a);
}
void print_list(t_lvx_print *x, t_symbol *, int argc, t_atom *argv)
{
    print_anything(x, &s_list, argc, argv);
}

void *print_new(t_symbol *label)
{
    auto *x = reinterpret_cast<t_lvx_print *>(pd_new(print_class));
    x->x_label = *label->s_name ? label : gensym("print");
    return x;
}

// ---- [lvx_capture~ label N] -----------------------------------------------

t_class *capture_class;

struct t_lvx_capture {
    t_object x_obj;
    t_float x_f;
    t_symbol *x_label;
    std::vector<t_sample> *x_buf;
    size_t x_want;
    bool x_armed;
    t_clock *x_clock;
};

void capture_report(t_lvx_capture *x)
{
    std::string line = std::string(x->x_label->s_name) + ":";
    for (t_sample v : *x->x_buf) {
        line += ' ';
        format_float(line, v);
    }
    emit(line);
}

t_int *capture_perform(t_int *w)
{
    auto *x = reinterpret_cast<t_lvx_capture *>(w[1]);
    auto *in = reinterpret_cast<t_sample *>(w[2]);
    int n = static_cast<int>(w[3]);
    if (x->x_armed) {
        for (int i = 0; i < n && x->x_buf->size() < x->x_want; i++)
            x->x_buf->push_back(in[i]);
        if (x->x_buf->size() >= x->x_want) {
            x->x_armed = false;
            clock_delay(x->x_clock, 0);
        }
    }
    return w + 4;
}

void capture_dsp(t_lvx_capture *x, t_signal **sp)
{
    dsp_add(capture_perform, 3, x, sp[0]->s_vec, static_cast<t_int>(sp[0]->s_n));
}

void capture_bang(t_lvx_capture *x)
{
    x->x_buf->clear();
    x->x_armed = true;
}

void *capture_new(t_symbol *label, t_floatarg n)
{
    auto *x = reinterpret_cast<t_lvx_capture *>(pd_new(capture_class));
    x->x_label = *label->s_name ? label : gensym("capture");
    x->x_buf = new std::vector<t_sample>;
    x->x_want = n > 0 ? static_cast<size_t>(n) : 64;
    x->x_buf->reserve(x->x_want);
    x->x_armed = true;
    x->x_clock = clock_new(x, lorvex::method(capture_report));
    return x;
}

void capture_free(t_lvx_capture *x)
{
    clock_free(x->x_clock);
    delete x->x_buf;
}

// ---- [lvx_hostile~] -------------------------------------------------------

t_class *hostile_sig_class;

struct t_lvx_hostile_sig {
    t_object x_obj;
    unsigned x_step;
};

const t_sample hostile_samples[] = {NAN, INFINITY, -INFINITY, 1e30f, -1e30f, 0.f, -0.f,
    1e-40f, -1e-40f, 3.4028235e38f, -3.4028235e38f, 0.5f, -1.f, 2147483648.f, 1e10f,
    -NAN, 1.f, 44100.f, -44100.f, 1e-30f};

t_int *hostile_sig_perform(t_int *w)
{
    auto *x = reinterpret_cast<t_lvx_hostile_sig *>(w[1]);
    auto *out = reinterpret_cast<t_sample *>(w[2]);
    int n = static_cast<int>(w[3]);
    constexpr unsigned count = sizeof hostile_samples / sizeof hostile_samples[0];
    for (int i = 0; i < n; i++)
        out[i] = hostile_samples[(x->x_step++ / 7) % count];
    return w + 4;
}

void hostile_sig_dsp(t_lvx_hostile_sig *x, t_signal **sp)
{
    dsp_add(hostile_sig_perform, 3, x, sp[0]->s_vec, static_cast<t_int>(sp[0]->s_n));
}

void *hostile_sig_new()
{
    auto *x = reinterpret_cast<t_lvx_hostile_sig *>(pd_new(hostile_sig_class));
    outlet_new(&x->x_obj, &s_signal);
    return x;
}

// ---- the "lvx" receiver ---------------------------------------------------

t_class *holder_class;

struct t_lvx {
    t_object x_obj;
    t_outlet *x_out;
};


// Turns @-tokens into the atoms a patch cannot type.
t_atom decode(const t_atom &in)
{
    t_atom a = in;
    if (in.a_type != A_SYMBOL || in.a_w.w_symbol->s_name[0] != '@')
        return a;
    std::string t = in.a_w.w_symbol->s_name + 1;
    if (t == "nan") SETFLOAT(&a, NAN);
    else if (t == "-nan") SETFLOAT(&a, -NAN);
    else if (t == "inf") SETFLOAT(&a, INFINITY);
    else if (t == "-inf") SETFLOAT(&a, -INFINITY);
    else if (t == "-0") SETFLOAT(&a, -0.f);
    else if (t == "big") SETFLOAT(&a, 1e30f);
    else if (t == "-big") SETFLOAT(&a, -1e30f);
    else if (t == "max") SETFLOAT(&a, 3.4028235e38f);
    else if (t == "denorm") SETFLOAT(&a, 1e-40f);
    else if (t == "empty") SETSYMBOL(&a, &s_);
    else if (t == "long") SETSYMBOL(&a, gensym(std::string(2000, 'x').c_str()));
    else if (t == "comma") SETCOMMA(&a);
    else if (t == "semi") SETSEMI(&a);
    else if (t == "dollar") SETSYMBOL(&a, gensym("$1"));
    return a;
}

void lvx_send(t_lvx *, t_symbol *, int argc, t_atom *argv)
{
    if (argc < 2 || argv[0].a_type != A_SYMBOL) {
        pd_error(nullptr, "lvx send: needs a receiver and a message");
        return;
    }
    t_symbol *target = argv[0].a_w.w_symbol;
    if (!target->s_thing) {
        pd_error(nullptr, "lvx send: %s: no such receiver", target->s_name);
        return;
    }
    std::vector<t_atom> args;
    for (int i = 1; i < argc; i++)
        args.push_back(decode(argv[i]));
    t_symbol *sel = args[0].a_type == A_SYMBOL ? args[0].a_w.w_symbol : &s_list;
    if (args[0].a_type == A_SYMBOL)
        args.erase(args.begin());
    else if (args.size() == 1 && args[0].a_type == A_FLOAT)
        sel = &s_float;
    pd_typedmess(target->s_thing, sel, static_cast<int>(args.size()), args.data());
}

t_garray *find_array(t_symbol *name)
{
    auto *a = reinterpret_cast<t_garray *>(pd_findbyclass(name, garray_class));
    if (!a)
        pd_error(nullptr, "lvx: %s: no such array", name->s_name);
    return a;
}

void lvx_dump(t_lvx *, t_symbol *name)
{
    t_garray *a = find_array(name);
    int n = 0;
    t_word *vec = nullptr;
    if (!a || !garray_getfloatwords(a, &n, &vec))
        return;
    std::string line = std::string("array ") + name->s_name + ":";
    for (int i = 0; i < n; i++) {
        line += ' ';
        format_float(line, vec[i].w_float);
    }
    emit(line);
}

// Pd cannot make such an array from a patch; this swaps the element template
// of an existing one for a one-word struct without a float "y" field.
void lvx_spoil(t_lvx *, t_symbol *name, t_symbol *tmpl)
{
    t_garray *a = find_array(name);
    if (!a)
        return;
    char full[MAXPDSTRING];
    std::snprintf(full, sizeof full, "pd-%s", tmpl->s_name);
    t_template *t = template_findbyname(gensym(full));
    if (!t || t->t_n != 1) {
        pd_error(nullptr, "lvx spoil: %s: needs a struct of one field", tmpl->s_name);
        return;
    }
    garray_getarray(a)->a_templatesym = gensym(full);
}

void lvx_getenv(t_lvx *, t_symbol *name)
{
    const char *v = std::getenv(name->s_name);
    emit(std::string("getenv ") + name->s_name + ": " + (v ? v : "(unset)"));
}

void lvx_say(t_lvx *, t_symbol *, int argc, t_atom *argv)
{
    std::string line = "lvx:";
    format_atoms(line, argc, argv);
    emit(line);
}

// Hostile argument lists: each is tried with every selector at every inlet.
std::vector<std::vector<t_atom>> hostile_lists()
{
    auto f = [](t_float v) { t_atom a; SETFLOAT(&a, v); return a; };
    auto s = [](const char *v) { t_atom a; SETSYMBOL(&a, gensym(v)); return a; };
    std::string longname(2000, 'y');
    std::vector<std::vector<t_atom>> lists = {
        {},
        {f(0)}, {f(-1)}, {f(1)}, {f(0.5f)}, {f(-0.f)}, {f(NAN)}, {f(-NAN)}, {f(INFINITY)},
        {f(-INFINITY)}, {f(1e30f)}, {f(-1e30f)}, {f(2147483648.f)}, {f(-2147483904.f)},
        {f(4294967296.f)}, {f(1e-40f)}, {f(65535)}, {f(127)}, {f(128)}, {f(255)}, {f(256)},
        {f(1024)}, {f(100000)},
        {s("")}, {s("x")}, {s(longname.c_str())}, {s("%s%s%n%d")}, {s("-1")}, {s("..")},
        {s("/")}, {s("*")}, {s("lvxa")}, {s("lvxb")}, {s("lvxc")}, {s("lvxg")}, {s("~")}, {s("$1")}, {s("inf")}, {s("nan")}, {s("0x10")},
        {f(1), f(2)}, {f(-1), f(-1), f(-1), f(-1)}, {f(NAN), f(NAN), f(NAN), f(NAN)},
        {f(1e30f), f(-1e30f), f(1e30f), f(-1e30f), f(1e30f)},
        {f(INFINITY), s("x"), f(-INFINITY), s("")}, {s("x"), f(3), s("y"), f(4)},
        {f(2147483647.f), f(-2147483648.f), f(2147483647.f)},
        {f(0), f(0), f(0), f(0), f(0), f(0), f(0), f(0), f(0), f(0)},
    };
    t_atom comma, semi;
    SETCOMMA(&comma);
    SETSEMI(&semi);
    lists.push_back({comma});
    lists.push_back({semi, f(1)});
    std::vector<t_atom> many_floats, many_symbols, many_mixed;
    for (int i = 0; i < 1000; i++) {
        many_floats.push_back(f(i % 3 == 0 ? -1e30f : static_cast<t_float>(i)));
        many_symbols.push_back(s(i % 2 ? "a" : longname.c_str()));
        many_mixed.push_back(i % 5 == 0 ? f(NAN) : i % 5 == 1 ? s("") : f(-static_cast<t_float>(i)));
    }
    lists.push_back(many_floats);
    lists.push_back(many_symbols);
    lists.push_back(many_mixed);
    return lists;
}

void send_all(t_pd *to, const std::vector<t_symbol *> &selectors,
    const std::vector<std::vector<t_atom>> &lists)
{
    for (t_symbol *sel : selectors)
        for (const auto &l : lists) {
            std::vector<t_atom> copy = l;
            pd_typedmess(to, sel, static_cast<int>(copy.size()), copy.data());
        }
}

// The objects under test in canvas pd-<name>: everything but the probes.
std::vector<t_object *> targets_in(t_symbol *canvasname, t_object **hostile_source)
{
    char full[MAXPDSTRING];
    std::snprintf(full, sizeof full, "pd-%s", canvasname->s_name);
    auto *gl = reinterpret_cast<t_glist *>(pd_findbyclass(gensym(full), canvas_class));
    std::vector<t_object *> targets;
    if (!gl) {
        pd_error(nullptr, "lvx: %s: no such canvas", full);
        return targets;
    }
    for (t_gobj *g = gl->gl_list; g; g = g->g_next)
        if (t_object *o = pd_checkobject(&g->g_pd)) {
            if (o->ob_pd == hostile_sig_class) {
                if (hostile_source)
                    *hostile_source = o;
            } else if (o->ob_pd != canvas_class && o->ob_pd->c_name != gensym("text")) {
                // (boxes Pd could not create are "text" objects: nothing to test there)
                targets.push_back(o);
            }
        }
    return targets;
}

// Feeds the canvas's [lvx_hostile~] into every signal inlet of every object.
void lvx_wire(t_lvx *, t_symbol *canvasname)
{
    t_object *source = nullptr;
    auto targets = targets_in(canvasname, &source);
    if (!source) {
        pd_error(nullptr, "lvx wire: no [lvx_hostile~] in pd-%s", canvasname->s_name);
        return;
    }
    int wired = 0;
    for (t_object *o : targets)
        for (int k = 0; k < obj_ninlets(o); k++)
            if (obj_issignalinlet(o, k) && obj_connect(source, 0, o, k))
                wired++;
    canvas_update_dsp();
    emit("lvx: wired " + std::to_string(wired) + " signal inlets");
}

void lvx_hostile(t_lvx *x, t_symbol *canvasname)
{
    auto lists = hostile_lists();
    auto targets = targets_in(canvasname, nullptr);
    int sent = 0;
    for (t_object *o : targets) {
        auto sels = lorvex::probe::selectors_of(o->ob_pd, true);
        // The object's own (leftmost) inlet first, then every further inlet
        // through a connection from this probe's outlet.
        send_all(&o->ob_pd, sels, lists);
        int n = obj_ninlets(o);
        for (int k = 1; k < n; k++) {
            if (!obj_connect(&x->x_obj, 0, o, k))
                continue;
            for (t_symbol *sel : {&s_bang, &s_float, &s_symbol, &s_list, gensym("set")})
                for (const auto &l : lists) {
                    std::vector<t_atom> copy = l;
                    outlet_anything(x->x_out, sel, static_cast<int>(copy.size()), copy.data());
                }
            obj_disconnect(&x->x_obj, 0, o, k);
        }
        sent++;
    }
    emit("lvx: hostile messages sent to " + std::to_string(sent) + " objects");
}

} // namespace

LORVEX_EXPORT void lvxprobe_bind(void);

LORVEX_EXPORT void lvxprobe_setup(void)
{
    print_class = class_new(gensym("lvx_print"), lorvex::creator(print_new),
        nullptr, sizeof(t_lvx_print), CLASS_DEFAULT, A_DEFSYM, A_NULL);
    class_addbang(print_class, lorvex::method(print_bang));
    class_addfloat(print_class, lorvex::method(print_float));
    class_addsymbol(print_class, lorvex::method(print_symbol));
    class_addlist(print_class, lorvex::method(print_list));
    class_addanything(print_class, lorvex::method(print_anything));

    capture_class = class_new(gensym("lvx_capture~"), lorvex::creator(capture_new),
        lorvex::method(capture_free), sizeof(t_lvx_capture), CLASS_DEFAULT,
        A_DEFSYM, A_DEFFLOAT, A_NULL);
    CLASS_MAINSIGNALIN(capture_class, t_lvx_capture, x_f);
    class_addmethod(capture_class, lorvex::method(capture_dsp), gensym("dsp"),
        A_CANT, A_NULL);
    class_addbang(capture_class, lorvex::method(capture_bang));

    hostile_sig_class = class_new(gensym("lvx_hostile~"),
        lorvex::creator(hostile_sig_new), nullptr, sizeof(t_lvx_hostile_sig),
        CLASS_DEFAULT, A_NULL);
    class_addmethod(hostile_sig_class, lorvex::method(hostile_sig_dsp),
        gensym("dsp"), A_CANT, A_NULL);

    // One patchable instance, bound to "lvx": its outlet reaches further inlets.
    holder_class = class_new(gensym("lvx"), nullptr, nullptr, sizeof(t_lvx), CLASS_NOINLET,
        A_NULL);
    class_addmethod(holder_class, lorvex::method(lvx_send), gensym("send"), A_GIMME,
        A_NULL);
    class_addmethod(holder_class, lorvex::method(lvx_dump), gensym("dump"), A_SYMBOL,
        A_NULL);
    class_addmethod(holder_class, lorvex::method(lvx_spoil), gensym("spoil"),
        A_SYMBOL, A_SYMBOL, A_NULL);
    class_addmethod(holder_class, lorvex::method(lvx_getenv), gensym("getenv"),
        A_SYMBOL, A_NULL);
    class_addmethod(holder_class, lorvex::method(lvx_hostile), gensym("hostile"),
        A_SYMBOL, A_NULL);
    class_addmethod(holder_class, lorvex::method(lvx_wire), gensym("wire"),
        A_SYMBOL, A_NULL);
    class_addmethod(holder_class, lorvex::method(lvx_say), gensym("say"), A_GIMME,
        A_NULL);
    lvxprobe_bind();
}

// The receiver of the Pd instance current on the calling thread: each
// instance of a program running several gets its own, from the program
// (which sets the probe up once) calling this in each.
LORVEX_EXPORT void lvxprobe_bind(void)
{
    auto *x = reinterpret_cast<t_lvx *>(pd_new(holder_class));
    x->x_out = outlet_new(&x->x_obj, nullptr);
    pd_bind(&x->x_obj.ob_pd, gensym("lvx"));
}
