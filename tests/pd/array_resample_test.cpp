// The one-source array objects in the real Pd: the downsamplers, the
// upsampler, the difference and the running sum, read back exactly from the
// arrays they write.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>

#include "pd.hpp"

using namespace lorvex::test;
using floats = std::vector<pd_float>;
using strings = std::vector<std::string>;

namespace {

const pd_float qnan = std::nanf("");
const pd_float inf = INFINITY;

// Arrays a (source) and b (destination), the object `box` at [r o] with its
// outlet printed as "out"; the messages are sent to it in order and b is
// dumped after each of them. Messages beginning "b " go to the array instead.
struct Transform {
    std::string box;
    floats a, b;
    bool sanitized = false;  // the plug-ins of the sanitizer build, for runs near the edges

    Result run(const strings &messages) const
    {
        Scenario s;
        if (sanitized)
            s.sanitized();
        s.array("a", a).array("b", b);
        int o = s.patch.obj(box);
        s.patch.receive("o", o);
        s.patch.print(o, 0, "out");
        for (const auto &m : messages) {
            if (m.rfind("b ", 0) == 0)
                s.send(m);  // a write into the destination, between computations
            else
                s.send("o " + m).dump("b");
        }
        return s.run();
    }

    // b after one message.
    floats operator()(const std::string &message) const
    {
        Result r = run({message});
        EXPECT_TRUE(r.clean()) << r.output();
        EXPECT_TRUE(r.errors().empty()) << r.output();
        EXPECT_EQ(r.printed("out"), strings{"bang"}) << message;
        return r.array("b");
    }
};

// Exact comparison: the same bits, any NaN matching any NaN.
::testing::AssertionResult same_bits(const floats &got, const floats &want)
{
    bool same = got.size() == want.size();
    for (std::size_t i = 0; same && i < got.size(); i++)
        same = std::memcmp(&got[i], &want[i], sizeof(pd_float)) == 0 ||
               (std::isnan(got[i]) && std::isnan(want[i]));
    if (same)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got [" << nums(got) << "], want [" << nums(want) << "]";
}

floats iota(int n, pd_float from = 0)
{
    floats v(n);
    for (int i = 0; i < n; i++)
        v[i] = from + static_cast<pd_float>(i);
    return v;
}

// The contents of b after each message to the object, which bangs once each time.
std::vector<floats> dumps_after(const Transform &t, const strings &messages)
{
    Result r = t.run(messages);
    EXPECT_TRUE(r.clean()) << r.output();
    auto dumps = r.printed_floats("array b");
    EXPECT_EQ(r.printed("out").size(), dumps.size()) << r.output();
    return dumps;
}

} // namespace

// ---- orvo_thin ------------------------------------------------------------

TEST(Thin, KeepsTheFirstElementOfEveryWholeGroup)
{
    Transform thin{"orvo_thin a b 4", iota(10, 10), floats(5, -1)};
    // 10 / 4 = 2 groups: src[8] starts no whole group
    EXPECT_EQ(thin("bang"), (floats{10, 14, -1, -1, -1}));
    // (10 - 2) / 4 = 2 groups from index 2
    EXPECT_EQ(thin("float 2"), (floats{12, 16, -1, -1, -1}));
    EXPECT_EQ(thin("float 11"), floats(5, -1));
    EXPECT_EQ(thin("float 10"), floats(5, -1));
    EXPECT_EQ(thin("float 2147483647"), floats(5, -1));
    // the destination limits the groups; values are copied bit for bit
    Transform copy{"orvo_thin a b 2", {-0.f, 1, qnan, 1, inf, 1, -inf, 1, 3e-38f, 1, 5, 1}, floats(5, 7)};
    EXPECT_TRUE(same_bits(copy("bang"), {-0.f, qnan, inf, -inf, 3e-38f}));
}

TEST(Thin, OffsetIsTruncatedAndBangResetsIt)
{
    Transform thin{"orvo_thin a b 4", iota(10, 10), floats(2, -1)};
    auto d = dumps_after(thin, {"float 2.9", "b 0 0 0", "bang"});
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0], (floats{12, 16}));
    EXPECT_EQ(d[1], (floats{10, 14}));
}

