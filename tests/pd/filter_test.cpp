// duopol~ and sigdoor~ in the real Pd: the biquad against a sample-by-sample
// model of its formula, read back bit for bit; the signal inlet with a default
// in subpatches and abstractions, alongside Pd's own [inlet~].
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

#include "pd.hpp"

using namespace lorvex::test;
using floats = std::vector<pd_float>;
using strings = std::vector<std::string>;

namespace {

constexpr int block = 64;

bool same_bits(const floats &x, const floats &y)
{
    return x.size() == y.size() &&
           (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(pd_float)) == 0);
}

// ---- duopol~ ---------------------------------------------------------------

// One block of each input, repeated every block by [tabreceive~].
struct Inputs {
    floats x = floats(block, 0), a1 = floats(block, 0), a2 = floats(block, 0),
           b0 = floats(block, 0), b1 = floats(block, 0), b2 = floats(block, 0);

    static floats constant(pd_float v) { return floats(block, v); }
};

struct Memory {
    pd_float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

// The filter as its documentation states it, in single precision and in the
// documented order of operations.
floats model(const Inputs &in, Memory &m, int samples)
{
    floats out;
    for (int i = 0; i < samples; i++) {
        const int k = i % block;
        const pd_float x = in.x[k];
        const pd_float y = ((in.b1[k] * m.x1 + in.b0[k] * x) + in.b2[k] * m.x2) -
                        in.a1[k] * m.y1 - in.a2[k] * m.y2;
        out.push_back(y);
        m.x2 = m.x1;
        m.x1 = x;
        m.y2 = m.y1;
        m.y1 = y;
    }
    return out;
}

// [tabreceive~] of arrays x, a1, a2, b0, b1, b2 into the six inlets of a
// duopol~ reachable at [r d]; its output is captured as "y". Answers the
// box indices of the duopol~ and of each source.
struct Rig {
    int duo = -1;
    int capture = -1;
    std::vector<int> sources;

    Rig(Scenario &s, const Inputs &in, int samples)
    {
        const std::pair<const char *, const floats *> arrays[] = {{"x", &in.x},
            {"a1", &in.a1}, {"a2", &in.a2}, {"b0", &in.b0}, {"b1", &in.b1}, {"b2", &in.b2}};
        for (const auto &[name, values] : arrays)
            s.array(name, *values);
        duo = s.patch.obj("duopol~");
        s.patch.receive("d", duo);
        for (const auto &[name, values] : arrays)
            sources.push_back(s.patch.obj(std::string("tabreceive~ ") + name));
        capture = s.patch.capture(duo, 0, "y", samples);
        s.patch.receive("c", capture);
    }

    void connect_all(Scenario &s) const
    {
        for (int k = 0; k < 6; k++)
            s.patch.connect(sources[k], 0, duo, k);
    }
};

// Runs the scenario and answers its one capture of y (empty, with a failure
// recorded, when Pd did not run cleanly or captured something else).
floats captured_once(Scenario &s)
{
    Result r = s.run();
    auto got = r.printed_floats("y");
    if (!r.clean() || got.size() != 1) {
        ADD_FAILURE() << r.output();
        return {};
    }
    return got[0];
}

// Varied coefficients that change on every sample and keep the filter stable.
Inputs varied()
{
    Inputs in;
    for (int i = 0; i < block; i++) {
        const pd_float t = static_cast<pd_float>(i);
        in.x[i] = std::sin(t * 0.7f) + (i % 5 == 0 ? 0.5f : -0.125f);
        in.a1[i] = -0.9f + 0.01f * static_cast<pd_float>(i % 17);
        in.a2[i] = 0.2f + 0.003f * static_cast<pd_float>(i % 11);
        in.b0[i] = 0.3f + 0.1f * std::cos(t);
        in.b1[i] = 0.5f - 0.007f * t;
        in.b2[i] = (i % 3 == 0) ? 0.25f : -0.0625f;
    }
    return in;
}

} // namespace

TEST(Duopol, SignalCoefficientsChangingWithinABlockWithMemoryAcrossBlocks)
{
    Inputs in = varied();
    Scenario s;
    Rig rig(s, in, 3 * block);
    rig.connect_all(s);
    s.dsp(true).wait(20);
    floats got = captured_once(s);
    Memory m;
    floats want = model(in, m, 3 * block);
    EXPECT_TRUE(same_bits(got, want)) << nums(got) << "\nwant\n" << nums(want);
    // The second and third blocks differ from the first only through the memory.
    EXPECT_FALSE(same_bits(floats(want.begin(), want.begin() + block),
        floats(want.begin() + block, want.begin() + 2 * block)));
}

