// The folder users install: make install's copy loads in Pd on its own, the
// package archive follows the package manager's format, and the overview
// patch reaches every object's help.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "pd.hpp"

using namespace lorvex::test;
namespace fs = std::filesystem;

namespace {

fs::path build_dir() { return plugin_dir().parent_path(); }

std::string read_file(const fs::path &p)
{
    std::ifstream in(p);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A scratch folder for one test, removed afterwards.
struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "lorvex-install-XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

// Points the harness at another plug-in folder for the life of this object.
struct PluginDirOverride {
    std::optional<std::string> old;
    explicit PluginDirOverride(const fs::path &dir)
    {
        if (const char *v = std::getenv("LORVEX_PLUGIN_DIR"))
            old = v;
        setenv("LORVEX_PLUGIN_DIR", dir.c_str(), 1);
    }
    ~PluginDirOverride()
    {
        if (old)
            setenv("LORVEX_PLUGIN_DIR", old->c_str(), 1);
        else
            unsetenv("LORVEX_PLUGIN_DIR");
    }
};

// The e_machine field of an ELF file (little-endian targets only).
int elf_machine(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    unsigned char h[20] = {};
    in.read(reinterpret_cast<char *>(h), sizeof h);
    return h[18] | h[19] << 8;
}

// The ELF machine of each CPU name in Pd's package names.
const std::map<std::string, int> cpu_machine = {
    {"amd64", 62}, {"i386", 3}, {"armv7", 40}, {"arm64", 183}};

// The machine field of a Windows DLL's PE header (found at the offset the
// DOS header gives at byte 60).
int pe_machine(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    unsigned char dos[64] = {};
    in.read(reinterpret_cast<char *>(dos), sizeof dos);
    const long at = dos[60] | dos[61] << 8 | dos[62] << 16 | static_cast<long>(dos[63]) << 24;
    unsigned char pe[6] = {};
    in.seekg(at);
    in.read(reinterpret_cast<char *>(pe), sizeof pe);
    if (dos[0] != 'M' || dos[1] != 'Z' || pe[0] != 'P' || pe[1] != 'E' || pe[2] || pe[3])
        return -1;
    return pe[4] | pe[5] << 8;
}

// The PE machine of each CPU name.
const std::map<std::string, int> cpu_pe_machine = {
    {"amd64", 0x8664}, {"i386", 0x14c}, {"armv7", 0x1c4}, {"arm64", 0xaa64}};

// The library plug-roster links, beside the plug-ins.
std::string library_file() { return windows() ? "liblorvex.dll" : "liblorvex.so"; }

// Where scripts/pd-hosts keeps the Pd releases (and Pd's package manager code).
std::pair<std::string, std::optional<std::string>> pd_hosts()
{
    return {"PD_HOSTS", (fs::path(LORVEX_BUILD_DIR) / "pd-hosts").string()};
}

// A line of the output that starts with `head` and names `word`.
bool has_line(const Result &r, const std::string &head, const std::string &word)
{
    for (const auto &l : r.lines)
        if (l.rfind(head, 0) == 0 && l.find(word) != std::string::npos)
            return true;
    return false;
}

// The build holds the double-precision flavour (Pd64) too: always when these
// scenarios run in Pd64, else when the build made it.
bool has_pd64_flavour()
{
    return pd64 || fs::exists(plugin_dir() / "orvo_lo.linux-amd64-64.so");
}

std::vector<std::string> expected_files(const std::vector<std::string> &classes)
{
    std::vector<std::string> files = {
        "lorvex-meta.pd", "lorvex-overview.pd", "README.md", "LICENSE", library_file()};
    for (const auto &c : classes) {
        files.push_back(c + module_suffix());
        if (has_pd64_flavour())
            files.push_back(c + ".linux-amd64-64.so");
        files.push_back(c + "-help.pd");
    }
    // The examples, with the programs and the sound beside them.
    for (const auto &e : fs::directory_iterator(plugin_dir() / "examples"))
        files.push_back("examples/" + e.path().filename().string());
    return files;
}

} // namespace

TEST(Install, PdLoadsEveryObjectFromTheInstalledFolderAlone)
{
    const auto classes = built_classes();
    ASSERT_FALSE(classes.empty());
    TempDir tmp;
    fs::path libdir = tmp.path / "stage" / "extra", bindir = tmp.path / "stage" / "bin",
             mandir = tmp.path / "stage" / "man";
    Result inst = run_process({"sh", (source_dir() / "scripts" / "install").string(),
                                  build_dir().string(), libdir.string(), bindir.string(), mandir.string()},
        {}, tmp.path, 60);
    ASSERT_EQ(inst.exit_code, 0) << inst.output();
    fs::path installed = libdir / "lorvex";
    for (const auto &f : expected_files(classes))
        EXPECT_TRUE(fs::exists(installed / f)) << f;
    if (fs::exists(build_dir() / "bin")) {
        for (const auto &e : fs::directory_iterator(build_dir() / "bin")) {
            EXPECT_TRUE(fs::exists(bindir / e.path().filename())) << e.path();
            // Each tool with its manual page, where man finds it (named
            // without Windows' .exe).
            fs::path tool = e.path().filename();
            if (tool.extension() == ".exe")
                tool.replace_extension();
            const std::string page = tool.string() + ".1";
            EXPECT_TRUE(fs::exists(mandir / "man1" / page)) << page;
        }
    }

    // Pd sees only the installed folder (and the test probes): every class
    // must create from there, plug-roster finding liblorvex beside itself.
    PluginDirOverride use(installed);
    ASSERT_EQ(plugin_dir(), installed);
    Scenario s;
    for (const auto &c : classes) {
        ClassOptions opt = class_options(c);
        for (const auto &lib : opt.libs)
            s.lib(lib);
        for (const auto &[k, v] : opt.env)
            v ? s.env(k, *v) : s.unset_env(k);
        if (opt.nobox)
            s.lib(c);
        else
            s.patch.obj(c);
    }
    s.say("loaded");
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.contains("lvx: loaded")) << r.output();
    EXPECT_FALSE(r.contains("couldn't create")) << r.output();
    EXPECT_FALSE(r.contains("can't load library")) << r.output();
}

