// The Debian packages, as a user of apt meets them: made by make deb's
// script for this build and every cross build there is, each holding what
// the build holds where Debian keeps it; the amd64 package installed with
// dpkg on this machine, where Pd and Pd64, given no -path and no
// preferences, create every object and open every help patch from
// /usr/lib/pd/extra/lorvex, the tools and their manual pages answer, and
// removing the package leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "pd.hpp"

using namespace lorvex::test;
namespace fs = std::filesystem;

namespace {

using strings = std::vector<std::string>;

fs::path build_dir() { return plugin_dir().parent_path(); }
// Where the packages of this build are made, for the installed test to take.
fs::path deb_dir() { return build_dir() / "deb-test"; }
const fs::path extra = "/usr/lib/pd/extra/lorvex";

std::string version() { return LORVEX_VERSION_TEXT; }

std::pair<std::string, std::optional<std::string>> pd_hosts()
{
    return {"PD_HOSTS", (build_dir() / "pd-hosts").string()};
}

// The packages this build and the cross builds beside it make, by Debian
// architecture.
std::map<std::string, fs::path> builds()
{
    std::map<std::string, fs::path> out = {{"amd64", build_dir()}};
    for (const char *arch : {"arm64", "armhf", "i386"}) {
        fs::path b = source_dir() / ("build-" + std::string(arch));
        if (fs::exists(b / "lorvex" / "lorvex-meta.pd") && fs::exists(b / "bin" / "lorvex-recv"))
            out[arch] = b;
    }
    return out;
}

fs::path deb_of(const std::string &arch)
{
    for (const auto &e : fs::directory_iterator(deb_dir())) {
        const std::string name = e.path().filename().string();
        if (name.rfind("pd-lorvex_" + version() + "-", 0) == 0 && name.size() > arch.size() + 4 &&
            name.compare(name.size() - arch.size() - 4, std::string::npos, arch + ".deb") == 0)
            return e.path();
    }
    return {};
}

Result run(const strings &argv, double seconds = 60,
    const std::vector<std::pair<std::string, std::optional<std::string>>> &env = {})
{
    return run_process(argv, env, fs::temp_directory_path(), seconds);
}

// The files (not folders) of a package, as paths without the leading "./".
std::set<std::string> package_files(const fs::path &deb)
{
    std::set<std::string> out;
    Result list = run({"sh", "-c", "dpkg-deb --fsys-tarfile '" + deb.string() + "' | tar -t"});
    for (const auto &l : list.lines)
        if (!l.empty() && l.back() != '/')
            out.insert(l.rfind("./", 0) == 0 ? l.substr(2) : l);
    return out;
}

// The files of a folder, recursively, relative to it.
std::set<std::string> folder_files(const fs::path &dir)
{
    std::set<std::string> out;
    for (const auto &e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            out.insert(fs::relative(e.path(), dir).string());
    return out;
}

std::string field(const fs::path &deb, const std::string &name)
{
    Result r = run({"dpkg-deb", "-f", deb.string(), name});
    return r.lines.empty() ? "" : r.lines[0];
}

int elf_machine(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    unsigned char h[20] = {};
    in.read(reinterpret_cast<char *>(h), sizeof h);
    return h[18] | h[19] << 8;
}

const std::map<std::string, int> machine_of = {{"amd64", 62}, {"arm64", 183}, {"armhf", 40}, {"i386", 3}};

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "lorvex-deb-XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

} // namespace

// make deb's script, on this build and every cross build there is: one
// package each, checked by the script (lintian, contents, Pd of its
// architecture), and as this test reads them.
TEST(DebPackages, EveryArchitectureHoldsTheBuildWhereDebianKeepsIt)
{
    fs::remove_all(deb_dir());
    const auto all = builds();
    strings cmd = {"sh", (source_dir() / "scripts" / "deb").string(), deb_dir().string()};
    for (const auto &[arch, dir] : all)
        cmd.push_back(dir.string());
    Result r = run(cmd, 900, {pd_hosts()});
    ASSERT_EQ(r.exit_code, 0) << r.output();
    EXPECT_EQ(r.count("lintian: no errors or warnings"), all.size()) << r.output();
    EXPECT_EQ(r.count("tools start: lorvex-recv, lorvex-shm (" + version() + ")"), all.size()) << r.output();
    std::cout << "packaged for:";
    for (const auto &[arch, dir] : all)
        std::cout << " " << arch;
    std::cout << "\n";

    const fs::path amd64 = deb_of("amd64");
    ASSERT_FALSE(amd64.empty());
    const std::set<std::string> reference = package_files(amd64);

    // The amd64 package: every file of the build's folder (but the README,
    // kept with the documentation, and the license, which the copyright
    // file holds), the tools and their manual pages.
    std::set<std::string> expected;
    for (const auto &f : folder_files(plugin_dir()))
        if (f != "README.md" && f != "LICENSE")
            expected.insert("usr/lib/pd/extra/lorvex/" + f);
    for (const char *tool : {"lorvex-recv", "lorvex-shm"}) {
        expected.insert("usr/bin/" + std::string(tool));
        expected.insert("usr/share/man/man1/" + std::string(tool) + ".1.gz");
    }
    std::set<std::string> besides;
    for (const auto &f : reference)
        if (!expected.count(f))
            besides.insert(f);
    for (const auto &f : expected)
        EXPECT_TRUE(reference.count(f)) << f << " is missing from " << amd64;
    EXPECT_EQ(besides, (std::set<std::string>{"usr/share/doc/pd-lorvex/README.md.gz",
                           "usr/share/doc/pd-lorvex/changelog.Debian.gz", "usr/share/doc/pd-lorvex/copyright",
                           "usr/share/lintian/overrides/pd-lorvex"}));
    EXPECT_TRUE(reference.count("usr/lib/pd/extra/lorvex/orvo_lo.linux-amd64-64.so")) << "Pd64's flavour";

    for (const auto &[arch, dir] : all) {
        SCOPED_TRACE(arch);
        const fs::path deb = deb_of(arch);
        ASSERT_FALSE(deb.empty());
        EXPECT_EQ(deb.filename().string(), "pd-lorvex_" + version() + "-1_" + arch + ".deb");
        EXPECT_TRUE(fs::exists(deb.parent_path() / ("pd-lorvex-dbgsym_" + version() + "-1_" + arch + ".deb")));
        // Its objects loaded in Pd of its architecture (the script's check).
        const std::map<std::string, strings> platforms = {{"amd64", {"amd64-32", "amd64-64"}},
            {"arm64", {"arm64-32"}}, {"armhf", {"armv7-32"}}, {"i386", {"i386-32"}}};
        for (const auto &p : platforms.at(arch))
            EXPECT_TRUE(r.contains("loaded in Pd for Linux-" + p + " (")) << r.output();
        EXPECT_EQ(field(deb, "Package"), "pd-lorvex");
        EXPECT_EQ(field(deb, "Architecture"), arch);
        EXPECT_EQ(field(deb, "Version"), version() + "-1");
        // Dependencies derived from what the files link, on every architecture.
        const std::string depends = field(deb, "Depends");
        for (const char *lib : {"libc6 (>= ", "libjack-jackd2-0", "libsndfile1", "puredata-core"})
            EXPECT_NE(depends.find(lib), std::string::npos) << depends;
        // Each holds what the amd64 one holds, but Pd64's flavour.
        if (arch != "amd64") {
            std::set<std::string> want;
            for (const auto &f : reference)
                if (f.find(".linux-amd64-64.so") == std::string::npos)
                    want.insert(f);
            EXPECT_EQ(package_files(deb), want);
        }
        // Built for that architecture: a plug-in and a tool, as unpacked.
        TempDir tmp;
        ASSERT_EQ(run({"dpkg-deb", "-x", deb.string(), tmp.path.string()}).exit_code, 0);
        EXPECT_EQ(elf_machine(tmp.path / "usr/lib/pd/extra/lorvex/wavlim~.pd_linux"), machine_of.at(arch));
        EXPECT_EQ(elf_machine(tmp.path / "usr/bin/lorvex-recv"), machine_of.at(arch));
    }
}

// A package whose objects Pd cannot all create, and one whose changelog is
// behind the build, are refused and not left where the packages go.
TEST(DebPackages, ScriptRefusesWhatDoesNotWork)
{
    TempDir tmp;
    // A copy of the build in which one plug-in is another's: it has no setup
    // function of its name.
    fs::path copy = tmp.path / "build";
    fs::create_directories(copy);
    for (const char *what : {"lorvex", "bin", "man"})
        fs::copy(build_dir() / what, copy / what, fs::copy_options::recursive);
    for (const char *what : {"CMakeCache.txt", "package-arch"})
        fs::copy_file(build_dir() / what, copy / what);
    fs::copy_file(copy / "lorvex" / "gainlog.pd_linux", copy / "lorvex" / "orvo_lo.pd_linux",
        fs::copy_options::overwrite_existing);
    Result r = run({"sh", (source_dir() / "scripts" / "deb").string(), (tmp.path / "out").string(), copy.string()},
        300, {pd_hosts()});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_TRUE(r.contains("did not create every object")) << r.output();
    EXPECT_TRUE(r.contains("orvo_lo")) << r.output();
    EXPECT_TRUE(!fs::exists(tmp.path / "out") || fs::is_empty(tmp.path / "out"));

    // The same build, a version ahead of the packaging's changelog.
    fs::copy_file(build_dir() / "lorvex" / "orvo_lo.pd_linux", copy / "lorvex" / "orvo_lo.pd_linux",
        fs::copy_options::overwrite_existing);
    std::ifstream in(copy / "CMakeCache.txt");
    std::stringstream cache;
    cache << in.rdbuf();
    std::string text = cache.str();
    const std::string line = "CMAKE_PROJECT_VERSION:STATIC=" + version();
    const auto at = text.find(line);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, line.size(), "CMAKE_PROJECT_VERSION:STATIC=99.0.0");
    std::ofstream(copy / "CMakeCache.txt") << text;
    Result ahead = run({"sh", (source_dir() / "scripts" / "deb").string(), (tmp.path / "out").string(), copy.string()},
        300, {pd_hosts()});
    EXPECT_NE(ahead.exit_code, 0);
    EXPECT_TRUE(ahead.contains("the build at 99.0.0: add an entry for 99.0.0-1")) << ahead.output();
    EXPECT_TRUE(!fs::exists(tmp.path / "out") || fs::is_empty(tmp.path / "out"));
}