TEST(Duopol, PassThroughAndOneSampleDelay)
{
    Inputs in;
    for (int i = 0; i < block; i++)
        in.x[i] = static_cast<pd_float>(i * i % 23) * 0.37f - 3.5f;
    floats twice = in.x;
    twice.insert(twice.end(), in.x.begin(), in.x.end());

    // b0 = 1, the others 0: the input unchanged.
    in.b0 = Inputs::constant(1);
    {
        Scenario s;
        Rig rig(s, in, 2 * block);
        rig.connect_all(s);
        s.dsp(true).wait(10);
        floats got = captured_once(s);
        EXPECT_TRUE(same_bits(got, twice)) << nums(got);
    }
    // The same with only x connected and 1 sent to the unconnected b0 inlet:
    // an unconnected coefficient inlet supplies the last number sent to it.
    {
        Scenario s;
        Rig rig(s, in, 2 * block);
        s.patch.connect(rig.sources[0], 0, rig.duo, 0);
        s.patch.receive("b0", rig.duo, 3);
        s.send("b0 1").dsp(true).wait(10);
        floats got = captured_once(s);
        EXPECT_TRUE(same_bits(got, twice)) << nums(got);
    }
    // b1 = 1: delayed by one sample, the first output is what "set 7" put in x1.
    in.b0 = Inputs::constant(0);
    in.b1 = Inputs::constant(1);
    {
        Scenario s;
        Rig rig(s, in, 2 * block);
        rig.connect_all(s);
        s.send("d set 7").dsp(true).wait(10);
        floats got = captured_once(s);
        floats want = {7};
        want.insert(want.end(), twice.begin(), twice.end() - 1);
        EXPECT_TRUE(same_bits(got, want)) << nums(got);
    }
}

TEST(Duopol, SetAndClearWriteTheMemory)
{
    // With no input, the first output is x1 + 10 x2 + 100 y1 + 1000 y2: each
    // capture shows the four remembered values as digits.
    Inputs in;
    in.b1 = Inputs::constant(1);
    in.b2 = Inputs::constant(10);
    in.a1 = Inputs::constant(-100);
    in.a2 = Inputs::constant(-1000);
    const std::vector<std::pair<strings, Memory>> cases = {
        {{"set 7"}, {7, 0, 0, 0}},
        {{"set 1 2 3 4"}, {1, 2, 3, 4}},
        {{"set 1 2 3 4", "clear 5"}, {5, 0, 0, 0}},
        {{"set 1 2 3 4", "clear"}, {0, 0, 0, 0}},
        {{"set 1 x 3 y"}, {1, 0, 3, 0}},
        {{"set 9 9 9 9", "set 1 2"}, {1, 2, 0, 0}},
        {{"set 1 2 3 4 9 9"}, {1, 2, 3, 4}},
        {{"set 4 3 2 1", "clear x 6 @empty 8"}, {0, 6, 0, 8}},
    };
    Scenario s;
    Rig rig(s, in, 3);
    rig.connect_all(s);
    // The first capture starts with the first block; each later one is armed
    // in the same instant as the messages, before the next block.
    bool first = true;
    for (const auto &[messages, memory] : cases) {
        for (const auto &m : messages)
            s.send("d " + m);
        if (first)
            s.dsp(true);
        else
            s.send("c bang");
        first = false;
        s.wait(10);
    }
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    auto got = r.printed_floats("y");
    ASSERT_EQ(got.size(), cases.size()) << r.output();
    for (std::size_t k = 0; k < cases.size(); k++) {
        Memory m = cases[k].second;
        floats want = model(in, m, 3);
        EXPECT_TRUE(same_bits(got[k], want))
            << cases[k].first.back() << ": " << nums(got[k]) << " want " << nums(want);
    }
}

TEST(Duopol, MemoryPersistsAcrossDspRestarts)
{
    // An input summing to 0 over a block, through y = y1 + x + 2 x1 + 3 x2:
    // after the first block the memory is the same at every block boundary,
    // however many blocks ran before DSP stopped. Integers keep it exact.
    Inputs in;
    in.x[0] = 3;
    in.x[1] = -1;
    in.x[block - 1] = -2;
    in.b0 = Inputs::constant(1);
    in.b1 = Inputs::constant(2);
    in.b2 = Inputs::constant(3);
    in.a1 = Inputs::constant(-1);
    Scenario s;
    Rig rig(s, in, block);
    rig.connect_all(s);
    s.send("d set 0 0 0.5 0").dsp(true).wait(30).dsp(false).wait(30);
    s.send("c bang").dsp(true).wait(30);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    auto got = r.printed_floats("y");
    ASSERT_EQ(got.size(), 2u) << r.output();
    Memory m{0, 0, 0.5f, 0};
    floats first = model(in, m, block);
    floats again = model(in, m, block);
    EXPECT_TRUE(same_bits(got[0], first)) << nums(got[0]);
    EXPECT_TRUE(same_bits(got[1], again)) << nums(got[1]);
    // A memory lost or reset at the restart would have started over.
    Memory lost;
    EXPECT_FALSE(same_bits(got[1], model(in, lost, block)));
    EXPECT_FALSE(same_bits(got[1], first));
}