TEST(Install, ReplacesAnEarlierInstallation)
{
    TempDir tmp;
    fs::path stale = tmp.path / "extra" / "lorvex" / "gone-help.pd";
    fs::create_directories(stale.parent_path());
    std::ofstream(stale) << "old";
    Result inst = run_process({"sh", (source_dir() / "scripts" / "install").string(),
                                  build_dir().string(), (tmp.path / "extra").string(),
                                  (tmp.path / "bin").string()},
        {}, tmp.path, 60);
    ASSERT_EQ(inst.exit_code, 0) << inst.output();
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(tmp.path / "extra" / "lorvex" / "lorvex-meta.pd"));
}

TEST(Package, ArchiveNameAndContentFollowThePackageFormat)
{
    TempDir tmp;
    Result p = run_process({"sh", (source_dir() / "scripts" / "package").string(),
                               tmp.path.string(), build_dir().string()},
        {pd_hosts()}, tmp.path, 280);
    ASSERT_EQ(p.exit_code, 0) << p.output();
    // One archive, named lorvex[v<version>](<OS>-<cpu>-<float size>)..., one
    // platform for each flavour of the plug-ins it holds.
    std::vector<std::string> made;
    for (const auto &e : fs::directory_iterator(tmp.path))
        if (e.path().extension() == ".dek")
            made.push_back(e.path().filename().string());
    ASSERT_EQ(made.size(), 1u) << p.output();
    const std::string name = made[0];
    const std::regex format(R"(lorvex\[v)" + std::string(LORVEX_VERSION_TEXT) +
                            R"(\](\((Linux|Windows)-(amd64|armv7|arm64|i386)-(32|64)\))+\.dek)");
    ASSERT_TRUE(std::regex_match(name, format)) << name;
    // Each platform in the name is one the plug-ins were built for: a Linux
    // archive names Linux ones only, a Windows archive Windows ones.
    const std::regex platform(R"(\((Linux|Windows)-([a-z0-9]+)-([0-9]+)\))");
    for (std::sregex_iterator m(name.begin(), name.end(), platform), e; m != e; ++m) {
        const std::string os = (*m)[1], cpu = (*m)[2], floatsize = (*m)[3];
        EXPECT_EQ(os, windows() ? "Windows" : "Linux") << name;
        if (os == "Windows") {
            const fs::path file = plugin_dir() / "orvo_lo.dll";
            ASSERT_TRUE(fs::exists(file)) << file;
            EXPECT_EQ(floatsize, "32") << name;
            EXPECT_EQ(pe_machine(file), cpu_pe_machine.at(cpu)) << file;
        } else {
            const fs::path file = floatsize == "32"
                ? plugin_dir() / "orvo_lo.pd_linux"
                : plugin_dir() / ("orvo_lo.linux-" + cpu + "-" + floatsize + ".so");
            ASSERT_TRUE(fs::exists(file)) << file;
            EXPECT_EQ(elf_machine(file), cpu_machine.at(cpu)) << file;
        }
        // Pd's package manager parsed, accepted and installed it, and Pd then
        // loaded every object from the folder it installed.
        const std::string plat = os + "-" + cpu + "-" + floatsize;
        EXPECT_TRUE(has_line(p, "accepted on: ", plat)) << p.output();
        EXPECT_TRUE(p.contains("loaded in Pd for " + plat + " (")) << p.output();
    }
    EXPECT_EQ(name.find("(Linux-amd64-64)") != std::string::npos, has_pd64_flavour()) << name;
    EXPECT_TRUE(p.contains("parsed: lorvex " + std::string(LORVEX_VERSION_TEXT) + ", platforms "))
        << p.output();
    EXPECT_TRUE(p.contains("installed: ")) << p.output();
    fs::path archive = tmp.path / name;

    // The checksum file names the archive and matches it.
    std::string sum = read_file(tmp.path / (name + ".sha256"));
    EXPECT_NE(sum.find(name), std::string::npos) << sum;
    Result check = run_process({"sha256sum", "-c", name + ".sha256"}, {}, tmp.path, 30);
    EXPECT_EQ(check.exit_code, 0) << check.output();

    // A zip whose every entry lies in the folder lorvex/, holding the library.
    Result list = run_process({"unzip", "-Z1", archive.string()}, {}, tmp.path, 30);
    ASSERT_EQ(list.exit_code, 0) << list.output();
    std::set<std::string> entries(list.lines.begin(), list.lines.end());
    for (const auto &e : entries)
        EXPECT_EQ(e.rfind("lorvex/", 0), 0u) << e;
    for (const auto &f : expected_files(built_classes()))
        EXPECT_TRUE(entries.count("lorvex/" + f)) << f;

    // Its metadata carries the same version.
    EXPECT_NE(read_file(plugin_dir() / "lorvex-meta.pd").find("VERSION " + std::string(LORVEX_VERSION_TEXT)),
        std::string::npos);
}

