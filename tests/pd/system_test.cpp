// The files-and-environment objects in the real Pd: pathsift on real
// directory trees beside the test patch, varwipe seen from inside Pd, and
// radixset with a comma-decimal locale generated for the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <langinfo.h>
#include <locale.h>
#include <map>

#include "pd.hpp"

using namespace lorvex::test;
namespace fs = std::filesystem;
using strings = std::vector<std::string>;

namespace {

// ---- pathsift ---------------------------------------------------------------

// [pathsift args]: [r s] into the left inlet, [r p] into the right one, the
// three outlets printed as name, info and end.
void add_pathsift(Canvas &c, const std::string &args, const std::string &suffix = "")
{
    int o = c.obj("pathsift" + (args.empty() ? "" : " " + args));
    c.receive("s" + suffix, o, 0);
    c.receive("p" + suffix, o, 1);
    c.print(o, 0, "name" + suffix);
    c.print(o, 1, "info" + suffix);
    c.print(o, 2, "end" + suffix);
}

// What the object sent, in order, compactly: "matches 2", "pattern *.wav",
// "position 0", "-> /path", "end"; markers (Scenario::say) read "|".
strings trace(const Result &r, const std::string &suffix = "")
{
    strings out;
    const std::string name = "name" + suffix + ": symbol ", info = "info" + suffix + ": ",
                      end = "end" + suffix + ": bang";
    for (const std::string &l : r.lines) {
        if (l.rfind(name, 0) == 0)
            out.push_back("-> " + l.substr(name.size()));
        else if (l.rfind(info, 0) == 0)
            out.push_back(l.substr(info.size()));
        else if (l == end)
            out.push_back("end");
        else if (l.rfind("lvx: ", 0) == 0)
            out.push_back("|");
    }
    return out;
}

// The paths of a trace only, one group per stretch between markers.
std::vector<strings> paths_by_group(const strings &t)
{
    std::vector<strings> groups(1);
    for (const std::string &l : t) {
        if (l == "|")
            groups.emplace_back();
        else if (l.rfind("-> ", 0) == 0)
            groups.back().push_back(l.substr(3));
    }
    return groups;
}

void touch(const fs::path &p)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
}

TEST(Pathsift, ListsSortedMatchesOnePerBangThenEnds)
{
    Scenario s;
    const std::string d = s.dir().string();
    for (const char *f : {"b.wav", "sub/d.wav", "a.wav", "c.txt", "B.wav", "a.wav.txt", "ab.wav"})
        touch(s.dir() / f);
    add_pathsift(s.patch, "*.wav");
    for (int i = 0; i < 6; i++)
        s.send("s bang");
    Result r = s.verbose(4).run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.contains("setting pattern to: *.wav")) << r.output();
    EXPECT_EQ(trace(r), (strings{"matches 4", "pattern *.wav", "position 0", "position 0",
                            "-> " + d + "/B.wav", "position 1", "-> " + d + "/a.wav",
                            "position 2", "-> " + d + "/ab.wav", "position 3",
                            "-> " + d + "/b.wav", "end", "end"}));
    EXPECT_TRUE(r.errors().empty()) << r.output();
}

TEST(Pathsift, WithoutArgumentListsThePatchDirectory)
{
    Scenario s;
    touch(s.dir() / "x.txt");
    touch(s.dir() / ".hidden");
    fs::create_directories(s.dir() / "sub");
    add_pathsift(s.patch, "");
    s.send("s pattern");
    for (int i = 0; i < 6; i++)
        s.send("s bang");
    Result r = s.verbose(4).run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.contains("setting pattern to default: *")) << r.output();
    strings t = trace(r);
    ASSERT_FALSE(t.empty()) << r.output();
    EXPECT_EQ(t[0], "pattern " + s.dir().string() + "/*");
    // Everything but the hidden entry, directories unmarked, in byte order:
    // main.pd and script.txt are the scenario's own.
    strings expect;
    for (const char *f : {"main.pd", "script.txt", "sub", "x.txt"})
        expect.push_back((s.dir() / f).string());
    EXPECT_EQ(paths_by_group(t)[0], expect) << r.output();
    EXPECT_EQ(t.back(), "end");
}

