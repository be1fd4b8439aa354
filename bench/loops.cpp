// Compiled reference loops for the benchmarks: the same memory traffic as an
// object's computation, written as plainly as a C++ programmer would.
// Usage: loops <kernel> <elements> [runs]; prints the best time of the runs
// (five unless given) in ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

// Pd's array element: 8 bytes on 64-bit hosts, the float in front.
union word {
    float f;
    void *p;
};

using kernel = std::function<void(std::vector<word> &, std::vector<word> &, std::vector<word> &)>;

std::map<std::string, kernel> kernels()
{
    return {
        {"min", [](auto &a, auto &b, auto &c) {
             for (std::size_t i = 0; i < c.size(); i++)
                 c[i].f = a[i].f < b[i].f ? a[i].f : b[i].f;
         }},
        // the mean of every group of 16, summed in order, into the first n/16 of c
        {"mean16", [](auto &a, auto &, auto &c) {
             for (std::size_t i = 0; i < a.size() / 16; i++) {
                 float s = 0;
                 for (std::size_t j = 0; j < 16; j++)
                     s += a[i * 16 + j].f;
                 c[i].f = s / 16;
             }
         }},
        // the running sum
        {"accum", [](auto &a, auto &, auto &c) {
             float s = 0;
             for (std::size_t i = 0; i < c.size(); i++) {
                 s += a[i].f;
                 c[i].f = s;
             }
         }},
        // A plain copy of n floats' bytes, and the two element-wise copies
        // between Pd's words and a float block (karbox's memset and memdump).
        {"copy", [](auto &, auto &b, auto &c) {
             std::memcpy(c.data(), b.data(), b.size() * sizeof(float));
         }},
        {"words_to_floats", [](auto &a, auto &, auto &c) {
             float *to = reinterpret_cast<float *>(c.data());
             for (std::size_t i = 0; i < a.size(); i++)
                 to[i] = a[i].f;
         }},
        {"floats_to_words", [](auto &a, auto &b, auto &) {
             const float *from = reinterpret_cast<const float *>(b.data());
             for (std::size_t i = 0; i < a.size(); i++)
                 a[i].f = from[i];
         }},
    };
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: loops <kernel> <elements> [runs]\n");
        return 2;
    }
    auto all = kernels();
    auto k = all.find(argv[1]);
    if (k == all.end()) {
        std::fprintf(stderr, "loops: no kernel %s\n", argv[1]);
        return 2;
    }
    std::size_t n = std::strtoull(argv[2], nullptr, 10);
    std::vector<word> a(n), b(n), c(n);
    for (std::size_t i = 0; i < n; i++) {
        a[i].f = static_cast<float>((i * 2654435761u) % 1000) / 500 - 1;
        b[i].f = static_cast<float>((i * 40503u) % 1000) / 500 - 1;
    }
    double best = 1e300;
    const int runs = argc == 4 ? std::max(1, std::atoi(argv[3])) : 5;
    for (int run = 0; run < runs; run++) {
        auto t0 = std::chrono::steady_clock::now();
        k->second(a, b, c);
        auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    // Keep the result alive so the loop cannot be dropped.
    float sum = 0;
    for (std::size_t i = 0; i < n; i += 4096)
        sum += c[i].f;
    std::printf("%.3f %g\n", best, static_cast<double>(sum));
    return 0;
}
