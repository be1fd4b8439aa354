// The message utilities in the real Pd: converters, emitters, and the objects
// that answer host events (keys, load time, canvas names).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "pd.hpp"

using namespace lorvex::test;
using strings = std::vector<std::string>;

namespace {

// [r in] -> [list tosymbol] -> [cls] and [r direct] -> [cls], the object's
// outlet printed as "out". A list of byte values becomes any symbol at all,
// which a patch could not type (numbers, "inf", leading spaces).
struct Converter {
    Scenario s;

    explicit Converter(const std::string &cls)
    {
        int o = s.patch.obj(cls);
        int t = s.patch.obj("list tosymbol");
        s.patch.connect(t, 0, o, 0);
        s.patch.receive("in", t);
        s.patch.receive("direct", o);
        s.patch.print(o, 0, "out");
    }

    // Sends the text as a symbol through [list tosymbol].
    Converter &text(std::string_view text)
    {
        std::string line = "in list";
        for (unsigned char c : text)
            line += " " + std::to_string(c);
        s.send(line);
        return *this;
    }

    Converter &direct(std::string_view message)
    {
        s.send("direct " + std::string(message));
        return *this;
    }
};

// The lines of the output that are exactly `text` (console lines of post()),
// among lines first..last-1.
std::size_t lines_equal(const Result &r, std::string_view text, std::size_t first = 0,
    std::size_t last = SIZE_MAX)
{
    std::size_t n = 0;
    for (std::size_t i = first; i < std::min(last, r.lines.size()); i++)
        n += r.lines[i] == text;
    return n;
}

// The position of the first line containing `text`, or the number of lines.
std::size_t line_of(const Result &r, std::string_view text)
{
    for (std::size_t i = 0; i < r.lines.size(); i++)
        if (r.lines[i].find(text) != std::string::npos)
            return i;
    return r.lines.size();
}

} // namespace

// ---- converters -------------------------------------------------------------

TEST(Textnum, ReadsTheNumberATextBeginsWith)
{
    Converter c("textnum");
    for (const char *t : {"12abc", "abc", "1e3", "0x10", "  7.5", "\t-3", "inf", "-inf",
             "1e39", "-1e39", "1e-50", "0x1p-2", "-12.5e-1x", "+.5", "nan", "infinity"})
        c.text(t);
    c.direct("symbol @empty").direct("symbol");
    Result r = c.s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    // Beyond the float range single precision gives infinities and 0; Pd64's
    // double keeps what strtod read.
    EXPECT_EQ(r.printed("out"), (strings{"12", "0", "1000", "16", "7.5", "-3", "inf", "-inf",
                                    pd64 ? "9.9999999999999994e+38" : "inf",
                                    pd64 ? "-9.9999999999999994e+38" : "-inf", pd64 ? "1e-50" : "0", "0.25", "-1.25", "0.5", "nan", "inf",
                                    "0", "0"}))
        << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
}

// A list passes its first atom on when it is a symbol; anything else is
// refused the way Pd refuses a message without a method.
TEST(Textnum, OtherMessagesAreRefusedLikePdDoes)
{
    Converter c("textnum");
    c.direct("5").direct("bang").direct("list x").direct("list 2x 3").direct("list 4 y");
    c.direct("list @comma").direct("list @semi 1").direct("list");
    Result r = c.s.sanitized().run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("out"), (strings{"0", "2"}));
    EXPECT_EQ(r.errors(),
        (strings{"textnum: no method for 'float'", "textnum: no method for 'bang'",
            "textnum: no method for 'float'", "textnum: no method for 'list'",
            "textnum: no method for 'list'", "textnum: no method for 'bang'"}))
        << r.output();
}

TEST(Glyphnum, SendsTheFirstByteUnsigned)
{
    Converter c("glyphnum");
    c.text("A").text("hello").text("\xc8").text("\xff z").text("\xc3\xa9t\xc3\xa9").text(" x");
    c.direct("symbol @empty");
    Result r = c.s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("out"), (strings{"65", "104", "200", "255", "195", "32", "0"}))
        << r.output();
}