TEST(Pathsift, PatternsResolveAgainstThePatchDirectory)
{
    Scenario s;
    const std::string d = s.dir().string(), base = s.dir().filename().string();
    touch(s.dir() / "a.doc");
    touch(s.dir() / ".hidden");
    touch(s.dir() / "sub/s.doc");
    touch(s.dir() / "home/h.doc");
    s.env("HOME", d + "/home");
    // Wine keeps Linux's HOME from Windows programs: set inside Pd there.
    if (windows())
        s.env("LVX_HOME", d + "/home").lib("lvxsystem").send("lvxsys setenv HOME LVX_HOME");
    add_pathsift(s.patch, "./*.doc");
    const strings patterns = {"sub/*.doc", "../" + base + "/sub/*.doc", d + "/sub/*.doc",
        "~/*.doc", "~", ".*", ".hidden", ".."};
    // Each pattern is listed to its end before the next one arrives.
    auto list = [&] {
        for (int i = 0; i < 4; i++)
            s.send("s bang");
    };
    list();
    for (const std::string &p : patterns) {
        s.say("next").send("p symbol " + p);
        list();
    }
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    std::vector<strings> expect = {
        {d + "/a.doc"},                               // "./" dropped
        {d + "/sub/s.doc"},                           // plain relative
        {d + "/../" + base + "/sub/s.doc"},           // "../" kept as written
        {d + "/sub/s.doc"},                           // absolute
        {d + "/home/h.doc"},                          // '~' is $HOME
        {d + "/home"},
        {d + "/.", d + "/..", d + "/.hidden"},        // '.' patterns join like any other
        {d + "/.hidden"},
        {d + "/.."},
    };
    EXPECT_EQ(paths_by_group(trace(r)), expect) << r.output();
}

// Pd hands patterns over in UTF-8 and takes paths back in UTF-8: names that
// are not ASCII are found by a pattern that names them, and come out intact
// (through Windows' wide API there).
TEST(Pathsift, NamesThatAreNotAsciiComeOutIntact)
{
    Scenario s;
    const std::string d = s.dir().string();
    const std::string ete = "\xc3\xa9t\xc3\xa9", nihon = "\xe6\x97\xa5\xe6\x9c\xac",
                      on = "\xe9\x9f\xb3";
    for (const std::string &f : strings{ete + ".wav", "a.wav", nihon + "/" + on + ".wav", nihon + "/b.wav"})
        touch(s.dir() / fs::u8path(f));
    add_pathsift(s.patch, "*.wav");
    auto list = [&] {
        for (int i = 0; i < 3; i++)
            s.send("s bang");
    };
    list();
    for (const std::string &p : strings{nihon + "/*", ete + "*", "*/" + on + ".wav"}) {
        s.say("next").send("p symbol " + p);
        list();
    }
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    EXPECT_EQ(paths_by_group(trace(r)),
        (std::vector<strings>{{d + "/a.wav", d + "/" + ete + ".wav"},
            {d + "/" + nihon + "/b.wav", d + "/" + nihon + "/" + on + ".wav"},
            {d + "/" + ete + ".wav"}, {d + "/" + nihon + "/" + on + ".wav"}}))
        << r.output();
    EXPECT_TRUE(r.contains("info: pattern " + nihon + "/*")) << r.output();
}

TEST(Pathsift, NoMatchGivesAnEmptyListAndAVerboseLine)
{
    Scenario s;
    touch(s.dir() / "a.wav");
    add_pathsift(s.patch, "*.none");
    s.send("s bang").send("s bang");
    Result r = s.verbose(4).run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(trace(r), (strings{"matches 0", "pattern *.none", "position 0", "end", "end"}));
    EXPECT_EQ(r.count("[pathsift] nothing found for \"" + s.dir().string() + "/*.none\""), 1u)
        << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
}