// ---- installed ----------------------------------------------------------------

namespace {

// dpkg answers one caller at a time: another package manager at work (or
// another test run installing) is waited for.
Result dpkg(const strings &args)
{
    strings cmd = {"dpkg"};
    cmd.insert(cmd.end(), args.begin(), args.end());
    Result r;
    for (int tries = 0; tries < 120; tries++) {
        r = run(cmd, 300);
        if (r.exit_code == 0 || !r.contains("lock"))
            break;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return r;
}

bool installed()
{
    Result r = run({"dpkg-query", "-W", "-f=${Status}", "pd-lorvex"});
    return r.exit_code == 0 && !r.lines.empty() && r.lines[0].find(" installed") != std::string::npos;
}

// Marks an installation this test made, so that a run killed before it could
// remove the package is cleaned up by the next.
fs::path marker() { return deb_dir() / "installed-by-test"; }

// Removes the package when the test ends, however it ends.
struct Installation {
    bool removed = false;
    Result remove()
    {
        Result r = dpkg({"-r", "pd-lorvex"});
        removed = r.exit_code == 0;
        if (removed)
            fs::remove(marker());
        return r;
    }
    ~Installation()
    {
        if (!removed)
            remove();
    }
};

struct Host {
    std::string name, version, command;
    int floatsize = 32;
};

// The Pd releases the scenarios run on (scripts/pd-hosts): the system's, the
// newer ones and Pd64.
std::vector<Host> hosts()
{
    std::vector<Host> out;
    std::ifstream in(build_dir() / "pd-hosts" / "hosts");
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        Host h;
        words >> h.name >> h.version >> h.command >> h.floatsize;
        if (!h.command.empty())
            out.push_back(h);
    }
    return out;
}

// Whether dpkg is told to leave manual pages out (a minimal system image).
bool manual_pages_excluded()
{
    if (!fs::exists("/etc/dpkg/dpkg.cfg.d"))
        return false;
    for (const auto &e : fs::directory_iterator("/etc/dpkg/dpkg.cfg.d")) {
        std::ifstream in(e.path());
        for (std::string line; std::getline(in, line);)
            if (line.rfind("path-exclude", 0) == 0 && line.find("/usr/share/man") != std::string::npos)
                return true;
    }
    return false;
}

strings split(const std::string &s)
{
    std::istringstream in(s);
    strings out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

} // namespace

TEST(DebInstalled, PdFindsEveryObjectAndHelpAndRemovalLeavesNothing)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "installing a package needs root";
    const fs::path deb = deb_of("amd64");
    ASSERT_FALSE(deb.empty()) << "no amd64 package in " << deb_dir() << " (made by DebPackages)";
    // What a killed earlier run of this test left is taken away; anything
    // else named lorvex on this machine is a user's and is not touched.
    if (fs::exists(marker()) && installed()) {
        ASSERT_EQ(dpkg({"-r", "pd-lorvex"}).exit_code, 0);
    }
    fs::remove(marker());
    ASSERT_FALSE(installed()) << "pd-lorvex is installed on this machine: this test would replace and then "
                                 "remove it. Remove it first (dpkg -r pd-lorvex), or leave this test out "
                                 "(ctest -E deb.installed).";
    for (const fs::path &p : {extra, fs::path("/usr/bin/lorvex-recv"), fs::path("/usr/bin/lorvex-shm")})
        ASSERT_FALSE(fs::exists(p)) << p << " exists without the package (make install?): this test would "
                                          "overwrite and then remove it. Move it away first.";

