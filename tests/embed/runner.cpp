// lvx_libpd: runs a scenario the test harness wrote in a multi-instance libpd,
// the way a program that embeds Pd runs patches. It takes Pd's command line
// (the harness's, unchanged) and prints what the scenario's instance prints
// as Pd does with -stderr, so that every scenario runs here as it runs in Pd.
//
//   lvx_libpd [--concurrent N] [--free-loader-at MS] <Pd's flags> -open <patch>
//
// Instances: libpd's first (instance 0) stays idle; a loader instance loads
// the libraries, once per process as a program would: those named with -lib
// at the start, the plug-ins of the classes the scenario asks for when it
// first does; the scenario runs in an instance of its own. Pd's "quit" ends the scenario's run, not the process;
// the process then ends with the status Pd would have.
//
// --concurrent N: the scenario alone first (its output is what is printed),
// then in N instances at once, each on a thread of its own; each instance's
// output must be exactly the one alone (but for the memory addresses a probe
// may print), or the runner says where they part and ends with status 1.
// --free-loader-at MS: frees the loader instance once the scenario's logical
// time reaches MS milliseconds, while the scenario's objects go on.
//
// MIDI output reaches libpd's hooks; each message is printed as the bytes a
// MIDI device would get: "lvx midi <port>: <hex bytes>".
#include "runner.hpp"

#include <m_pd.h>
extern "C" {
#include <m_imp.h>
#include <s_stuff.h>
#include <z_libpd.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
extern t_class *glob_pdobject;
}

namespace fs = std::filesystem;

namespace {

struct Options {
    bool batch = false;
    std::vector<std::string> paths, libs, sends;
    std::string open;
    int verbose = 0;
    bool noloadbang = false;
    int rate = 44100;
    int concurrent = 0;
    double free_loader_at = -1;
};

// One Pd instance the runner prints for.
struct Instance {
    t_pdinstance *pd = nullptr;
    bool live = false;          // printed as it comes, and kept in `out`
    std::string out;
    bool quit = false;
    int status = 0;
};

std::mutex instances_lock;
std::vector<Instance *> instances;
bool starting = true;

Instance *current()
{
    t_pdinstance *pd = libpd_this_instance();
    std::lock_guard lock(instances_lock);
    for (Instance *i : instances)
        if (i->pd == pd)
            return i;
    return nullptr;
}

void print_text(const char *s)
{
    Instance *i = current();
    if (i)
        i->out += s;
    if (i && !i->live)
        return;
    if (starting && !i)
        return; // libpd's own greeting in instance 0, which Pd does not print
    std::fputs(s, stderr);
    std::fflush(stderr);
}

// ---- MIDI output as bytes on the wire -------------------------------------

void midi_bytes(int port, std::initializer_list<int> bytes)
{
    std::string line = "lvx midi " + std::to_string(port) + ":";
    for (int b : bytes) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " %02x", b & 0xff);
        line += hex;
    }
    print_text((line + "\n").c_str());
}

// libpd hands channel messages over with port and channel in one number.
void midi_noteon(int ch, int pitch, int vel) { midi_bytes(ch >> 4, {0x90 | (ch & 15), pitch, vel}); }
void midi_control(int ch, int ctl, int value) { midi_bytes(ch >> 4, {0xb0 | (ch & 15), ctl, value}); }
void midi_program(int ch, int value) { midi_bytes(ch >> 4, {0xc0 | (ch & 15), value}); }
void midi_bend(int ch, int value)
{
    const int v = value + 8192;
    midi_bytes(ch >> 4, {0xe0 | (ch & 15), v & 127, v >> 7});
}
void midi_touch(int ch, int value) { midi_bytes(ch >> 4, {0xd0 | (ch & 15), value}); }
void midi_polytouch(int ch, int pitch, int value)
{
    midi_bytes(ch >> 4, {0xa0 | (ch & 15), pitch, value});
}
void midi_byte(int port, int byte) { midi_bytes(port, {byte}); }

// ---- quitting -------------------------------------------------------------

// Takes the place of Pd's own "pd quit", which ends the whole process.
void runner_quit(void *, t_floatarg status)
{
    if (Instance *i = current()) {
        i->quit = true;
        i->status = static_cast<int>(status);
    }
}

// ---- the classes a scenario needs -------------------------------------------

Instance *loader_instance;

