// The wildcard language of the system's glob() as pathsift calls it (only
// GLOB_TILDE: no marks, no braces, backslash escapes, a leading '.' matched
// only by a '.'), written out for systems that have no glob(): the same
// patterns find the same paths, in the same order, as glibc's glob() in the
// "C" locale. Names are matched byte by byte, so a '?' stands for one byte
// of a UTF-8 name, as on Linux in Pd's default locale.
//
// The file system comes in through a small interface (FileSystem below), so
// that the same expansion runs over Windows' directory listings in Pd and
// over POSIX ones in the tests, where glob() itself checks it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace lorvex::glob {

// One entry of a directory listing.
struct entry {
    std::string name;
    bool is_dir = false;
};

// What expand() asks of the file system (all paths and names are UTF-8,
// with '/' between the parts):
//   bool list(const std::string &dir, std::vector<entry> &out)
//       the entries of `dir` ("." is the current directory), "." and ".."
//       included, each with whether it is a directory (or a link to one);
//       false when it cannot be read
//   bool exists(const std::string &path)   anything there, a dangling link too
//   bool is_dir(const std::string &path)   a directory, or a link to one
//   const char *home()                     the home directory, or nullptr

// ---- matching one name --------------------------------------------------------

namespace detail {

inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool is_upper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
inline bool is_lower(unsigned char c) { return c >= 'a' && c <= 'z'; }
inline bool is_alpha(unsigned char c) { return is_upper(c) || is_lower(c); }

// The classes of the "C" locale: bytes above 127 belong to none.
inline bool in_class(std::string_view cls, unsigned char c)
{
    if (cls == "alnum") return is_alpha(c) || is_digit(c);
    if (cls == "alpha") return is_alpha(c);
    if (cls == "blank") return c == ' ' || c == '\t';
    if (cls == "cntrl") return c < 32 || c == 127;
    if (cls == "digit") return is_digit(c);
    if (cls == "graph") return c > 32 && c < 127;
    if (cls == "lower") return is_lower(c);
    if (cls == "print") return c >= 32 && c < 127;
    if (cls == "punct") return c > 32 && c < 127 && !is_alpha(c) && !is_digit(c);
    if (cls == "space") return c == ' ' || (c >= '\t' && c <= '\r');
    if (cls == "upper") return is_upper(c);
    if (cls == "xdigit") return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    return false;
}

inline constexpr int bracket_invalid = -1;   // not a bracket expression: '[' is literal

// A bracket expression at p (just after '['): answers the index just past
// its ']' and whether `c` is in it; bracket_invalid when it never closes.
inline int bracket(std::string_view p, std::size_t i, unsigned char c, bool &matched)
{
    bool negate = false;
    if (i < p.size() && (p[i] == '!' || p[i] == '^')) {
        negate = true;
        i++;
    }
    bool hit = false, first = true;
    for (;;) {
        if (i >= p.size())
            return bracket_invalid;
        unsigned char lo = static_cast<unsigned char>(p[i]);
        if (lo == ']' && !first)
            break;
        first = false;
        // [:class:], [=c=], [.c.]
        if (lo == '[' && i + 1 < p.size() && (p[i + 1] == ':' || p[i + 1] == '=' || p[i + 1] == '.')) {
            const char kind = p[i + 1];
            const std::size_t close = p.find(std::string{kind, ']'}, i + 2);
            if (close == std::string_view::npos)
                return bracket_invalid;
            const std::string_view inner = p.substr(i + 2, close - i - 2);
            i = close + 2;
            if (kind == ':') {
                static constexpr const char *names[] = {"alnum", "alpha", "blank", "cntrl", "digit",
                    "graph", "lower", "print", "punct", "space", "upper", "xdigit"};
                if (std::none_of(std::begin(names), std::end(names),
                        [&](const char *n) { return inner == n; }))
                    return bracket_invalid;
                hit = hit || in_class(inner, c);
                continue;
            }
            // A collating element of the "C" locale is one byte.
            if (inner.size() != 1)
                return bracket_invalid;
            lo = static_cast<unsigned char>(inner[0]);
            if (kind == '=') {
                hit = hit || c == lo;
                continue;
            }
        } else {
            if (lo == '\\' && i + 1 < p.size())
                lo = static_cast<unsigned char>(p[++i]);
            i++;
        }
        // A range lo-hi, unless the '-' ends the expression.
        if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') {
            i++;
            unsigned char hi = static_cast<unsigned char>(p[i]);
            if (hi == '[' && i + 1 < p.size() && p[i + 1] == '.') {
                const std::size_t close = p.find(".]", i + 2);
                if (close == std::string_view::npos || close != i + 3)
                    return bracket_invalid;
                hi = static_cast<unsigned char>(p[i + 2]);
                i = close + 2;
            } else {
                if (hi == '\\' && i + 1 < p.size())
                    hi = static_cast<unsigned char>(p[++i]);
                i++;
            }
            hit = hit || (c >= lo && c <= hi);
        } else {
            hit = hit || c == lo;
        }
    }
    matched = hit != negate;
    return static_cast<int>(i + 1);
}