    std::ofstream(marker()) << "pd-lorvex installed by DebInstalled\n";
    Installation package;
    Result inst = dpkg({"-i", deb.string()});
    ASSERT_EQ(inst.exit_code, 0) << inst.output();
    ASSERT_TRUE(installed());
    Result listed = run({"dpkg", "-L", "pd-lorvex"});
    ASSERT_EQ(listed.exit_code, 0) << listed.output();

    // The folder holds the build's folder (but README and license).
    std::set<std::string> want;
    for (const auto &f : folder_files(plugin_dir()))
        if (f != "README.md" && f != "LICENSE")
            want.insert(f);
    EXPECT_EQ(folder_files(extra), want);

    // A patch anywhere, with [declare -path lorvex], has every object; a
    // right click's Help on each box opens its help patch from the installed
    // folder, and the overview patch there opens every help patch.
    const auto classes = built_classes();
    TempDir tmp;
    // karbox without an id says so, as its help describes.
    strings flags, allowed = {"id should be > 0"};
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    // The boxes at the top level, where a click finds them; sigdoor~, which
    // makes Pd's inlet~, in a subpatch, where an inlet belongs.
    std::ostringstream patch;
    patch << "#N canvas 0 0 600 " << 80 + 30 * classes.size() << " 12;\n#X declare -path lorvex;\n"
          << "#X obj 10 10 declare -path lorvex;\n";
    std::vector<std::pair<std::string, int>> boxes;
    for (const auto &c : classes) {
        ClassOptions o = class_options(c);
        for (const auto &lib : o.libs)
            flags.insert(flags.end(), {"-lib", "lorvex/" + lib});
        env.insert(env.end(), o.env.begin(), o.env.end());
        allowed.insert(allowed.end(), o.allow.begin(), o.allow.end());
        if (o.nobox) {
            flags.insert(flags.end(), {"-lib", "lorvex/" + c});
        } else if (c == "sigdoor~") {
            patch << "#N canvas 0 0 300 200 door 0;\n#X obj 10 10 sigdoor~;\n#X restore 300 10 pd door;\n";
        } else {
            const int y = 40 + 30 * static_cast<int>(boxes.size());
            patch << "#X obj 10 " << y << " " << c << ";\n";
            boxes.emplace_back(c, y);
        }
    }
    std::ofstream(tmp.path / "main.pd") << patch.str();
    strings sends = {"pd open lorvex-overview.pd " + extra.string()};
    for (const auto &[c, y] : boxes)
        sends.push_back("pd-main.pd done-popup 2 15 " + std::to_string(y + 5));
    for (const auto &c : classes)
        sends.push_back("lorvex-help " + c);
    for (const auto &c : classes)
        sends.push_back("pd-" + c + "-help.pd dirty 0");
    sends.push_back("pd quit");

