// The table oscillators and the table reader in the real Pd: their signal
// output, captured sample by sample over several blocks, against models that
// follow the objects' documented arithmetic with plain floor and modulo.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>

#include "../../signal/lowpass.hpp"
#include "lorvex/cubic.hpp"
#include "pd.hpp"

using namespace lorvex::test;
namespace lp = lorvex::lowpass;
using floats = std::vector<pd_float>;
using strings = std::vector<std::string>;

namespace {

constexpr int block = 64;

// The rate the scenarios run at: Pd's own default, which differs between
// releases, so the objects are seen to take theirs from Pd.
pd_float rate()
{
    return pd_default_rate();
}

// Reproducible table contents: a few partials and some roughness.
floats wave(int n, unsigned seed = 1)
{
    floats v(static_cast<std::size_t>(n));
    std::uint32_t r = seed;
    for (int i = 0; i < n; i++) {
        r = r * 1664525u + 1013904223u;
        const double t = 2 * M_PI * i / n;
        v[static_cast<std::size_t>(i)] = static_cast<pd_float>(
            0.6 * std::sin(t) + 0.3 * std::sin(3 * t + 0.4) + ((r >> 8) % 1000) / 5000.0 - 0.1);
    }
    return v;
}

// The table oscillators as documented: the position in points on a grid of
// 2^-32 points (kept as a double offset by 1.5 * 2^20, so that every addition
// rounds once onto that grid), read by floor and fraction, and wrapped to the
// period at the end of each block with 32 bits of the period kept.
struct Osc {
    floats table;
    int size = 0;
    bool guard = false; // wavcub~: four consecutive points from the one before
    int factor = 1;
    lp::coefficients<pd_float> c = lp::pass_through<pd_float>;
    lp::memory<pd_float> m{0, 0, 0, 0};
    double phase = 0;
    pd_float sr = rate();

    pd_float point(std::int64_t i) const
    {
        const std::int64_t at = guard ? i : i % size;
        return table.at(static_cast<std::size_t>(at));
    }

    floats run(const std::function<pd_float(int)> &freq, int samples)
    {
        constexpr double offset = 1572864.0;
        const pd_float scale = static_cast<pd_float>(size) * (pd_float(1) / sr);
        floats out;
        for (int start = 0; start < samples; start += block) {
            double p = offset + size * phase;
            for (int k = start; k < start + block; k++) {
                const pd_float inc = guard ? scale * freq(k) : (freq(k) / factor) * scale;
                pd_float y = 0;
                for (int r = 0; r < factor; r++) {
                    const double pos = p - offset;
                    const double whole = std::floor(pos);
                    const auto i =
                        static_cast<std::int64_t>(whole - size * std::floor(whole / size));
                    const pd_float v = lorvex::cubic(point(i), point(i + 1), point(i + 2),
                        point(i + 3), static_cast<pd_float>(pos - whole));
                    y = guard ? v : lp::step(c, m, v);
                    p += inc;
                }
                out.push_back(y);
            }
            const double grid = std::ldexp(static_cast<double>(size), -32);
            const double kept = std::nearbyint((p - offset) / grid) * grid;
            phase = (kept - size * std::floor(kept / size)) / size;
        }
        out.resize(static_cast<std::size_t>(samples));
        return out;
    }