// A negative offset starts groups before the source: those groups are
// skipped, the others stay at the destination index the offset gives them.
TEST(Thin, NegativeOffsetSkipsGroupsBeforeTheStart)
{
    Transform thin{"orvo_thin a b 3", iota(10, 10), floats(6, -1), true};
    // groups at -4, -1, 2, 5; one at 8 would run past the end
    EXPECT_EQ(thin("float -4"), (floats{-1, -1, 12, 15, -1, -1}));
    EXPECT_EQ(thin("float -3"), (floats{-1, 10, 13, 16, -1, -1}));
    EXPECT_EQ(thin("float -1e30"), floats(6, -1));
    EXPECT_EQ(thin("float @-inf"), floats(6, -1));
    EXPECT_EQ(thin("float @nan"), (floats{10, 13, 16, -1, -1, -1}));
}

TEST(Thin, IntoItsOwnSource)
{
    Scenario s;
    s.array("a", iota(10));
    int o = s.patch.obj("orvo_thin a a 2");
    s.patch.receive("o", o);
    s.send("o bang").dump("a").send("a 0 0 1 2 3 4 5 6 7 8 9").send("o 1").dump("a");
    auto d = s.run().printed_floats("array a");
    ASSERT_EQ(d.size(), 2u);
    // the same values as into another array; the rest keep theirs
    EXPECT_EQ(d[0], (floats{0, 2, 4, 6, 8, 5, 6, 7, 8, 9}));
    EXPECT_EQ(d[1], (floats{1, 3, 5, 7, 4, 5, 6, 7, 8, 9}));
}

// ---- orvo_thinlo, orvo_thinhi, orvo_thinmean ------------------------------

TEST(ThinLoHi, SmallestAndLargestOfEachGroup)
{
    floats src{4, -1, 7, 2, 9, 3, 5};
    EXPECT_EQ((Transform{"orvo_thinlo a b 3", src, floats(4, 0)}("bang")), (floats{-1, 2, 0, 0}));
    EXPECT_EQ((Transform{"orvo_thinhi a b 3", src, floats(4, 0)}("bang")), (floats{7, 9, 0, 0}));
    // factor 1: every element as it is
    EXPECT_TRUE(same_bits(Transform{"orvo_thinlo a b", {-0.f, qnan}, floats(2, 0)}("bang"), {-0.f, qnan}));
}

// A later element replaces the running value whenever the comparison fails:
// equal values give the last, NaN survives only in the last place, and the
// elements before a NaN stop counting.
TEST(ThinLoHi, TiesSignedZerosAndNanFollowTheReplacementRule)
{
    EXPECT_TRUE(same_bits(Transform{"orvo_thinlo a b 2", {0.f, -0.f, -0.f, 0.f}, floats(2, 7)}("bang"),
        {-0.f, 0.f}));
    EXPECT_TRUE(same_bits(Transform{"orvo_thinhi a b 2", {0.f, -0.f, -0.f, 0.f}, floats(2, 7)}("bang"),
        {-0.f, 0.f}));
    floats groups{1, qnan, 5, 1, 5, qnan, qnan, 1, 5, -3, qnan, 9};
    EXPECT_TRUE(same_bits(Transform{"orvo_thinlo a b 3", groups, floats(4, 7)}("bang"), {5, qnan, 1, 9}));
    EXPECT_TRUE(same_bits(Transform{"orvo_thinhi a b 3", groups, floats(4, 7)}("bang"), {5, qnan, 5, 9}));
    EXPECT_TRUE(same_bits(Transform{"orvo_thinlo a b 3", {inf, -inf, qnan}, floats(1, 7)}("bang"), {qnan}));
}

// The mean of one group as orvo_thinmean takes it: summed in ascending order
// from 0 in Pd's float (single precision; double in Pd64), then divided.
pd_float group_mean(std::initializer_list<pd_float> group)
{
    pd_float s = 0;
    for (pd_float v : group)
        s = s + v;
    return s / static_cast<pd_float>(group.size());
}