namespace {

// The vector addresses [lvx_vec~ label] printed when the graph was built.
std::pair<std::string, std::string> vectors(const Result &r, const std::string &label)
{
    auto lines = r.printed(label);
    if (lines.empty())
        return {};
    std::istringstream words(lines.back());
    std::string in, inaddr, out, outaddr;
    words >> in >> inaddr >> out >> outaddr;
    return {inaddr, outaddr};
}

// The rig with [lvx_vec~] before inlet `shared` and after the outlet, and
// every other source also feeding an object of its own that runs after
// duopol~: Pd then frees only the input of inlet `shared` when duopol~ is
// scheduled, and gives that memory to the output.
Result run_in_place(const Inputs &in, int shared)
{
    Scenario s;
    s.lib("lvxvec");
    Rig rig(s, in, 2 * block);
    int before = s.patch.obj("lvx_vec~ before");
    int after = s.patch.obj("lvx_vec~ after");
    for (int k = 0; k < 6; k++) {
        if (k == shared) {
            s.patch.connect(rig.sources[k], 0, before, 0);
            s.patch.connect(before, 0, rig.duo, k);
        } else {
            // (one connection per inlet: signals summed at an inlet are let go early)
            int later = s.patch.obj("+~");
            s.patch.connect(rig.sources[k], 0, rig.duo, k);
            s.patch.connect(rig.sources[k], 0, later, 1);
            s.patch.connect(after, 0, later, 0);
        }
    }
    s.patch.connect(rig.duo, 0, after, 0);
    s.dsp(true).wait(10);
    return s.run();
}

} // namespace

TEST(Duopol, InPlaceGivesTheSameResultAsSeparateMemory)
{
    Inputs in = varied();
    Memory m;
    const floats want = model(in, m, 2 * block);
    for (int shared : {0, 5, 3}) {
        Result r = run_in_place(in, shared);
        ASSERT_TRUE(r.clean()) << r.output();
        auto [before_in, before_out] = vectors(r, "before");
        auto [after_in, after_out] = vectors(r, "after");
        ASSERT_FALSE(before_out.empty()) << r.output();
        // The output really is the memory of that input.
        EXPECT_EQ(before_out, after_in) << "inlet " << shared << "\n" << r.output();
        auto got = r.printed_floats("y");
        ASSERT_EQ(got.size(), 1u) << r.output();
        EXPECT_TRUE(same_bits(got[0], want)) << "inlet " << shared << ": " << nums(got[0]);
    }
}

// ---- sigdoor~ --------------------------------------------------------------

namespace {

bool all_equal(const floats &v, pd_float value, std::size_t n)
{
    return v.size() == n && std::all_of(v.begin(), v.end(), [&](pd_float f) {
        return std::memcmp(&f, &value, sizeof f) == 0;
    });
}

// The captures under `label`, each expected to hold n samples of one value.
void expect_constant(const Result &r, const std::string &label, const floats &values,
    std::size_t n)
{
    auto got = r.printed_floats(label);
    ASSERT_EQ(got.size(), values.size()) << label << "\n" << r.output();
    for (std::size_t k = 0; k < values.size(); k++)
        EXPECT_TRUE(all_equal(got[k], values[k], n))
            << label << " capture " << k << " want " << num(values[k]) << ": " << nums(got[k]);
}

// An abstraction with two defaults, the second from its creation argument,
// and Pd's own [inlet~] to the right of them for comparison.
constexpr const char *door_abstraction =
    "#N canvas 0 0 600 300 12;\n"
    "#X obj 10 10 sigdoor~ 0.25;\n"
    "#X obj 200 10 sigdoor~ \\$1;\n"
    "#X obj 400 10 inlet~;\n"
    "#X obj 10 60 outlet~;\n"
    "#X obj 200 60 outlet~;\n"
    "#X obj 400 60 outlet~;\n"
    "#X connect 0 0 3 0;\n"
    "#X connect 1 0 4 0;\n"
    "#X connect 2 0 5 0;\n";

} // namespace