    floats run(pd_float freq, int samples)
    {
        return run([freq](int) { return freq; }, samples);
    }
};

// The table reader as documented: indices below 1 read point 1, those at or
// past npoints - 2 read the curve's end at point npoints - 2.
pd_float peek(const floats &t, pd_float findex)
{
    const auto last = static_cast<double>(t.size()) - 3;
    double whole = 1;
    pd_float frac = 0;
    if (!(findex >= 1)) {
        whole = 1;
        frac = 0;
    } else if (findex >= last + 1) {
        whole = last;
        frac = 1;
    } else {
        whole = std::floor(findex);
        frac = static_cast<pd_float>(findex - whole);
    }
    const auto i = static_cast<std::size_t>(whole);
    return lorvex::cubic(t[i - 1], t[i], t[i + 1], t[i + 2], frac);
}

// Where the first differing sample is, or "" if the bits agree.
std::string differs(const floats &got, const floats &want)
{
    if (got.size() != want.size())
        return "got " + std::to_string(got.size()) + " samples, want " +
               std::to_string(want.size());
    for (std::size_t k = 0; k < got.size(); k++)
        if (pd_bits(got[k]) != pd_bits(want[k]))
            return "sample " + std::to_string(k) + ": got " + num(got[k]) + ", want " +
                   num(want[k]);
    return "";
}

// An object `box` with [r name] at its left inlet, [r name-ph] at its second
// (when it has one) and its output captured under `name`; [r name-cap] re-arms
// the capture.
int object(Scenario &s, const std::string &name, const std::string &box, int samples,
    bool phase_inlet = true)
{
    int o = s.patch.obj(box);
    s.patch.receive(name, o);
    if (phase_inlet)
        s.patch.receive(name + "-ph", o, 1);
    int c = s.patch.capture(o, 0, name, samples);
    s.patch.receive(name + "-cap", c);
    return o;
}

// The n-th capture printed under `name` (0: the one from the first block).
floats captured(const Result &r, const std::string &name, std::size_t n = 0)
{
    auto all = r.printed_floats(name);
    return n < all.size() ? all[n] : floats{};
}

// A frequency (or index) signal that changes every sample: [tabreceive~ name]
// plays the same 64 values in every block.
int signal_of(Scenario &s, const std::string &name, const floats &values)
{
    s.array(name, values);
    return s.patch.obj("tabreceive~ " + name);
}

bool silent(const floats &v, std::size_t n)
{
    if (v.size() != n)
        return false;
    for (pd_float x : v)
        if (pd_bits(x) != 0)
            return false;
    return true;
}

} // namespace

// ---- wavlim~ ----------------------------------------------------------------

TEST(Wavlim, PlaysThePeriodAcrossBlocksBothWays)
{
    const int n = 10 * block;
    floats t1024 = wave(1024), t1000 = wave(1000, 5);
    // Only the first 512 points of a 1000-point table are played.
    for (std::size_t i = 512; i < t1000.size(); i++)
        t1000[i] = 100;
    Scenario s;
    s.array("t1024", t1024).array("t1000", t1000);
    const std::vector<std::pair<std::string, pd_float>> runs = {
        {"up", 1234.5f}, {"down", -3000.25f}, {"fast", 20000.3f}, {"still", 0},
        {"slow", 0.0173f}, {"slowdown", -0.0291f}};
    for (const auto &[name, f] : runs) {
        object(s, name, "wavlim~ t1024", n);
        s.send(name + " " + num(f));
    }
    object(s, "short", "wavlim~ t1000", n);
    s.send("short 997.5");
    s.dsp(true).wait(30);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    for (const auto &[name, f] : runs)
        EXPECT_EQ(differs(captured(r, name), Osc{t1024, 1024}.run(f, n)), "") << name;
    floats played = captured(r, "short");
    EXPECT_EQ(differs(played, Osc{t1000, 512}.run(997.5f, n)), "");
    for (pd_float v : played)
        ASSERT_LT(v, 10.0f);
    // Frequency 0 holds the value at phase 0: the curve at point 1.
    EXPECT_EQ(captured(r, "still"), floats(n, t1024[1]));
}

TEST(Wavlim, FollowsTheFrequencySampleBySample)
{
    floats freq(block);
    for (int k = 0; k < block; k++)
        freq[static_cast<std::size_t>(k)] = static_cast<pd_float>((k * 37 % 64) - 32) * 611.3f;
    floats t = wave(256, 3);
    Scenario s;
    s.array("t", t);
    int f = signal_of(s, "freq", freq);
    int o = object(s, "o", "wavlim~ t", 6 * block);
    s.patch.connect(f, 0, o, 0);
    s.dsp(true).wait(20);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    auto at = [&](int k) { return freq[static_cast<std::size_t>(k % block)]; };
    EXPECT_EQ(differs(captured(r, "o"), Osc{t, 256}.run(at, 6 * block)), "");
}

