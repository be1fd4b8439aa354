// The overview patch lists every object as a message box that sends its name
// to lorvex-help, and every example as one that sends its name to
// lorvex-example; the overview's own subpatches open that name's help patch
// from the overview's folder, or the example from its examples/ folder,
// wherever Pd was started.
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

TEST(Overview, NamesEveryExampleAndOnlyExamples)
{
    const std::string text = overview_text();
    std::set<std::string> named;
    std::regex box(R"(#X msg [0-9]+ [0-9]+ \\; lorvex-example ([^ ;]+);)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), box); it != std::sregex_iterator(); ++it)
        named.insert((*it)[1]);
    std::set<std::string> examples;
    for (const auto &e : fs::directory_iterator(plugin_dir() / "examples"))
        if (e.path().extension() == ".pd")
            examples.insert(e.path().stem().string());
    EXPECT_FALSE(examples.empty());
    EXPECT_EQ(named, examples);
}

// A copy of the overview in a folder of its own, beside a stand-in patch
// (at `relative`) that reports its opening; Pd runs from another folder, so
// only the overview's own location can lead to it. Answers what the
// stand-in printed.
std::vector<std::string> open_through_overview(const std::string &relative, const std::string &send)
{
    fs::path dir = fs::temp_directory_path() / ("lorvex-overview-" + std::to_string(::getpid()));
    fs::path elsewhere = dir / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories((dir / relative).parent_path());
    fs::copy_file(plugin_dir() / "lorvex-overview.pd", dir / "lorvex-overview.pd",
        fs::copy_options::overwrite_existing);
    std::ofstream(dir / relative) << "#N canvas 0 0 400 300 12;\n"
                                     "#X obj 10 10 loadbang;\n"
                                     "#X msg 10 40 opened \\; pd quit;\n"
                                     "#X obj 10 70 print standin;\n"
                                     "#X connect 0 0 1 0;\n"
                                     "#X connect 1 0 2 0;\n";
    Result r = run_process(pd_command(dir / "lorvex-overview.pd", true, false, {"-send", send}), {},
        elsewhere, 30);
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    fs::remove_all(dir);
    return r.printed("standin");
}

TEST(Overview, ANameSentToLorvexExampleOpensItFromTheExamplesFolder)
{
    EXPECT_EQ(open_through_overview("examples/lvxstandin.pd", "lorvex-example lvxstandin"),
        (std::vector<std::string>{"opened"}));
}

TEST(Overview, ANameSentToLorvexHelpOpensItsHelpBesideTheOverview)
{
    EXPECT_EQ(open_through_overview("lvxstandin~-help.pd", "lorvex-help lvxstandin~"),
        (std::vector<std::string>{"opened"}));
}

} // namespace
