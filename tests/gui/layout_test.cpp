// Every help patch, the overview, the examples and the demo patch as a Pd
// user sees them: opened in Pd's real GUI (under Xvfb), one after another in
// one session, by the test-only GUI plug-in lvx_layout-plugin.tcl beside
// this file, which writes what lies on each canvas and a screenshot to
// build/screenshots/.
// Fails where two boxes or comments overlap (touching edges is fine), where a
// cord runs through a box or comment it does not connect, where anything
// lies outside the window size the patch saves, or where a box could not be
// created.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "pd.hpp"

using namespace lorvex::test;
namespace fs = std::filesystem;

namespace {

struct Rect {
    double x1, y1, x2, y2;
};

struct Box {
    std::string kind;   // obj msg atom comment graph
    Rect r;
    bool broken;
    std::string text;
    std::string name() const { return kind + " '" + text.substr(0, 50) + "'"; }
};

struct Cord {
    double x1, y1, x2, y2;
};

struct Drawn {
    bool window = false;
    int width = 0, height = 0;  // the window as Pd's GUI showed it
    std::vector<Box> boxes;
    std::vector<Cord> cords;
    std::vector<std::string> errors;
};

fs::path shots_dir() { return plugin_dir().parent_path() / "screenshots"; }

// The patches a user opens: every help patch, the overview, the examples,
// the demo.
std::vector<fs::path> patches()
{
    std::vector<fs::path> v;
    for (const auto &e : fs::directory_iterator(plugin_dir())) {
        std::string n = e.path().filename().string();
        if (n.size() > 8 && n.ends_with("-help.pd"))
            v.push_back(e.path());
    }
    std::sort(v.begin(), v.end());
    v.push_back(plugin_dir() / "lorvex-overview.pd");
    std::vector<fs::path> examples;
    for (const auto &e : fs::directory_iterator(plugin_dir() / "examples"))
        if (e.path().extension() == ".pd")
            examples.push_back(e.path());
    std::sort(examples.begin(), examples.end());
    v.insert(v.end(), examples.begin(), examples.end());
    v.push_back(source_dir() / "demo" / "demo.pd");
    return v;
}

// One GUI session for all of them, run by the first test that asks.
const Result &session()
{
    static const Result result = [] {
        fs::remove_all(shots_dir());
        fs::create_directories(shots_dir());
        fs::path list = shots_dir() / "patches.txt";
        std::ofstream(list) << [] {
            std::string s;
            for (const auto &p : patches())
                s += p.string() + "\n";
            return s;
        }();
        // The startup libraries and environment the objects' help patches
        // need (tests/sweep/<class>.sweep): [key] from -lib key, and no JACK
        // server started behind the check's back for plug-roster.
        std::vector<std::string> argv{"xvfb-run", "-a", "-s", "-screen 0 2000x1800x24",
            "pd", "-noprefs", "-noaudio", "-nrt", "-stderr",
            "-path", (source_dir() / "tests" / "gui").string(),
            "-path", plugin_dir().string()};
        std::vector<std::pair<std::string, std::optional<std::string>>> env{
            {"LORVEX_LAYOUT_LIST", list.string()},
            {"LORVEX_LAYOUT_OUT", shots_dir().string()}};
        for (const auto &cls : built_classes()) {
            ClassOptions o = class_options(cls);
            for (const auto &lib : o.libs)
                argv.insert(argv.end(), {"-lib", lib});
            env.insert(env.end(), o.env.begin(), o.env.end());
        }
        return run_process(argv, env, shots_dir(), 240);
    }();
    return result;
}

Drawn read_dump(const fs::path &file)
{
    Drawn d;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        std::istringstream w(line);
        std::string what;
        w >> what;
        if (what == "window") {
            d.window = true;
            w >> d.width >> d.height;
        } else if (what == "box") {
            Box b;
            int broken = 0;
            w >> b.kind >> b.r.x1 >> b.r.y1 >> b.r.x2 >> b.r.y2 >> broken;
            b.broken = broken != 0;
            std::getline(w >> std::ws, b.text);
            d.boxes.push_back(b);
        } else if (what == "cord") {
            Cord c;
            w >> c.x1 >> c.y1 >> c.x2 >> c.y2;
            d.cords.push_back(c);
        } else {
            d.errors.push_back(line);
        }
    }
    return d;
}