TEST(Wavlim, PhaseInletSetsThePositionOfTheNextBlock)
{
    floats t = wave(512, 9);
    Scenario s;
    s.array("t", t).array("bump", {0, 0, 1, 0});
    object(s, "o", "wavlim~ t", 3 * block);
    object(s, "half", "wavlim~ bump", block);
    object(s, "quarter", "wavlim~ bump", block);
    // On a four-point table a cycle is four points: 0.125 is half a point in.
    s.send("half-ph 0.125").send("quarter-ph 0.0625");
    s.send("o 2000").dsp(true).wait(20);
    // A quarter cycle: the next block starts at point 128, played from there.
    s.send("o-ph 0.25").send("o-cap bang").wait(20);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    EXPECT_EQ(captured(r, "half"), floats(block, 0.5625f));
    EXPECT_EQ(captured(r, "quarter"), floats(block, 0.2265625f));
    Osc from_quarter{t, 512};
    from_quarter.phase = 0.25;
    floats again = captured(r, "o", 1);
    EXPECT_EQ(differs(again, from_quarter.run(2000, 3 * block)), "");
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0], t[129]);
}

TEST(Wavlim, TinyTables)
{
    Scenario s;
    s.array("one", {0.75f}).array("two", {1, -1}).array("three", {2, 4, 8});
    object(s, "o1", "wavlim~ one", 2 * block);
    object(s, "o2", "wavlim~ two", 2 * block);
    object(s, "o3", "wavlim~ three", 2 * block);
    s.send("o1 5000").send("o2 3000").send("o3 -700").dsp(true).wait(10);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    // One point: every read returns it.
    EXPECT_EQ(captured(r, "o1"), floats(2 * block, 0.75f));
    EXPECT_EQ(differs(captured(r, "o2"), Osc{{1, -1}, 2}.run(3000, 2 * block)), "");
    // Three points play the first two.
    EXPECT_EQ(differs(captured(r, "o3"), Osc{{2, 4, 8}, 2}.run(-700, 2 * block)), "");
}

TEST(Wavlim, CutoffIsDesignedAtTheFirstStart)
{
    // A constant table at frequency 0 feeds the filter a step of 1: its first
    // output is b0 and the rest follow the recursion.
    const int n = 3 * block;
    const floats ones(8, 1);
    Scenario s;
    s.array("ones", ones);
    for (std::string name : {"c1000", "c50000", "late"})
        object(s, name, "wavlim~ ones", n);
    // Given before DSP runs, with no rate known: replaced at the first start.
    // The rate is chosen, so that the known coefficients below hold on every Pd.
    s.flag("-r").flag("44100");
    s.send("c1000 cutoff 1000").send("c50000 cutoff 50000");
    s.dsp(true).wait(10).send("late cutoff 1000").send("late-cap bang").wait(10);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();

    const lp::coefficients designed = lp::design<pd_float>(1000, 1, 44100);
    floats c1000 = captured(r, "c1000");
    ASSERT_FALSE(c1000.empty()) << r.output();
    EXPECT_NEAR(c1000[0], 0.0045684f, 5e-8f);
    EXPECT_EQ(differs(c1000, Osc{ones, 8, false, 1, designed}.run(0, n)), "");
    // w above 6.28: the fixed coefficients.
    floats c50000 = captured(r, "c50000");
    ASSERT_FALSE(c50000.empty());
    EXPECT_EQ(c50000[0], lp::above_range<pd_float>().b0);
    EXPECT_EQ(differs(c50000, Osc{ones, 8, false, 1, lp::above_range<pd_float>()}.run(0, n)), "");
    // While DSP runs, the cutoff takes effect at once, and the memory of the
    // pass-through (the input 1 and output 1 of the last step) is kept.
    Osc late{ones, 8, false, 1, designed, {1, 1, 1, 1}};
    EXPECT_EQ(differs(captured(r, "late", 1), late.run(0, n)), "");
}

TEST(Wavlim, UpsampleStepsAndDesignsAtTheRaisedRate)
{
    const int n = 4 * block;
    floats t = wave(128, 4), freq(block);
    for (int k = 0; k < block; k++)
        freq[static_cast<std::size_t>(k)] = 3100.0f + static_cast<pd_float>(k) * 97.31f;
    Scenario s;
    s.array("t", t);
    int fs = signal_of(s, "freq", freq);
    const std::vector<std::pair<std::string, std::string>> runs = {
        {"x3", "upsample 3"}, {"x2", "upsample 2.9"}, {"x4", "upsample 4"}, {"x5", "upsample 5"},
        {"zero", "upsample 0"},
        {"neg", "upsample -3"}, {"frac", "upsample 0.5"}, {"nan", "upsample @nan"}};
    for (const auto &[name, msg] : runs) {
        s.patch.connect(fs, 0, object(s, name, "wavlim~ t", n), 0);
        // The factor before and after the cutoff: both orders design for it.
        s.send(name + " upsample 7").send(name + " cutoff 2500").send(name + " " + msg);
    }
    s.dsp(true).wait(20);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    auto at = [&](int k) { return freq[static_cast<std::size_t>(k % block)]; };
    for (const auto &[name, msg] : runs) {
        const int factor = name[0] == 'x' ? name[1] - '0' : 1;
        Osc model{t, 128, false, factor, lp::design<pd_float>(2500, factor, rate())};
        EXPECT_EQ(differs(captured(r, name), model.run(at, n)), "") << msg;
    }
}

