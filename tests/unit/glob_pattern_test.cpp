// The wildcard language pathsift searches with, on its own and over a real
// tree of files. The tree test runs the system's search as pathsift does
// (glob() on Linux, lorvex/glob_pattern.hpp over Windows' listings in the
// Windows build) and expects the same paths in the same order on both. On
// Linux the expansion is also put side by side with glob() itself, over
// many patterns.

// Listings with 64-bit offsets, as glob() reads them: a 32-bit readdir()
// stops with EOVERFLOW where the file system hands out 64-bit ones (ext4 to
// a 32-bit program under an emulator).
#define _FILE_OFFSET_BITS 64

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "lorvex/glob_pattern.hpp"
#include "lorvex/os/file_search.hpp"

#ifndef _WIN32
#include <dirent.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using strings = std::vector<std::string>;
using lorvex::glob::match;

namespace {

TEST(GlobMatch, WildcardsAndTheLeadingDot)
{
    EXPECT_TRUE(match("*.wav", "a.wav"));
    EXPECT_TRUE(match("*.wav", ".wav.wav") == false);   // a leading '.' needs a '.'
    EXPECT_TRUE(match(".*", ".hidden"));
    EXPECT_TRUE(match(".*", "."));
    EXPECT_FALSE(match("?hidden", ".hidden"));
    EXPECT_FALSE(match("[.]hidden", ".hidden"));
    EXPECT_TRUE(match("a*", "a"));
    EXPECT_TRUE(match("a*b*c", "aXbYbc"));
    EXPECT_FALSE(match("a*b*c", "aXbYbcd"));
    EXPECT_TRUE(match("***", ""));
    EXPECT_FALSE(match("?", ""));
    EXPECT_TRUE(match("a?c", "a.c"));                   // only the first '.' is special
    // Case counts, as on Linux, whatever the file system makes of it.
    EXPECT_FALSE(match("*.WAV", "a.wav"));
}

TEST(GlobMatch, BracketExpressions)
{
    EXPECT_TRUE(match("[abc]", "b"));
    EXPECT_FALSE(match("[abc]", "d"));
    EXPECT_TRUE(match("[a-c]x", "bx"));
    EXPECT_TRUE(match("[!a-c]", "d"));
    EXPECT_TRUE(match("[^a-c]", "d"));
    EXPECT_FALSE(match("[!a-c]", "a"));
    EXPECT_TRUE(match("[]a]", "]"));                    // ']' first is a member
    EXPECT_TRUE(match("[a-]", "-"));                    // '-' last is a member
    EXPECT_FALSE(match("[c-a]", "b"));                  // an empty range
    EXPECT_TRUE(match("[[:digit:]][[:upper:]]", "7Q"));
    EXPECT_FALSE(match("[[:alpha:]]", "7"));
    EXPECT_TRUE(match("[[:punct:][:space:]]", " "));
    EXPECT_TRUE(match("[[=a=]]", "a"));
    EXPECT_TRUE(match("[[.-.]]", "-"));
    EXPECT_TRUE(match("[\\]]", "]"));                   // escaped inside
    // An unknown class or element matches nothing at all; a '[' nothing
    // closes is an ordinary character.
    EXPECT_FALSE(match("[[:nope:]]", "[[:nope:]]"));
    EXPECT_FALSE(match("*[[.ab.]]", "a"));
    EXPECT_TRUE(match("a[b", "a[b"));
    EXPECT_FALSE(match("a[b", "ab"));
}

TEST(GlobMatch, EscapesAndBytes)
{
    EXPECT_TRUE(match("\\*", "*"));
    EXPECT_FALSE(match("\\*", "a"));
    EXPECT_TRUE(match("a\\?", "a?"));
    EXPECT_FALSE(match("a\\", "a"));                    // a trailing backslash matches nothing
    EXPECT_FALSE(match("a\\", "a\\"));
    // A '?' is one byte of a UTF-8 name, as in the "C" locale; classes hold
    // no byte above 127.
    EXPECT_FALSE(match("?.wav", "\xc3\xa9.wav"));
    EXPECT_TRUE(match("??.wav", "\xc3\xa9.wav"));
    EXPECT_TRUE(match("*\xc3\xa9*", "caf\xc3\xa9!"));
    EXPECT_FALSE(match("[[:alpha:]][[:alpha:]]", "\xc3\xa9"));
    EXPECT_TRUE(match("[\xc3][\xa9]", "\xc3\xa9"));
}

// ---- one tree, searched as pathsift searches --------------------------------

std::string u8(const char8_t *s)
{
    return reinterpret_cast<const char *>(s);
}

class GlobTree : public ::testing::Test {
protected:
    fs::path root;

