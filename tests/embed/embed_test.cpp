// What only a program running several Pd instances shows: the runner sets
// every library up in its loader instance and runs the scenario in another,
// so an object that kept a symbol or a binding from the instance that set
// its class up fails here. Registered for the libpd runner only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

#include "pd.hpp"

using namespace lorvex::test;
using strings = std::vector<std::string>;

namespace {

// [strimo~] and [pathsift] answer with selectors of their own instance, so
// that a [route] of that instance takes them apart.
TEST(Instances, InfoSelectorsAreTheInstancesOwn)
{
    Scenario s;
    int st = s.patch.obj("strimo~");
    s.patch.receive("st", st);
    int r1 = s.patch.obj("route format channels framesize bitrate ipaddr");
    s.patch.connect(st, 1, r1, 0);
    for (int k = 0; k < 5; k++)
        s.patch.print(r1, k, "strimo" + std::to_string(k));
    int ps = s.patch.obj("pathsift *.txt");
    s.patch.receive("ps", ps);
    int r2 = s.patch.obj("route matches pattern position");
    s.patch.connect(ps, 1, r2, 0);
    for (int k = 0; k < 3; k++)
        s.patch.print(r2, k, "pathsift" + std::to_string(k));
    s.send("st bang").send("ps info");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    // [route] passes a symbol on as a selector, a number as a list.
    EXPECT_EQ(r.printed("strimo0"), strings{"_float_"}) << r.output();
    EXPECT_EQ(r.printed("strimo1"), strings{"list 1"}) << r.output();
    EXPECT_EQ(r.printed("strimo4"), strings{"localhost"}) << r.output();
    // Nothing searched yet: no match, at position 0.
    EXPECT_EQ(r.printed("pathsift0"), strings{"list 0"}) << r.output();
    EXPECT_EQ(r.printed("pathsift2"), strings{"list 0"}) << r.output();
}

// "connect" without a host means the loopback host of this instance.
TEST(Instances, ConnectWithoutAHostLooksUpLocalhost)
{
    Scenario s;
    s.realtime();
    int st = s.patch.obj("strimo~ 1 1");
    s.patch.receive("st", st);
    s.patch.print(st, 0, "state");
    // UDP connects without a listener; port 9 is never sent to (no DSP).
    s.send("st connect @empty 9").wait(300);
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_FALSE(r.contains("strimo~: bad host?")) << r.output();
    EXPECT_TRUE(r.contains("strimo~: connected host localhost on port 9")) << r.output();
    EXPECT_EQ(r.printed("state"), strings{"1"}) << r.output();
}

// [key] hears the keys of its own instance, and only those.
TEST(Instances, KeyHearsItsOwnInstance)
{
    Scenario s;
    s.lib("key");
    int k = s.patch.obj("key");
    s.patch.print(k, 0, "key");
    s.send("pd key 1 65 0").send("pd key 0 65 0");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("key"), strings{"65"}) << r.output();
}

// Instances on two threads deleting [karbox] objects at once: at exit every
// segment of the objects still open is removed, none lost. The boxes are
// there from the start (Pd 0.53 itself cannot build boxes in two instances
// at once); the keys are this test process's, so that another run of the
// test beside it does not remove the blocks under it.
TEST(Instances, TwoThreadsDeletingBlocksAtOnceLeaveNoSegment)
{
    const int base = (1 << 23) + static_cast<int>(getpid() % 100000) * 50;
    Scenario s;
    s.flag("--concurrent").flag("2").timeout(120);
    for (int round = 0; round < 12; round++) {
        Canvas &k = s.patch.subpatch("k" + std::to_string(round));
        for (int i = 0; i < 400; i++)
            k.obj("karbox " + std::to_string(base + i % 50) + " 4");
    }
    for (int round = 0; round < 11; round++)
        s.send("pd-k" + std::to_string(round) + " clear").wait(1);
    s.say("deleted");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    EXPECT_TRUE(r.contains("lvx: deleted")) << r.output();
    EXPECT_EQ(remove_segments_left_by(r.pid), strings{});
}