// The window size a patch saves: "#N canvas x y width height font;".
std::pair<int, int> saved_size(const fs::path &patch)
{
    std::ifstream in(patch);
    std::string n, canvas;
    int x = 0, y = 0, w = 0, h = 0;
    in >> n >> canvas >> x >> y >> w >> h;
    return {w, h};
}

bool overlap(const Rect &a, const Rect &b)
{
    return a.x1 < b.x2 && b.x1 < a.x2 && a.y1 < b.y2 && b.y1 < a.y2;
}

bool holds(const Rect &r, double x, double y, double slack)
{
    return x >= r.x1 - slack && x <= r.x2 + slack && y >= r.y1 - slack && y <= r.y2 + slack;
}

// Whether the segment enters the rectangle's inside (Liang-Barsky clipping).
bool crosses(const Cord &c, const Rect &r)
{
    double t0 = 0, t1 = 1;
    double dx = c.x2 - c.x1, dy = c.y2 - c.y1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {c.x1 - r.x1, r.x2 - c.x1, c.y1 - r.y1, r.y2 - c.y1};
    for (int i = 0; i < 4; i++) {
        if (p[i] == 0) {
            if (q[i] <= 0)
                return false;
        } else {
            double t = q[i] / p[i];
            if (p[i] < 0)
                t0 = std::max(t0, t);
            else
                t1 = std::min(t1, t);
        }
    }
    return t0 < t1;
}

// Shrunk by a pixel: a cord may graze a border it passes beside.
Rect inner(const Rect &r) { return {r.x1 + 1, r.y1 + 1, r.x2 - 1, r.y2 - 1}; }

class Layout : public ::testing::TestWithParam<fs::path> {};

TEST_P(Layout, DrawnWithoutOverlapsCrossingsOrOverflow)
{
    if (emulated())
        GTEST_SKIP() << "the layout is the same for every platform: checked in the native build";
    const fs::path patch = GetParam();
    const Result &r = session();
    ASSERT_FALSE(r.timed_out) << r.output();
    const std::string name = patch.stem().string();
    const fs::path dump = shots_dir() / (name + ".txt");
    ASSERT_TRUE(fs::exists(dump)) << "the GUI never drew " << patch << "\n" << r.output();
    Drawn d = read_dump(dump);
    ASSERT_TRUE(d.window) << "no window for " << patch;
    EXPECT_TRUE(d.errors.empty()) << d.errors.front();
    EXPECT_GT(fs::file_size(shots_dir() / (name + ".png")), 0u);

    auto [w, h] = saved_size(patch);
    EXPECT_EQ(d.width, w) << "window width as drawn";
    EXPECT_EQ(d.height, h) << "window height as drawn";
    ASSERT_FALSE(d.boxes.empty());

    for (const Box &b : d.boxes) {
        EXPECT_FALSE(b.broken) << b.name() << " could not be created";
        EXPECT_TRUE(b.r.x1 >= 0 && b.r.y1 >= 0 && b.r.x2 <= w && b.r.y2 <= h)
            << b.name() << " at " << b.r.x1 << " " << b.r.y1 << " " << b.r.x2 << " "
            << b.r.y2 << " lies outside the " << w << "x" << h << " window";
    }
    for (std::size_t i = 0; i < d.boxes.size(); i++)
        for (std::size_t j = i + 1; j < d.boxes.size(); j++)
            EXPECT_FALSE(overlap(d.boxes[i].r, d.boxes[j].r))
                << d.boxes[i].name() << " overlaps " << d.boxes[j].name();
    for (const Cord &c : d.cords)
        for (const Box &b : d.boxes) {
            if (holds(b.r, c.x1, c.y1, 1) || holds(b.r, c.x2, c.y2, 1))
                continue;  // a box at one of its ends
            EXPECT_FALSE(crosses(c, inner(b.r)))
                << "the cord from " << c.x1 << " " << c.y1 << " to " << c.x2 << " " << c.y2
                << " runs through " << b.name();
        }
}

TEST(LayoutSession, EndsCleanly)
{
    if (emulated())
        GTEST_SKIP() << "the layout is the same for every platform: checked in the native build";
    const Result &r = session();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_FALSE(r.contains("couldn't create")) << r.output();
}

std::string name_of(const ::testing::TestParamInfo<fs::path> &info)
{
    return test_name(info.param.stem().string());
}

INSTANTIATE_TEST_SUITE_P(Patches, Layout, ::testing::ValuesIn(patches()), name_of);

} // namespace