// Pd's loaders are asked, in the instance that needs a class, for a name it
// does not know; after its own, this one: it loads the library in the loader
// instance instead (whose search path has the -path folders, which the
// scenario's instances lack), as a program that set everything up in one
// instance and uses it in others does. Pd holds its global lock meanwhile.
int load_in_loader(t_canvas *, const char *name, const char *)
{
    Instance *here = current();
    if (!loader_instance || here == loader_instance)
        return 0;
    libpd_set_instance(loader_instance->pd);
    const bool ok = lvxrun::load_library(name);
    libpd_set_instance(here ? here->pd : nullptr);
    return ok;
}

// In the loader instance: each -lib library.
void load_libraries(const Options &o)
{
    lvxrun::prepare();
    for (const std::string &lib : o.libs)
        if (!lvxrun::load_library(lib))
            pd_error(nullptr, "%s: can't load library", lib.c_str());
}

// ---- running a scenario -------------------------------------------------------

void send_message(const std::string &text)
{
    sys_lock();
    t_binbuf *b = binbuf_new();
    binbuf_text(b, text.c_str(), text.size());
    binbuf_eval(b, nullptr, 0, nullptr);
    binbuf_free(b);
    sys_unlock();
}

// Patches are opened one at a time, as a program embedding Pd 0.53 must:
// libpd_openfile() holds Pd's global lock for writing, but an object name Pd
// has to look up on the way (any unknown one) gives it back as a read lock,
// so that two instances opening patches at once went on side by side through
// Pd's loader and patch building: a patch came out short of an object now
// and then, and a run could hang.
std::mutex opening_lock;

// Runs the scenario in `in` on this thread until its quit; frees `loader` at
// the logical time asked for. Real time is kept to unless in batch mode.
void run_scenario(Instance &in, const Options &o, Instance *loader)
{
    libpd_set_instance(in.pd);
    libpd_init_audio(2, 2, o.rate);
    for (const std::string &lib : o.libs)
        lvxrun::bind_library(lib);
    if (!o.open.empty()) {
        fs::path p = fs::absolute(o.open);
        std::lock_guard opening(opening_lock);
        if (!libpd_openfile(p.filename().c_str(), p.parent_path().c_str()))
            pd_error(nullptr, "%s: can't open", o.open.c_str());
    }
    for (const std::string &m : o.sends)
        send_message(m);

    const int blocksize = libpd_blocksize();
    std::vector<float> inbuf(2 * blocksize), outbuf(2 * blocksize);
    const double tick_ms = 1000.0 * blocksize / o.rate;
    const auto start = std::chrono::steady_clock::now();
    double logical = 0;
    for (long ticks = 0; !in.quit; ticks++) {
        if (loader && o.free_loader_at >= 0 && logical >= o.free_loader_at) {
            loader_instance = nullptr;
            libpd_free_instance(loader->pd);
            {
                std::lock_guard lock(instances_lock);
                instances.erase(std::find(instances.begin(), instances.end(), loader));
            }
            loader = nullptr;
            libpd_set_instance(in.pd);
        }
        libpd_process_float(1, inbuf.data(), outbuf.data());
        logical += tick_ms;
        if (!o.batch)
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(static_cast<long>(logical * 1000)));
    }
}

Instance *new_instance(bool live)
{
    auto *i = new Instance;
    i->live = live;
    i->pd = libpd_new_instance();
    std::lock_guard lock(instances_lock);
    instances.push_back(i);
    return i;
}

// Addresses differ from instance to instance by nature: each becomes its
// ordinal among the distinct addresses of the output ("0x1", "0x2", ...), so
// that which ones are the same still counts.
std::string without_addresses(const std::string &text)
{
    static const std::regex address("0x[0-9a-f]{6,}");
    std::map<std::string, int> seen;
    std::string out;
    auto from = text.cbegin();
    for (std::sregex_iterator i(text.begin(), text.end(), address), end; i != end; ++i) {
        out.append(from, (*i)[0].first);
        auto [at, added] = seen.emplace(i->str(), static_cast<int>(seen.size()) + 1);
        out += "0x" + std::to_string(at->second);
        from = (*i)[0].second;
    }
    out.append(from, text.cend());
    return out;
}