TEST(Sigdoor, DefaultOnEverySampleInSubpatches)
{
    Scenario s;
    Canvas &plain = s.patch.subpatch("plain");
    plain.capture(plain.obj("sigdoor~ 0.5"), 0, "half", 4 * block);
    plain.capture(plain.obj("sigdoor~"), 0, "none", 4 * block);
    plain.capture(plain.obj("inlet~"), 0, "host", 4 * block);
    plain.capture(plain.obj("sigdoor~ -1e+30"), 0, "huge", 4 * block);
    // Reblocked, the inlet's signal goes through a buffer; a larger block
    // than the parent's starts late, as Pd's own inlet~ with that signal
    // connected does.
    Canvas &small = s.patch.subpatch("small");
    small.obj("block~ 16");
    small.capture(small.obj("sigdoor~ 0.75"), 0, "small", 4 * block);
    s.file("large.pd",
        "#N canvas 0 0 400 300 12;\n"
        "#X obj 10 10 sigdoor~ -2.5;\n"
        "#X obj 200 10 inlet~;\n"
        "#X obj 10 60 lvx_capture~ large 512;\n"
        "#X obj 200 60 lvx_capture~ largehost 512;\n"
        "#X obj 300 10 block~ 256;\n"
        "#X connect 0 0 2 0;\n"
        "#X connect 1 0 3 0;\n");
    s.patch.connect(s.patch.obj("sig~ -2.5"), 0, s.patch.obj("large"), 1);
    s.dsp(true).wait(50);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    expect_constant(r, "half", {0.5f}, 4 * block);
    expect_constant(r, "none", {0}, 4 * block);
    expect_constant(r, "host", {0}, 4 * block);
    expect_constant(r, "huge", {static_cast<pd_float>(-1e30)}, 4 * block);
    expect_constant(r, "small", {0.75f}, 4 * block);
    auto large = r.printed_floats("large"), host = r.printed_floats("largehost");
    ASSERT_EQ(large.size(), 1u) << r.output();
    ASSERT_EQ(host.size(), 1u) << r.output();
    EXPECT_TRUE(same_bits(large[0], host[0])) << nums(large[0]) << "\nhost\n" << nums(host[0]);
    EXPECT_TRUE(all_equal(floats(large[0].end() - 4 * block, large[0].end()), -2.5f, 4 * block))
        << nums(large[0]);
}

TEST(Sigdoor, AbstractionDefaultsAndConnectedSignals)
{
    Scenario s;
    s.file("door.pd", door_abstraction);
    int a = s.patch.obj("door 7");
    int b = s.patch.obj("door -3");
    int sig = s.patch.obj("sig~ 0.125");
    s.patch.connect(sig, 0, b, 0);
    const char *labels[2][3] = {{"a0", "a1", "a2"}, {"b0", "b1", "b2"}};
    for (int k = 0; k < 3; k++) {
        s.patch.receive("again", s.patch.capture(a, k, labels[0][k], 2 * block));
        s.patch.receive("again", s.patch.capture(b, k, labels[1][k], 2 * block));
    }
    // Disconnected, the inlet goes back to its default.
    s.dsp(true).wait(20);
    s.send("pd-main.pd disconnect " + std::to_string(sig) + " 0 " + std::to_string(b) + " 0");
    s.send("again bang").wait(20);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    expect_constant(r, "a0", {0.25f, 0.25f}, 2 * block);
    expect_constant(r, "a1", {7, 7}, 2 * block);
    expect_constant(r, "a2", {0, 0}, 2 * block);
    expect_constant(r, "b0", {0.125f, 0.25f}, 2 * block);
    expect_constant(r, "b1", {-3, -3}, 2 * block);
    expect_constant(r, "b2", {0, 0}, 2 * block);
}