    const auto pds = hosts();
    ASSERT_FALSE(pds.empty());
    bool pd64_seen = false;
    for (const Host &h : pds) {
        SCOPED_TRACE(h.name);
        pd64_seen = pd64_seen || h.floatsize == 64;
        strings cmd = split(h.command);
        cmd.insert(cmd.end(), {"-nogui", "-noprefs", "-noaudio", "-nrt", "-stderr", "-batch", "-verbose"});
        cmd.insert(cmd.end(), flags.begin(), flags.end());
        cmd.insert(cmd.end(), {"-open", (tmp.path / "main.pd").string()});
        for (const auto &s : sends)
            cmd.insert(cmd.end(), {"-send", s});
        Result r = run_process(cmd, env, tmp.path, 120);
        EXPECT_TRUE(r.clean()) << r.output();
        EXPECT_FALSE(r.contains("couldn't create")) << r.output();
        for (const auto &c : classes) {
            const std::string file = h.floatsize == 64 ? c + ".linux-amd64-64.so" : c + ".pd_linux";
            EXPECT_TRUE(r.contains("tried " + (extra / file).string() + " and succeeded")) << c << "\n"
                                                                                          << r.output();
            // A right click's Help looks the patch up beside the object (the
            // overview opens it from its own folder without a search).
            const std::string help = "tried " + (extra / (c + "-help.pd")).string() + " and succeeded";
            const bool by_click =
                std::any_of(boxes.begin(), boxes.end(), [&](const auto &b) { return b.first == c; });
            EXPECT_EQ(r.count(help), by_click ? 1u : 0u) << c << "\n" << r.output();
        }
        for (const auto &e : r.errors()) {
            bool ok = false;
            for (const auto &a : allowed)
                ok = ok || e.find(a) != std::string::npos;
            EXPECT_TRUE(ok) << "error line: " << e << "\n" << r.output();
        }
    }
    EXPECT_TRUE(pd64_seen) << "no Pd64 among the hosts";

