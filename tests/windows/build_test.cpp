// The Windows build as Pd for Windows and a user's machine meet it, checked
// without wine (make test builds it and runs this): every class of the Linux
// build is a 64-bit DLL under the name Pd for Windows loads, exporting its
// setup function as Pd looks it up, and needing nothing beside it but pd.dll
// and the DLLs every Windows has (liblorvex.dll for the JACK objects, in
// their own folder); the same for the tools and for Pd for Windows itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "pd.hpp"

using namespace lorvex::test;
namespace fs = std::filesystem;

namespace {

const fs::path windows_build = LORVEX_WINDOWS_BUILD_DIR;
const fs::path pd_windows = LORVEX_PD_WINDOWS_DIR;

// What objdump says of a PE file: the DLLs it imports from, the names it
// exports and its machine.
struct Pe {
    std::set<std::string> imports;
    std::set<std::string> exports;
    std::string machine;
};

Pe read_pe(const fs::path &file)
{
    Pe pe;
    Result r = run_process({"x86_64-w64-mingw32-objdump", "-p", file.string()}, {}, ".", 60);
    EXPECT_EQ(r.exit_code, 0) << r.output();
    bool in_exports = false;
    for (const std::string &l : r.lines) {
        if (l.find("file format pei-x86-64") != std::string::npos)
            pe.machine = "x86-64";
        if (auto at = l.find("DLL Name: "); at != std::string::npos)
            pe.imports.insert(l.substr(at + 10));
        if (l.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            in_exports = true;
            continue;
        }
        if (in_exports) {
            // "\t[   0] name"
            auto close = l.find("] ");
            if (l.empty() || close == std::string::npos) {
                in_exports = false;
                continue;
            }
            pe.exports.insert(l.substr(close + 2));
        }
    }
    return pe;
}

// DLLs that come with every Windows: the C runtime, the kernel, sockets,
// the registry and the multimedia timers.
bool system_dll(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(),
        [](unsigned char c) { return std::tolower(c); });
    static const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll",
        "advapi32.dll", "user32.dll", "shell32.dll", "ole32.dll", "winmm.dll", "ntdll.dll",
        "bcrypt.dll", "shlwapi.dll", "userenv.dll"};
    return system.count(name) || name.rfind("api-ms-win-", 0) == 0;
}

// The setup function Pd looks for in a class's file: <name>_setup, a final
// '~' written "_tilde", and for a name with other characters that are not
// valid in identifiers, setup_<name> with each written 0x and two hex digits.
std::string setup_symbol(std::string cls)
{
    std::string tail;
    if (!cls.empty() && cls.back() == '~') {
        cls.pop_back();
        tail = "_tilde";
    }
    const bool plain = std::all_of(cls.begin(), cls.end(),
        [](unsigned char c) { return std::isalnum(c) || c == '_'; });
    if (plain)
        return cls + tail + "_setup";
    std::string out = "setup_";
    for (unsigned char c : cls) {
        if (std::isalnum(c) || c == '_') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02x", c);
            out += hex;
        }
    }
    return out + tail;
}

std::vector<std::string> classes_in(const fs::path &dir, const std::string &suffix)
{
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (e.path().extension() == suffix && name.rfind("lib", 0) != 0)
            out.push_back(e.path().stem().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

class WindowsBuild : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(windows_build / "lorvex"))
            GTEST_SKIP() << "no Windows build in " << windows_build
                         << " (make test makes it: make windows-plugins)";
    }
};

TEST(SetupSymbol, FollowsPdsNamingRule)
{
    EXPECT_EQ(setup_symbol("comma"), "comma_setup");
    EXPECT_EQ(setup_symbol("wavlim~"), "wavlim_tilde_setup");
    EXPECT_EQ(setup_symbol("plug-roster"), "setup_plug0x2droster");
}

TEST_F(WindowsBuild, EveryClassOfTheLinuxBuildIsThere)
{
    const auto linux_classes = classes_in(plugin_dir(), ".pd_linux");
    const auto windows_classes = classes_in(windows_build / "lorvex", ".dll");
    ASSERT_FALSE(linux_classes.empty());
    EXPECT_EQ(windows_classes, linux_classes);
    // The help patch goes with the class, on every platform; the JACK
    // objects' library with them.
    for (const auto &c : windows_classes)
        EXPECT_TRUE(fs::exists(windows_build / "lorvex" / (c + "-help.pd"))) << c;
    EXPECT_TRUE(fs::exists(windows_build / "lorvex" / "liblorvex.dll"));
}

TEST_F(WindowsBuild, EachPlugInExportsItsSetupAndNeedsOnlyPdAndWindows)
{
    const auto classes = classes_in(windows_build / "lorvex", ".dll");
    ASSERT_FALSE(classes.empty());
    for (const auto &c : classes) {
        SCOPED_TRACE(c);
        const Pe pe = read_pe(windows_build / "lorvex" / (c + ".dll"));
        EXPECT_EQ(pe.machine, "x86-64");
        EXPECT_TRUE(pe.exports.count(setup_symbol(c))) << "no " << setup_symbol(c);
        EXPECT_TRUE(pe.imports.count("pd.dll"));
        for (const auto &dll : pe.imports) {
            const bool own = dll == "pd.dll" || (dll == "liblorvex.dll" &&
                                                    fs::exists(windows_build / "lorvex" / dll));
            EXPECT_TRUE(own || system_dll(dll)) << c << ".dll needs " << dll;
        }
        // Hidden by default: nothing of the C++ runtime or of our helpers
        // leaves the DLL (a DLL without any export marked would export all).
        for (const auto &e : pe.exports)
            EXPECT_EQ(e.find("_Z"), std::string::npos) << c << ".dll exports " << e;
        EXPECT_LE(pe.exports.size(), 12u) << c;
    }
}

TEST_F(WindowsBuild, ToolsAndPdForWindowsNeedOnlyWindows)
{
    std::vector<fs::path> programs = {pd_windows / "bin" / "pd.dll", pd_windows / "bin" / "pd.com"};
    if (fs::exists(windows_build / "bin")) {
        for (const auto &e : fs::directory_iterator(windows_build / "bin"))
            if (e.path().extension() == ".exe")
                programs.push_back(e.path());
    }
    for (const auto &p : programs) {
        SCOPED_TRACE(p.string());
        ASSERT_TRUE(fs::exists(p));
        const Pe pe = read_pe(p);
        EXPECT_EQ(pe.machine, "x86-64");
        for (const auto &dll : pe.imports)
            EXPECT_TRUE(system_dll(dll) || (dll == "pd.dll" && p.filename() == "pd.com"))
                << p.filename() << " needs " << dll;
    }
}

} // namespace