// The check with the package manager's code refuses an archive whose name
// does not tell what it holds, and one that Pd cannot load from where the
// package manager put it.
TEST(Package, PackageManagerCheckRefusesWhatDoesNotFit)
{
    TempDir tmp;
    Result zip = run_process({"zip", "-q", "-r", "-X", (tmp.path / "good.zip").string(), "lorvex"},
        {}, build_dir(), 60);
    ASSERT_EQ(zip.exit_code, 0) << zip.output();
    Result plat = run_process({"sh", (source_dir() / "scripts" / "platforms").string(),
                                  plugin_dir().string()},
        {}, tmp.path, 30);
    ASSERT_EQ(plat.exit_code, 0) << plat.output();
    std::string platforms;
    for (const auto &l : plat.lines)
        platforms += "(" + l + ")";
    const std::string version = LORVEX_VERSION_TEXT;
    const std::string other = plat.lines[0].find("-amd64-") != std::string::npos ? "arm64" : "amd64";
    // A platform of the other system, named beside the archive's own.
    const std::string stranger = windows() ? "(Linux-amd64-32)" : "(Windows-amd64-32)";
    auto check = [&](const std::string &name, const fs::path &from) {
        fs::copy_file(from, tmp.path / name);
        return run_process({"sh", (source_dir() / "scripts" / "deken-check").string(),
                               (tmp.path / name).string()},
            {pd_hosts()}, tmp.path, 280);
    };

    Result good = check("lorvex[v" + version + "]" + platforms + ".dek", tmp.path / "good.zip");
    ASSERT_EQ(good.exit_code, 0) << good.output();

    for (const std::string &name :
        {"lorvex[v" + version + "](Linux-" + other + "-32).dek",
            "lorvex[v" + version + "]" + platforms + stranger + ".dek",
            "lorvex[v" + version + "].dek"}) {
        Result r = check(name, tmp.path / "good.zip");
        EXPECT_NE(r.exit_code, 0) << name;
        EXPECT_TRUE(r.contains("parsed as platforms")) << r.output();
    }
    Result renamed = check("lorvex[v9" + version + "]" + platforms + ".dek", tmp.path / "good.zip");
    EXPECT_NE(renamed.exit_code, 0);
    EXPECT_TRUE(renamed.contains("parsed as version '9" + version + "'")) << renamed.output();

    // Without the library plug-roster links, plug-roster does not load.
    fs::copy_file(tmp.path / "good.zip", tmp.path / "broken.zip");
    Result del = run_process({"zip", "-q", "-d", (tmp.path / "broken.zip").string(),
                                 "lorvex/" + library_file()},
        {}, tmp.path, 30);
    ASSERT_EQ(del.exit_code, 0) << del.output();
    Result broken = check("lorvex[v" + version + "]" + platforms + "-broken.dek", tmp.path / "broken.zip");
    EXPECT_NE(broken.exit_code, 0);
    EXPECT_TRUE(broken.contains("did not create every object")) << broken.output();
    EXPECT_TRUE(broken.contains("plug-roster")) << broken.output();
}

