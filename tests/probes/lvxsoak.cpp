// Test-only probes for the long runs, loaded with "-lib lvxsoak":
//
//   [lvx_count~ N]   N signal outlets of exactly known samples: sample k
//                    (counted from the first DSP block) of outlet c is
//                    ((k (2c + 1) + 1000003 c) mod 2^24) - 2^23, a whole
//                    number and so exact as a float; outlet 0 carries k itself
//                    (shifted), so a receiver can tell where it joined.
//   "lvxsoak proc"   prints "proc: fds F threads T" for this Pd process,
//                    from /proc/self/fd and /proc/self/task (-1 each where
//                    there is no /proc, as on Windows, whose runs leave the
//                    soak tests out).
#include "lorvex/plugin.hpp"
#include "console.hpp"

#include <dirent.h>

#include <cstdint>
#include <cstdio>

namespace {

// ---- [lvx_count~ N] ---------------------------------------------------------

t_class *count_class;

struct t_lvx_count {
    t_object x_obj;
    int x_n;
    std::uint32_t x_k;
};

t_int *count_perform(t_int *w)
{
    auto *x = reinterpret_cast<t_lvx_count *>(w[1]);
    int n = static_cast<int>(w[2]);
    for (int c = 0; c < x->x_n; c++) {
        auto *out = reinterpret_cast<t_sample *>(w[3 + c]);
        for (int i = 0; i < n; i++) {
            std::uint32_t k = x->x_k + static_cast<std::uint32_t>(i);
            std::uint32_t v = (k * (2u * static_cast<std::uint32_t>(c) + 1u) +
                               1000003u * static_cast<std::uint32_t>(c)) & 0xffffffu;
            out[i] = static_cast<t_sample>(static_cast<std::int32_t>(v) - 8388608);
        }
    }
    x->x_k += static_cast<std::uint32_t>(n);
    return w + 3 + x->x_n;
}

void count_dsp(t_lvx_count *x, t_signal **sp)
{
    // dsp_addv: the object, the block size, then one vector per outlet.
    t_int args[2 + 64];
    args[0] = reinterpret_cast<t_int>(x);
    args[1] = sp[0]->s_n;
    for (int c = 0; c < x->x_n; c++)
        args[2 + c] = reinterpret_cast<t_int>(sp[c]->s_vec);
    dsp_addv(count_perform, 2 + x->x_n, args);
}

void *count_new(t_floatarg f)
{
    auto *x = reinterpret_cast<t_lvx_count *>(pd_new(count_class));
    x->x_n = f < 1 ? 1 : f > 64 ? 64 : static_cast<int>(f);
    for (int c = 0; c < x->x_n; c++)
        outlet_new(&x->x_obj, &s_signal);
    return x;
}

// ---- "lvxsoak proc" ---------------------------------------------------------

t_class *soak_class;

int entries(const char *dir)
{
    DIR *d = opendir(dir);
    if (!d)
        return -1;
    int n = 0;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            n++;
    closedir(d);
    return n;
}

void soak_proc(t_pd *)
{
    // The directory stream reading /proc/self/fd is one descriptor of its own:
    // it is counted every time alike.
    lorvex::probe::console_line("proc: fds " + std::to_string(entries("/proc/self/fd")) +
        " threads " + std::to_string(entries("/proc/self/task")));
}

} // namespace

// The receiver of the Pd instance current on this thread (see lvxprobe_bind).
LORVEX_EXPORT void lvxsoak_bind(void) { pd_bind(pd_new(soak_class), gensym("lvxsoak")); }

LORVEX_EXPORT void lvxsoak_setup(void)
{
    count_class = class_new(gensym("lvx_count~"), lorvex::creator(count_new), nullptr,
        sizeof(t_lvx_count), CLASS_NOINLET, A_DEFFLOAT, A_NULL);
    class_addmethod(count_class, lorvex::method(count_dsp), gensym("dsp"), A_CANT, A_NULL);

    soak_class = class_new(gensym("lvxsoak"), nullptr, nullptr, sizeof(t_pd), CLASS_PD, A_NULL);
    class_addmethod(soak_class, lorvex::method(soak_proc), gensym("proc"), A_NULL);
    lvxsoak_bind();
}