// A [file mkdir] lets the script change the directory while Pd runs.
int add_mkdir(Scenario &s)
{
    int m = s.patch.obj("file mkdir");
    s.patch.receive("mkdir", m);
    return m;
}

TEST(Pathsift, NewPatternWaitsForTheNextBangAndRewindRereadsTheOldOne)
{
    Scenario s;
    const std::string d = s.dir().string();
    for (const char *f : {"a.wav", "b.wav", "x.doc"})
        touch(s.dir() / f);
    add_pathsift(s.patch, "*.wav");
    add_mkdir(s);
    s.send("s bang").send("p symbol *.doc").say("set").send("s info");
    s.send("mkdir symbol " + d + "/c.wav").say("rewind").send("s rewind").say("after");
    s.send("s info").send("s 2").say("bang").send("s bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(trace(r), (strings{"matches 2", "pattern *.wav", "position 0", "position 0",
                            "-> " + d + "/a.wav",
                            // nothing sent when the pattern arrives; info shows it with the old list
                            "|", "matches 2", "pattern *.doc", "position 1",
                            // rewind sends nothing, but has read the directory again
                            "|", "|", "matches 3", "pattern *.doc", "position 0",
                            "position 2", "-> " + d + "/c.wav",
                            // the bang takes the new pattern over
                            "|", "matches 1", "pattern *.doc", "position 0", "position 0",
                            "-> " + d + "/x.doc"}));
}

TEST(Pathsift, TheSamePatternTextDoesNotSearchAgain)
{
    Scenario s;
    const std::string d = s.dir().string();
    touch(s.dir() / "a.wav");
    add_pathsift(s.patch, "*.wav");
    add_mkdir(s);
    s.send("s bang").send("s bang").send("mkdir symbol " + d + "/b.wav");
    s.say("same").send("p symbol *.wav").send("s bang");
    s.say("other").send("p symbol *.doc").send("s bang");
    s.say("back").send("p symbol *.wav").send("s bang").send("s bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(trace(r), (strings{"matches 1", "pattern *.wav", "position 0", "position 0",
                            "-> " + d + "/a.wav", "end", "|", "end", "|", "matches 0",
                            "pattern *.doc", "position 0", "end", "|", "matches 2",
                            "pattern *.wav", "position 0", "position 0", "-> " + d + "/a.wav",
                            "position 1", "-> " + d + "/b.wav"}));
}

TEST(Pathsift, FloatsJumpWithoutAdvancing)
{
    Scenario s;
    const std::string d = s.dir().string();
    for (const char *f : {"a.wav", "b.wav", "c.wav"})
        touch(s.dir() / f);
    add_pathsift(s.patch, "*.wav");
    // Before any search the list is empty: a jump only ends; 0 is where it stands.
    s.send("s 0").send("s 1").say("bang");
    s.send("s bang").say("1").send("s 1").say("0").send("s 0").say("bang").send("s bang");
    s.send("s bang").say("-3").send("s -3").say("2.9").send("s 2.9").say("3").send("s 3");
    s.send("s position").say("big").send("s 1e30").send("s position");
    s.say("nan").send("s @nan").send("s bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    const std::string a = "-> " + d + "/a.wav", b = "-> " + d + "/b.wav", c = "-> " + d + "/c.wav";
    EXPECT_EQ(trace(r), (strings{"end",
                            "|", "matches 3", "pattern *.wav", "position 0", "position 0", a,
                            "|",                       // 1 is where it stands now
                            "|", "position 0", a,      // 0 sends the first path again ...
                            "|", "position 0", a,      // ... and the bang sends it once more
                            "position 1", b,
                            "|", "position 0", a,      // -3 is 0
                            "|", "position 2", c,      // 2.9 is 2
                            "|", "end", "position 3",  // beyond the end: it stays there
                            "|", "end", "position " + num(static_cast<pd_float>(4294967295.0)),
                            "|", "position 0", a, "position 0", a}));
}

TEST(Pathsift, RewindBeforeTheFirstBangSearchesTheBareDirectory)
{
    Scenario s;
    const std::string d = s.dir().string();
    touch(s.dir() / "a.wav");
    add_pathsift(s.patch, "*.wav");
    s.send("s rewind").send("s matches").send("s 5").send("s 0").say("bang").send("s bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(trace(r), (strings{"matches 1", "end", "position 0", "-> " + d + "/", "|",
                            "matches 1", "pattern *.wav", "position 0", "position 0",
                            "-> " + d + "/a.wav"}));
}