// The first line where two outputs part, for the report.
std::string first_difference(const std::string &alone_text, const std::string &together_text)
{
    const std::string alone = without_addresses(alone_text);
    const std::string together = without_addresses(together_text);
    std::istringstream a(alone), b(together);
    std::string la, lb;
    for (int n = 1;; n++) {
        bool ha = static_cast<bool>(std::getline(a, la)), hb = static_cast<bool>(std::getline(b, lb));
        if (!ha && !hb)
            return "same";
        if (la != lb || ha != hb)
            return "line " + std::to_string(n) + ": alone \"" + (ha ? la : "(end)") +
                   "\", together \"" + (hb ? lb : "(end)") + "\"";
    }
}

bool parse(int argc, char **argv, Options &o)
{
    auto next = [&](int &i) -> std::string {
        if (i + 1 >= argc) {
            std::fprintf(stderr, "lvx_libpd: %s needs a value\n", argv[i]);
            std::exit(1);
        }
        return argv[++i];
    };
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--concurrent")
            o.concurrent = std::atoi(next(i).c_str());
        else if (a == "--free-loader-at")
            o.free_loader_at = std::atof(next(i).c_str());
        else if (a == "-version") {
            std::printf("Pd-%d.%d.%d (multi-instance libpd, lvx_libpd)\n", PD_MAJOR_VERSION,
                PD_MINOR_VERSION, PD_BUGFIX_VERSION);
            std::exit(0);
        } else if (a == "-batch")
            o.batch = true;
        else if (a == "-path")
            o.paths.push_back(next(i));
        else if (a == "-lib")
            o.libs.push_back(next(i));
        else if (a == "-send")
            o.sends.push_back(next(i));
        else if (a == "-open")
            o.open = next(i);
        else if (a == "-verbose")
            o.verbose++;
        else if (a == "-noloadbang")
            o.noloadbang = true;
        else if (a == "-r")
            o.rate = std::atoi(next(i).c_str());
        // A program embedding Pd has no devices, GUI or priorities to set:
        // MIDI goes to the hooks, audio to the program.
        else if (a == "-nogui" || a == "-noprefs" || a == "-noaudio" || a == "-nrt" ||
                 a == "-stderr" || a == "-nomidiin" || a == "-nomidi" || a == "-ossmidi" ||
                 a == "-alsamidi" || a == "-nosound")
            continue;
        else if (a == "-midioutdev" || a == "-midiindev" || a == "-blocksize" ||
                 a == "-sleepgrain" || a == "-audiobuf")
            next(i);
        else {
            std::fprintf(stderr, "lvx_libpd: unknown flag %s\n", a.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!parse(argc, argv, o))
        return 1;

    // The print hook first: libpd 0.53 copies it into each instance it makes.
    libpd_set_printhook(print_text);
    libpd_set_noteonhook(midi_noteon);
    libpd_set_controlchangehook(midi_control);
    libpd_set_programchangehook(midi_program);
    libpd_set_pitchbendhook(midi_bend);
    libpd_set_aftertouchhook(midi_touch);
    libpd_set_polyaftertouchhook(midi_polytouch);
    libpd_set_midibytehook(midi_byte);
    libpd_init();
    // "pd quit" of every instance, present and to come.
    class_addmethod(glob_pdobject, reinterpret_cast<t_method>(runner_quit), gensym("quit"),
        A_DEFFLOAT, A_NULL);
    starting = false;
    sys_verbose = o.verbose;
    sys_noloadbang = o.noloadbang;

    Instance *loader = new_instance(true);
    libpd_set_instance(loader->pd);
    for (const std::string &p : o.paths)
        libpd_add_to_search_path(p.c_str());
    load_libraries(o);
    loader_instance = loader;
    sys_register_loader(load_in_loader);

    // The pool is made before anything runs: instances are made, as in a
    // program, while no other one is running.
    Instance *alone = new_instance(true);
    std::vector<Instance *> together;
    for (int k = 0; k < o.concurrent; k++)
        together.push_back(new_instance(false));

    run_scenario(*alone, o, loader);
    int status = alone->status;
    if (together.empty())
        return status;

    // The same scenario in each of the pool's other instances at once.
    std::vector<std::thread> threads;
    for (Instance *i : together)
        threads.emplace_back([&o, i] { run_scenario(*i, o, nullptr); });
    for (auto &t : threads)
        t.join();
    for (std::size_t k = 0; k < together.size(); k++) {
        std::string d = first_difference(alone->out, together[k]->out);
        if (d != "same" || together[k]->status != status) {
            std::fprintf(stderr, "lvx_libpd: instance %zu of %zu, run together, differs: %s\n",
                k + 1, together.size(), d.c_str());
            status = 1;
        }
    }
    return status;
}
