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

// What a bracket expression makes of one byte.
enum class bracket_result {
    in,         // the byte is in the set (after any '!' or '^'): matching goes on at `next`
    out,        // it is not
    literal,    // no ']' closes it: the '[' is an ordinary character
    broken      // an unknown class or element: the whole pattern matches nothing
};

inline bool known_class(std::string_view name)
{
    static constexpr const char *names[] = {"alnum", "alpha", "blank", "cntrl", "digit", "graph",
        "lower", "print", "punct", "space", "upper", "xdigit"};
    return std::any_of(std::begin(names), std::end(names), [&](const char *n) { return name == n; });
}

// The longest name a class may have.
inline constexpr std::size_t class_name_max = 256;

// The bracket expression whose first member (after any '!' or '^') is at
// p[i], read as fnmatch() reads it in the "C" locale: members, ranges,
// classes [:name:], equivalence classes [=c=] and collating elements [.c.]
// of one byte, backslash escapes; ']' first is a member. Once the byte is
// found in it, the rest is skipped to its ']' by a lighter reading (as
// fnmatch() does), which may find a pattern broken that the first did not.
inline bracket_result bracket(std::string_view p, std::size_t i, unsigned char fn, std::size_t &next)
{
    auto at = [&](std::size_t k) -> unsigned char {
        return k < p.size() ? static_cast<unsigned char>(p[k]) : 0;
    };
    // A collating symbol "[.x.]" with k at its '.': the one character it
    // names, k then past its closing "]"; -1 where it names none or several.
    auto collating_symbol = [&](std::size_t &k) -> int {
        const std::size_t start = k;
        std::size_t length = 0;
        for (;;) {
            const unsigned char d = at(++k);
            if (d == '.' && at(k + 1) == ']') {
                k += 2;
                break;
            }
            if (d == 0)
                return -1;
            length++;
        }
        return length == 1 ? at(start + 1) : -1;
    };
    const bool negate = at(i) == '!' || at(i) == '^';
    if (negate)
        i++;
    unsigned char c = at(i++);
    bool found = false;
    for (;;) {
        unsigned char cold = 0;
        bool member = false;   // c is an ordinary member (possibly a range's start)
        if (c == '\\') {
            if (at(i) == 0)
                return bracket_result::broken;
            c = at(i++);
            member = true;
        } else if (c == '[' && at(i) == ':') {
            const std::size_t start = i;
            std::string name;
            bool ordinary = false;
            for (;;) {
                if (name.size() == class_name_max)
                    return bracket_result::broken;
                c = at(++i);
                if (c == ':' && at(i + 1) == ']') {
                    i += 2;
                    break;
                }
                if (c < 'a' || c >= 'z') {
                    // No class name: the '[' is a member like any other.
                    i = start;
                    c = '[';
                    ordinary = true;
                    break;
                }
                name += static_cast<char>(c);
            }
            if (ordinary) {
                member = true;
            } else {
                if (!known_class(name))
                    return bracket_result::broken;
                if (in_class(name, fn)) {
                    found = true;
                    break;
                }
                // A class starts no range: a '-' after it is a member.
                c = at(i++);
                if (c == ']')
                    break;
                continue;
            }
        } else if (c == '[' && at(i) == '=') {
            const std::size_t start = i;
            const unsigned char e = at(i + 1);
            if (e == 0 || at(i + 2) != '=' || at(i + 3) != ']') {
                i = start;
                c = '[';
                member = true;
            } else {
                i += 4;
                if (fn == e) {
                    found = true;
                    break;
                }
                c = at(i++);
                if (c == ']')
                    break;
                continue;
            }
        } else if (c == 0) {
            return bracket_result::literal;
        } else if (c == '[' && at(i) == '.') {
            const int symbol = collating_symbol(i);
            if (symbol < 0)
                return bracket_result::broken;
            const bool is_range = at(i) == '-' && at(i + 1) != 0;
            if (!is_range && fn == symbol) {
                found = true;
                break;
            }
            cold = static_cast<unsigned char>(symbol);
            c = at(i++);
        } else {
            member = true;
        }
        if (member) {
            const bool is_range = at(i) == '-' && at(i + 1) != 0 && at(i + 1) != ']';
            if (!is_range && c == fn) {
                found = true;
                break;
            }
            cold = c;
            c = at(i++);
        }
        if (c == '-' && at(i) != ']') {
            unsigned char cend = at(i++);
            const bool escaped = cend == '\\';
            if (escaped)
                cend = at(i++);
            if (cend == 0)
                return bracket_result::broken;
            if (!escaped && cend == '[' && at(i) == '.') {
                const int symbol = collating_symbol(i);
                if (symbol < 0)
                    return bracket_result::broken;
                cend = static_cast<unsigned char>(symbol);
            }
            if (cold <= fn && fn <= cend) {
                found = true;
                break;
            }
            c = at(i++);
        }
        if (c == ']')
            break;
    }
    if (found) {
        // Skip the rest of the expression.
        for (;;) {
            c = at(i++);
            if (c == 0)
                return bracket_result::broken;
            if (c == '\\') {
                if (at(i) == 0)
                    return bracket_result::broken;
                i++;
            } else if (c == '[' && at(i) == ':') {
                const std::size_t start = i;
                std::size_t length = 0;
                bool ordinary = false;
                for (;;) {
                    c = at(++i);
                    if (++length == class_name_max)
                        return bracket_result::broken;
                    if (c == ':' && at(i + 1) == ']')
                        break;
                    if (c < 'a' || c >= 'z') {
                        i = start;
                        ordinary = true;
                        break;
                    }
                }
                if (ordinary)
                    continue;
                i += 2;
            } else if (c == '[' && at(i) == '=') {
                if (at(i + 1) == 0 || at(i + 2) != '=' || at(i + 3) != ']')
                    return bracket_result::broken;
                c = '=';
                i += 4;
            } else if (c == '[' && at(i) == '.') {
                for (;;) {
                    c = at(++i);
                    if (c == 0)
                        return bracket_result::broken;
                    if (c == '.' && at(i + 1) == ']')
                        break;
                }
                i += 2;
            }
            if (c == ']')
                break;
        }
    }
    next = i;
    return found != negate ? bracket_result::in : bracket_result::out;
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
            if (leading_dot)
                return false;
            std::size_t next = 0;
            switch (bracket(p, pi + 1, c, next)) {
            case bracket_result::in: pi = next; break;
            case bracket_result::literal:
                if (c != '[')
                    return false;
                pi++;
                break;
            default: return false;
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

// A pattern without wildcards as the name it stands for: escapes removed,
// and a backslash at the very end with them.
inline std::string unescape(std::string_view p)
{
    std::string out;
    out.reserve(p.size());
    for (std::size_t i = 0; i < p.size(); i++) {
        if (p[i] == '\\' && ++i == p.size())
            break;
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