    // The tools are on the PATH and explain themselves.
    for (const char *tool : {"lorvex-recv", "lorvex-shm"}) {
        Result which = run({"sh", "-c", std::string("command -v ") + tool});
        EXPECT_EQ(which.lines, strings{"/usr/bin/" + std::string(tool)});
        Result v = run({tool, "--version"});
        EXPECT_EQ(v.exit_code, 0);
        EXPECT_EQ(v.lines, strings{std::string(tool) + " (lorvex) " + version()});
        if (manual_pages_excluded()) {
            std::cout << "dpkg leaves manual pages out on this system: man " << tool << " not tried\n";
            continue;
        }
        Result man = run({"man", tool}, 60, {{"MANWIDTH", "80"}, {"MANPAGER", "cat"}, {"PAGER", "cat"}});
        EXPECT_EQ(man.exit_code, 0) << man.output();
        std::string title = tool;
        std::transform(title.begin(), title.end(), title.begin(), [](unsigned char ch) { return std::toupper(ch); });
        EXPECT_TRUE(man.contains(title + "(1)")) << man.output();
        EXPECT_TRUE(man.contains("EXIT STATUS")) << man.output();
    }

    // Removed, nothing of it is left.
    Result rm = package.remove();
    ASSERT_EQ(rm.exit_code, 0) << rm.output();
    EXPECT_FALSE(installed());
    for (const auto &p : listed.lines)
        if (!p.empty() && p[0] == '/' && !fs::is_directory(p)) {
            EXPECT_FALSE(fs::exists(p)) << p << " is left behind";
        }
    EXPECT_FALSE(fs::exists(extra));
    EXPECT_FALSE(fs::exists("/usr/share/doc/pd-lorvex"));
}
