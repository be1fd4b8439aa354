// Test-only probe: message sequences for one class, inside Pd. Loaded with
// "-lib lvxseq"; bound to the name "lvxseq".
//
//   lvxseq run <canvas> <class> <seed> <messages> <log> [edge numbers...]
//   lvxseq replay <canvas> <class> <steps file>
//   lvxseq words <symbol...>     (before run: the words arguments draw from)
//   lvxseq limit <selector> <n>  (before run: that selector's numbers within -n..n)
//
// "run" makes up a random sequence from the seed: the class's own selectors
// (read from its method table) with random arguments, sent at random inlets of
// an instance in pd-<canvas>, mixed with changes around it: arrays created,
// resized and deleted, DSP switched, the object deleted and made again with
// other arguments, the canvas's [block~] set to other sizes, logical time
// let pass. Every step is written to <log> before it is taken, one per line,
// in the form "replay" reads back, so a sequence that crashes Pd can be run
// again (or cut down) exactly. The canvas holds a [block~] and an
// [lvx_hostile~] at the start; arrays come and go in pd-<canvas>arr. At the
// end the object and the arrays are deleted, "lvxseq: done ..." is printed
// and Pd quits.
#include "lorvex/plugin.hpp"
#include <g_canvas.h>
extern "C" {
#include <m_imp.h>
}
#include "console.hpp"
#include "methods.hpp"

#include <bit>
#include <type_traits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// ---- steps and their text form ----------------------------------------------

// One step. verb: msg (inlet, selector, atoms), new (atoms, wire), del, dsp (n),
// array (name, n), unarray (name), resize (name, n), block (n, overlap,
// upsample), wait (ms).
struct Step {
    std::string verb;
    int inlet = 0;
    std::string sel;
    std::vector<t_atom> atoms;
    int n = 0, overlap = 1, upsample = 1;
    bool wire = false;
    std::string name;
};

std::string atom_text(const t_atom &a)
{
    char buf[64];
    switch (a.a_type) {
    case A_FLOAT: {
        t_float f = a.a_w.w_float;
        if (std::isnan(f))
            return std::signbit(f) ? "f-nan" : "fnan";
        if (std::isinf(f))
            return f > 0 ? "finf" : "f-inf";
        if (f == 0 && std::signbit(f))
            return "f-0";
        std::snprintf(buf, sizeof buf, "f%.9g", static_cast<double>(f));
        return buf;
    }
    case A_SYMBOL: return std::string("s") + a.a_w.w_symbol->s_name;
    case A_COMMA: return ",";
    case A_SEMI: return ";";
    default: return "?";
    }
}

t_atom atom_from(const std::string &t)
{
    t_atom a;
    SETFLOAT(&a, 0);
    if (t == ",")
        SETCOMMA(&a);
    else if (t == ";")
        SETSEMI(&a);
    else if (t[0] == 's')
        SETSYMBOL(&a, gensym(t.c_str() + 1));
    else if (t == "fnan")
        SETFLOAT(&a, NAN);
    else if (t == "f-nan")
        SETFLOAT(&a, -NAN);
    else if (t == "finf")
        SETFLOAT(&a, INFINITY);
    else if (t == "f-inf")
        SETFLOAT(&a, -INFINITY);
    else if (t == "f-0")
        SETFLOAT(&a, -0.f);
    else
        SETFLOAT(&a, std::strtof(t.c_str() + 1, nullptr));
    return a;
}

std::string step_text(const Step &s)
{
    std::string out = s.verb;
    auto add = [&](const std::string &w) { out += ' ' + w; };
    if (s.verb == "msg") {
        add(std::to_string(s.inlet));
        add(s.sel);
    } else if (s.verb == "new") {
        add(s.wire ? "1" : "0");
    } else if (s.verb == "dsp" || s.verb == "wait") {
        add(std::to_string(s.n));
    } else if (s.verb == "array" || s.verb == "resize") {
        add(s.name);
        add(std::to_string(s.n));
    } else if (s.verb == "unarray") {
        add(s.name);
    } else if (s.verb == "block") {
        add(std::to_string(s.n));
        add(std::to_string(s.overlap));
        add(std::to_string(s.upsample));
    }
    for (const t_atom &a : s.atoms)
        add(atom_text(a));
    return out;
}