TEST(Numglyph, MakesTheSymbolOfTheLowByte)
{
    Converter c("numglyph");
    for (const char *f : {"97", "65.9", "321", "353", "200.7", "0", "-1", "-0.5", "256", "@nan",
             "@-0", "1e30", "@inf", "@-inf", "4294967040"})
        c.direct(f);
    Result r = c.s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    // 2^32 and beyond saturate to 4294967295 (low byte 255); 4294967040 is
    // 2^32 - 256, whose low byte is 0.
    EXPECT_EQ(r.printed("out"),
        (strings{"symbol a", "symbol A", "symbol A", "symbol a", "symbol \xc8", "symbol ",
            "symbol ", "symbol ", "symbol ", "symbol ", "symbol ", "symbol \xff", "symbol \xff",
            "symbol ", "symbol "}))
        << r.output();
}

TEST(Numglyph, EveryCodeComesBackThroughGlyphnum)
{
    Scenario s;
    int n = s.patch.obj("numglyph");
    int g = s.patch.obj("glyphnum");
    s.patch.connect(n, 0, g, 0);
    s.patch.receive("n", n);
    s.patch.print(g, 0, "code");
    for (int i = 1; i < 256; i++)
        s.send("n " + std::to_string(i));
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    strings want;
    for (int i = 1; i < 256; i++)
        want.push_back(std::to_string(i));
    EXPECT_EQ(r.printed("code"), want);
}

TEST(Numbytes, SendsTheFourBytesInMemoryOrderAsOneList)
{
    Converter c("numbytes");
    for (const char *f : {"1", "-2.5", "0.1", "0", "@-0", "@inf", "@nan", "-1e30"})
        c.direct(f);
    Result r = c.s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("out"),
        (strings{"list 0 0 128 63", "list 0 0 32 192", "list 205 204 204 61", "list 0 0 0 0",
            "list 0 0 0 128", "list 0 0 128 127", "list 0 0 192 127", "list 202 242 73 241"}))
        << r.output();
}

TEST(Gainlog, ConvertsAmplitudeToDecibels)
{
    Converter c("gainlog");
    for (const char *f : {"0", "-1", "@-0", "@-inf", "1", "10", "100", "0.001", "1e-30", "@nan",
             "@inf", "2"})
        c.direct(f);
    Result r = c.s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    // ln(f) times 20 / ln(10) (as 8.6858896381) in double, rounded to Pd's
    // float: in single precision 10 gives 20 exactly; in Pd64 the constant's
    // last digits show (20.000000000080512).
    // (The inputs as Pd reads them: typed numbers become Pd's float first.)
    auto db = [](double typed) {
        const auto f = static_cast<double>(static_cast<pd_float>(typed));
        return num(static_cast<pd_float>(std::log(f) * 8.6858896381));
    };
    const std::string floor = num(static_cast<pd_float>(-199.9));
    EXPECT_EQ(r.printed("out"), (strings{floor, floor, floor, floor, "0", db(10), db(100),
                                    db(0.001), db(1e-30), "nan", "inf", db(2)}))
        << r.output();
    // -199.9 as a float prints as -199.899994 in round-trip precision.
    EXPECT_EQ(floor, pd64 ? "-199.90000000000001" : "-199.899994");
    EXPECT_EQ(db(10), pd64 ? "20.000000000080512" : "20");
}

// ---- emitters ---------------------------------------------------------------