TEST(ThinMean, SumsAscendingInSinglePrecisionAndDividesAsFloat)
{
    // 1e8 + 1 is 1e8 in single precision (in Pd64 it stays 1e8 + 1);
    // -1e8 + 1e8 + 1 is 1. 5 / 3 divided, not multiplied by a rounded third.
    floats src{1e8f, 1, -1e8f, -1e8f, 1e8f, 1, 1, 2, 2, 99};
    Transform mean{"orvo_thinmean a b 3", src, floats(100, -7)};
    floats want(100, -7);
    want[0] = group_mean({1e8f, 1, -1e8f});
    want[1] = group_mean({-1e8f, 1e8f, 1});
    want[2] = group_mean({1, 2, 2});
    EXPECT_EQ(want[0], pd64 ? pd_float(1) / 3 : 0);
    EXPECT_EQ(want[1], pd_float(1) / 3);
    EXPECT_EQ(want[2], pd_float(5) / 3);
    EXPECT_TRUE(same_bits(mean("bang"), want));
    // factor 1: 0 + v over 1, so -0 becomes 0
    EXPECT_TRUE(same_bits(Transform{"orvo_thinmean a b", {-0.f, 2.5f, qnan}, floats(3, 7)}("bang"),
        {0.f, 2.5f, qnan}));
    // overflow of the sum gives infinity, as single precision does (Pd64's
    // double holds the sum)
    EXPECT_TRUE(same_bits(Transform{"orvo_thinmean a b 2", {3e38f, 3e38f}, floats(1, 7)}("bang"),
        {pd64 ? group_mean({3e38f, 3e38f}) : inf}));
}

TEST(ThinReducers, IntoTheirOwnSource)
{
    // groups (3, 1), (5, 2), (0, 6); the elements after the results keep theirs
    for (auto [cls, want] : {std::pair<std::string, floats>{"orvo_thinlo", {1, 2, 0, 2, 0, 6}},
             {"orvo_thinhi", {3, 5, 6, 2, 0, 6}}, {"orvo_thinmean", {2, 3.5f, 3, 2, 0, 6}}}) {
        Scenario s;
        s.array("a", {3, 1, 5, 2, 0, 6});
        int o = s.patch.obj(cls + " a a 2");
        s.patch.receive("o", o);
        s.send("o bang").dump("a");
        EXPECT_EQ(s.run().array("a"), want) << cls;
    }
}

TEST(ThinReducers, HaveNoFloatMethod)
{
    for (std::string cls : {"orvo_thinlo", "orvo_thinhi", "orvo_thinmean"}) {
        Result r = Transform{cls + " a b 2", {1, 2, 3, 4}, {0, 0}}.run({"float 1"});
        EXPECT_TRUE(r.clean()) << r.output();
        EXPECT_EQ(r.errors(), strings{cls + ": no method for 'float'"}) << r.output();
        EXPECT_TRUE(r.printed("out").empty());
        EXPECT_EQ(r.array("b"), (floats{0, 0}));
    }
}

// ---- the factor, in every class that has one ------------------------------

TEST(Factor, BelowOneOrNanIsOneAndOtherwiseTruncated)
{
    floats src{1, 2, 3, 4, 5, 6};
    struct Case {
        std::string cls;
        floats one, two;  // b after factor 1 and factor 2
    };
    const Case cases[] = {
        {"orvo_thin", {1, 2, 3, 4, 5, 6}, {1, 3, 5, 0, 0, 0}},
        {"orvo_thinlo", {1, 2, 3, 4, 5, 6}, {1, 3, 5, 0, 0, 0}},
        {"orvo_thinhi", {1, 2, 3, 4, 5, 6}, {2, 4, 6, 0, 0, 0}},
        {"orvo_thinmean", {1, 2, 3, 4, 5, 6}, {1.5f, 3.5f, 5.5f, 0, 0, 0}},
        {"orvo_widen", {1, 2, 3, 4, 5, 6}, {1, 1, 2, 2, 3, 3}},
    };
    const strings factors{"factor 0", "factor -3", "factor 0.5", "factor @nan", "factor",
        "factor @-inf", "factor 2.9"};
    for (const auto &c : cases) {
        Scenario s;
        s.array("a", src).array("b", floats(6, 0));
        int o = s.patch.obj(c.cls + " a b 2");
        s.patch.receive("o", o);
        s.patch.print(o, 0, "out");
        for (const auto &f : factors)
            s.send("o " + f).send("b 0 0 0 0 0 0 0").send("o bang").dump("b");
        Result r = s.run();
        ASSERT_TRUE(r.clean()) << r.output();
        auto d = r.printed_floats("array b");
        ASSERT_EQ(d.size(), factors.size()) << r.output();
        for (std::size_t k = 0; k + 1 < factors.size(); k++)
            EXPECT_EQ(d[k], c.one) << c.cls << " after " << factors[k];
        EXPECT_EQ(d.back(), c.two) << c.cls << " after factor 2.9";
        // factor messages compute nothing; only the bangs answer
        EXPECT_EQ(r.printed("out").size(), factors.size()) << r.output();
    }
}