// ---- the tools explain themselves -----------------------------------------------

namespace {

// A tool's standard output alone (standard error to /dev/null), and its exit status.
Result tool_stdout(const std::string &tool, const std::string &args)
{
    return run_process({"sh", "-c", "'" + (tool_dir() / tool).string() + "' " + args + " 2>/dev/null"}, {},
        fs::temp_directory_path(), 30);
}

// The options and commands a tool's usage names: words such as "-p", "--help"
// or "status" at the start of an indented line.
std::set<std::string> usage_terms(const Result &usage)
{
    std::set<std::string> out;
    static const std::regex term(R"(^  (--?[A-Za-z0-9-]+|[a-z]+ )(, (--[a-z]+))?)");
    for (const auto &l : usage.lines) {
        std::smatch m;
        if (std::regex_search(l, m, term)) {
            std::string t = m[1];
            if (t.back() == ' ')
                t.pop_back();
            out.insert(t);
            if (m[3].matched)
                out.insert(m[3]);
        }
    }
    return out;
}

} // namespace

// --help prints the usage on standard output and succeeds, --version the
// version; a mistake prints the usage on standard error and fails with 2.
TEST(Tools, HelpAndVersionAnswerOnStandardOutput)
{
    for (const std::string tool : {"lorvex-recv", "lorvex-shm"}) {
        SCOPED_TRACE(tool);
        for (const std::string ask : {"--help", "-h"}) {
            Result help = tool_stdout(tool, ask);
            EXPECT_EQ(help.exit_code, 0);
            ASSERT_FALSE(help.lines.empty());
            EXPECT_EQ(help.lines[0].rfind("usage: " + tool + " ", 0), 0u) << help.output();
        }
        Result version = tool_stdout(tool, "--version");
        EXPECT_EQ(version.exit_code, 0);
        EXPECT_EQ(version.lines, std::vector<std::string>{tool + " (lorvex) " + LORVEX_VERSION_TEXT});
        Result wrong = tool_stdout(tool, "--no-such-option");
        EXPECT_EQ(wrong.exit_code, 2);
        EXPECT_TRUE(wrong.lines.empty()) << "on standard output: " << wrong.output();
        Result told = run_process({(tool_dir() / tool).string(), "--no-such-option"}, {}, fs::temp_directory_path(), 30);
        EXPECT_TRUE(told.contains("usage: " + tool)) << told.output();
    }
}