TEST(Wavlim, CutoffZeroGivesBackTheInterpolatedValue)
{
    floats t = wave(64, 8);
    Scenario s;
    s.array("t", t);
    object(s, "o", "wavlim~ t", block);
    object(s, "nan", "wavlim~ t", block);
    s.send("o-ph 0.3").send("nan-ph 0.3").send("o cutoff 300").send("nan cutoff 300");
    s.dsp(true).wait(10);
    // A NaN cutoff fills the filter memory with NaN; a cutoff of 0 clears it.
    s.send("nan cutoff @nan").send("nan-cap bang").wait(10);
    s.send("o cutoff 0").send("nan cutoff 0").send("o-cap bang").send("nan-cap bang").wait(10);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    // The phase is kept to 32 bits of the period at the end of the first
    // block; from then on the value stands still.
    Osc still{t, 64};
    still.phase = static_cast<pd_float>(0.3); // as Pd reads "0.3"
    const floats two = still.run(0, 2 * block);
    const floats value(two.begin() + block, two.end());
    floats filtered = captured(r, "o", 0);
    ASSERT_FALSE(filtered.empty());
    EXPECT_NE(filtered[0], value[0]);
    EXPECT_EQ(differs(captured(r, "o", 1), value), "");
    floats broken = captured(r, "nan", 1);
    ASSERT_FALSE(broken.empty());
    EXPECT_TRUE(std::isnan(broken.back()));
    EXPECT_EQ(differs(captured(r, "nan", 2), value), "");
}

TEST(Wavlim, ArraysAreBoundByNameAtEveryStart)
{
    floats a = wave(32, 1), b = wave(16, 2);
    Scenario s;
    s.patch.obj("struct lvxbad float x");
    s.array("a", a).array("b", b).array("spoilt", {1, 2, 3, 4});
    object(s, "none", "wavlim~", block);
    object(s, "nope", "wavlim~ nope", block);
    object(s, "bad", "wavlim~ spoilt", block);
    object(s, "o", "wavlim~ a", block);
    object(s, "still", "wavlim~ a", block);
    s.send("lvx spoil spoilt lvxbad").send("o 1500").send("still-ph 0.25").dsp(true).wait(5);
    // "set" binds at once, while DSP runs.
    s.send("o set b").send("still set b").send("o-cap bang").send("still-cap bang").wait(5);
    s.send("o set gone").send("o-cap bang").wait(5);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(silent(captured(r, "none"), block));
    EXPECT_TRUE(silent(captured(r, "nope"), block));
    EXPECT_TRUE(silent(captured(r, "bad"), block));
    EXPECT_EQ(r.count("error: wavlim~: nope: no such array"), 1u) << r.output();
    EXPECT_EQ(r.count("error: spoilt: bad template for wavlim~"), 1u) << r.output();
    EXPECT_EQ(r.count("error: wavlim~: gone: no such array"), 1u) << r.output();
    EXPECT_EQ(r.count("error: wavlim~: : no such array"), 0u) << r.output();
    EXPECT_EQ(differs(captured(r, "o"), Osc{a, 32}.run(1500, block)), "");
    EXPECT_FALSE(silent(captured(r, "o", 1), block));
    EXPECT_TRUE(silent(captured(r, "o", 2), block));
    // The phase carries over: a quarter cycle is point 8 of a, then point 4 of b.
    EXPECT_EQ(captured(r, "still"), floats(block, a[9]));
    EXPECT_EQ(captured(r, "still", 1), floats(block, b[5]));
}

// ---- wavcub~ ----------------------------------------------------------------