bool step_from(const std::string &line, Step &s)
{
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string x; in >> x;)
        w.push_back(x);
    if (w.empty())
        return false;
    s = Step{};
    s.verb = w[0];
    std::size_t rest = 1;
    auto num = [&](std::size_t i) { return i < w.size() ? std::atoi(w[i].c_str()) : 0; };
    if (s.verb == "msg" && w.size() >= 3) {
        s.inlet = num(1);
        s.sel = w[2];
        rest = 3;
    } else if (s.verb == "new") {
        s.wire = num(1) != 0;
        rest = 2;
    } else if (s.verb == "dsp" || s.verb == "wait") {
        s.n = num(1);
        rest = 2;
    } else if ((s.verb == "array" || s.verb == "resize") && w.size() >= 3) {
        s.name = w[1];
        s.n = num(2);
        rest = 3;
    } else if (s.verb == "unarray" && w.size() >= 2) {
        s.name = w[1];
        rest = 2;
    } else if (s.verb == "block") {
        s.n = num(1);
        s.overlap = num(2);
        s.upsample = num(3);
        rest = 4;
    } else if (s.verb != "del") {
        return false;
    }
    for (std::size_t i = rest; i < w.size(); i++)
        s.atoms.push_back(atom_from(w[i]));
    return true;
}

// ---- the world around the object --------------------------------------------

t_class *seq_class;

struct Run;

struct t_seq {
    t_object x_obj;
    t_outlet *x_out;
    t_clock *x_clock;
    Run *x_run;
};

struct Run {
    t_seq *owner = nullptr;         // the receiver the messages come from
    // Set before a run by "words" and "limit" (see below), kept across runs.
    std::vector<t_symbol *> words;
    std::vector<std::pair<t_symbol *, t_float>> selector_limits;
    t_glist *canvas = nullptr;      // pd-<canvas>: [block~], [lvx_hostile~], the object
    t_glist *arrays = nullptr;      // pd-<canvas>arr: arrays that come and go
    t_symbol *cls = nullptr;
    std::vector<t_symbol *> selectors;
    std::FILE *log = nullptr;
    // Generating: what is left to make up; replaying: the steps read.
    bool generating = false;
    std::uint64_t rng = 0;
    long messages_left = 0, messages_wanted = 0;
    std::vector<t_float> numbers;
    std::vector<t_symbol *> symbols;
    std::vector<Step> steps;
    std::size_t next = 0;
    long taken = 0, messages = 0;
};

// The run of the instance whose thread this is: every entry point sets it
// from its receiver, which each Pd instance has its own of.
thread_local Run *run;