// A bang sent back from the left outlet moves on to the next path rather
// than sending the same one until Pd's stack limit stops it.
TEST(Pathsift, BangFromItsOwnOutputWalksTheList)
{
    Scenario s;
    const std::string d = s.dir().string();
    for (const char *f : {"a.wav", "b.wav", "c.wav"})
        touch(s.dir() / f);
    int o = s.patch.obj("pathsift *.wav");
    int t = s.patch.obj("t b s");
    s.patch.receive("s", o);
    s.patch.connect(o, 0, t, 0);
    s.patch.connect(t, 0, o, 0);
    s.patch.print(t, 1, "name");
    s.patch.print(o, 2, "end");
    s.send("s bang");
    Result r = s.sanitized().run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("name"), (strings{"symbol " + d + "/a.wav", "symbol " + d + "/b.wav",
                                     "symbol " + d + "/c.wav"}));
    EXPECT_EQ(r.printed("end"), strings{"bang"});
    EXPECT_TRUE(r.errors().empty()) << r.output();
}

// A real directory of at least `length` characters below `root`.
fs::path deep_dir(const fs::path &root, std::size_t length)
{
    fs::path p = root;
    while (p.string().size() < length)
        p /= std::string(std::min<std::size_t>(100, length - p.string().size() + 1), 'd');
    fs::create_directories(p);
    return p;
}