TEST(Wavcub, AcceptsOnlyAPowerOfTwoPlusThree)
{
    const int n = 2 * block;
    const std::vector<int> accepted = {4, 5, 7, 11, 19, 35, 67, 131, 259, 515, 1027, 2051};
    const std::vector<int> refused = {3, 6, 8, 512, 1024, 1026};
    Scenario s;
    for (int len : accepted) {
        const std::string name = "a" + std::to_string(len);
        s.array("t" + name, wave(len, static_cast<unsigned>(len)));
        object(s, name, "wavcub~ t" + name, n);
        s.send(name + " 441.5");
    }
    for (int len : refused) {
        const std::string name = "r" + std::to_string(len);
        s.array("t" + name, wave(len));
        object(s, name, "wavcub~ t" + name, n);
        s.send(name + " 441.5");
    }
    s.dsp(true).wait(10);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    for (int len : accepted) {
        const std::string name = "a" + std::to_string(len);
        Osc model{wave(len, static_cast<unsigned>(len)), len - 3, true};
        EXPECT_EQ(differs(captured(r, name), model.run(441.5f, n)), "") << name;
    }
    for (int len : refused) {
        const std::string name = "r" + std::to_string(len);
        EXPECT_TRUE(silent(captured(r, name), n)) << name;
        EXPECT_EQ(r.count("error: t" + name + ": number of points (" + std::to_string(len) +
                          ") not a power of 2 plus three"), 1u) << r.output();
    }
    EXPECT_EQ(r.errors().size(), refused.size()) << r.output();
}

TEST(Wavcub, PlaysAcrossBlocksWithGuardPoints)
{
    const int n = 8 * block;
    floats t = wave(515, 12);
    // The guard points only ever enter as outer neighbours.
    t[0] = -5;
    t[514] = 5;
    floats freq(block);
    for (int k = 0; k < block; k++)
        freq[static_cast<std::size_t>(k)] = static_cast<pd_float>(k - 20) * 523.7f;
    Scenario s;
    s.array("t", t);
    const std::vector<std::pair<std::string, pd_float>> runs = {
        {"up", 777.7f}, {"down", -1234.5f}, {"fast", 30000}, {"still", 0}, {"slow", -0.0123f}};
    for (const auto &[name, f] : runs) {
        object(s, name, "wavcub~ t", n);
        s.send(name + " " + num(f));
    }
    int fs = signal_of(s, "freq", freq);
    s.patch.connect(fs, 0, object(s, "varying", "wavcub~ t", n), 0);
    s.dsp(true).wait(20);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    for (const auto &[name, f] : runs)
        EXPECT_EQ(differs(captured(r, name), Osc{t, 512, true}.run(f, n)), "") << name;
    auto at = [&](int k) { return freq[static_cast<std::size_t>(k % block)]; };
    EXPECT_EQ(differs(captured(r, "varying"), Osc{t, 512, true}.run(at, n)), "");
    // Phase 0 plays point 1, the first of the period.
    EXPECT_EQ(captured(r, "still"), floats(n, t[1]));
}

TEST(Wavcub, PeriodOneAndThePhaseInlet)
{
    floats t = wave(131, 6);
    Scenario s;
    s.array("bump", {0, 0, 1, 0}).array("t", t);
    object(s, "half", "wavcub~ bump", block);
    object(s, "quarter", "wavcub~ bump", block);
    object(s, "moving", "wavcub~ bump", 3 * block);
    object(s, "o", "wavcub~ t", 2 * block);
    s.send("half-ph 0.5").send("quarter-ph 0.25").send("moving 100");
    s.send("o -900").dsp(true).wait(10);
    s.send("o-ph 0.75").send("o-cap bang").wait(10);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    EXPECT_EQ(captured(r, "half"), floats(block, 0.5625f));
    EXPECT_EQ(captured(r, "quarter"), floats(block, 0.2265625f));
    // Period 1: every sample reads points 0 to 3, along the curve between 1 and 2.
    EXPECT_EQ(differs(captured(r, "moving"), Osc{{0, 0, 1, 0}, 1, true}.run(100, 3 * block)),
        "");
    Osc model{t, 128, true};
    model.phase = 0.75;
    floats again = captured(r, "o", 1);
    EXPECT_EQ(differs(again, model.run(-900, 2 * block)), "");
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0], t[97]);
}

