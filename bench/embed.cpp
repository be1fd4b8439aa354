// What embedding costs: a program that embeds Pd through libpd, as the
// libpd runner does, timing a patch's signal processing.
//
//   embed_bench <plug-in folder> <patch> <seconds> <instances> alone|together
//
// Each of <instances> Pd instances opens <patch> and computes <seconds> of
// audio at 44100 Hz; "alone" computes them one after the other on one thread,
// "together" each on a thread of its own, at once. Prints "ms: <wall time>".
// Built against a multi-instance libpd and against a single-instance one
// (one instance only there): the same source, other settings.
#include <m_pd.h>
extern "C" {
#include <z_libpd.h>
}

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

void quiet(const char *) {}

void compute(t_pdinstance *pd, long ticks)
{
    libpd_set_instance(pd);
    std::vector<float> in(2 * 64), out(2 * 64);
    for (long t = 0; t < ticks; t++)
        libpd_process_float(1, in.data(), out.data());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: embed_bench <plug-in folder> <patch> <seconds> <instances> "
                             "alone|together\n");
        return 2;
    }
    const double seconds = std::atof(argv[3]);
    const int n = std::atoi(argv[4]);
    const bool together = std::string(argv[5]) == "together";
    libpd_set_printhook(quiet);
    libpd_init();
    std::vector<t_pdinstance *> pds;
    for (int k = 0; k < n; k++) {
        t_pdinstance *pd = n == 1 ? libpd_this_instance() : libpd_new_instance();
        if (!pd) {
            std::fprintf(stderr, "embed_bench: this libpd makes one instance only\n");
            return 2;
        }
        libpd_set_instance(pd);
        libpd_init_audio(2, 2, 44100);
        libpd_add_to_search_path(argv[1]);
        const std::filesystem::path patch = std::filesystem::absolute(argv[2]);
        if (!libpd_openfile(patch.filename().c_str(), patch.parent_path().c_str()))
            return 1;
        libpd_start_message(1);
        libpd_add_float(1);
        libpd_finish_message("pd", "dsp");
        pds.push_back(pd);
    }
    const long ticks = static_cast<long>(seconds * 44100 / 64);
    const auto start = std::chrono::steady_clock::now();
    if (together) {
        std::vector<std::thread> threads;
        for (t_pdinstance *pd : pds)
            threads.emplace_back(compute, pd, ticks);
        for (auto &t : threads)
            t.join();
    } else {
        for (t_pdinstance *pd : pds)
            compute(pd, ticks);
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("ms: %.1f\n", took.count());
    return 0;
}