// Creation arguments that a patch cannot type: built by sending to a subpatch.
TEST(Factor, NanAsCreationArgumentIsOne)
{
    for (std::string cls : {"orvo_thin", "orvo_thinmean", "orvo_widen"}) {
        Scenario s;
        s.array("a", {1, 2, 3}).array("b", floats(3, 0));
        Canvas &sub = s.patch.subpatch("box");
        sub.obj("r o");
        sub.obj("lvx_print out");
        s.send("pd-box obj 10 10 " + cls + " a b @nan").send("pd-box connect 0 0 2 0")
            .send("pd-box connect 2 0 1 0").send("o bang").dump("b");
        Result r = s.run();
        ASSERT_TRUE(r.clean()) << r.output();
        EXPECT_EQ(r.array("b"), (floats{1, 2, 3})) << cls << r.output();
        EXPECT_EQ(r.printed("out"), strings{"bang"}) << cls;
    }
}

// ---- orvo_widen -----------------------------------------------------------

TEST(Widen, RepeatsEveryElementFromTheOffsetOn)
{
    Transform widen{"orvo_widen a b 2", {10, 20, 30}, floats(10, -1)};
    EXPECT_EQ(widen("bang"), (floats{10, 10, 20, 20, 30, 30, -1, -1, -1, -1}));
    // the output stops at the destination's end, inside a run
    EXPECT_EQ(widen("float 5"), (floats{-1, -1, -1, -1, -1, 10, 10, 20, 20, 30}));
    EXPECT_EQ(widen("float 10"), floats(10, -1));
    EXPECT_EQ(widen("float 1e30"), floats(10, -1));
    EXPECT_EQ((Transform{"orvo_widen a b", {10, 20, 30}, floats(10, -1)}("float 8")),
        (floats{-1, -1, -1, -1, -1, -1, -1, -1, 10, 20}));
    EXPECT_EQ((Transform{"orvo_widen a b", iota(20), floats(4, -1)}("bang")), (floats{0, 1, 2, 3}));
    EXPECT_TRUE(same_bits(Transform{"orvo_widen a b 2", {-0.f, qnan, -inf}, floats(6, 7)}("bang"),
        {-0.f, -0.f, qnan, qnan, -inf, -inf}));
}

TEST(Widen, OffsetIsTruncatedAndBangResetsIt)
{
    Transform widen{"orvo_widen a b 2", {10, 20}, floats(8, -1)};
    auto d = dumps_after(widen, {"float 3.7", "b 0 -1 -1 -1 -1 -1 -1 -1 -1", "bang"});
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0], (floats{-1, -1, -1, 10, 10, 20, 20, -1}));
    EXPECT_EQ(d[1], (floats{10, 10, 20, 20, -1, -1, -1, -1}));
}

// len_src * factor is formed wide: a huge factor fills the destination with
// the first element rather than wrapping to a negative count.
TEST(Widen, HugeFactorsDoNotOverflowTheCount)
{
    Transform widen{"orvo_widen a b 1e30", {10, 20, 30}, floats(6, -1), true};
    EXPECT_EQ(widen("bang"), floats(6, 10));
    EXPECT_EQ(widen("float 4"), (floats{-1, -1, -1, -1, 10, 10}));
    Transform half{"orvo_widen a b 1073741824", {10, 20, 30}, floats(4, -1), true};
    EXPECT_EQ(half("bang"), floats(4, 10));
}

// Positions before the destination's start are skipped; the rest stay where
// the offset puts them, so the output is the tail of what offset 0 would write.
TEST(Widen, NegativeOffsetSkipsPositionsBeforeTheStart)
{
    Transform widen{"orvo_widen a b 2", {10, 20, 30}, floats(6, -1), true};
    EXPECT_EQ(widen("float -3"), (floats{20, 30, 30, -1, -1, -1}));
    EXPECT_EQ(widen("float -6"), floats(6, -1));
    EXPECT_EQ(widen("float -1e30"), floats(6, -1));
    EXPECT_EQ(widen("float @nan"), (floats{10, 10, 20, 20, 30, 30}));
    // at the integer limits: positions 2^31 .. 2^31 + 5 all lie in the second run
    Transform huge{"orvo_widen a b 1e30", {10, 20, 30}, floats(6, -1), true};
    EXPECT_EQ(huge("float -1e30"), floats(6, 20));
}