    void SetUp() override
    {
        root = fs::temp_directory_path() /
               ("lorvex-glob-" + std::to_string(std::random_device{}()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        for (const std::string &f : strings{"a.wav", "b.wav", "C.wav", "ab.wav", "a.txt", ".hidden",
                 ".wav", "c]", "x[1].wav", "sub/s.wav", "sub/.deep", "sub/inner/z.wav",
                 "other/o.wav", u8(u8"\u00e9t\u00e9.wav"), u8(u8"\u65e5\u672c/\u97f3.wav"),
                 u8(u8"Z\u00fc.wav")})
            touch(root / fs::path(reinterpret_cast<const char8_t *>(f.c_str())));
        fs::create_directories(root / "empty");
    }

    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    static void touch(const fs::path &p)
    {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "x";
    }

    // What the system's search finds, each path with the root cut off.
    strings search(const std::string &pattern) const
    {
        const std::string base = prefix();
        lorvex::os::path_list list{};
        const int r = lorvex::os::search_paths((base + pattern).c_str(), &list);
        strings out;
        for (std::size_t i = 0; r == 0 && i < list.gl_pathc; i++) {
            const std::string p = list.gl_pathv[i];
            out.push_back(p.compare(0, base.size(), base) == 0 ? p.substr(base.size()) : "!" + p);
        }
        EXPECT_EQ(r == lorvex::os::search_nomatch, out.empty()) << pattern;
        lorvex::os::free_paths(&list);
        EXPECT_EQ(list.gl_pathc, 0u);
        return out;
    }

    // The root as Pd writes a directory: UTF-8, '/' between the parts.
    std::string prefix() const
    {
        const std::u8string s = root.generic_u8string();
        return std::string(s.begin(), s.end()) + "/";
    }
};

TEST_F(GlobTree, SamePathsInTheSameOrderOnEverySystem)
{
    const std::string ete = u8(u8"\u00e9t\u00e9.wav"), zu = u8(u8"Z\u00fc.wav"),
                      nihon = u8(u8"\u65e5\u672c"), on = u8(u8"\u97f3.wav");
    // Byte order: upper case before lower, UTF-8 after ASCII. (No two names
    // differ in case alone: Windows' file systems cannot hold both.)
    EXPECT_EQ(search("*.wav"), (strings{"C.wav", zu, "a.wav", "ab.wav", "b.wav", "x[1].wav", ete}));
    EXPECT_EQ(search("*"), (strings{"C.wav", zu, "a.txt", "a.wav", "ab.wav", "b.wav", "c]", "empty",
                               "other", "sub", "x[1].wav", ete, nihon}));
    EXPECT_EQ(search(".*"), (strings{".", "..", ".hidden", ".wav"}));
    EXPECT_EQ(search("?.wav"), (strings{"C.wav", "a.wav", "b.wav"}));
    EXPECT_EQ(search("[ab].*"), (strings{"a.txt", "a.wav", "b.wav"}));
    EXPECT_EQ(search("[[:upper:]]*"), (strings{"C.wav", zu}));
    EXPECT_EQ(search("[!ab]*.wav"), (strings{"C.wav", zu, "x[1].wav", ete}));
    EXPECT_EQ(search("*/*.wav"), (strings{"other/o.wav", "sub/s.wav", nihon + "/" + on}));
    EXPECT_EQ(search("*/*/*"), (strings{"sub/inner/z.wav"}));
    EXPECT_EQ(search("sub/*"), (strings{"sub/inner", "sub/s.wav"}));
    EXPECT_EQ(search("*/"), (strings{"empty/", "other/", "sub/", nihon + "/"}));
    EXPECT_EQ(search("x\\[1\\].wav"), (strings{"x[1].wav"}));
    EXPECT_EQ(search("c]"), (strings{"c]"}));
    EXPECT_EQ(search(ete), (strings{ete}));
    EXPECT_EQ(search(nihon + "/*"), (strings{nihon + "/" + on}));
    EXPECT_EQ(search("*.none"), strings{});
    EXPECT_EQ(search("none/*"), strings{});
    EXPECT_EQ(search("empty/*"), strings{});
    // A pattern without wildcards is only looked for: the name as written.
    EXPECT_EQ(search("a.wav"), (strings{"a.wav"}));
    EXPECT_EQ(search("missing.wav"), strings{});
    // "dir/" is the directory, written with its '/'.
    EXPECT_EQ(search(""), (strings{""}));
    EXPECT_EQ(search("sub/"), (strings{"sub/"}));
}

#ifndef _WIN32

// ---- the expansion against glob() itself ---------------------------------

struct posix_files {
    bool list(const std::string &dir, std::vector<lorvex::glob::entry> &out)
    {
        DIR *d = opendir(dir.c_str());
        if (!d)
            return false;
        while (const dirent *e = readdir(d)) {
            lorvex::glob::entry en;
            en.name = e->d_name;
            en.is_dir = is_dir(dir + "/" + e->d_name);
            out.push_back(en);
        }
        closedir(d);
        return true;
    }
    bool exists(const std::string &p)
    {
        struct stat st;
        return lstat(p.c_str(), &st) == 0;
    }
    bool is_dir(const std::string &p)
    {
        struct stat st;
        return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    const char *home() { return std::getenv("HOME"); }
};

strings system_glob(const std::string &pattern)
{
    glob_t g{};
    strings out;
    if (glob(pattern.c_str(), GLOB_TILDE, nullptr, &g) == 0)
        out.assign(g.gl_pathv, g.gl_pathv + g.gl_pathc);
    globfree(&g);
    return out;
}

// Random patterns of wildcards, brackets, escapes, slashes, dots and names of
// the tree, relative (from inside the tree) and absolute: the expansion finds
// what glob() finds, in its order. Links (to a directory, and one dangling)
// are in the tree too.
TEST_F(GlobTree, ExpandsLikeTheSystemsGlob)
{
    fs::create_directory_symlink(root / "sub", root / "link");
    fs::create_symlink(root / "nowhere", root / "dangling");
    const fs::path before = fs::current_path();
    fs::current_path(root);
    const char *home = std::getenv("HOME");
    const std::string saved = home ? home : "";
    setenv("HOME", (root / "sub").c_str(), 1);

    const char *atoms[] = {"a", "b", "B", ".", "*", "?", "[", "]", "!", "^", "-", "\\", "/", "~",
        "\xc3\xa9", "x", "sub", "wav", ".wav", "[a-c]", "[!a]", "[[:alpha:]]", "[]a]", "[\\]]",
        "..", "\\*", "[.a.]", "[=a=]", "[a-]", "[[:digit:]]", "link", "dangl", "inner", "//",
        "~nobody-here", "[[:nope:]]", "[[.ab.]]", "[[:alpha", "[[=a", "[[.a.]-c]", "[a-[.c.]]",
        "[:", ":]", "[=", "=]", "[.", ".]", ":", "=", "[[:alpha:]-", "[a-\\[.a.]", "\\/"};
    posix_files files;
    std::mt19937 rng(22);
    const std::string abs = prefix();
    int compared = 0;
    for (int n = 0; n < 40000; n++) {
        std::string p = n % 3 == 0 ? abs : "";
        for (int k = 1 + static_cast<int>(rng() % 6); k > 0; k--)
            p += atoms[rng() % std::size(atoms)];
        const strings want = system_glob(p);
        ASSERT_EQ(lorvex::glob::expand(files, p), want) << "pattern: " << p;
        compared += !want.empty();
    }
    // Enough of them found something for the comparison to mean anything.
    EXPECT_GT(compared, 2000);

    fs::current_path(before);
    home ? setenv("HOME", saved.c_str(), 1) : unsetenv("HOME");
}

#endif

} // namespace