TEST(Comma, SendsAListOfOneCommaPerBang)
{
    Scenario s;
    int c = s.patch.obj("comma");
    s.patch.receive("c", c);
    s.patch.print(c, 0, "out");
    int len = s.patch.obj("list length");
    s.patch.connect(c, 0, len, 0);
    s.patch.print(len, 0, "length");
    s.send("c bang").send("c bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("out"), (strings{"list ,", "list ,"})) << r.output();
    EXPECT_EQ(r.printed("length"), (strings{"1", "1"}));
}

// The comma's use: a message box given "add2 ," ends its current message
// there, so a click sends what came before and what came after separately.
TEST(Comma, SplitsAMessageBoxItIsAddedTo)
{
    Scenario s;
    int c = s.patch.obj("comma");
    int pre = s.patch.obj("list prepend add2");
    int trim = s.patch.obj("list trim");
    int box = s.patch.msg("1 2");
    s.patch.connect(c, 0, pre, 0);
    s.patch.connect(pre, 0, trim, 0);
    s.patch.connect(trim, 0, box, 0);
    s.patch.receive("c", c);
    s.patch.receive("box", box);
    s.patch.print(box, 0, "box");
    s.send("c bang").send("box add2 3 4").send("box bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("box"), (strings{"list 1 2", "list 3 4"})) << r.output();
}

// Pd hands the first atom of a list to a symbol method as a symbol, whatever
// it is: the symbol converters must not take a comma for one.
TEST(Comma, IsNoSymbolForTheSymbolConverters)
{
    Scenario s;
    s.sanitized();
    int c = s.patch.obj("comma");
    s.patch.receive("c", c);
    for (const char *cls : {"textnum", "glyphnum"}) {
        int o = s.patch.obj(cls);
        s.patch.connect(c, 0, o, 0);
        s.patch.print(o, 0, cls);
    }
    s.send("c bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.printed("textnum").empty());
    EXPECT_TRUE(r.printed("glyphnum").empty());
    auto errors = r.errors();
    std::sort(errors.begin(), errors.end());
    EXPECT_EQ(errors, (strings{"glyphnum: no method for 'list'", "textnum: no method for 'list'"}))
        << r.output();
}

TEST(Messages, PostsBangForEachBang)
{
    Scenario s;
    s.patch.receive("m", s.patch.obj("messages"));
    s.send("m bang").send("m bang").say("between").send("m bang").send("m 1");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(lines_equal(r, "bang"), 3u) << r.output();
    std::size_t between = line_of(r, "lvx: between");
    ASSERT_LT(between, r.lines.size()) << r.output();
    EXPECT_EQ(lines_equal(r, "bang", 0, between), 2u) << r.output();
    EXPECT_EQ(r.errors(), strings{"messages: no method for 'float'"}) << r.output();
}

TEST(Demoprobe, AnnouncesSetupCreationAndWhatItReceives)
{
    Scenario s;
    s.patch.receive("d", s.patch.obj("demoprobe"));
    s.patch.obj("demoprobe");
    s.send("d 2").send("d -0.25").send("d rats").send("d 1e10");
    // A third instance made later: its plug-in is not set up again.
    s.send("pd-main.pd obj 10 400 demoprobe");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(lines_equal(r, "demoprobe_setup"), 1u) << r.output();
    EXPECT_EQ(lines_equal(r, "demoprobe_new"), 3u) << r.output();
    EXPECT_LT(line_of(r, "demoprobe_setup"), line_of(r, "demoprobe_new"));
    strings said;
    for (const auto &l : r.lines)
        if (l.rfind("demoprobe: ", 0) == 0)
            said.push_back(l);
    EXPECT_EQ(said, (strings{"demoprobe: 2.000000", "demoprobe: -0.250000", "demoprobe: rats",
                        "demoprobe: 10000000000.000000"}));
}

// ---- key --------------------------------------------------------------------

// Pd's built-in [key] is replaced only when the plug-in is loaded at startup.
TEST(Key, ReplacesPdsOwnOnlyWhenLoadedAtStartup)
{
    if (classes_compiled_in())
        GTEST_SKIP() << "every class is compiled in: [key] is ours from the start";
    {
        Scenario s;
        s.lib("key").verbose();
        s.patch.obj("key");
        // Pd keeps its own class under this name once replaced.
        s.patch.obj("key_aliased");
        Result r = s.run();
        ASSERT_TRUE(r.clean()) << r.output();
        EXPECT_TRUE(r.contains("class 'key' overwritten; old one renamed 'key_aliased'"))
            << r.output();
        EXPECT_FALSE(r.contains("couldn't create")) << r.output();
    }
    {
        Scenario s;
        s.verbose();
        s.patch.obj("key");
        s.patch.obj("key_aliased");
        Result r = s.run();
        ASSERT_TRUE(r.clean()) << r.output();
        EXPECT_FALSE(r.contains("overwritten")) << r.output();
        EXPECT_TRUE(r.contains("couldn't create")) << r.output();
    }
}

TEST(Key, EveryInstanceSendsEachKeyUntilDeleted)
{
    Scenario s;
    s.lib("key");
    int a = s.patch.obj("key");
    s.patch.print(a, 0, "a");
    auto &sub = s.patch.subpatch("other");
    sub.print(sub.obj("key"), 0, "b");
    // Straight to "#key", then the way Pd's GUI reports keys: down and up.
    s.send("#key 65").send("pd key 1 66 0").send("pd key 0 67 0").send("#key -1.5");
    s.send("pd-other clear").send("#key 68").send("pd key 1 69 0");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("a"), (strings{"65", "66", "-1.5", "68", "69"})) << r.output();
    EXPECT_EQ(r.printed("b"), (strings{"65", "66", "-1.5"})) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
}

// ---- openkick ---------------------------------------------------------------

namespace {

// A canvas holding [openkick] and Pd's own [loadbang], printed under
// "<label>" and "<label>-pd": both must bang exactly as often.
void kick_pair(Canvas &c, const std::string &label)
{
    c.print(c.obj("openkick"), 0, label);
    c.print(c.obj("loadbang"), 0, label + "-pd");
}

// kick.pd: an abstraction with the pair printed under its argument.
Canvas kick_abstraction()
{
    Canvas c;
    kick_pair(c, "$1");
    return c;
}

void expect_bangs(const Result &r, const std::string &label, std::size_t n)
{
    EXPECT_EQ(r.printed(label), strings(n, "bang")) << label << "\n" << r.output();
    EXPECT_EQ(r.printed(label + "-pd"), strings(n, "bang")) << label << "\n" << r.output();
}

} // namespace

TEST(Openkick, OpeningAPatchBangsOnceEverywhereInIt)
{
    Scenario s;
    s.abstraction("kick", kick_abstraction());
    kick_pair(s.patch, "top");
    auto &sub = s.patch.subpatch("sub");
    kick_pair(sub, "sub");
    sub.obj("kick insub");
    s.patch.obj("kick abs");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    for (const char *label : {"top", "sub", "abs", "insub"})
        expect_bangs(r, label, 1);
}

TEST(Openkick, OpeningAndClosingAnotherPatch)
{
    Scenario s;
    s.abstraction("kick", kick_abstraction());
    Canvas other;
    kick_pair(other, "o-top");
    kick_pair(other.subpatch("inner"), "o-sub");
    other.obj("kick o-abs");
    s.abstraction("other", other);
    s.send("pd open other.pd " + s.dir().string()).say("opened");
    // Deleting a subpatch or an abstraction, then closing the whole patch.
    s.send("pd-main.pd obj 10 500 kick late");
    s.send("pd-other.pd menuclose").say("closed").send("pd-other.pd dirty 0");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    for (const char *label : {"o-top", "o-sub", "o-abs"})
        expect_bangs(r, label, 1);
    // An abstraction made by a message gets no load bang, as with Pd's own.
    expect_bangs(r, "late", 0);
    EXPECT_FALSE(r.contains("other.pd: can't open")) << r.output();
    EXPECT_LT(line_of(r, "lvx: closed"), r.lines.size()) << r.output();
    // Closed indeed: its name is gone.
    EXPECT_TRUE(r.contains("pd-other.pd: no such object")) << r.output();
}

TEST(Openkick, DeletingASubpatchOrAbstractionSendsNothing)
{
    Scenario s;
    s.abstraction("kick", kick_abstraction());
    auto &outer = s.patch.subpatch("outer");
    kick_pair(outer.subpatch("inner"), "inner");
    outer.obj("kick abs");
    s.say("loaded").send("pd-outer clear").say("cleared");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    expect_bangs(r, "inner", 1);
    expect_bangs(r, "abs", 1);
    EXPECT_GT(line_of(r, "lvx: loaded"), line_of(r, "inner: bang"));
}

TEST(Openkick, NoloadbangSilencesEvenALoadSentByHand)
{
    Scenario s;
    s.abstraction("kick", kick_abstraction());
    s.flag("-noloadbang");
    // Nothing bangs at load, so the run is started by sending the patch a
    // load action by hand, which Pd's own [loadbang] answers.
    s.flag("-send").flag("pd-main.pd loadbang");
    s.patch.print(s.patch.obj("openkick"), 0, "top");
    s.patch.print(s.patch.obj("loadbang"), 0, "top-pd");
    s.patch.obj("kick abs");
    s.say("started");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.contains("lvx: started")) << r.output();
    EXPECT_EQ(r.printed("top-pd"), strings{"bang"}) << r.output();
    EXPECT_EQ(r.printed("abs-pd"), strings{"bang"}) << r.output();
    EXPECT_TRUE(r.printed("top").empty()) << r.output();
    EXPECT_TRUE(r.printed("abs").empty()) << r.output();
}

// Each action sent straight to the objects, as Pd's loading code does.
TEST(Openkick, BangsForTheLoadActionOnly)
{
    Scenario s;
    s.lib("lvxtell");
    kick_pair(s.patch.subpatch("sub"), "k");
    s.say("loaded");
    for (const char *args : {"", "0", "1", "2", "@nan", "-1", "0.5", "1e30"}) {
        s.send(std::string("lvxtell sub openkick loadbang ") + args);
        s.send(std::string("lvxtell sub loadbang loadbang ") + args);
    }
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.count("lvxtell: told 1"), 16u) << r.output();
    // At load, then for the bare message and for 0.
    expect_bangs(r, "k", 3);
    EXPECT_TRUE(r.errors().empty()) << r.output();
}

