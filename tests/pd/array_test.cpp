// The array objects in the real Pd: binding, the one-bang rule, and each
// class's computation, read back exactly from the arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "pd.hpp"

using namespace lorvex::test;
using floats = std::vector<pd_float>;
using strings = std::vector<std::string>;

namespace {

// An object named `box` reachable at [r o], its outlet printed as "out".
int add_object(Scenario &s, const std::string &box)
{
    int o = s.patch.obj(box);
    s.patch.receive("o", o);
    s.patch.print(o, 0, "out");
    return o;
}

// Runs the messages against orvo_lo/orvo_hi over arrays a, b and c, and
// answers the final contents of c.
struct MinMax {
    std::string cls = "orvo_lo";
    floats a, b, c;

    Result run(const strings &messages)
    {
        Scenario s;
        s.array("a", a).array("b", b).array("c", c);
        add_object(s, cls + " a b c");
        for (const auto &m : messages)
            s.send("o " + m);
        s.dump("c");
        return s.run();
    }
};

bool same_bits(const floats &x, const floats &y)
{
    if (x.size() != y.size())
        return false;
    for (std::size_t i = 0; i < x.size(); i++)
        if (std::memcmp(&x[i], &y[i], sizeof(pd_float)) != 0 && !(std::isnan(x[i]) && std::isnan(y[i])))
            return false;
    return true;
}

} // namespace

TEST(MinMax, BangWritesCommonLengthOnly)
{
    MinMax m{"orvo_lo", {1, 9, 3, 7, 5, 6, 7, 8, 9, 10}, {2, 2, 8, 8, 0}, floats(8, -1)};
    Result r = m.run({"bang"});
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.array("c"), (floats{1, 2, 3, 7, 0, -1, -1, -1}));
    EXPECT_EQ(r.printed("out"), strings{"bang"});
    m.cls = "orvo_hi";
    EXPECT_EQ(m.run({"bang"}).array("c"), (floats{2, 9, 8, 8, 5, -1, -1, -1}));
}

