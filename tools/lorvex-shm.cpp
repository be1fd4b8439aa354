// lorvex-shm: reaches the shared float blocks of karbox from the command line
// (or from any script), by the same key: shows a segment's status, prints the
// floats, writes values, clears, or stays attached as a peer.
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "lorvex/shm_block.hpp"

namespace {

const char usage[] =
    "usage: lorvex-shm [-c] COMMAND KEY [SIZE] [ARGUMENTS]\n"
    "  status KEY                    size of the segment and the processes attached to it\n"
    "  print  KEY SIZE [FIRST [COUNT]]  the floats of the block, one per line\n"
    "  write  KEY SIZE POS VALUE...  writes the values from block position POS on\n"
    "                                (a single VALUE \"-\" reads them from standard input)\n"
    "  clear  KEY SIZE               sets every float of the block to 0\n"
    "  hold   KEY SIZE               stays attached until standard input closes,\n"
    "                                then prints the block as print does\n"
    "  remove KEY                    removes the segment (it goes when the last\n"
    "                                process detaches; the key is free at once)\n"
    "  -c   create the segment (zeroed, permissions 0606) if none has this key\n"
    "KEY is the positive integer karbox is given (decimal, or hexadecimal with 0x).\n"
    "SIZE counts floats; 0 means the whole segment.\n";

int fail(const std::string &what)
{
    std::fprintf(stderr, "lorvex-shm: %s\n", what.c_str());
    return 1;
}

bool parse_int(const char *text, int base, long min, long max, long &out)
{
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, base);
    if (errno || end == text || *end || v < min || v > max)
        return false;
    out = v;
    return true;
}

bool parse_float(const std::string &text, float &out)
{
    char *end = nullptr;
    out = std::strtof(text.c_str(), &end);
    return end != text.c_str() && *end == 0;
}

std::string describe(int err, key_t key)
{
    if (err == ENOENT)
        return "no segment with key " + std::to_string(key) + " (-c creates one)";
    return "key " + std::to_string(key) + ": " + std::strerror(err);
}

// The segment of `key`, attached, with the block of `floats` floats it holds.
struct block {
    int id = -1;
    float *data = nullptr;
    std::int64_t floats = 0;

    ~block()
    {
        if (data)
            shmdt(data);
    }
};

bool open_block(key_t key, long size, bool create, block &b, std::string &err)
{
    const std::int64_t bytes = lorvex::shm::block_bytes(size);
    if (bytes < 0) {
        err = "a block of " + std::to_string(size) + " floats is too large";
        return false;
    }
    b.id = shmget(key, static_cast<std::size_t>(bytes), create ? IPC_CREAT | lorvex::shm::mode : 0);
    if (b.id == -1) {
        if (errno == EINVAL && create && bytes == 0)
            err = "a new segment needs a SIZE above 0";
        else if (errno == EINVAL)
            err = "the segment with key " + std::to_string(key) + " is smaller than " +
                  std::to_string(size) + " floats";
        else
            err = describe(errno, key);
        return false;
    }
    void *at = shmat(b.id, nullptr, 0);
    if (at == reinterpret_cast<void *>(-1)) {
        err = "cannot attach segment " + std::to_string(b.id) + ": " + std::strerror(errno);
        return false;
    }
    b.data = static_cast<float *>(at);
    shmid_ds ds{};
    if (shmctl(b.id, IPC_STAT, &ds) != 0) {
        err = "cannot query segment " + std::to_string(b.id) + ": " + std::strerror(errno);
        return false;
    }
    const auto whole = static_cast<std::int64_t>(ds.shm_segsz / sizeof(float));
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

int status(key_t key)
{
    int id = shmget(key, 0, 0);
    shmid_ds ds{};
    if (id == -1 || shmctl(id, IPC_STAT, &ds) != 0)
        return fail(describe(errno, key));
    std::printf("key %d\nid %d\nbytes %zu\nfloats %zu\nattached %lu\ncreator %ld\nlast %ld\n"
                "mode %04o\n",
        key, id, static_cast<std::size_t>(ds.shm_segsz), static_cast<std::size_t>(ds.shm_segsz / 4),
        static_cast<unsigned long>(ds.shm_nattch), static_cast<long>(ds.shm_cpid),
        static_cast<long>(ds.shm_lpid), static_cast<unsigned>(ds.shm_perm.mode & 0777));
    return 0;
}

int remove_segment(key_t key)
{
    int id = shmget(key, 0, 0);
    if (id == -1 || shmctl(id, IPC_RMID, nullptr) != 0)
        return fail(describe(errno, key));
    return 0;
}

// Reads whitespace-separated values from standard input.
bool read_values(std::vector<float> &values, std::string &bad)
{
    for (std::string word; std::cin >> word;) {
        float f;
        if (!parse_float(word, f)) {
            bad = word;
            return false;
        }
        values.push_back(f);
    }
    return true;
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
            if (!parse_float(a, f))
                return fail("not a number: " + a);
            values.push_back(f);
        }
    }
    const auto n = static_cast<std::int64_t>(values.size());
    if (pos > b.floats || n > b.floats - pos)
        return fail(std::to_string(n) + " values from position " + std::to_string(pos) +
                    " do not fit in a block of " + std::to_string(b.floats) + " floats");
    std::copy(values.begin(), values.end(), b.data + pos);
    return 0;
}