TEST(Wavcub, ResizingARefusedArrayBindsItAgain)
{
    floats t = wave(10, 2);
    Scenario s;
    s.array("t", t);
    object(s, "o", "wavcub~ t", block);
    s.send("o 1000").dsp(true).wait(5);
    // 11 points: period 8. The host restarts DSP, which binds the array.
    s.send("t resize 11").send("o-cap bang").wait(5);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.count("error: t: number of points (10) not a power of 2 plus three"), 1u)
        << r.output();
    EXPECT_TRUE(silent(captured(r, "o"), block));
    floats grown = t;
    grown.push_back(0);
    floats played = captured(r, "o", 1);
    EXPECT_FALSE(silent(played, block));
    // The phase stood still while the array was refused.
    EXPECT_EQ(differs(played, Osc{grown, 8, true}.run(1000, block)), "");
}

TEST(Wavcub, MissingAndUnusableArraysAreSilent)
{
    Scenario s;
    s.patch.obj("struct lvxbad float x");
    s.array("spoilt", {1, 2, 3, 4, 5});
    object(s, "none", "wavcub~", block);
    object(s, "nope", "wavcub~ nope", block);
    object(s, "bad", "wavcub~ spoilt", block);
    s.send("lvx spoil spoilt lvxbad").send("none 100").send("nope 100").send("bad 100");
    s.dsp(true).wait(5);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    for (std::string name : {"none", "nope", "bad"})
        EXPECT_TRUE(silent(captured(r, name), block)) << name;
    EXPECT_EQ(r.count("error: wavcub~: nope: no such array"), 1u) << r.output();
    EXPECT_EQ(r.count("error: spoilt: bad template for wavcub~"), 1u) << r.output();
    EXPECT_EQ(r.count("no such array"), 1u) << r.output();
}

// ---- peekcub~ ---------------------------------------------------------------

TEST(Peekcub, ClipsTheIndexToTheReadableRange)
{
    floats t = wave(10, 21);
    floats index = {-5, 0, 0.7f, 1, 1.5f, 7.25f, 8, 8.5f, 1000, 7.999f, 6.5f, 2.125f,
        -0.f, 1e30f, -1e30f, 2147483648.f, -2147483904.f, 0.999f, 3, 4.75f};
    for (int k = 1; k <= 7; k++)
        for (pd_float frac : {0.0f, 0.3f, 0.96875f})
            index.push_back(static_cast<pd_float>(k) + frac);
    index.resize(block, 5.5f);
    Scenario s;
    s.array("t", t);
    int ix = signal_of(s, "ix", index);
    s.patch.connect(ix, 0, object(s, "o", "peekcub~ t", 2 * block, false), 0);
    // Indices no patch can type, through the same array.
    s.send("ix 60 @nan @inf @-inf @-nan");
    index[60] = NAN;
    index[61] = INFINITY;
    index[62] = -INFINITY;
    index[63] = -NAN;
    s.dsp(true).wait(5);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    floats want;
    for (int rep = 0; rep < 2; rep++)
        for (pd_float i : index)
            want.push_back(peek(t, i));
    floats got = captured(r, "o");
    EXPECT_EQ(differs(got, want), "");
    ASSERT_EQ(got.size(), want.size());
    // Below 1 (and NaN, -inf): point 1 itself; from 8 on: the end of the curve at point 8.
    for (int k : {0, 1, 2, 3, 12, 14, 16, 17, 60, 62, 63})
        EXPECT_EQ(got[static_cast<std::size_t>(k)], t[1]) << k;
    for (int k : {6, 7, 8, 13, 15, 61})
        EXPECT_NEAR(got[static_cast<std::size_t>(k)], t[8], 1e-6f) << k;
    // Whole indices read their point.
    EXPECT_EQ(got[18], t[3]);
}

TEST(Peekcub, KnownValuesAndTheSmallestArray)
{
    floats index(block, 0);
    const floats probes = {1.25f, 1.5f, 2, 3, 10, 1, 0.5f, 2.75f};
    std::copy(probes.begin(), probes.end(), index.begin());
    Scenario s;
    s.array("bump", {0, 0, 1, 0, 0}).array("four", {3, 5, 7, 11});
    int ix = signal_of(s, "ix", index);
    s.patch.connect(ix, 0, object(s, "o-bump", "peekcub~ bump", block, false), 0);
    s.patch.connect(ix, 0, object(s, "o-four", "peekcub~ four", block, false), 0);
    s.dsp(true).wait(3);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    floats bump = captured(r, "o-bump");
    ASSERT_EQ(bump.size(), static_cast<std::size_t>(block)) << r.output();
    EXPECT_EQ(bump[0], 0.2265625f);
    EXPECT_EQ(bump[1], 0.5625f);
    EXPECT_EQ(bump[2], 1.0f);
    EXPECT_EQ(bump[3], 0.0f);
    EXPECT_EQ(bump[4], 0.0f);
    // Four points: only the segment from point 1 to point 2 is readable.
    floats four = captured(r, "o-four");
    floats want;
    for (pd_float i : index)
        want.push_back(peek({3, 5, 7, 11}, i));
    EXPECT_EQ(differs(four, want), "");
}

