// What lorvex-shm is asked to do, from its command line, and the numbers it
// reads: keys, sizes, positions, counts and float values. Kept apart from
// the segments themselves so that every text-to-number path can be tried
// on its own.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace lorvex::shm_tool {

enum class command { none, status, print, write, clear, hold, remove, list, prune, help, version };

struct request {
    command what = command::none;
    bool create = false;            // -c
    int key = 0;                    // positive
    long long size = 0;             // floats; 0: the whole segment
    std::vector<long long> span;    // print: first position, then count
    long long pos = 0;              // write: first position
    std::vector<std::string> values;  // write: the values as typed ("-": standard input)
    std::vector<int> keys;          // prune: only these (none: every segment)
};

// A whole integer in [min, max], in `base` (0: decimal, 0x hexadecimal or 0
// octal). 64 bits on every system (a long has 32 on Windows).
inline bool parse_int(const std::string &text, int base, long long min, long long max, long long &out)
{
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, base);
    if (errno || end == text.c_str() || *end || v < min || v > max)
        return false;
    out = v;
    return true;
}

inline bool parse_float(const std::string &text, float &out)
{
    char *end = nullptr;
    out = std::strtof(text.c_str(), &end);
    return end != text.c_str() && *end == 0;
}

// Whitespace-separated values; on a word that is no number, `bad` holds it.
inline bool parse_floats(const std::string &text, std::vector<float> &out, std::string &bad)
{
    const char *space = " \t\n\r\f\v";
    for (std::size_t at = text.find_first_not_of(space); at != std::string::npos;) {
        const std::size_t end = text.find_first_of(space, at);
        const std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        float f;
        if (!parse_float(word, f)) {
            bad = word;
            return false;
        }
        out.push_back(f);
        at = end == std::string::npos ? end : text.find_first_not_of(space, end);
    }
    return true;
}

// Whether `count` floats from position `first` lie inside a block of
// `floats`: said without adding the two, which may each be as large as a long long.
constexpr bool fits(std::int64_t first, std::int64_t count, std::int64_t floats) noexcept
{
    return first >= 0 && count >= 0 && first <= floats && count <= floats - first;
}

inline bool parse_key(const std::string &text, int &key)
{
    long long v = 0;
    if (!parse_int(text, 0, 1, INT_MAX, v))
        return false;
    key = static_cast<int>(v);
    return true;
}

// The request the arguments (without the program's name) make. False when
// they make none: `why` then says what is wrong, or is empty when the usage
// says it best.
inline bool parse(std::vector<std::string> args, request &r, std::string &why)
{
    why.clear();
    r = request{};
    // Asked for first, they answer whatever follows.
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        r.what = command::help;
        return true;
    }
    if (!args.empty() && args[0] == "--version") {
        r.what = command::version;
        return true;
    }
    if (!args.empty() && args[0] == "-c") {
        r.create = true;
        args.erase(args.begin());
    }
    if (args.empty())
        return false;
    const std::string &name = args[0];
    if (name == "list" && !r.create) {
        r.what = command::list;
        return args.size() == 1;
    }
    if (name == "prune" && !r.create) {
        r.what = command::prune;
        for (std::size_t i = 1; i < args.size(); i++) {
            int k = 0;
            if (!parse_key(args[i], k)) {
                why = "the key must be a positive integer, not " + args[i];
                return false;
            }
            r.keys.push_back(k);
        }
        return true;
    }
    if (args.size() < 2)
        return false;
    if (!parse_key(args[1], r.key)) {
        why = "the key must be a positive integer, not " + args[1];
        return false;
    }
    if (name == "status" || name == "remove") {
        r.what = name == "status" ? command::status : command::remove;
        return args.size() == 2;
    }
    if (name == "print")
        r.what = command::print;
    else if (name == "write")
        r.what = command::write;
    else if (name == "clear")
        r.what = command::clear;
    else if (name == "hold")
        r.what = command::hold;
    else
        return false;
    if (args.size() < 3 || !parse_int(args[2], 10, 0, LLONG_MAX, r.size))
        return false;
    switch (r.what) {
    case command::print:
        if (args.size() > 5)
            return false;
        for (std::size_t i = 3; i < args.size(); i++) {
            long long v = 0;
            if (!parse_int(args[i], 10, 0, LLONG_MAX, v))
                return false;
            r.span.push_back(v);
        }
        return true;
    case command::write:
        if (args.size() < 5 || !parse_int(args[3], 10, 0, LLONG_MAX, r.pos))
            return false;
        r.values.assign(args.begin() + 4, args.end());
        return true;
    default: return args.size() == 3;
    }
}

} // namespace lorvex::shm_tool