// Waits until standard input closes (the other side's signal to let go).
void wait_for_eof()
{
    char buf[256];
    while (read(0, buf, sizeof buf) > 0) {
    }
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    bool create = false;
    if (!args.empty() && args[0] == "-c") {
        create = true;
        args.erase(args.begin());
    }
    if (args.size() < 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    const std::string command = args[0];
    long key = 0;
    if (!parse_int(args[1].c_str(), 0, 1, INT_MAX, key)) {
        std::fprintf(stderr, "lorvex-shm: the key must be a positive integer, not %s\n", args[1].c_str());
        return 2;
    }
    const auto k = static_cast<key_t>(key);
    if (command == "status" && args.size() == 2)
        return status(k);
    if (command == "remove" && args.size() == 2)
        return remove_segment(k);

    const bool known = command == "print" || command == "write" || command == "clear" || command == "hold";
    long size = 0;
    if (!known || args.size() < 3 || !parse_int(args[2].c_str(), 10, 0, LONG_MAX, size)) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::vector<long> numbers;
    for (std::size_t i = 3; i < args.size() && command == "print"; i++) {
        long v = 0;
        if (!parse_int(args[i].c_str(), 10, 0, LONG_MAX, v) || i > 4) {
            std::fputs(usage, stderr);
            return 2;
        }
        numbers.push_back(v);
    }
    long pos = 0;
    if (command == "write" && (args.size() < 5 || !parse_int(args[3].c_str(), 10, 0, LONG_MAX, pos))) {
        std::fputs(usage, stderr);
        return 2;
    }
    if ((command == "clear" || command == "hold") && args.size() != 3) {
        std::fputs(usage, stderr);
        return 2;
    }

    block b;
    std::string err;
    if (!open_block(k, size, create, b, err))
        return fail(err);
    if (command == "print") {
        const std::int64_t first = numbers.empty() ? 0 : numbers[0];
        const std::int64_t count = numbers.size() < 2 ? b.floats - first : numbers[1];
        // Said without adding first and count: both may be as large as a long.
        if (first > b.floats || count > b.floats - first)
            return fail(std::to_string(count) + " floats from position " + std::to_string(first) +
                        " do not fit in a block of " + std::to_string(b.floats) + " floats");
        print_floats(b.data + first, count);
    } else if (command == "write") {
        return write_values(b, pos, std::vector<std::string>(args.begin() + 4, args.end()));
    } else if (command == "clear") {
        std::memset(b.data, 0, static_cast<std::size_t>(b.floats) * sizeof(float));
    } else {
        std::printf("attached %d\n", b.id);
        std::fflush(stdout);
        wait_for_eof();
        print_floats(b.data, b.floats);
    }
    return 0;
}
