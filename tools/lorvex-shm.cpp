// lorvex-shm: reaches the shared float blocks of karbox from the command line
// (or from any script), by the same key: shows a segment's status, prints the
// floats, writes values, clears, or stays attached as a peer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lorvex/os/shared_block.hpp"
#include "lorvex/shm_block.hpp"
#include "shm_args.hpp"
#include "shm_system.hpp"

namespace {

using lorvex::shm_tool::fail;
using lorvex::shm_tool::describe;

// The commands of removing and listing, and -c, differ by system (shm_system.hpp).
const char usage_head[] =
    "usage: lorvex-shm [-c] COMMAND KEY [SIZE] [ARGUMENTS]   or   lorvex-shm list | prune [KEY...]\n"
    "       lorvex-shm --help | --version\n"
    "Reaches the shared float blocks of karbox, by their key.\n"
    "  status KEY                    size of the segment and the processes attached to it\n"
    "  print  KEY SIZE [FIRST [COUNT]]  the floats of the block, one per line\n"
    "  write  KEY SIZE POS VALUE...  writes the values from block position POS on\n"
    "                                (a single VALUE \"-\" reads them from standard input)\n"
    "  clear  KEY SIZE               sets every float of the block to 0\n"
    "  hold   KEY SIZE               stays attached until standard input closes,\n"
    "                                then prints the block as print does\n";
const char usage_tail[] =
    "  -h, --help    print this and exit\n"
    "  --version     print the version and exit\n"
    "KEY is the positive integer karbox is given (decimal, or hexadecimal with 0x).\n"
    "SIZE counts floats; 0 means the whole segment.\n";

// The block of `key`, attached, with the block of `floats` floats it holds.
struct block {
    lorvex::os::block_id id = lorvex::os::no_block;
    float *data = nullptr;
    std::int64_t floats = 0;

    ~block()
    {
        if (data)
            lorvex::os::detach_block(data);
        if (id != lorvex::os::no_block)
            lorvex::os::let_go_block(id);
    }
};

std::string error_text(int err)
{
    char text[256];
    lorvex::os::block_error_text(err, text, sizeof text);
    return text;
}

bool open_block(std::int32_t key, long long size, bool create, block &b, std::string &err)
{
    const std::int64_t bytes = lorvex::shm::block_bytes(size);
    if (bytes < 0) {
        err = "a block of " + std::to_string(size) + " floats is too large";
        return false;
    }
    int code = 0;
    b.id = lorvex::os::get_block(key, bytes, create, code);
    if (b.id == lorvex::os::no_block) {
        if (create && bytes == 0 && (lorvex::os::block_too_small(code) || lorvex::os::block_absent(code)))
            err = "a new segment needs a SIZE above 0";
        else if (lorvex::os::block_too_small(code))
            err = "the segment with key " + std::to_string(key) + " is smaller than " +
                  std::to_string(size) + " floats";
        else
            err = describe(code, key);
        return false;
    }
    void *at = lorvex::os::attach_block(b.id, code);
    if (!at) {
        err = "cannot attach segment " + std::to_string(b.id) + ": " + error_text(code);
        return false;
    }
    b.data = static_cast<float *>(at);
    const std::int64_t held = lorvex::os::block_size(b.id, at, code);
    if (held < 0) {
        err = "cannot query segment " + std::to_string(b.id) + ": " + error_text(code);
        return false;
    }
    const auto whole = static_cast<std::int64_t>(held / static_cast<std::int64_t>(sizeof(float)));
    b.floats = size == 0 ? std::min<std::int64_t>(whole, lorvex::shm::max_floats) : size;
    if (whole < b.floats) {
        err = "the segment with key " + std::to_string(key) + " is smaller than " +
              std::to_string(size) + " floats";
        return false;
    }
    return true;
}

void print_floats(const float *v, std::int64_t n)
{
    for (std::int64_t i = 0; i < n; i++)
        std::printf("%.9g\n", static_cast<double>(v[i]));
}

// Reads whitespace-separated values from standard input.
bool read_values(std::vector<float> &values, std::string &bad)
{
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;)
        text.append(buf, n);
    return lorvex::shm_tool::parse_floats(text, values, bad);
}

int write_values(block &b, std::int64_t pos, const std::vector<std::string> &args)
{
    std::vector<float> values;
    std::string bad;
    if (args.size() == 1 && args[0] == "-") {
        if (!read_values(values, bad))
            return fail("not a number: " + bad);
    } else {
        for (const std::string &a : args) {
            float f;
            if (!lorvex::shm_tool::parse_float(a, f))
                return fail("not a number: " + a);
            values.push_back(f);
        }
    }
    const auto n = static_cast<std::int64_t>(values.size());
    if (!lorvex::shm_tool::fits(pos, n, b.floats))
        return fail(std::to_string(n) + " values from position " + std::to_string(pos) +
                    " do not fit in a block of " + std::to_string(b.floats) + " floats");
    std::copy(values.begin(), values.end(), b.data + pos);
    return 0;
}

// Waits until standard input closes (the other side's signal to let go).
void wait_for_eof()
{
    char buf[256];
    while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
    }
}

// The whole usage: to standard output when asked for, else to standard error.
void usage(std::FILE *to)
{
    std::fputs(usage_head, to);
    std::fputs(lorvex::shm_tool::usage_of_system, to);
    std::fputs(usage_tail, to);
}

} // namespace

int main(int argc, char **argv)
{
    namespace tool = lorvex::shm_tool;
    tool::request r;
    std::string why;
    if (!tool::parse(std::vector<std::string>(argv + 1, argv + argc), r, why)) {
        if (why.empty())
            usage(stderr);
        else
            std::fprintf(stderr, "lorvex-shm: %s\n", why.c_str());
        return 2;
    }
    const auto k = static_cast<std::int32_t>(r.key);
    switch (r.what) {
    case tool::command::help: usage(stdout); return 0;
    case tool::command::version: std::printf("lorvex-shm (lorvex) %s\n", LORVEX_VERSION); return 0;
    case tool::command::list: return tool::list();
    case tool::command::prune: return tool::prune(r.keys);
    case tool::command::status: return tool::status(k);
    case tool::command::remove: return tool::remove_segment(k);
    default: break;
    }

    block b;
    std::string err;
    if (!open_block(k, r.size, r.create, b, err))
        return fail(err);
    if (r.what == tool::command::print) {
        const std::int64_t first = r.span.empty() ? 0 : r.span[0];
        const std::int64_t count = r.span.size() < 2 ? b.floats - first : r.span[1];
        if (!tool::fits(first, count, b.floats))
            return fail(std::to_string(count) + " floats from position " + std::to_string(first) +
                        " do not fit in a block of " + std::to_string(b.floats) + " floats");
        print_floats(b.data + first, count);
    } else if (r.what == tool::command::write) {
        return write_values(b, r.pos, r.values);
    } else if (r.what == tool::command::clear) {
        std::memset(b.data, 0, static_cast<std::size_t>(b.floats) * sizeof(float));
    } else {
        std::printf("attached %d\n", b.id);
        std::fflush(stdout);
        wait_for_eof();
        print_floats(b.data, b.floats);
    }
    return 0;
}