TEST(MinMax, ListSetsOffsetsAndCount)
{
    MinMax m{"orvo_lo", {10, 11, 12, 13, 14, 15}, {20, 21, 22, 23, 24, 25}, floats(6, 0)};
    // first source from index 2: min(4, 6, 6) = 4 elements
    EXPECT_EQ(m.run({"list 2 0 0"}).array("c"), (floats{12, 13, 14, 15, 0, 0}));
    EXPECT_EQ(m.run({"list 0 0 0 3"}).array("c"), (floats{10, 11, 12, 0, 0, 0}));
    // a count of 0 or less does not limit
    EXPECT_EQ(m.run({"list 0 0 0 0"}).array("c"), (floats{10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(m.run({"list 0 0 0 -5"}).array("c"), (floats{10, 11, 12, 13, 14, 15}));
    // destination offset 4 of 6 leaves room for 2
    EXPECT_EQ(m.run({"list 0 0 4"}).array("c"), (floats{0, 0, 0, 0, 10, 11}));
    // a symbol keeps its position's default; later floats still count
    m.a = {5, 5, 5, 5, 5, 5};
    EXPECT_EQ(m.run({"list x 4"}).array("c"), (floats{5, 5, 0, 0, 0, 0}));
    m.b = {1, 2, 3, 4, 5, 6};
    // offsets are truncated toward zero
    EXPECT_EQ(m.run({"list 0 3.9 0 2.9"}).array("c"), (floats{4, 5, 0, 0, 0, 0}));
    // atoms after the fourth are ignored
    EXPECT_EQ(m.run({"list 0 0 0 1 3 3 3"}).array("c"), (floats{1, 0, 0, 0, 0, 0}));
}

TEST(MinMax, LoneFloatIsTheFirstOffsetAndEmptyListIsBang)
{
    MinMax m{"orvo_lo", {9, 8, 7, 6}, {9, 9, 9, 9}, floats(4, 0)};
    EXPECT_EQ(m.run({"float 2"}).array("c"), (floats{7, 6, 0, 0}));
    Result r = m.run({"list"});
    EXPECT_EQ(r.array("c"), (floats{9, 8, 7, 6}));
    EXPECT_EQ(r.printed("out"), strings{"bang"});
}

TEST(MinMax, BangAfterListResetsOffsets)
{
    MinMax m{"orvo_lo", {1, 2, 3, 4, 5}, {9, 9, 9, 9, 9}, floats(5, 0)};
    Scenario s;
    s.array("a", m.a).array("b", m.b).array("c", m.c);
    add_object(s, "orvo_lo a b c");
    s.send("o list 3 3 3 3").dump("c").send("c 0 0 0 0 0 0").send("o bang").dump("c");
    Result r = s.run();
    auto dumps = r.printed_floats("array c");
    ASSERT_EQ(dumps.size(), 2u) << r.output();
    EXPECT_EQ(dumps[0], (floats{0, 0, 0, 4, 5}));
    EXPECT_EQ(dumps[1], (floats{1, 2, 3, 4, 5}));
    EXPECT_EQ(r.printed("out"), (strings{"bang", "bang"}));
}

TEST(MinMax, TiesAndNanGiveTheSecondSource)
{
    const pd_float nan = std::nanf("");
    MinMax m{"orvo_lo", {0.f, -0.f, nan, 1, 3}, {-0.f, 0.f, 1, nan, 3}, floats(5, 7)};
    floats expect{-0.f, 0.f, 1, nan, 3};
    EXPECT_TRUE(same_bits(m.run({"bang"}).array("c"), expect));
    m.cls = "orvo_hi";
    EXPECT_TRUE(same_bits(m.run({"bang"}).array("c"), expect));
}

TEST(MinMax, OffsetsAtOrPastTheEndWriteNothingButBangOnce)
{
    MinMax m{"orvo_hi", {1, 2, 3}, {1, 2, 3}, floats(3, -1)};
    for (const char *msg : {"list 0 0 3", "list 3", "list 0 7", "list 0 0 2147483647",
             "list 1e30 1e30 1e30 1e30"}) {
        Result r = m.run({msg});
        EXPECT_EQ(r.array("c"), (floats{-1, -1, -1})) << msg;
        EXPECT_EQ(r.printed("out"), strings{"bang"}) << msg;
        EXPECT_TRUE(r.errors().empty()) << r.output();
    }
}

// Negative offsets: the window keeps its alignment, and the positions that
// would lie before an array's start are skipped.
TEST(MinMax, NegativeOffsetsSkipPositionsBeforeTheStart)
{
    MinMax m{"orvo_lo", {1, 2, 3, 4, 5}, {9, 9, 9, 9, 9}, floats(5, 0)};
    // dst[i] = min(a[i - 2], b[i]) for i = 2..4
    EXPECT_EQ(m.run({"list -2"}).array("c"), (floats{0, 0, 1, 2, 3}));
    // dst[i - 1] = min(a[i], b[i]) for i = 1..4
    EXPECT_EQ(m.run({"list 0 0 -1"}).array("c"), (floats{2, 3, 4, 5, 0}));
    // the count still counts window positions, skipped ones included
    EXPECT_EQ(m.run({"list -2 0 0 3"}).array("c"), (floats{0, 0, 1, 0, 0}));
    // a hugely negative offset leaves nothing inside the arrays
    Result r = m.run({"list -1e30 0 0"});
    EXPECT_EQ(r.array("c"), (floats{0, 0, 0, 0, 0}));
    EXPECT_EQ(r.printed("out"), strings{"bang"});
    // the same shift everywhere pairs the same elements as no shift
    EXPECT_EQ(m.run({"list -1e30 -1e30 -1e30"}).array("c"), (floats{1, 2, 3, 4, 5}));
    // a NaN offset counts as 0
    EXPECT_EQ(m.run({"list @nan"}).array("c"), (floats{1, 2, 3, 4, 5}));
}

TEST(MinMax, DestinationInsideASource)
{
    // Same array at the same offset: the ordinary element-wise result.
    Scenario s;
    s.array("a", {5, 1, 7, 2}).array("b", {3, 3, 3, 3});
    add_object(s, "orvo_lo a b a");
    s.send("o bang").dump("a");
    EXPECT_EQ(s.run().array("a"), (floats{3, 1, 3, 2}));

    // Destination ahead of its source: results written earlier are read again.
    Scenario t;
    t.array("a", {1, 9, 9, 9, 9}).array("b", {5, 5, 5, 5, 5});
    add_object(t, "orvo_lo a b a");
    t.send("o list 0 0 1").dump("a");
    EXPECT_EQ(t.run().array("a"), (floats{1, 1, 1, 1, 1}));
}

TEST(ArrayBinding, MissingArraysAreReportedInOrderWithOneBang)
{
    Scenario s;
    s.array("b", {1});
    add_object(s, "orvo_lo");
    s.send("o bang").send("o src1 nope").send("o bang").send("o src1 b").send("o src2 b")
        .send("o bang").send("o dst b").send("o dst").send("o bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.errors(), (strings{": no such array", "nope: no such array",
                              ": no such array", ": no such array"}));
    EXPECT_EQ(r.printed("out"), (strings{"bang", "bang", "bang", "bang"}));
}

TEST(ArrayBinding, OnlyTheFirstFailureIsReported)
{
    Scenario s;
    add_object(s, "orvo_hi first second third");
    s.send("o bang");
    Result r = s.run();
    EXPECT_EQ(r.errors(), strings{"first: no such array"});
    EXPECT_EQ(r.printed("out"), strings{"bang"});
}

TEST(ArrayBinding, NameMessagesTakeEffectAtTheNextComputation)
{
    Scenario s;
    s.array("a", {1, 2}).array("b", {0, 0}).array("c", {-5, -5}).array("d", {7, 7});
    add_object(s, "orvo_hi a b c");
    s.send("o src1 d").dump("c").send("o bang").dump("c");
    Result r = s.run();
    auto dumps = r.printed_floats("array c");
    ASSERT_EQ(dumps.size(), 2u);
    EXPECT_EQ(dumps[0], (floats{-5, -5}));
    EXPECT_EQ(dumps[1], (floats{7, 7}));
    EXPECT_EQ(r.printed("out"), strings{"bang"});
}

TEST(ArrayBinding, ElementsThatAreNotFloatsGiveTheBadTemplateText)
{
    for (std::string cls : {"orvo_lo", "orvo_hi"}) {
        Scenario s;
        s.patch.obj("struct lvxbad float x");
        s.array("a", {1, 2}).array("b", {3, 4}).array("c", {0, 0});
        add_object(s, cls + " a b c");
        s.send("lvx spoil b lvxbad").send("o bang").dump("a");
        Result r = s.run();
        EXPECT_TRUE(r.clean()) << r.output();
        EXPECT_EQ(r.count("b: bad template for " + cls), 1u) << r.output();
        EXPECT_EQ(r.printed("out"), strings{"bang"});
    }
}

TEST(ArrayBinding, ResizedArraysAreSeenAtTheirNewLength)
{
    // Arrays are bound anew at every computation.
    Scenario s;
    s.array("a", {4, 4, 4}).array("b", {5, 5, 5}).array("c", {0, 0, 0});
    add_object(s, "orvo_lo a b c");
    s.send("c resize 5").send("a resize 1").send("o bang").dump("c");
    Result r = s.run();
    EXPECT_EQ(r.array("c"), (floats{4, 0, 0, 0, 0}));
}