// Each manual page renders without a warning from man and describes every
// option and command the tool's usage names, its exit status and examples.
TEST(Tools, ManualPagesDescribeEveryOption)
{
    for (const std::string tool : {"lorvex-recv", "lorvex-shm"}) {
        SCOPED_TRACE(tool);
        const fs::path page = build_dir() / "man" / (tool + ".1");
        ASSERT_TRUE(fs::exists(page));
        // Warnings go to standard error, the page to /dev/null.
        Result warnings = run_process({"sh", "-c", "man --warnings -E UTF-8 -l -Tutf8 -Z '" + page.string() +
                                                       "' >/dev/null"},
            {{"LC_ALL", "C.UTF-8"}, {"MANWIDTH", "80"}}, fs::temp_directory_path(), 30);
        EXPECT_EQ(warnings.exit_code, 0) << warnings.output();
        EXPECT_TRUE(warnings.lines.empty()) << warnings.output();
        Result shown = run_process({"man", "-l", page.string()}, {{"MANWIDTH", "200"}, {"LC_ALL", "C.UTF-8"}},
            fs::temp_directory_path(), 30);
        ASSERT_EQ(shown.exit_code, 0) << shown.output();
        std::string text = shown.output();
        for (const char *section : {"SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "FILES", "EXAMPLES"})
            EXPECT_NE(text.find(section), std::string::npos) << section;
        EXPECT_NE(text.find("lorvex " + std::string(LORVEX_VERSION_TEXT)), std::string::npos) << "the version";
        const auto terms = usage_terms(tool_stdout(tool, "--help"));
        EXPECT_GE(terms.size(), 3u);
        for (const auto &t : terms) {
            // An option or command starts an item of the page's lists (alone, or after another name for it).
            const std::regex item("\n {7}(\\S+, )*" + t + "[ ,\n]");
            EXPECT_TRUE(std::regex_search(text, item)) << t << " is not described";
        }
    }
}

TEST(Overview, ListsEveryObjectAndOpensItsHelp)
{
    const std::string overview = read_file(plugin_dir() / "lorvex-overview.pd");
    Scenario s;
    for (const auto &c : built_classes())
        for (const auto &[k, v] : class_options(c).env)
            v ? s.env(k, *v) : s.unset_env(k);
    s.send("pd open lorvex-overview.pd " + plugin_dir().string());
    for (const auto &c : built_classes()) {
        EXPECT_NE(overview.find(" " + c + ";"), std::string::npos) << c << " is not listed";
        // A click on a name sends it to lorvex-help; the help canvas then
        // answers a message, or Pd says there is no such object.
        s.send("lorvex-help " + c).send("pd-" + c + "-help.pd dirty 0");
    }
    Result r = s.run();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_FALSE(r.contains("no such object")) << r.output();
}
