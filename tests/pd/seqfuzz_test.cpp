// Message sequences: every class, in the sanitizer build, gets a long random
// sequence of its own selectors with random arguments (numbers at the edges
// and around the documented limits, symbols, names of arrays that exist and
// that do not), mixed with changes around it: arrays made, resized to 1 or
// 1,000,000 points and deleted between messages, DSP switched on and off,
// the object deleted and made again, the block size changed. Pd must come
// through without a sanitizer report. The sequence is made up inside Pd by
// the lvxseq probe from a seed and written down step by step as it is
// taken, so a failure can be replayed exactly and cut down to the steps that
// matter.
//
// Environment: LORVEX_SEQFUZZ_MESSAGES (default 2000) messages per class,
// LORVEX_SEQFUZZ_SEED (default 1, below 16777216) the seed, LORVEX_SEQFUZZ_REPLAY=<file> runs
// a written-down sequence instead (pick its class with --gtest_filter).
// Sequences that once failed are kept in tests/seqfuzz/<class>.<what>.steps
// and replayed by every run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "pd.hpp"

using namespace lorvex::test;
namespace fs = std::filesystem;
using strings = std::vector<std::string>;

namespace {

long env_number(const char *name, long fallback)
{
    const char *v = std::getenv(name);
    return v && *v ? std::atol(v) : fallback;
}

// "fuzz edges <numbers>", "fuzz words <symbols>" and "fuzz limit <selector>
// <most>" lines of tests/sweep/<class>.sweep.
struct FuzzOptions {
    std::string edges, words;
    strings limits;
};

FuzzOptions fuzz_options(const std::string &cls)
{
    FuzzOptions o;
    std::ifstream in(source_dir() / "tests" / "sweep" / (cls + ".sweep"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream w(line);
        std::string key, what, rest;
        w >> key >> what;
        std::getline(w >> std::ws, rest);
        if (key == "fuzz" && what == "edges")
            o.edges += " " + rest;
        else if (key == "fuzz" && what == "words")
            o.words += " " + rest;
        else if (key == "fuzz" && what == "limit")
            o.limits.push_back(rest);
    }
    return o;
}

strings read_lines(const fs::path &p)
{
    strings out;
    std::ifstream in(p);
    for (std::string l; std::getline(in, l);)
        if (!l.empty() && l[0] != '#')
            out.push_back(l);
    return out;
}

struct Outcome {
    Result result;
    strings steps;   // as far as they were taken
    bool failed() const { return !result.clean() || !result.contains("lvxseq: done"); }
};

// The world the probe expects: the arrays the arguments name, pd-seq with a
// [block~] and a hostile signal, pd-seqarr for arrays that come and go.
void prepare(Scenario &s, const ClassOptions &opt, double seconds)
{
    s.sanitized().no_quit().lib("lvxseq").timeout(seconds).options(opt);
    std::vector<pd_float> ramp(64), odd(5, -3.5f), guard(11);
    for (std::size_t i = 0; i < ramp.size(); i++)
        ramp[i] = static_cast<pd_float>(i) * 0.25f - 4;
    s.array("lvxa", ramp).array("lvxb", odd).array("lvxc", {1e30f}).array("lvxg", guard);
    Canvas &c = s.patch.subpatch("seq");
    c.obj("block~ 64");
    c.obj("lvx_hostile~");
    s.patch.subpatch("seqarr");
}

Outcome run_made_up(const std::string &cls, long seed, long messages)
{
    ClassOptions opt = class_options(cls);
    FuzzOptions fo = fuzz_options(cls);
    Scenario s;
    prepare(s, opt, std::max(opt.seconds, 30 + static_cast<double>(messages) / 50));
    fs::path log = s.dir() / "steps.txt";
    if (!fo.words.empty())
        s.send("lvxseq words" + fo.words);
    for (const auto &l : fo.limits)
        s.send("lvxseq limit " + l);
    s.send("lvxseq run seq " + cls + " " + std::to_string(seed) + " " + std::to_string(messages) +
           " " + log.string() + fo.edges);
    Outcome o{s.run(), {}};
    o.steps = read_lines(log);
    return o;
}

Outcome replay(const std::string &cls, const strings &steps)
{
    ClassOptions opt = class_options(cls);
    Scenario s;
    // Short: while a sequence is cut down, one that hangs Pd is replayed many times.
    prepare(s, opt, 10 + static_cast<double>(steps.size()) / 500);
    std::string text;
    for (const auto &l : steps)
        text += l + "\n";
    s.file("replay.txt", text);
    s.send("lvxseq replay seq " + cls + " " + (s.dir() / "replay.txt").string());
    return {s.run(), steps};
}

// Cuts a failing sequence down by leaving out ever smaller stretches while it
// still fails, within a budget of replays.
strings shrink(const std::string &cls, strings steps, int budget)
{
    std::size_t parts = 2;
    while (steps.size() >= 2 && budget > 0) {
        std::size_t chunk = (steps.size() + parts - 1) / parts;
        bool cut = false;
        for (std::size_t at = 0; at < steps.size() && budget > 0; at += chunk) {
            strings fewer(steps.begin(), steps.begin() + static_cast<long>(at));
            fewer.insert(fewer.end(), steps.begin() + static_cast<long>(std::min(steps.size(), at + chunk)),
                steps.end());
            budget--;
            if (replay(cls, fewer).failed()) {
                steps = fewer;
                parts = std::max<std::size_t>(parts - 1, 2);
                cut = true;
                break;
            }
        }
        if (!cut) {
            if (parts >= steps.size())
                break;
            parts = std::min(parts * 2, steps.size());
        }
    }
    return steps;
}

std::string report(const std::string &cls, const std::string &how, const Outcome &o)
{
    // The steps up to the failure, cut down, kept in the build folder.
    strings small = o.steps.size() > 1 ? shrink(cls, o.steps, 40) : o.steps;
    fs::path dir = fs::current_path() / "seqfuzz-failures";
    fs::create_directories(dir);
    fs::path file = dir / (cls + ".steps");
    std::ofstream out(file);
    for (const auto &l : small)
        out << l << "\n";
    std::string text = how + ", class " + cls + ": Pd failed after " +
                       std::to_string(o.steps.size()) + " steps.\n" + "Cut down to " +
                       std::to_string(small.size()) + " steps, kept in " + file.string() +
                       " (replay: LORVEX_SEQFUZZ_REPLAY=" + file.string() +
                       " with --gtest_filter='*" + cls + "*'):\n";
    std::size_t from = small.size() > 60 ? small.size() - 60 : 0;
    for (std::size_t i = from; i < small.size(); i++)
        text += "  " + small[i].substr(0, 300) + "\n";
    Outcome again = replay(cls, small);
    return text + "What Pd said on the cut-down replay:\n" + again.result.output();
}

class Sequences : public ::testing::TestWithParam<std::string> {};

TEST_P(Sequences, RandomMessagesAmidChanges)
{
    const std::string cls = GetParam();
    if (class_options(cls).nobox)
        GTEST_SKIP() << cls << " registers no class";
    if (const char *file = std::getenv("LORVEX_SEQFUZZ_REPLAY"); file && *file) {
        Outcome o = replay(cls, read_lines(file));
        EXPECT_FALSE(o.failed()) << o.result.output();
        return;
    }
    // The seed travels to Pd as a float: whole numbers below 2^24 stay exact.
    const long seed = env_number("LORVEX_SEQFUZZ_SEED", 1) % 16777216;
    const long messages = env_number("LORVEX_SEQFUZZ_MESSAGES", 2000);
    Outcome o = run_made_up(cls, seed, messages);
    if (o.failed())
        ADD_FAILURE() << report(cls, "seed " + std::to_string(seed) + ", " + std::to_string(messages) +
                                         " messages",
            o);
    EXPECT_TRUE(o.result.contains("lvxseq: done")) << o.result.output();
    // Most of them must have reached an object: a class that refused to be
    // made again and again would have been tested with nothing.
    long delivered = 0;
    for (const auto &l : o.result.lines)
        if (l.rfind("lvxseq: done", 0) == 0)
            delivered = std::atol(l.substr(l.find(", ") + 2).c_str());
    EXPECT_GE(delivered, messages / 2) << o.result.output();
    EXPECT_EQ(remove_segments_left_by(o.result.pid), strings{});
}

std::string name_of(const ::testing::TestParamInfo<std::string> &info)
{
    return test_name(info.param);
}

INSTANTIATE_TEST_SUITE_P(Classes, Sequences, ::testing::ValuesIn(built_classes()), name_of);

// Sequences that once brought Pd down, cut down and kept: each is replayed.
strings kept_sequences()
{
    strings out;
    fs::path dir = source_dir() / "tests" / "seqfuzz";
    if (fs::is_directory(dir))
        for (const auto &e : fs::directory_iterator(dir))
            if (e.path().extension() == ".steps")
                out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

class Kept : public ::testing::TestWithParam<std::string> {};

TEST_P(Kept, SequenceThatOnceFailed)
{
    const std::string file = GetParam();
    const std::string cls = file.substr(0, file.find('.'));
    Outcome o = replay(cls, read_lines(source_dir() / "tests" / "seqfuzz" / file));
    EXPECT_FALSE(o.failed()) << o.result.output();
    EXPECT_EQ(remove_segments_left_by(o.result.pid), strings{});
}

std::string file_name_of(const ::testing::TestParamInfo<std::string> &info)
{
    std::string n;
    for (char c : info.param.substr(0, info.param.size() - 6))
        n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Faults, Kept, ::testing::ValuesIn(kept_sequences()), file_name_of);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Kept);

} // namespace