// Texts longer than the buffers are refused whole, never cut: the default
// pattern falls back to "*" (the same directory), and a search whose path
// would not fit reports it and lists nothing. Directories and patterns this
// long only come from the environment (lvxsys), since Pd cuts typed words.
TEST(Pathsift, OverlongTextsAreRefusedNotCut)
{
    Scenario s;
    fs::path longdir = deep_dir(s.dir() / "long", 1500);
    touch(longdir / "f.txt");
    // Directories of 997 and 998 characters: "/*" and the terminator fill 1000 bytes.
    std::string d997 = "/" + std::string(996, 'q'), d998 = "/" + std::string(997, 'q');
    // A directory and a pattern that make a path of 4095 characters, and one more.
    fs::path dir3k = deep_dir(s.dir() / "three", 3000);
    touch(dir3k / "g.txt");
    std::string fits(4095 - dir3k.string().size() - 1, 'z');
    s.env("LVX_LONG", longdir.string()).env("LVX_997", d997).env("LVX_998", d998);
    s.env("LVX_3K", dir3k.string()).env("LVX_FITS", fits).env("LVX_OVER", fits + "z");
    s.env("LVX_ABS", "/" + std::string(5000, 'a'));
    s.lib("lvxsystem").sanitized();

    Canvas &dyn = s.patch.subpatch("dyn");
    dyn.obj("r q");
    dyn.obj("lvx_print name");
    dyn.obj("lvx_print info");
    dyn.obj("lvx_print end");
    auto create = [&](int index) {
        s.send("pd-dyn obj 10 10 pathsift");
        s.send("pd-dyn connect 0 0 " + std::to_string(index) + " 0");
        for (int k = 0; k < 3; k++)
            s.send("pd-dyn connect " + std::to_string(index) + " " + std::to_string(k) + " " +
                   std::to_string(k + 1) + " 0");
    };
    add_pathsift(s.patch, "g.txt", "3");
    s.send("lvxsys dir main.pd LVX_997");
    create(4);
    s.send("q pattern").send("pd-dyn clear").send("lvxsys dir main.pd LVX_998");
    for (const char *r : {"r q", "lvx_print name", "lvx_print info", "lvx_print end"})
        s.send(std::string("pd-dyn obj 10 10 ") + r);
    create(4);
    s.send("q pattern").send("lvxsys dir main.pd LVX_LONG").send("q bang").send("q bang");
    s.say("3k").send("lvxsys dir main.pd LVX_3K").send("s3 bang");
    s.say("fits").send("lvxsys send p3 LVX_FITS").send("s3 bang");
    s.say("over").send("lvxsys send p3 LVX_OVER").send("s3 bang");
    s.say("abs").send("lvxsys send p3 LVX_ABS").send("s3 bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();

    EXPECT_EQ(trace(r), (strings{"pattern " + d997 + "/*", "pattern *", "matches 1",
                            "pattern *", "position 0", "position 0",
                            "-> " + longdir.string() + "/f.txt", "end", "|", "|", "|", "|"}));
    EXPECT_EQ(paths_by_group(trace(r, "3")),
        (std::vector<strings>{{}, {dir3k.string() + "/g.txt"}, {}, {}, {}}));
    // The 4095-character path is searched (and finds nothing); the longer ones are refused.
    strings ends;
    for (const std::string &l : trace(r, "3"))
        if (l.rfind("matches", 0) == 0 || l == "end" || l == "|")
            ends.push_back(l);
    EXPECT_EQ(ends, (strings{"|", "matches 1", "|", "matches 0", "end", "|", "matches 0", "end",
                        "|", "matches 0", "end"}));
    strings errors = r.errors();
    ASSERT_EQ(errors.size(), 2u) << r.output();
    EXPECT_EQ(errors[0], "[pathsift] path too long for \"" + std::string(200, 'z') + "...\"");
    EXPECT_EQ(errors[1], "[pathsift] path too long for \"/" + std::string(199, 'a') + "...\"");
}

// Pd hands the later atoms of a list to the further inlets one by one, a
// separator as a symbol message without a symbol: refused, the pattern stays.
TEST(Pathsift, ASeparatorAtThePatternInletIsRefused)
{
    Scenario s;
    const std::string d = s.dir().string();
    touch(s.dir() / "a.wav");
    add_pathsift(s.patch, "*.wav");
    s.send("s list 7 @comma").send("p list @semi").say("bang").send("s bang");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.errors(), (strings{"pathsift: not a symbol", "pathsift: not a symbol"})) << r.output();
    EXPECT_EQ(paths_by_group(trace(r)), (std::vector<strings>{{}, {d + "/a.wav"}})) << r.output();
}

// ---- varwipe ----------------------------------------------------------------

// A list beginning with a separator reaches the symbol method as a symbol
// message without a symbol: refused at either inlet, the name stays.
TEST(Varwipe, ASeparatorIsNoName)
{
    Scenario s;
    s.env("LVX_E", "5");
    int o = s.patch.obj("varwipe LVX_E");
    s.patch.receive("v", o);
    s.patch.receive("vr", o, 1);
    s.send("v list @comma").send("vr list @semi").send("v bang").send("lvx getenv LVX_E");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.errors(), (strings{"varwipe: not a symbol", "varwipe: not a symbol"})) << r.output();
    EXPECT_TRUE(r.contains("getenv LVX_E: (unset)")) << r.output();
}