std::uint64_t next_random()
{
    // splitmix64: the same sequence from a seed on every platform.
    std::uint64_t z = (run->rng += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

// Any bit pattern of Pd's float (NaN payloads, subnormals, everything).
using float_word = std::conditional_t<sizeof(t_float) == 8, std::uint64_t, std::uint32_t>;

unsigned pick(unsigned n) { return static_cast<unsigned>(next_random() % n); }

t_glist *find_canvas(const std::string &name)
{
    return reinterpret_cast<t_glist *>(
        pd_findbyclass(gensym(("pd-" + name).c_str()), canvas_class));
}

t_object *find_in(t_glist *gl, t_symbol *cls)
{
    for (t_gobj *g = gl->gl_list; g; g = g->g_next)
        if (t_object *o = pd_checkobject(&g->g_pd))
            if (o->ob_pd->c_name == cls)
                return o;
    return nullptr;
}

// The object under test: the one box that is not a probe or [block~].
t_object *target()
{
    for (t_gobj *g = run->canvas->gl_list; g; g = g->g_next)
        if (t_object *o = pd_checkobject(&g->g_pd)) {
            t_symbol *c = o->ob_pd->c_name;
            if (c != gensym("block~") && c != gensym("lvx_hostile~"))
                return o;
        }
    return nullptr;
}

void delete_target()
{
    if (t_object *o = target())
        glist_delete(run->canvas, &o->te_g);
}

void create_target(const std::vector<t_atom> &args, bool wire)
{
    delete_target();
    std::vector<t_atom> a(3);
    SETFLOAT(&a[0], 10);
    SETFLOAT(&a[1], 10);
    SETSYMBOL(&a[2], run->cls);
    a.insert(a.end(), args.begin(), args.end());
    pd_typedmess(&run->canvas->gl_pd, gensym("obj"), static_cast<int>(a.size()), a.data());
    t_object *o = target();
    if (!o)
        return;
    if (o->ob_pd->c_name == gensym("text")) {
        // Refused: Pd left a box of text.
        glist_delete(run->canvas, &o->te_g);
        return;
    }
    if (run->selectors.empty())
        run->selectors = lorvex::probe::selectors_of(o->ob_pd, false);
    if (wire)
        if (t_object *src = find_in(run->canvas, gensym("lvx_hostile~")))
            for (int k = 0; k < obj_ninlets(o); k++)
                if (obj_issignalinlet(o, k))
                    obj_connect(src, 0, o, k);
    canvas_update_dsp();
}

t_garray *array_named(const std::string &name)
{
    return reinterpret_cast<t_garray *>(pd_findbyclass(gensym(name.c_str()), garray_class));
}

void take(const Step &s)
{
    if (s.verb == "msg") {
        t_object *o = target();
        if (!o)
            return;
        std::vector<t_atom> copy = s.atoms;
        t_symbol *sel = gensym(s.sel.c_str());
        if (s.inlet == 0) {
            pd_typedmess(&o->ob_pd, sel, static_cast<int>(copy.size()), copy.data());
        } else if (s.inlet < obj_ninlets(o) && obj_connect(&run->owner->x_obj, 0, o, s.inlet)) {
            outlet_anything(run->owner->x_out, sel, static_cast<int>(copy.size()), copy.data());
            obj_disconnect(&run->owner->x_obj, 0, o, s.inlet);
        }
        run->messages++;
    } else if (s.verb == "new") {
        create_target(s.atoms, s.wire);
    } else if (s.verb == "del") {
        delete_target();
    } else if (s.verb == "dsp") {
        t_atom a;
        SETFLOAT(&a, s.n);
        pd_typedmess(gensym("pd")->s_thing, gensym("dsp"), 1, &a);
    } else if (s.verb == "array") {
        if (array_named(s.name))
            return;
        t_atom a[5];
        SETFLOAT(&a[0], 10);
        SETFLOAT(&a[1], 10);
        SETSYMBOL(&a[2], gensym("array"));
        SETSYMBOL(&a[3], gensym("define"));
        SETSYMBOL(&a[4], gensym(s.name.c_str()));
        std::vector<t_atom> v(a, a + 5);
        t_atom n;
        SETFLOAT(&n, s.n);
        v.push_back(n);
        pd_typedmess(&run->arrays->gl_pd, gensym("obj"), static_cast<int>(v.size()), v.data());
    } else if (s.verb == "unarray") {
        // [array define] boxes in the array canvas whose array has this name.
        for (t_gobj *g = run->arrays->gl_list; g; g = g->g_next) {
            t_object *o = pd_checkobject(&g->g_pd);
            if (o && binbuf_getnatom(o->te_binbuf) >= 3 &&
                atom_getsymbol(binbuf_getvec(o->te_binbuf) + 2) == gensym(s.name.c_str())) {
                glist_delete(run->arrays, g);
                break;
            }
        }
    } else if (s.verb == "resize") {
        if (t_garray *a = array_named(s.name))
            garray_resize_long(a, s.n);
    } else if (s.verb == "block") {
        if (t_object *b = find_in(run->canvas, gensym("block~"))) {
            t_atom a[3];
            SETFLOAT(&a[0], s.n);
            SETFLOAT(&a[1], s.overlap);
            SETFLOAT(&a[2], s.upsample);
            pd_typedmess(&b->ob_pd, gensym("set"), 3, a);
            canvas_update_dsp();
        }
    }
}

// ---- making up a sequence ---------------------------------------------------

void apply_limits(Step &s);

const char *const array_names[] = {"lvxa", "lvxb", "lvxc", "lvxg", "lvxd", "lvxe"};
const int array_sizes[] = {0, 1, 1, 2, 3, 5, 64, 1000, 65536, 1000000};

t_atom random_atom()
{
    t_atom a;
    unsigned r = pick(100);
    if (r < 55)
        SETFLOAT(&a, run->numbers[pick(static_cast<unsigned>(run->numbers.size()))]);
    else if (r < 65)
        SETFLOAT(&a, static_cast<t_float>(static_cast<int>(pick(1200)) - 100));
    else if (r < 70)
        SETFLOAT(&a, std::bit_cast<t_float>(static_cast<float_word>(next_random())));
    else if (r < 98)
        SETSYMBOL(&a, run->symbols[pick(static_cast<unsigned>(run->symbols.size()))]);
    else if (r < 99)
        SETCOMMA(&a);
    else
        SETSEMI(&a);
    return a;
}

std::vector<t_atom> random_atoms()
{
    unsigned r = pick(100);
    unsigned n = r < 15 ? 0 : r < 45 ? 1 : r < 70 ? 2 : r < 85 ? 3 : r < 97 ? pick(8) + 4 : pick(300);
    std::vector<t_atom> out;
    for (unsigned i = 0; i < n; i++)
        out.push_back(random_atom());
    return out;
}

Step make_step()
{
    Step s;
    t_object *o = target();
    unsigned r = pick(1000);
    if (!o && r < 800)
        r = 900;  // nothing to send to: make the object again
    if (r < 800) {
        s.verb = "msg";
        unsigned ninlets = static_cast<unsigned>(obj_ninlets(o));
        s.inlet = ninlets > 1 && pick(4) == 0 ? static_cast<int>(pick(ninlets)) : 0;
        s.sel = run->selectors.empty() ? "bang"
                                      : run->selectors[pick(static_cast<unsigned>(run->selectors.size()))]->s_name;
        s.atoms = random_atoms();
        apply_limits(s);
        run->messages_left--;
    } else if (r < 850) {
        s.verb = "wait";
        s.n = static_cast<int>(pick(4) * pick(8));
    } else if (r < 870) {
        s.verb = "dsp";
        s.n = static_cast<int>(pick(2));
    } else if (r < 900) {
        s.verb = "resize";
        s.name = array_names[pick(6)];
        s.n = array_sizes[pick(10)];
    } else if (r < 930) {
        s.verb = "new";
        s.wire = pick(2);
        s.atoms = random_atoms();
        if (s.atoms.size() > 8)
            s.atoms.resize(8);
    } else if (r < 940) {
        s.verb = "del";
    } else if (r < 960) {
        s.verb = "array";
        s.name = array_names[4 + pick(2)];
        s.n = array_sizes[pick(10)];
    } else if (r < 975) {
        s.verb = "unarray";
        s.name = array_names[4 + pick(2)];
    } else {
        s.verb = "block";
        s.n = 1 << pick(13);
        s.overlap = 1 << pick(2);
        s.upsample = 1 << pick(2);
    }
    return s;
}

// ---- running ------------------------------------------------------------------

void finish()
{
    delete_target();
    while (run->arrays->gl_list)
        glist_delete(run->arrays, run->arrays->gl_list);
    char line[200];
    std::snprintf(line, sizeof line, "lvxseq: done %ld steps, %ld messages", run->taken, run->messages);
    lorvex::probe::console_line(line);
    if (run->log)
        std::fclose(run->log);
    run->log = nullptr;
    t_atom a;
    SETFLOAT(&a, 0);
    pd_typedmess(gensym("pd")->s_thing, gensym("dsp"), 1, &a);
    pd_typedmess(gensym("pd")->s_thing, gensym("quit"), 0, nullptr);
}

// Takes steps until one lets time pass; the clock brings it back.
void seq_tick(t_seq *x)
{
    run = x->x_run;
    for (;;) {
        Step s;
        if (run->generating) {
            // A class that refuses every creation still ends.
            if (run->messages_left <= 0 || run->taken > 4 * run->messages_wanted + 100)
                return finish();
            s = make_step();
        } else {
            if (run->next >= run->steps.size())
                return finish();
            s = run->steps[run->next++];
        }
        if (run->log) {
            std::fprintf(run->log, "%s\n", step_text(s).c_str());
            std::fflush(run->log);
        }
        run->taken++;
        if (s.verb == "wait") {
            clock_delay(x->x_clock, s.n);
            return;
        }
        take(s);
    }
}

bool start(t_symbol *canvas, t_symbol *cls)
{
    Run fresh;
    fresh.owner = run->owner;
    fresh.words = run->words;
    fresh.selector_limits = run->selector_limits;
    *run = std::move(fresh);
    run->canvas = find_canvas(canvas->s_name);
    run->arrays = find_canvas(std::string(canvas->s_name) + "arr");
    run->cls = cls;
    if (!run->canvas || !run->arrays) {
        pd_error(nullptr, "lvxseq: needs pd-%s and pd-%sarr", canvas->s_name, canvas->s_name);
        return false;
    }
    return true;
}

// "lvxseq words a b c", sent before "run", sets the words that arguments
// draw from in place of the usual ones: for a class that would look host
// names up, a list without names that only a name server could answer.
void seq_words(t_seq *x, t_symbol *, int argc, t_atom *argv)
{
    run = x->x_run;
    run->words.clear();
    for (int i = 0; i < argc; i++)
        run->words.push_back(atom_getsymbol(argv + i));
}

// "lvxseq limit <selector> <most>", sent before "run", keeps the numbers of
// that selector's messages within -most..most: for a parameter whose cost
// grows with its value without bound, as documented.
void seq_limit(t_seq *x, t_symbol *sel, t_floatarg most)
{
    run = x->x_run;
    run->selector_limits.emplace_back(sel, most);
}

void apply_limits(Step &s)
{
    for (const auto &[sel, most] : run->selector_limits)
        if (s.sel == sel->s_name)
            for (t_atom &a : s.atoms)
                if (a.a_type == A_FLOAT && std::fabs(a.a_w.w_float) > most)
                    a.a_w.w_float = std::copysign(most, a.a_w.w_float);
}

void seq_run(t_seq *x, t_symbol *, int argc, t_atom *argv)
{
    run = x->x_run;
    if (argc < 5 || !start(atom_getsymbol(argv), atom_getsymbol(argv + 1)))
        return;
    run->generating = true;
    run->rng = static_cast<std::uint64_t>(atom_getfloat(argv + 2));
    run->messages_wanted = run->messages_left = static_cast<long>(atom_getfloat(argv + 3));
    run->log = std::fopen(atom_getsymbol(argv + 4)->s_name, "w");

    // Numbers at the edges, and around every limit the objects document
    // (further ones from the class's own list).
    run->numbers = {0.f, -0.f, 1.f, -1.f, NAN, -NAN, INFINITY, -INFINITY, 1e30f, -1e30f,
        3.4028235e38f, -3.4028235e38f, 1e-40f, -1e-40f, 1.17549435e-38f, 0.5f, -0.5f, 0.999f,
        1.5f, 2.9f, -2.9f, 2147483520.f, 2147483648.f, -2147483648.f, -2147483904.f,
        4294967040.f, 4294967296.f, 16777216.f, 16777217.f, -16777217.f, 1e10f, -1e10f};
    std::vector<t_float> limits = {2, 3, 4, 7, 8, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 255,
        256, 1023, 1024, 3000, 4096, 8000, 8191, 8192, -8192, -8193, 16383, 16384, 44100, 48000,
        65507, 65535, 65536, 1000000};
    for (int i = 5; i < argc; i++)
        limits.push_back(atom_getfloat(argv + i));
    for (t_float l : limits)
        for (t_float d : {-1.f, -0.5f, 0.f, 0.5f, 1.f})
            run->numbers.push_back(l + d);
    if (!run->words.empty()) {
        run->symbols = run->words;
    } else {
        std::string longname(2000, 'y');
        for (const char *s : {"", "x", "%s%s%n%d", "-1", "inf", "nan", "0x10", "$1", "lvxa", "lvxb",
             "lvxc", "lvxg", "lvxd", "lvxe", "lvxnone", "float", "16bit", "8bit", "mp3", "aac",
             "floaty", "wav", "tcp", "udp", "localhost", "127.0.0.1", "physical", "virtual",
             "input", "output", "*", "..", "/", "~", "system:*", "pd-seq", "bang", "list",
             longname.c_str()})
            run->symbols.push_back(gensym(s));
    }
    // Start from an instance without arguments.
    Step first;
    first.verb = "new";
    if (run->log) {
        std::fprintf(run->log, "%s\n", step_text(first).c_str());
        std::fflush(run->log);
    }
    take(first);
    seq_tick(x);
}

void seq_replay(t_seq *x, t_symbol *canvas, t_symbol *cls, t_symbol *file)
{
    run = x->x_run;
    if (!start(canvas, cls))
        return;
    std::ifstream in(file->s_name);
    for (std::string line; std::getline(in, line);) {
        Step s;
        if (step_from(line, s))
            run->steps.push_back(s);
    }
    seq_tick(x);
}

void *seq_new()
{
    auto *x = reinterpret_cast<t_seq *>(pd_new(seq_class));
    x->x_out = outlet_new(&x->x_obj, nullptr);
    x->x_clock = clock_new(x, lorvex::method(seq_tick));
    x->x_run = new Run;
    x->x_run->owner = x;
    return x;
}

} // namespace

LORVEX_EXPORT void lvxseq_bind(void);

LORVEX_EXPORT void lvxseq_setup(void)
{
    seq_class = class_new(gensym("lvxseq"), nullptr, nullptr, sizeof(t_seq), CLASS_NOINLET, A_NULL);
    class_addmethod(seq_class, lorvex::method(seq_run), gensym("run"), A_GIMME, A_NULL);
    class_addmethod(seq_class, lorvex::method(seq_replay), gensym("replay"), A_SYMBOL, A_SYMBOL,
        A_SYMBOL, A_NULL);
    class_addmethod(seq_class, lorvex::method(seq_words), gensym("words"), A_GIMME, A_NULL);
    class_addmethod(seq_class, lorvex::method(seq_limit), gensym("limit"), A_SYMBOL, A_FLOAT, A_NULL);
    lvxseq_bind();
}

// The receiver, with its run, of the Pd instance current on this thread (see
// lvxprobe_bind).
LORVEX_EXPORT void lvxseq_bind(void)
{
    pd_bind(&static_cast<t_seq *>(seq_new())->x_obj.ob_pd, gensym("lvxseq"));
}