inline bool match_from(std::string_view p, std::size_t pi, std::string_view s, std::size_t si)
{
    while (pi < p.size()) {
        const char pc = p[pi];
        // A leading '.' is matched by nothing but a '.'.
        const bool leading_dot = si == 0 && si < s.size() && s[si] == '.';
        if (pc == '*') {
            if (leading_dot)
                return false;
            while (pi < p.size() && p[pi] == '*')
                pi++;
            if (pi == p.size())
                return true;
            for (std::size_t k = si; k <= s.size(); k++)
                if (match_from(p, pi, s, k))
                    return true;
            return false;
        }
        if (si >= s.size())
            return false;
        const unsigned char c = static_cast<unsigned char>(s[si]);
        if (pc == '?') {
            if (leading_dot)
                return false;
            pi++;
        } else if (pc == '[') {
            bool matched = false;
            const int next = bracket(p, pi + 1, c, matched);
            if (next == bracket_invalid) {
                if (c != '[')
                    return false;
                pi++;
            } else {
                if (leading_dot || !matched)
                    return false;
                pi = static_cast<std::size_t>(next);
            }
        } else if (pc == '\\') {
            // A backslash at the very end matches nothing.
            if (pi + 1 >= p.size() || static_cast<unsigned char>(p[pi + 1]) != c)
                return false;
            pi += 2;
        } else {
            if (static_cast<unsigned char>(pc) != c)
                return false;
            pi++;
        }
        si++;
    }
    return si == s.size();
}

} // namespace detail

// Whether `name` matches the pattern of one path component.
inline bool match(std::string_view pattern, std::string_view name)
{
    return detail::match_from(pattern, 0, name, 0);
}

// A pattern without wildcards as the name it stands for: escapes removed.
inline std::string unescape(std::string_view p)
{
    std::string out;
    out.reserve(p.size());
    for (std::size_t i = 0; i < p.size(); i++) {
        if (p[i] == '\\' && i + 1 < p.size())
            i++;
        out += p[i];
    }
    return out;
}

// ---- expanding a path ---------------------------------------------------------

