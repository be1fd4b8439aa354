// Every built class has a help patch beside it that opens in Pd without a
// box Pd cannot create and without an error, and shows the object itself.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "pd.hpp"

using namespace lorvex::test;

namespace {

class Help : public ::testing::TestWithParam<std::string> {};

TEST_P(Help, OpensCleanlyAndShowsTheObject)
{
    const std::string cls = GetParam();
    ClassOptions opt = class_options(cls);
    auto help = plugin_dir() / (cls + "-help.pd");
    ASSERT_TRUE(std::filesystem::exists(help)) << help;

    std::ifstream in(help);
    std::stringstream text;
    text << in.rdbuf();
    if (!opt.nobox) {
        // A box of the class's own name, with or without arguments.
        std::string escaped = std::regex_replace(cls, std::regex(R"([~.+*?^$()\[\]{}|\\])"), R"(\$&)");
        std::regex box("#X obj [0-9-]+ [0-9-]+ " + escaped + "( |;)");
        EXPECT_TRUE(std::regex_search(text.str(), box)) << cls << " does not appear in its help";
    }

    std::vector<std::string> extra;
    for (const auto &lib : opt.libs)
        extra.insert(extra.end(), {"-lib", lib});
    if (opt.nobox)
        extra.insert(extra.end(), {"-lib", cls});
    extra.insert(extra.end(), {"-send", "pd quit"});
    auto env = opt.env;
    Result r = run_process(pd_command(help, !opt.realtime, false, extra), env,
        help.parent_path(), opt.seconds);
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_FALSE(r.contains("couldn't create")) << r.output();
    for (const std::string &e : r.errors()) {
        bool allowed = false;
        for (const std::string &a : opt.allow)
            allowed = allowed || e.find(a) != std::string::npos;
        EXPECT_TRUE(allowed) << "error line: " << e << "\n" << r.output();
    }
}

std::string name_of(const ::testing::TestParamInfo<std::string> &info)
{
    return test_name(info.param);
}

INSTANTIATE_TEST_SUITE_P(Classes, Help, ::testing::ValuesIn(built_classes()), name_of);

} // namespace
