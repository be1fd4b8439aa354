// lorvex-shm: reaches the shared float blocks of karbox from the command line
// (or from any script), by the same key: shows a segment's status, prints the
// floats, writes values, clears, or stays attached as a peer.
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#include <csignal>
#include <ctime>
#include <sstream>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lorvex/shm_block.hpp"
#include "shm_args.hpp"

namespace {

const char usage[] =
    "usage: lorvex-shm [-c] COMMAND KEY [SIZE] [ARGUMENTS]   or   lorvex-shm list | prune [KEY...]\n"
    "       lorvex-shm --help | --version\n"
    "Reaches the shared float blocks of karbox, by their key.\n"
    "  status KEY                    size of the segment and the processes attached to it\n"
    "  print  KEY SIZE [FIRST [COUNT]]  the floats of the block, one per line\n"
    "  write  KEY SIZE POS VALUE...  writes the values from block position POS on\n"
    "                                (a single VALUE \"-\" reads them from standard input)\n"
    "  clear  KEY SIZE               sets every float of the block to 0\n"
    "  hold   KEY SIZE               stays attached until standard input closes,\n"
    "                                then prints the block as print does\n"
    "  remove KEY                    removes the segment (it goes when the last\n"
    "                                process detaches; the key is free at once)\n"
    "  list                          the segments with karbox's permissions (0606):\n"
    "                                key, id, size, processes attached, creator\n"
    "  prune  [KEY...]               removes those of them that nobody is attached\n"
    "                                to and whose creator has exited (a Pd that was\n"
    "                                killed leaves its blocks so); only the KEYs given\n"
    "  -c            create the segment (zeroed, permissions 0606) if none has this key\n"
    "  -h, --help    print this and exit\n"
    "  --version     print the version and exit\n"
    "KEY is the positive integer karbox is given (decimal, or hexadecimal with 0x).\n"
    "SIZE counts floats; 0 means the whole segment.\n";

int fail(const std::string &what)
{
    std::fprintf(stderr, "lorvex-shm: %s\n", what.c_str());
    return 1;
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
    while (read(0, buf, sizeof buf) > 0) {
    }
}

// ---- segments left behind ----------------------------------------------------

// A segment as list shows it.
struct segment {
    int id = -1;
    key_t key = 0;
    std::size_t bytes = 0;
    unsigned long attached = 0;
    pid_t creator = 0;
    time_t changed = 0;
    const char *state = "";     // of the creator: "alive", "gone" or "unknown"
};

// When process `pid` started, in seconds since the epoch; -1 when unknown.
long long process_start(pid_t pid)
{
    std::FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f)
        return -1;
    char line[1024];
    const bool got = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    // The command name in parentheses may hold spaces: count fields after it.
    const char *at = got ? std::strrchr(line, ')') : nullptr;
    if (!at)
        return -1;
    unsigned long long ticks = 0;
    std::istringstream fields(at + 1);
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; i++)
        if (i == 22)
            ticks = std::strtoull(field.c_str(), nullptr, 10);
    long long boot = -1;
    if (std::FILE *st = std::fopen("/proc/stat", "r")) {
        while (std::fgets(line, sizeof line, st))
            if (std::sscanf(line, "btime %lld", &boot) == 1)
                break;
        std::fclose(st);
    }
    const long hz = sysconf(_SC_CLK_TCK);
    return boot < 0 || hz <= 0 || ticks == 0 ? -1 : boot + static_cast<long long>(ticks / static_cast<unsigned long long>(hz));
}

// Whether the process that made a segment still runs. A process under the
// same pid that started after the segment was made is another one (the pid
// was given out again). A pid of 0 (a creator outside this pid namespace)
// is unknown, never gone.
const char *creator_state(pid_t pid, time_t made)
{
    if (pid <= 0)
        return "unknown";
    if (kill(pid, 0) != 0 && errno == ESRCH)
        return "gone";
    const long long started = process_start(pid);
    // The segment's time has whole seconds: a second's grace either way.
    if (started >= 0 && started > static_cast<long long>(made) + 1)
        return "gone";
    return "alive";
}

