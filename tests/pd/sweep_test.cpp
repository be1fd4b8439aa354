// The robustness sweep: every built class, created with hostile arguments and
// sent every selector it knows with hostile arguments at every inlet, with
// hostile signals in its signal inlets, then deleted, in the sanitizer build.
// Pd must survive without a sanitizer report and still answer at the end.
#include <gtest/gtest.h>

#include "pd.hpp"

using namespace lorvex::test;

namespace {

const std::vector<std::string> hostile_args = {
    "",
    "@nan",
    "@inf @-inf @nan @-0",
    "1e30 -1e30 1e30 -1e30",
    "-1 -1 -1 -1",
    "0 0 0 0 0 0 0 0 0 0",
    "2147483648 -2147483904 4294967296",
    "@long @long @long @long",
    "@empty @empty @empty",
    "x y z w v u t",
    "%s%s%n %d%d",
    "1 x 2 y 3 z",
    "tcp udp 33 -5 @nan",
    "lvxa lvxb lvxc",
    "lvxc lvxc lvxc 2",
    "lvxa lvxa lvxa 1e30",
    "lvxb lvxa 3",
    "lvxg lvxa lvxb 7",
    "@comma @semi",
};

std::string many_args(int n)
{
    std::string out;
    for (int i = 0; i < n; i++)
        out += (i % 3 ? std::to_string(i * 7919 % 1000 - 500) : "w") + std::string(" ");
    return out;
}

class Sweep : public ::testing::TestWithParam<std::string> {};

TEST_P(Sweep, SurvivesHostileCreationAndMessages)
{
    const std::string cls = GetParam();
    ClassOptions opt = class_options(cls);
    Scenario s;
    s.sanitized().timeout(opt.seconds).options(opt);
    if (opt.nobox) {
        s.lib(cls).say("alive");
        Result r = s.run();
        EXPECT_TRUE(r.clean()) << r.output();
        EXPECT_TRUE(r.contains("lvx: alive")) << r.output();
        return;
    }
    // Arrays the hostile names and arguments refer to: long, short, one point,
    // and a power of two plus three.
    std::vector<pd_float> ramp(64), odd(5, -3.5f), guard(11);
    for (std::size_t i = 0; i < ramp.size(); i++)
        ramp[i] = static_cast<pd_float>(i) * 0.25f - 4;
    s.array("lvxa", ramp).array("lvxb", odd).array("lvxc", {1e30f}).array("lvxg", guard);
    s.patch.subpatch("sweep").obj("lvx_hostile~");
    auto args = hostile_args;
    args.insert(args.end(), opt.args.begin(), opt.args.end());
    args.push_back(many_args(1000));
    for (const auto &a : args)
        s.send("pd-sweep obj 10 10 " + cls + " " + a);
    s.dsp(true).send("lvx wire sweep").send("lvx hostile sweep").wait(20);
    s.send("lvx hostile sweep").wait(20);
    // Deleting everything runs the destructors while DSP is on.
    s.send("pd-sweep clear").wait(20).dsp(false);
    s.send("pd-sweep obj 10 10 " + cls).send("pd-sweep clear").say("alive");
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.contains("lvx: alive")) << r.output();
    // At least one box must have been created, or nothing was swept.
    EXPECT_FALSE(r.contains("hostile messages sent to 0 objects")) << r.output();
    EXPECT_TRUE(r.contains("hostile messages sent to")) << r.output();
    EXPECT_EQ(remove_segments_left_by(r.pid), std::vector<std::string>{});
}

std::string name_of(const ::testing::TestParamInfo<std::string> &info)
{
    return test_name(info.param);
}

INSTANTIATE_TEST_SUITE_P(Classes, Sweep, ::testing::ValuesIn(built_classes()), name_of);

} // namespace