TEST(Sigdoor, FloatsToTheBoxFollowPdsRulesForSignalInlets)
{
    Scenario s;
    s.file("door.pd", door_abstraction);
    int d = s.patch.obj("door 7");
    int sig = s.patch.obj("sig~ 2");
    for (int k = 0; k < 3; k++) {
        s.patch.receive("f" + std::to_string(k), d, k);
        s.patch.receive("again", s.patch.capture(d, k, "out" + std::to_string(k), block));
    }
    const std::string connect = std::to_string(sig) + " 0 " + std::to_string(d) + " 0";
    s.dsp(true).wait(10);
    // A number replaces the default, for sigdoor~ as for Pd's own inlet~.
    s.send("f1 9").send("f2 5").send("again bang").wait(10);
    s.send("f0 -4").send("again bang").wait(10);
    // With a signal connected the signal wins; the number sent meanwhile is
    // the value once the signal is gone.
    s.send("pd-main.pd connect " + connect).send("f0 6").send("again bang").wait(10);
    s.send("pd-main.pd disconnect " + connect).send("again bang").wait(10);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    expect_constant(r, "out0", {0.25f, 0.25f, -4, 2, 6}, block);
    expect_constant(r, "out1", {7, 9, 9, 9, 9}, block);
    expect_constant(r, "out2", {0, 5, 5, 5, 5}, block);
}

TEST(Sigdoor, CreatedWhileThePatchRuns)
{
    // Created from messages, Pd orders the box's inlets by position at once:
    // each default must stay with its own inlet.
    Scenario s;
    s.sanitized();
    int live = -1;
    s.patch.subpatch("live", &live);
    int f = s.patch.obj("r f");
    s.dsp(true);
    s.send("pd-live obj 200 10 sigdoor~ 4").send("pd-live obj 10 10 sigdoor~ 6");
    s.send("pd-live obj 200 60 lvx_capture~ right 64").send("pd-live connect 0 0 2 0");
    s.send("pd-live obj 10 60 lvx_capture~ left 64").send("pd-live connect 1 0 3 0");
    s.send("pd-live obj 300 10 r again").send("pd-live connect 4 0 2 0");
    s.send("pd-live connect 4 0 3 0").wait(10);
    s.send("pd-main.pd connect " + std::to_string(f) + " 0 " + std::to_string(live) + " 0");
    s.send("f 8").send("again bang").wait(10);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    expect_constant(r, "right", {4, 4}, block);
    expect_constant(r, "left", {6, 8}, block);
}

TEST(Sigdoor, DeletingAndClosingLeavePdHealthy)
{
    Scenario s;
    s.sanitized();
    s.file("door.pd", door_abstraction);
    s.file("other.pd",
        "#N canvas 0 0 400 300 12;\n"
        "#N canvas 0 0 400 300 inner 0;\n"
        "#X obj 10 10 sigdoor~ 1.5;\n"
        "#X obj 10 60 lvx_capture~ other 64;\n"
        "#X connect 0 0 1 0;\n"
        "#X restore 10 10 pd inner;\n"
        "#X obj 10 60 door 2;\n");
    Canvas &sub = s.patch.subpatch("sub");
    sub.capture(sub.obj("sigdoor~ 0.5"), 0, "sub", block);
    sub.obj("sigdoor~ 3");
    Canvas &holder = s.patch.subpatch("holder");
    holder.capture(holder.obj("door 2"), 1, "door", block);
    s.dsp(true).wait(10);
    // Deleted while DSP runs: the objects, then a whole abstraction.
    s.send("pd-sub clear").wait(10).send("pd-holder clear").wait(10);
    // A patch opened and closed again.
    s.send("pd open other.pd " + s.dir().string()).wait(10);
    s.send("pd-other.pd menuclose 1").wait(10);
    // The emptied subpatch takes a new one.
    s.send("pd-sub obj 10 10 sigdoor~ -7").send("pd-sub obj 10 60 lvx_capture~ again 64");
    s.send("pd-sub connect 0 0 1 0").wait(10).dsp(false).say("alive");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    EXPECT_TRUE(r.contains("lvx: alive")) << r.output();
    expect_constant(r, "sub", {0.5f}, block);
    expect_constant(r, "door", {2}, block);
    expect_constant(r, "other", {1.5f}, block);
    expect_constant(r, "again", {-7}, block);
}

TEST(Sigdoor, RefusesWhenInletTildeIsNotPdsOwn)
{
    // Another library has taken the name inlet~: sigdoor~ makes nothing
    // rather than something that is not Pd's signal inlet.
    Scenario s;
    s.sanitized().lib("lvxfakeinlet");
    s.patch.subpatch("sub").obj("sigdoor~ 1");
    s.send("lvxfakeinlet nothing").send("pd-sub obj 10 10 sigdoor~ 2");
    s.dsp(true).wait(10).say("alive");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.contains("lvx: alive")) << r.output();
    EXPECT_EQ(r.count("sigdoor~: inlet~ is not Pd's own signal inlet here"), 1u) << r.output();
    EXPECT_EQ(r.count("sigdoor~: inlet~ could not be created"), 1u) << r.output();
    EXPECT_EQ(r.count("couldn't create"), 2u) << r.output();
}