TEST(Peekcub, ShortMissingAndUnusableArraysAreSilent)
{
    Scenario s;
    s.patch.obj("struct lvxbad float x");
    s.array("p1", {1}).array("p2", {1, 2}).array("p3", {1, 2, 3}).array("spoilt", {1, 2, 3, 4, 5});
    for (std::string name : {"p1", "p2", "p3", "nope", "spoilt"}) {
        object(s, "o-" + name, "peekcub~ " + name, block, false);
        s.send("o-" + name + " 1.5");
    }
    object(s, "o-none", "peekcub~", block, false);
    s.send("lvx spoil spoilt lvxbad").dsp(true).wait(5);
    // Growing a short array restarts DSP, and then it is read.
    s.send("p3 resize 4").send("p3 3 9").send("o-p3-cap bang").wait(5);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    for (std::string name : {"p1", "p2", "p3", "nope", "spoilt", "none"})
        EXPECT_TRUE(silent(captured(r, "o-" + name), block)) << name;
    // Arrays are bound at every DSP start: the first and the one the resize caused.
    EXPECT_EQ(r.count("error: peekcub~: nope: no such array"), 2u) << r.output();
    EXPECT_EQ(r.count("error: spoilt: bad template for peekcub~"), 2u) << r.output();
    EXPECT_EQ(r.count("no such array"), 2u) << r.output();
    EXPECT_EQ(captured(r, "o-p3", 1), floats(block, peek({1, 2, 3, 9}, 1.5f)));
}

// ---- multichannel signals (Pd 0.54 and later) --------------------------------

// An index signal of several channels gives as many output channels, each
// read as a single index signal would be, as Pd's own tabread4~ does.
TEST(Peekcub, ReadsEveryChannelOfAMultichannelIndex)
{
    if (!pd_at_least(0, 54))
        GTEST_SKIP() << "Pd " << pd_version()[0] << "." << pd_version()[1]
                     << " has no multichannel signals";
    const int n = 2 * block;
    floats t = wave(12, 31);
    std::vector<floats> index(3, floats(block));
    for (int k = 0; k < block; k++) {
        const auto i = static_cast<std::size_t>(k);
        index[0][i] = static_cast<float>(k) * 0.173f - 0.5f;
        index[1][i] = 9.9f - static_cast<float>(k) * 0.131f;
        index[2][i] = static_cast<float>(k % 7) + 0.25f * static_cast<float>(k % 4);
    }
    Scenario s;
    s.array("t", t);
    int in = s.patch.obj("snake~ in 3");
    for (int c = 0; c < 3; c++)
        s.patch.connect(signal_of(s, "ix" + std::to_string(c), index[c]), 0, in, c);
    int o = s.patch.obj("peekcub~ t");
    s.patch.connect(in, 0, o, 0);
    int out = s.patch.obj("snake~ out 3");
    s.patch.connect(o, 0, out, 0);
    for (int c = 0; c < 3; c++)
        s.patch.capture(out, c, "ch" + std::to_string(c), n);
    // A single channel, from the same object class, stays one.
    int single = s.patch.obj("peekcub~ t");
    s.patch.connect(signal_of(s, "ix-single", index[2]), 0, single, 0);
    s.patch.capture(single, 0, "single", n);
    s.dsp(true).wait(5);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    for (int c = 0; c < 3; c++) {
        floats want;
        for (int k = 0; k < n; k++)
            want.push_back(peek(t, index[c][static_cast<std::size_t>(k % block)]));
        EXPECT_EQ(differs(captured(r, "ch" + std::to_string(c)), want), "") << "channel " << c;
        if (c == 2) {
            EXPECT_EQ(differs(captured(r, "single"), want), "");
        }
    }
}