TEST(Varwipe, BangRemovesTheNamedVariable)
{
    Scenario s;
    s.env("LVX_A", "1").env("LVX_B", "2").env("LVX_C", "3").env("LVX_D", "4");
    int named = s.patch.obj("varwipe LVX_A");
    s.patch.receive("w", named);
    int bare = s.patch.obj("varwipe");
    s.patch.receive("v", bare);
    s.patch.receive("vr", bare, 1);
    auto show = [&](const std::string &mark) {
        s.say(mark);
        for (const char *n : {"LVX_A", "LVX_B", "LVX_C", "LVX_D"})
            s.send(std::string("lvx getenv ") + n);
    };
    s.send("w bang");
    show("named");                       // A gone
    s.send("w bang").send("v bang");
    show("again");                       // a second bang and a nameless one change nothing
    s.send("v symbol LVX_B");
    show("stored");                      // a name only stored ...
    s.send("v bang");
    show("left");                        // ... until the bang
    s.send("vr symbol LVX_C").send("v bang");
    show("right");
    s.send("v symbol LVX_D=4").send("v bang").send("vr symbol @empty").send("v bang");
    show("refused");                     // a name with '=' and the empty name leave D
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    auto state = [](const std::string &a, const std::string &b, const std::string &c,
                     const std::string &d) {
        return strings{"getenv LVX_A: " + a, "getenv LVX_B: " + b, "getenv LVX_C: " + c,
            "getenv LVX_D: " + d};
    };
    strings seen;
    for (const std::string &l : r.lines)
        if (l.rfind("getenv ", 0) == 0)
            seen.push_back(l);
    strings expect;
    const std::string u = "(unset)";
    for (const strings &st : {state(u, "2", "3", "4"), state(u, "2", "3", "4"),
             state(u, "2", "3", "4"), state(u, u, "3", "4"), state(u, u, u, "4"),
             state(u, u, u, "4")})
        expect.insert(expect.end(), st.begin(), st.end());
    EXPECT_EQ(seen, expect) << r.output();
}

// ---- radixset -----------------------------------------------------------------

// Generates de_DE.UTF-8 (decimal comma) into a folder of its own, which Pd
// finds through LOCPATH; the system's own locales are not touched.
class Radixset : public ::testing::Test {
protected:
    static inline fs::path locales;
    static inline std::string why_not;

    static void SetUpTestSuite()
    {
        std::string tmpl = (fs::temp_directory_path() / "lorvex-locale-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) {
            why_not = "cannot make a folder for the test locale";
            return;
        }
        locales = tmpl;
        Result r = run_process({"localedef", "-i", "de_DE", "-f", "UTF-8",
                                   (locales / "de_DE.UTF-8").string()},
            {}, locales, 120);
        // localedef exits with 1 for mere warnings; what counts is whether
        // the locale loads and has a decimal comma.
        const char *old = std::getenv("LOCPATH");
        std::string saved = old ? old : "";
        setenv("LOCPATH", locales.c_str(), 1);
        locale_t loc = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
        old ? setenv("LOCPATH", saved.c_str(), 1) : unsetenv("LOCPATH");
        if (!loc) {
            why_not = "localedef could not generate de_DE.UTF-8 (is the locales package "
                      "installed?): " + r.output();
            return;
        }
        if (std::string(nl_langinfo_l(RADIXCHAR, loc)) != ",")
            why_not = "the generated de_DE.UTF-8 has no decimal comma";
        freelocale(loc);
    }

    static void TearDownTestSuite()
    {
        std::error_code ec;
        if (!locales.empty())
            fs::remove_all(locales, ec);
    }

    void SetUp() override
    {
        if (!why_not.empty())
            GTEST_SKIP() << why_not;
    }

    // Windows' C runtime has five categories: each but LC_ALL is listed,
    // then LC_ALL and the two points.
    static std::size_t reported() { return windows() ? 8u : 15u; }

    // A Pd whose environment names `lang`, with LC_TIME set apart.
    static void environment(Scenario &s, const std::string &lang)
    {
        for (const char *v : {"LC_ALL", "LANGUAGE", "LC_CTYPE", "LC_NUMERIC", "LC_COLLATE",
                 "LC_MONETARY", "LC_MESSAGES", "LC_PAPER", "LC_NAME", "LC_ADDRESS",
                 "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"})
            s.unset_env(v);
        s.env("LOCPATH", locales.string()).env("LANG", lang).env("LC_TIME", "C");
        s.lib("lvxsystem");
    }

    // The probe's report of the locale after the marker `mark`.
    static std::map<std::string, std::string> locale_after(const Result &r, const std::string &mark)
    {
        std::map<std::string, std::string> out;
        bool on = false;
        for (const std::string &l : r.lines) {
            if (l.rfind("lvx: ", 0) == 0)
                on = l == "lvx: " + mark;
            else if (on && l.rfind("locale ", 0) == 0) {
                auto colon = l.find(": ");
                out[l.substr(7, colon - 7)] = l.substr(colon + 2);
            }
        }
        return out;
    }