// ---- boardtag ---------------------------------------------------------------

namespace {

// Messages to the name: a [r <ping>] box is created in whatever canvas the
// name reaches and connected to that canvas's box 1 (a printer), and a
// [demoprobe] is created there, which posts "demoprobe_new" once per canvas.
void reach(Scenario &s, const std::string &name, const std::string &ping, int r_index)
{
    s.send(name + " obj 10 300 r " + ping);
    s.send(name + " connect " + std::to_string(r_index) + " 0 1 0");
    s.send(name + " obj 10 400 demoprobe");
    s.send(ping + " " + name + "-reached");
}

} // namespace

TEST(Boardtag, MessagesToTheNameReachTheContainingCanvas)
{
    Scenario s;
    auto &a = s.patch.subpatch("a");
    a.obj("boardtag foo");
    a.obj("lvx_print a");
    auto &b = s.patch.subpatch("b");
    b.obj("boardtag bar");
    b.obj("lvx_print b");
    s.patch.obj("boardtag top");
    reach(s, "foo", "ping", 2);
    reach(s, "bar", "pong", 2);
    s.send("top obj 10 10 demoprobe");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("a"), (strings{"foo-reached"})) << r.output();
    EXPECT_EQ(r.printed("b"), (strings{"bar-reached"})) << r.output();
    EXPECT_EQ(lines_equal(r, "demoprobe_new"), 3u) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
}