TEST(Widen, IntoItsOwnSourceReadsWhatItWrote)
{
    Scenario s;
    s.array("a", {1, 2, 3, 4});
    int o = s.patch.obj("orvo_widen a a 2");
    s.patch.receive("o", o);
    s.send("o bang").dump("a").send("a 0 1 2 3 4").send("o factor 1").send("o 1").dump("a")
        .send("a 0 1 2 3 4").send("o factor 3").send("o -2").dump("a");
    auto d = s.run().printed_floats("array a");
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0], (floats{1, 1, 1, 1}));
    // every later element reads the one just written before it
    EXPECT_EQ(d[1], (floats{1, 1, 1, 1}));
    // writing behind the source: the run of 1 keeps its last copy, then 2 fills the rest
    EXPECT_EQ(d[2], (floats{1, 2, 2, 2}));
}

// ---- orvo_slope, orvo_accum -----------------------------------------------

TEST(SlopeAccum, DifferenceAndRunningSum)
{
    EXPECT_EQ((Transform{"orvo_slope a b", {1, 4, 9, 16}, floats(6, -1)}("bang")),
        (floats{1, 3, 5, 7, -1, -1}));
    EXPECT_EQ((Transform{"orvo_accum a b", {1, 2, 3, 4}, floats(6, -1)}("bang")),
        (floats{1, 3, 6, 10, -1, -1}));
    // the common length: a destination of 6 for a source of 10
    EXPECT_EQ((Transform{"orvo_accum a b", floats(10, 1), floats(6, -1)}("bang")),
        (floats{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ((Transform{"orvo_slope a b", {5}, floats(3, -1)}("bang")), (floats{5, -1, -1}));
    // each sum is rounded to Pd's float (single precision; double in Pd64)
    // before the next is added
    Transform accum{"orvo_accum a b", {1e8f, 1, 1, -1e8f, inf, -inf}, floats(6, 7)};
    const pd_float big = 1e8f;
    EXPECT_TRUE(same_bits(accum("bang"), pd64 ? floats{big, big + 1, big + 2, 2, inf, qnan}
                                              : floats{big, big, big, 0, inf, qnan}));
    Transform slope{"orvo_slope a b", {-0.f, 0.f, 1e8f, 1e8f + 8, inf, inf}, floats(6, 7)};
    EXPECT_TRUE(same_bits(slope("bang"), {-0.f, 0.f, 1e8f, 8, inf, qnan}));
}

TEST(SlopeAccum, FloatLimitsTheCount)
{
    Transform slope{"orvo_slope a b", {1, 4, 9, 16}, floats(4, -1)};
    EXPECT_EQ(slope("float 2"), (floats{1, 3, -1, -1}));
    EXPECT_EQ(slope("float 2.9"), (floats{1, 3, -1, -1}));
    EXPECT_EQ(slope("float 0.5"), floats(4, -1));
    for (const char *all : {"float 0", "float -3", "float 100", "float 4", "float @nan",
             "float @inf", "float @-inf", "float 1e30"})
        EXPECT_EQ(slope(all), (floats{1, 3, 5, 7})) << all;
    Transform accum{"orvo_accum a b", {1, 2, 3, 4}, floats(4, -1)};
    EXPECT_EQ(accum("float 3"), (floats{1, 3, 6, -1}));
    EXPECT_EQ(accum("float 1e-30"), floats(4, -1));
}

TEST(SlopeAccum, IntoTheirOwnSourceAsIntoAnother)
{
    floats src{3, -1, 4, 1, -5, 9, 2.5f};
    for (std::string cls : {"orvo_slope", "orvo_accum"}) {
        Scenario s;
        s.array("a", src).array("b", floats(src.size(), 0));
        int o = s.patch.obj(cls + " a b");
        s.patch.receive("o", o);
        int p = s.patch.obj(cls + " a a");
        s.patch.receive("p", p);
        s.send("o bang").send("p bang").dump("a").dump("b");
        Result r = s.run();
        ASSERT_TRUE(r.clean()) << r.output();
        EXPECT_EQ(r.array("a"), r.array("b")) << cls;
        EXPECT_NE(r.array("a"), src) << cls;
    }
}

TEST(SlopeAccum, ThirdCreationArgumentIsIgnoredAndTheSourceMethodIsSrc1)
{
    for (std::string cls : {"orvo_slope", "orvo_accum"}) {
        Scenario s;
        s.array("a", {1, 2}).array("b", {0, 0}).array("c", {5, 5}).array("d", {9, 9});
        int o = s.patch.obj(cls + " a b c");
        s.patch.receive("o", o);
        s.patch.print(o, 0, "out");
        s.send("o bang").dump("b").dump("c").send("o src1 d").send("o dst c").send("o bang")
            .send("o src d").dump("c");
        Result r = s.run();
        ASSERT_TRUE(r.clean()) << r.output();
        auto b = r.printed_floats("array b");
        auto c = r.printed_floats("array c");
        ASSERT_EQ(b.size(), 1u);
        ASSERT_EQ(c.size(), 2u);
        EXPECT_EQ(b[0], (cls == "orvo_slope" ? floats{1, 1} : floats{1, 3}));
        EXPECT_EQ(c[0], (floats{5, 5}));
        EXPECT_EQ(c[1], (cls == "orvo_slope" ? floats{9, 0} : floats{9, 18}));
        EXPECT_EQ(r.errors(), strings{cls + ": no method for 'src'"});
        EXPECT_EQ(r.printed("out"), (strings{"bang", "bang"}));
    }
}

// ---- binding, shared by all seven -------------------------------------------

namespace {

struct Names {
    std::string cls, src, bad;  // class, its source method, its bad-template text
};

const Names all_seven[] = {
    {"orvo_thin", "src", "orvo_thin"},
    {"orvo_thinlo", "src", "orvo_thin"},
    {"orvo_thinhi", "src", "orvo_thin"},
    {"orvo_thinmean", "src", "orvo_thin"},
    {"orvo_widen", "src", "orvo_widen"},
    {"orvo_slope", "src1", "orvo_slope"},
    {"orvo_accum", "src1", "orvo_accum"},
};

} // namespace

TEST(OneSourceBinding, MissingArraysAreReportedInOrderWithOneBang)
{
    for (const auto &n : all_seven) {
        Scenario s;
        s.array("a", {1, 2}).array("b", {7, 7});
        int o = s.patch.obj(n.cls);
        s.patch.receive("o", o);
        s.patch.print(o, 0, "out");
        s.send("o bang")
            .send("o " + n.src + " nope").send("o dst nope2").send("o bang")
            .send("o " + n.src + " a").send("o bang")
            .send("o dst b").send("o " + n.src).send("o bang")
            .send("o " + n.src + " a").send("o bang").dump("b");
        Result r = s.run();
        ASSERT_TRUE(r.clean()) << r.output();
        EXPECT_EQ(r.errors(), (strings{": no such array", "nope: no such array",
                                  "nope2: no such array", ": no such array"}))
            << n.cls;
        EXPECT_EQ(r.printed("out"), strings(5, "bang")) << n.cls;
        // only the last bang found both arrays
        EXPECT_NE(r.array("b"), (floats{7, 7})) << n.cls;
    }
}

TEST(OneSourceBinding, ElementsThatAreNotFloatsGiveTheBadTemplateText)
{
    for (const auto &n : all_seven) {
        for (std::string spoiled : {"a", "b"}) {
            Scenario s;
            s.patch.obj("struct lvxbad float x");
            s.array("a", {1, 2}).array("b", {7, 7});
            int o = s.patch.obj(n.cls + " a b");
            s.patch.receive("o", o);
            s.patch.print(o, 0, "out");
            s.send("lvx spoil " + spoiled + " lvxbad").send("o bang");
            Result r = s.run();
            EXPECT_TRUE(r.clean()) << r.output();
            // (Pd itself first says which field the template lacks)
            ASSERT_FALSE(r.errors().empty()) << r.output();
            EXPECT_EQ(r.errors().back(), spoiled + ": bad template for " + n.bad) << r.output();
            EXPECT_EQ(r.count("bad template"), 1u) << r.output();
            EXPECT_EQ(r.count("no such array"), 0u) << r.output();
            EXPECT_EQ(r.printed("out"), strings{"bang"}) << n.cls;
        }
    }
}