// Every segment with karbox's permissions, not already on its way out.
std::vector<segment> karbox_segments()
{
    std::vector<segment> out;
    shm_info info{};
    const int last = shmctl(0, SHM_INFO, reinterpret_cast<shmid_ds *>(&info));
    for (int i = 0; i <= last; i++) {
        shmid_ds ds{};
        const int id = shmctl(i, SHM_STAT, &ds);
        if (id < 0 || (ds.shm_perm.mode & 0777) != lorvex::shm::mode || (ds.shm_perm.mode & SHM_DEST))
            continue;
        segment s;
        s.id = id;
        s.key = ds.shm_perm.__key;
        s.bytes = ds.shm_segsz;
        s.attached = static_cast<unsigned long>(ds.shm_nattch);
        s.creator = ds.shm_cpid;
        s.changed = ds.shm_ctime;
        s.state = creator_state(s.creator, s.changed);
        out.push_back(s);
    }
    return out;
}

int list()
{
    std::printf("%-11s %-9s %-11s %-11s %-8s %s\n", "key", "id", "bytes", "floats", "attached", "creator");
    for (const segment &s : karbox_segments())
        std::printf("%-11d %-9d %-11zu %-11zu %-8lu %ld %s\n", s.key, s.id, s.bytes, s.bytes / 4, s.attached,
            static_cast<long>(s.creator), s.state);
    return 0;
}

// Why a segment stays, or nullptr when nobody uses it any more: no process
// is attached and the one that made it has exited, just what karbox leaves
// when its Pd is killed before it can remove its block.
const char *kept_because(const segment &s)
{
    if (s.attached != 0)
        return "processes are attached";
    if (std::strcmp(s.state, "gone") != 0)
        return std::strcmp(s.state, "alive") == 0 ? "its creator runs" : "its creator is unknown";
    return nullptr;
}

int prune(const std::vector<int> &keys)
{
    std::vector<segment> all = karbox_segments();
    int removed = 0;
    for (const segment &s : all) {
        const bool asked = keys.empty() || std::find(keys.begin(), keys.end(), s.key) != keys.end();
        if (!asked)
            continue;
        if (const char *why = kept_because(s)) {
            std::printf("kept key %d (id %d): %s\n", s.key, s.id, why);
            continue;
        }
        // Asked again just before: someone may have attached meanwhile.
        shmid_ds ds{};
        if (shmctl(s.id, IPC_STAT, &ds) != 0 || ds.shm_nattch != 0 || ds.shm_cpid != s.creator)
            continue;
        if (shmctl(s.id, IPC_RMID, nullptr) != 0) {
            std::printf("cannot remove key %d (id %d): %s\n", s.key, s.id, std::strerror(errno));
            continue;
        }
        std::printf("removed key %d (id %d, %zu bytes, creator %ld gone)\n", s.key, s.id, s.bytes,
            static_cast<long>(s.creator));
        removed++;
    }
    for (int k : keys)
        if (std::none_of(all.begin(), all.end(), [k](const segment &s) { return s.key == k; }))
            std::printf("kept key %d: no segment with karbox's permissions\n", k);
    std::printf("removed %d segment%s\n", removed, removed == 1 ? "" : "s");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    namespace tool = lorvex::shm_tool;
    tool::request r;
    std::string why;
    if (!tool::parse(std::vector<std::string>(argv + 1, argv + argc), r, why)) {
        if (why.empty())
            std::fputs(usage, stderr);
        else
            std::fprintf(stderr, "lorvex-shm: %s\n", why.c_str());
        return 2;
    }
    const auto k = static_cast<key_t>(r.key);
    switch (r.what) {
    case tool::command::help: std::fputs(usage, stdout); return 0;
    case tool::command::version: std::printf("lorvex-shm (lorvex) %s\n", LORVEX_VERSION); return 0;
    case tool::command::list: return list();
    case tool::command::prune: return prune(r.keys);
    case tool::command::status: return status(k);
    case tool::command::remove: return remove_segment(k);
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