TEST(Boardtag, TwoCanvasesUnderOneNameAndDeletionUnbindsOnlyItsOwn)
{
    Scenario s;
    for (const char *name : {"a", "b"}) {
        auto &c = s.patch.subpatch(name);
        c.obj("boardtag foo");
        c.obj(std::string("lvx_print ") + name);
    }
    reach(s, "foo", "ping", 2);
    s.say("both");
    s.send("pd-b clear").say("cleared");
    s.send("foo obj 10 500 demoprobe").send("foo obj 10 10 r ping2")
        .send("foo connect 5 0 1 0").send("ping2 again");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("a"), (strings{"foo-reached", "again"})) << r.output();
    EXPECT_EQ(r.printed("b"), (strings{"foo-reached"})) << r.output();
    std::size_t cleared = line_of(r, "lvx: cleared");
    ASSERT_LT(cleared, r.lines.size()) << r.output();
    EXPECT_EQ(lines_equal(r, "demoprobe_new", 0, cleared), 2u) << r.output();
    EXPECT_EQ(lines_equal(r, "demoprobe_new", cleared), 1u) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
}

TEST(Boardtag, DeletedItNoLongerReachesTheCanvas)
{
    Scenario s;
    auto &outer = s.patch.subpatch("outer");
    outer.subpatch("inner").obj("boardtag foo");
    s.send("foo obj 10 10 demoprobe").say("deleting");
    s.send("pd-outer clear");
    s.send("foo obj 10 10 demoprobe");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(lines_equal(r, "demoprobe_new"), 1u) << r.output();
    // The script's own complaint: nothing is bound to foo any more.
    EXPECT_TRUE(r.contains("foo: no such object")) << r.output();
}

TEST(Boardtag, WithoutANameBindsNothing)
{
    Scenario s;
    auto &c = s.patch.subpatch("c");
    c.obj("boardtag");
    // [s] without a name sends to the empty name.
    s.patch.receive("empty", s.patch.obj("s"));
    s.send("empty obj 10 10 demoprobe").send("pd-c clear").send("empty obj 10 10 demoprobe");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(lines_equal(r, "demoprobe_new"), 0u) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
}