    // Numeric "C", the other categories from the environment. On Windows
    // they come from the user's settings in Windows (wine makes those of
    // LANG when it starts; LC_TIME set apart is not looked at), named as
    // Windows names them.
    static void expect_comma_locale_but_numeric_c(const std::map<std::string, std::string> &loc)
    {
        if (windows()) {
            for (const char *c : {"LC_CTYPE", "LC_COLLATE", "LC_MONETARY", "LC_TIME"})
                EXPECT_EQ(loc.at(c), "German_Germany.1252") << c;
            EXPECT_EQ(loc.at("LC_NUMERIC"), "C");
            EXPECT_EQ(loc.at("decimal_point"), ".");
            EXPECT_EQ(loc.at("mon_decimal_point"), ",");
            return;
        }
        for (const char *c : {"LC_CTYPE", "LC_COLLATE", "LC_MONETARY", "LC_MESSAGES",
                 "LC_PAPER", "LC_NAME", "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT",
                 "LC_IDENTIFICATION"})
            EXPECT_EQ(loc.at(c), "de_DE.UTF-8") << c;
        EXPECT_EQ(loc.at("LC_NUMERIC"), "C");
        EXPECT_EQ(loc.at("LC_TIME"), "C");
        EXPECT_EQ(loc.at("decimal_point"), ".");
        EXPECT_EQ(loc.at("mon_decimal_point"), ",");
    }
};

TEST_F(Radixset, LoadedAtStartupTakesTheEnvironmentButKeepsNumbersInC)
{
    Scenario s;
    environment(s, "de_DE.UTF-8");
    s.lib("radixset").say("after").send("lvxsys locale").say("0.5");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    auto loc = locale_after(r, "after");
    ASSERT_EQ(loc.size(), reported()) << r.output();
    expect_comma_locale_but_numeric_c(loc);
    EXPECT_EQ(r.count("radixset: "), 1u) << r.output();
    EXPECT_TRUE(r.contains("radixset: " + loc.at("LC_ALL"))) << r.output();
    EXPECT_NE(loc.at("LC_ALL").find("LC_NUMERIC=C;"), std::string::npos) << loc.at("LC_ALL");
    // Pd still writes numbers with a point.
    EXPECT_TRUE(r.contains("lvx: 0.5")) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
}

TEST_F(Radixset, TheFirstBoxNamingItLoadsIt)
{
    Scenario s;
    environment(s, "de_DE.UTF-8");
    s.say("before").send("lvxsys locale");
    s.send("pd-main.pd obj 10 10 radixset").send("pd-main.pd obj 10 40 radixset");
    s.say("after").send("lvxsys locale");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    auto before = locale_after(r, "before");
    ASSERT_EQ(before.size(), reported()) << r.output();
    EXPECT_EQ(before.at("LC_ALL"), "C");
    expect_comma_locale_but_numeric_c(locale_after(r, "after"));
    // Loaded once, though no object can be made of it.
    EXPECT_EQ(r.count("radixset: "), 1u) << r.output();
}

TEST_F(Radixset, AnUnknownLocaleStillPostsTheLine)
{
    Scenario s;
    environment(s, "xx_YY.UTF-8");
    s.lib("radixset").say("after").send("lvxsys locale");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    auto loc = locale_after(r, "after");
    ASSERT_EQ(loc.size(), reported()) << r.output();
    EXPECT_EQ(loc.at("LC_NUMERIC"), "C");
    if (windows()) {
        // Windows always has a locale of the user's: wine makes its
        // default, English (US), of a LANG it does not know.
        EXPECT_NE(loc.at("LC_ALL").find("LC_NUMERIC=C;"), std::string::npos) << loc.at("LC_ALL");
        EXPECT_EQ(r.count("radixset: " + loc.at("LC_ALL")), 1u) << r.output();
        return;
    }
    EXPECT_EQ(loc.at("LC_ALL"), "C");
    EXPECT_EQ(r.count("radixset: C"), 1u) << r.output();
}

} // namespace
