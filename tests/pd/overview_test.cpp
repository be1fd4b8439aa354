// The overview patch lists every object as a message box that sends its name
// to lorvex-help; the overview's own subpatch opens that name's help patch
// from the overview's folder, wherever Pd was started.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <unistd.h>

#include "pd.hpp"

using namespace lorvex::test;
namespace fs = std::filesystem;

namespace {

std::string overview_text()
{
    std::ifstream in(plugin_dir() / "lorvex-overview.pd");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Overview, NamesEveryObjectAndOnlyObjectsWithHelp)
{
    const std::string text = overview_text();
    ASSERT_FALSE(text.empty());
    std::set<std::string> named;
    std::regex box(R"(#X msg [0-9]+ [0-9]+ \\; lorvex-help ([^ ;]+);)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), box); it != std::sregex_iterator(); ++it)
        named.insert((*it)[1]);
    for (const std::string &cls : built_classes())
        EXPECT_TRUE(named.count(cls)) << cls << " is missing from the overview";
    for (const std::string &n : named)
        EXPECT_TRUE(fs::exists(plugin_dir() / (n + "-help.pd"))) << n << " has no help patch";
}

TEST(Overview, ANameSentToLorvexHelpOpensItsHelpBesideTheOverview)
{
    // A copy of the overview beside a stand-in help patch that reports its
    // opening; Pd runs from another folder, so only the overview's own
    // location can lead to it.
    fs::path dir = fs::temp_directory_path() / ("lorvex-overview-" + std::to_string(::getpid()));
    fs::path elsewhere = dir / "elsewhere";
    fs::create_directories(elsewhere);
    fs::copy_file(plugin_dir() / "lorvex-overview.pd", dir / "lorvex-overview.pd",
        fs::copy_options::overwrite_existing);
    std::ofstream(dir / "lvxstandin~-help.pd") << "#N canvas 0 0 400 300 12;\n"
                                                  "#X obj 10 10 loadbang;\n"
                                                  "#X msg 10 40 opened \\; pd quit;\n"
                                                  "#X obj 10 70 print standin;\n"
                                                  "#X connect 0 0 1 0;\n"
                                                  "#X connect 1 0 2 0;\n";
    Result r = run_process(pd_command(dir / "lorvex-overview.pd", true, false,
                               {"-send", "lorvex-help lvxstandin~"}),
        {}, elsewhere, 30);
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("standin"), (std::vector<std::string>{"opened"})) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    fs::remove_all(dir);
}

} // namespace