namespace detail {

// What a pattern holds, as glob() sorts patterns: wildcards, escapes, a '['.
enum : int { plain = 0, special = 1, escaped = 2, open_bracket = 4 };

inline int kind(std::string_view p)
{
    int k = plain;
    for (std::size_t i = 0; i < p.size(); i++) {
        switch (p[i]) {
        case '?':
        case '*': return special;
        case '\\':
            if (i + 1 < p.size())
                i++;
            k |= escaped;
            break;
        case '[': k |= open_bracket; break;
        case ']':
            if (k & open_bracket)
                return special;
            break;
        default: break;
        }
    }
    return k;
}

// Whether the text ends in a backslash that nothing escapes.
inline bool ends_in_lone_backslash(const std::string &s)
{
    std::size_t n = 0;
    while (n < s.size() && s[s.size() - 1 - n] == '\\')
        n++;
    return n % 2 == 1;
}

struct flags {
    bool tilde = true;      // a leading '~' names a home directory
    bool mark = false;      // directories are written with a '/' after them
    bool only_dirs = false; // only directories match the last part
};

// The names in `dir` that `pattern` matches (not yet joined to `dir`). A
// plain name is only looked for; anything else is matched against the
// listing, where a leading '.' needs a '.'.
template <typename FileSystem>
void in_dir(FileSystem &fs, const std::string &pattern, const std::string &dir, flags f,
    std::vector<std::string> &names)
{
    if (kind(pattern) == plain) {
        if (fs.exists(dir + "/" + pattern))
            names.push_back(pattern);
        return;
    }
    std::vector<entry> entries;
    if (!fs.list(dir, entries))
        return;
    for (const entry &e : entries)
        if ((!f.only_dirs || e.is_dir) && match(pattern, e.name))
            names.push_back(e.name);
}

// `name` after `dir` and a '/', but a single '/' after the root.
inline std::string prefixed(const std::string &dir, const std::string &name)
{
    return (dir == "/" ? std::string() : dir) + "/" + name;
}

// A leading "~" or "~user" replaced by a home directory. Only the caller's
// own home is known here ("~"); "~user" stays as written, as glob() leaves
// a user it cannot find.
template <typename FileSystem>
std::string tilde(FileSystem &fs, const std::string &dirname)
{
    if (dirname.size() == 1 || dirname[1] == '/' ||
        (dirname[1] == '\\' && (dirname.size() == 2 || dirname[2] == '/'))) {
        const char *home = fs.home();
        const std::string h = home && *home ? home : "~";
        return dirname.size() == 1 ? h : h + dirname.substr(1);
    }
    return dirname;
}

// glob() over the file system, appending what `pattern` names to `out`
// (unsorted). The steps, and their corner cases, are those of glibc's glob().
template <typename FileSystem>
void expand_into(FileSystem &fs, std::string pattern, flags f, std::vector<std::string> &out)
{
    const std::size_t first = out.size();
    const std::size_t slash = pattern.rfind('/');
    std::string dirname, filename;
    bool dir_only = false;          // "~" or "~user": the answer is the directory itself
    bool current = false;           // a name in the current directory: no prefix
    if (slash == std::string::npos) {
        if (f.tilde && !pattern.empty() && pattern[0] == '~') {
            dirname = pattern;
            dir_only = true;
        } else {
            if (pattern.empty())
                return;
            filename = pattern;
            dirname = ".";
            current = true;
        }
    } else if (slash == 0 || (slash == 1 && pattern[0] == '\\')) {
        dirname = "/";
        filename = pattern.substr(slash + 1);
    } else {
        dirname = pattern.substr(0, slash);
        filename = pattern.substr(slash + 1);
        // "pattern/": the directories "pattern" names, marked (a plain name
        // is only looked for, so a file passes, unmarked, as with glob()).
        if (filename.empty() && dirname.size() > 1) {
            if (ends_in_lone_backslash(dirname))
                dirname.pop_back();
            flags marked = f;
            marked.mark = true;
            marked.only_dirs = true;
            expand_into(fs, dirname, marked, out);
            return;
        }
    }

    if (f.tilde && dirname[0] == '~')
        dirname = tilde(fs, dirname);
    if (dir_only) {
        out.push_back(f.mark && fs.is_dir(dirname) ? dirname + "/" : dirname);
        return;
    }

    const int k = kind(dirname);
    if (k & (special | open_bracket)) {
        if (ends_in_lone_backslash(dirname))
            dirname.pop_back();
        std::vector<std::string> dirs;
        flags sub;
        sub.tilde = false;
        sub.only_dirs = true;
        expand_into(fs, dirname, sub, dirs);
        for (const std::string &d : dirs) {
            std::vector<std::string> names;
            in_dir(fs, filename, d, f, names);
            for (const std::string &n : names)
                out.push_back(prefixed(d, n));
        }
    } else {
        if (k & escaped)
            dirname = unescape(dirname);
        std::vector<std::string> names;
        in_dir(fs, filename, current ? std::string(".") : dirname, f, names);
        for (const std::string &n : names)
            out.push_back(current ? n : prefixed(dirname, n));
    }
    if (f.mark)
        for (std::size_t i = first; i < out.size(); i++)
            if (fs.is_dir(out[i]))
                out[i] += "/";
}

} // namespace detail

// Every path `pattern` names, sorted by their bytes (the "C" locale's order).
template <typename FileSystem>
std::vector<std::string> expand(FileSystem &fs, const std::string &pattern)
{
    std::vector<std::string> out;
    detail::expand_into(fs, pattern, detail::flags{}, out);
    std::sort(out.begin(), out.end(), [](const std::string &a, const std::string &b) {
        return std::strcmp(a.c_str(), b.c_str()) < 0;
    });
    return out;
}

} // namespace lorvex::glob