// The oscillators and the filter refuse a multichannel input with Pd's own
// message, as their neighbours among Pd's objects (tabosc4~, biquad~) do, and
// what follows them gets what follows those.
TEST(Multichannel, OscillatorsAndTheFilterRefuseItAsPdsOwnDo)
{
    if (!pd_at_least(0, 54))
        GTEST_SKIP() << "Pd " << pd_version()[0] << "." << pd_version()[1]
                     << " has no multichannel signals";
    Scenario s;
    s.array("t", wave(67, 4));
    int one = s.patch.obj("sig~ 1000"), two = s.patch.obj("sig~ 2000");
    int in = s.patch.obj("snake~ in 2");
    s.patch.connect(one, 0, in, 0);
    s.patch.connect(two, 0, in, 1);
    const std::vector<std::pair<std::string, int>> boxes = {{"tabosc4~ t", 0},
        {"biquad~ 0.5 0 1 0 0", 0}, {"wavcub~ t", 0}, {"wavlim~ t", 0}, {"duopol~", 0},
        {"duopol~", 3}};
    for (std::size_t i = 0; i < boxes.size(); i++) {
        int o = s.patch.obj(boxes[i].first);
        s.patch.connect(in, 0, o, boxes[i].second);
        s.patch.capture(o, 0, "o" + std::to_string(i), block);
    }
    s.dsp(true).wait(5);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    for (const char *cls : {"tabosc4~", "biquad~", "wavcub~", "wavlim~"})
        EXPECT_EQ(r.count(std::string("error: object ") + cls + " can't take multichannel inputs"),
            1u) << r.output();
    EXPECT_EQ(r.count("error: object duopol~ can't take multichannel inputs"), 2u) << r.output();
    EXPECT_EQ(r.errors().size(), boxes.size()) << r.output();
    const floats oscillator = captured(r, "o0"), filter = captured(r, "o1");
    for (std::size_t i = 2; i < boxes.size(); i++)
        EXPECT_EQ(captured(r, "o" + std::to_string(i)), i < 4 ? oscillator : filter)
            << boxes[i].first << r.output();
}

// ---- all three under hostile signals ------------------------------------------

// NaN, infinities, huge and denormal frequencies and indices, and hostile
// phases and filter settings, with real tables bound, in the sanitizer build:
// every read stays inside the table and, while no filter runs, the output
// stays on the table's curve.
TEST(Hostile, SignalsNeverLeaveTheTable)
{
    const int n = 4 * block;
    Scenario s;
    s.sanitized();
    s.array("t", wave(64, 2)).array("g", wave(67, 3)).array("one", {0.5f});
    int h = s.patch.obj("lvx_hostile~");
    const std::vector<std::pair<std::string, std::string>> objects = {
        {"lim", "wavlim~ t"}, {"lim1", "wavlim~ one"}, {"limf", "wavlim~ t"},
        {"cub", "wavcub~ g"}, {"peek", "peekcub~ g"}, {"peek1", "peekcub~ t"}};
    for (const auto &[name, box] : objects)
        s.patch.connect(h, 0, object(s, name, box, n, box[0] == 'w'), 0);
    s.send("lim-ph @inf").send("cub-ph @nan").send("lim1-ph @-inf");
    s.send("limf upsample 3").send("limf cutoff @inf");
    s.dsp(true).wait(10);
    s.send("lim-ph @big").send("cub-ph @-big").send("lim-cap bang").send("cub-cap bang").wait(10);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    // The filtered one may ring or hold NaN: only its survival counts.
    const std::vector<std::pair<std::string, std::size_t>> captures = {{"lim", 0}, {"lim1", 0},
        {"cub", 0}, {"peek", 0}, {"peek1", 0}, {"lim", 1}, {"cub", 1}};
    for (const auto &[name, k] : captures) {
        floats v = captured(r, name, k);
        ASSERT_EQ(v.size(), static_cast<std::size_t>(n)) << name << r.output();
        for (pd_float x : v) {
            ASSERT_TRUE(std::isfinite(x)) << name;
            ASSERT_LT(std::fabs(x), 2.0f) << name;
        }
    }
    EXPECT_EQ(captured(r, "lim1"), floats(n, 0.5f));
    EXPECT_EQ(captured(r, "limf").size(), static_cast<std::size_t>(n));
}