// One box of every class, made, used, and made again after the instance
// that set the classes up has been freed: under valgrind, which must find
// nothing. Only messages each class answers are sent: Pd itself still names
// a class by the symbol of the instance that made it, which is gone.
TEST(Instances, FreeingTheLoaderLeavesEveryClassWorking)
{
    // A key of this test process's, so that the same test run beside it
    // (libpd or the compiled-in classes) keeps a block of its own.
    const std::string karbox = "karbox " + std::to_string((1 << 22) + getpid() % 100000) + " 8";
    const strings boxes = {"orvo_lo lvxa lvxb lvxc", "orvo_hi lvxa lvxb lvxc",
        "orvo_thin lvxa lvxc 2", "orvo_thinlo lvxa lvxc 2", "orvo_thinhi lvxa lvxc 2",
        "orvo_thinmean lvxa lvxc 2", "orvo_widen lvxb lvxc 2", "orvo_slope lvxa lvxc",
        "orvo_accum lvxa lvxc", "strimo~ 2", karbox, "pathsift *.txt",
        "varwipe LVX_EMBED_NONE", "qo_knob 7 1", "qo_pitch 1", "qo_press 1", "qo_patch 1",
        "qo_wheel 1", "qo_squeeze 1", "qo_raw 1", "qo_sys 1", "offcull", "plug-roster",
        "textnum", "glyphnum", "numglyph", "numbytes", "gainlog", "comma", "messages",
        "demoprobe", "key", "openkick", "boardtag lvxboard"};
    const strings messages = {"orvo_lo bang", "orvo_hi bang", "orvo_thin bang",
        "orvo_thinlo bang", "orvo_thinhi bang", "orvo_thinmean bang", "orvo_widen bang",
        "orvo_slope bang", "orvo_accum bang", "strimo~ bang", "karbox memset 0 1 2 3",
        "karbox memread 1", "pathsift bang", "varwipe bang", "qo_knob 64", "qo_pitch 60",
        "qo_press 30", "qo_patch 3", "qo_wheel 100", "qo_squeeze 20", "qo_raw 248",
        "qo_sys 250", "offcull 60", "plug-roster bang", "textnum symbol 12.5",
        "glyphnum symbol a", "numglyph 66", "numbytes 1", "gainlog 0.5", "comma bang",
        "messages bang", "demoprobe 3"};
    auto run = [&](bool valgrind) {
        Scenario s;
        s.lib("key").flag("--free-loader-at").flag("50").timeout(240);
        s.file("a.txt", "");
        s.array("lvxa", {1, 5, 3, 7}).array("lvxb", {2, 4}).array("lvxc", {0, 0, 0, 0, 0, 0, 0, 0});
        auto &all = s.patch.subpatch("all");
        all.obj("osc~ 440");
        for (const std::string &b : boxes) {
            const std::string cls = b.substr(0, b.find(' '));
            int o = all.obj(b);
            all.receive(cls, o);
            if (cls != "messages" && cls != "demoprobe" && cls != "openkick" &&
                cls != "boardtag" && cls != "varwipe" && cls.rfind("qo_", 0) != 0)
                all.print(o, 0, cls);
        }
        all.obj("wavlim~ lvxa");
        all.obj("wavcub~ lvxa");
        all.obj("peekcub~ lvxa");
        all.obj("duopol~");
        s.dsp(true);
        auto round = [&](const std::string &mark) {
            for (const std::string &m : messages)
                s.send(m);
            s.send("pd key 1 65 0").send("lvxboard dirty 0").say(mark);
        };
        round("before");
        s.wait(100);
        round("after");
        // New boxes after the loader has gone, of every class.
        for (const std::string &b : boxes)
            s.send("pd-all obj 10 300 " + b);
        s.send("pd-all obj 10 300 sigdoor~ 3");
        s.wait(20).say("made again");
        s.send("pd-all clear").dsp(false).say("cleared");
        if (valgrind) {
            const char *host = std::getenv("LORVEX_PD");
            ::setenv("LORVEX_PD",
                ("valgrind -q --error-exitcode=99 --leak-check=no --suppressions=" +
                    (source_dir() / "tests/embed/valgrind.supp").string() + " " + host)
                    .c_str(),
                1);
        }
        return s.run();
    };
    Result r = run(true);
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.contains("lvx: cleared")) << r.output();
    // Every answer before the free comes again after it.
    for (const char *label : {"orvo_lo", "orvo_thinmean", "orvo_accum", "karbox", "textnum",
             "numglyph", "gainlog", "numbytes", "comma"})
        EXPECT_EQ(r.count(std::string(label) + ": "), 2u) << label << "\n" << r.output();
    EXPECT_EQ(r.count("key: 65"), 2u) << r.output();
    EXPECT_EQ(r.count("demoprobe: 3.000000"), 2u) << r.output();
    EXPECT_EQ(remove_segments_left_by(r.pid), strings{});
}

} // namespace
