// karbox in the real Pd against real System V segments, with real second
// processes: lorvex-shm (the command-line peer) and a second Pd. Every test
// owns its keys; whatever segments remain under them are removed when the
// test ends, even when it fails, and ipcs is asked before and after.
//
// In Pd for Windows (under wine) the blocks are named file mappings, which
// Windows removes with their last holder: the peers are lorvex-shm.exe and a
// second Pd for Windows in the same wine prefix, lorvex-shm.exe list is
// asked instead of ipcs, and where Windows must differ (a block nobody
// holds is gone; allocate joins a block others hold again) the scenario
// says so.
#include <gtest/gtest.h>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <poll.h>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "pd.hpp"

using namespace lorvex::test;
using floats = std::vector<pd_float>;
using strings = std::vector<std::string>;

namespace {

// Keys that no other run can hold at the same time and that Pd's 32-bit
// floats carry exactly: 2^(24+c) + (2 * pid + b) * 2^(c+1) for c = 0..6 and
// b = 0..1, fourteen per process, all above the keys a patch usually types.
int unique_key()
{
    static int next = 0;
    const int i = next++ % 14;
    const int c = i % 7, b = i / 7;
    const std::int64_t pid = getpid() & 0x3FFFFF;
    return static_cast<int>((std::int64_t{1} << (24 + c)) + ((pid * 2 + b) << (c + 1)));
}

Result shm_tool(const strings &args);

// The keys of the segments `ipcs -m` lists; on Windows, of the blocks
// lorvex-shm.exe lists in the session.
std::set<long> ipcs_keys()
{
    std::set<long> keys;
    if (windows()) {
        for (const std::string &l : shm_tool({"list"}).lines)
            if (!l.empty() && l[0] >= '1' && l[0] <= '9')
                keys.insert(std::strtol(l.c_str(), nullptr, 10));
        return keys;
    }
    FILE *p = popen("ipcs -m", "r");
    if (!p)
        return keys;
    char line[512];
    while (std::fgets(line, sizeof line, p))
        if (std::strncmp(line, "0x", 2) == 0)
            keys.insert(std::strtol(line, nullptr, 16));
    pclose(p);
    return keys;
}

// A test's keys. Segments left under them by an earlier process with the
// same pid are removed first; everything under them is removed at the end.
class Keys {
public:
    explicit Keys(int n)
    {
        for (int i = 0; i < n; i++)
            keys_.push_back(unique_key());
        remove();
        EXPECT_TRUE(listed().empty()) << "segments under fresh keys";
    }
    ~Keys() { remove(); }
    Keys(const Keys &) = delete;
    Keys &operator=(const Keys &) = delete;

    int operator[](std::size_t i) const { return keys_[i]; }
    std::string str(std::size_t i) const { return std::to_string(keys_[i]); }

    // Those of our keys that ipcs lists.
    std::vector<int> listed() const
    {
        std::set<long> all = ipcs_keys();
        std::vector<int> out;
        for (int k : keys_)
            if (all.count(k))
                out.push_back(k);
        return out;
    }

private:
    void remove() const
    {
        for (int k : keys_) {
            int id = shmget(k, 0, 0);
            if (id != -1)
                shmctl(id, IPC_RMID, nullptr);
        }
    }
    std::vector<int> keys_;
};

// lorvex-shm's command: the program, or lorvex-shm.exe through wine.
strings tool_words() { return tool_command("lorvex-shm"); }

std::string tool_path()
{
    std::string out;
    for (const std::string &w : tool_words())
        out += (out.empty() ? "" : " ") + w;
    return out;
}

Result shm_tool(const strings &args)
{
    strings argv = tool_words();
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, {}, std::filesystem::temp_directory_path(), 10);
}

floats as_floats(const strings &lines)
{
    floats out;
    for (const auto &l : lines)
        out.push_back(std::strtof(l.c_str(), nullptr));
    return out;
}

// The value of "name value" in lorvex-shm status output.
std::string status_field(const Result &r, const std::string &name)
{
    for (const auto &l : r.lines)
        if (l.rfind(name + " ", 0) == 0)
            return l.substr(name.size() + 1);
    return "(missing)";
}

// lorvex-shm hold, running beside the test: attached to a block until
// released, then it prints what the block holds at that moment.
class Holder {
public:
    explicit Holder(const strings &args)
    {
        strings words = tool_words();
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(out[1], 2);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        first_ = read_until(true);
    }

    ~Holder()
    {
        if (in_ >= 0)
            close(in_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }

    Holder(const Holder &) = delete;
    Holder &operator=(const Holder &) = delete;

    bool attached() const { return first_.rfind("attached ", 0) == 0; }
    const std::string &first_line() const { return first_; }

    // Lets go and answers the block as it printed it, one value per line.
    strings release()
    {
        close(in_);
        in_ = -1;
        std::istringstream text(read_until(false));
        strings lines;
        for (std::string l; std::getline(text, l);)
            lines.push_back(l);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return lines;
    }

private:
    // Everything up to the first newline, or up to end of output.
    std::string read_until(bool one_line)
    {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            char c;
            if (read(out_, &c, 1) != 1)
                break;
            if (one_line && c == '\n')
                break;
            got += c;
        }
        return got;
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string first_;
};

// [karbox args] at [r name], its outlets printed as "name-left" and "name-right".
int add_karbox(Canvas &c, const std::string &args, const std::string &name = "k")
{
    int o = c.obj("karbox " + args);
    c.receive(name, o);
    c.print(o, 0, name + "-left");
    c.print(o, 1, name + "-right");
    return o;
}

// Polls [karbox] `box` every 10 ms with "memread pos" once [r start] gets 1,
// until it reads `value`. Then the answered [t b ...] fires: its outlets
// `outlets` - 1 down to 0 are the caller's, after the polling has stopped.
int poll_until(Canvas &c, int box, const std::string &start, int pos, const std::string &value,
    int outlets)
{
    int metro = c.obj("metro 10");
    c.receive(start, metro);
    int read = c.msg("memread " + std::to_string(pos));
    c.connect(metro, 0, read, 0);
    c.connect(read, 0, box, 0);
    int sel = c.obj("sel " + value);
    c.connect(box, 0, sel, 0);
    std::string t = "t";
    for (int i = 0; i <= outlets; i++)
        t += " b";
    int trigger = c.obj(t);
    c.connect(sel, 0, trigger, 0);
    int stop = c.msg("stop");
    c.connect(trigger, outlets, stop, 0);
    c.connect(stop, 0, metro, 0);
    return trigger;
}

floats ramp(int n, pd_float start, pd_float step)
{
    floats v(n);
    for (int i = 0; i < n; i++)
        v[i] = start + step * static_cast<pd_float>(i);
    return v;
}

floats concat(floats a, const floats &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(Karbox, WithoutArgumentsThereIsNoBlockUntilAllocateSucceeds)
{
    Keys keys(1);
    const std::string k = keys.str(0);
    Scenario s;
    s.array("a", {1, 2, 3});
    add_karbox(s.patch, "");
    s.send("k memset 0 1 2").send("k memset a").send("k memset").send("k memdump a")
        .send("k memdump").send("k memread 0").send("k memclear");
    s.send("k allocate 0 5").send("k allocate -3 5").send("k allocate 0.9 5");
    s.send("k allocate " + k + " 4").send("k memset").send("k memdump").send("k memread 3");
    s.dump("a");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    const std::string set_usage = "karbox usage : [memset table_name [table_name []]< or "
        "[memset src_offset data [dest_offset]< (data can be a float, a list, or a table name)";
    const std::string dump_usage = "karbox usage : [memdump table_name [table_name []]< or "
        "[memset src_offset table_name [dest_offset [size]]<";
    EXPECT_EQ(r.errors(), (strings{"id should be > 0",
        "Create a valid shared memory before setting data !",
        "Create a valid shared memory before setting data !",
        "Create a valid shared memory before setting data !",
        "Create a valid shared memory before dumping data !",
        "Create a valid shared memory before dumping data !",
        "id should be > 0", "id should be > 0", "id should be > 0", set_usage, dump_usage}))
        << r.output();
    // An id <= 0 emits nothing; success emits the id alone.
    EXPECT_EQ(r.printed("k-right"), strings{k});
    EXPECT_EQ(r.printed("k-left"), strings{"0"});
    EXPECT_EQ(r.array("a"), (floats{1, 2, 3}));
    EXPECT_TRUE(keys.listed().empty());
}

TEST(Karbox, PdAndAnotherProgramWorkOnOneBlockWhileBothRun)
{
    Keys keys(1);
    const std::string k = keys.str(0);
    const floats written{1.5f, -2.25f, 1e-7f, 3e9f, -0.5f, 100, 7, 0.125f};
    Scenario s;
    s.realtime().timeout(40);
    int box = add_karbox(s.patch, k + " 8");
    // Waits for another program to write 99 at position 7.
    int t = poll_until(s.patch, box, "poll", 7, "99", 2);
    s.patch.print(t, 1, "seen");
    s.patch.connect(t, 0, s.patch.msg("; pd quit"), 0);
    s.send("k memset 0 " + nums(written)).send("poll 1").wait(30000);
    auto pd = std::async(std::launch::async, [&s] { return s.run(); });

    // The program sees what Pd wrote, in a segment Pd created with mode 0606.
    Result print;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        print = shm_tool({"print", k, "8"});
        if (print.exit_code == 0 && as_floats(print.lines) == written)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(as_floats(print.lines), written) << print.output();
    Result status = shm_tool({"status", k});
    if (windows()) {
        EXPECT_EQ(status_field(status, "name"), "Local\\lorvex-karbox-" + k) << status.output();
    } else {
        EXPECT_EQ(status_field(status, "mode"), "0606") << status.output();
    }
    EXPECT_EQ(status_field(status, "bytes"), "32") << status.output();
    EXPECT_EQ(status_field(status, "attached"), "1") << status.output();
    // What the program writes, Pd reads.
    Result write = shm_tool({"write", k, "8", "7", "99"});
    EXPECT_EQ(write.exit_code, 0) << write.output();

    Result r = pd.get();
    EXPECT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("seen"), strings{"bang"}) << r.output();
    // Windows keeps no creator of a mapping.
    if (!windows()) {
        EXPECT_EQ(status_field(status, "creator"), std::to_string(r.pid));
    }
    // Pd was the last one attached: quitting removed the segment.
    EXPECT_TRUE(keys.listed().empty());
}

TEST(Karbox, AProgramsBlockReachesPdArrays)
{
    Keys keys(1);
    const std::string k = keys.str(0);
    const floats values{0.25f, -1, 2e-3f, 65536, -7.5f, 1};
    // A block nobody holds stays on Linux; on Windows a program holds it.
    std::unique_ptr<Holder> maker;
    if (windows()) {
        maker = std::make_unique<Holder>(strings{"-c", "hold", k, "6"});
        ASSERT_TRUE(maker->attached()) << maker->first_line();
    }
    Result w = shm_tool({"-c", "write", k, "6", "0", "0.25", "-1", "2e-3", "65536", "-7.5", "1"});
    ASSERT_EQ(w.exit_code, 0) << w.output();
    Result before = shm_tool({"status", k});
    EXPECT_EQ(status_field(before, "attached"), windows() ? "1" : "0") << before.output();
    EXPECT_EQ(status_field(before, "floats"), "6") << before.output();

    Scenario s;
    s.array("a", floats(8, -9));
    add_karbox(s.patch, k + " 6");
    s.send("k memdump a").dump("a");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.array("a"), concat(values, {-9, -9})) << r.output();
    EXPECT_TRUE(r.errors().empty()) << r.output();
    if (maker) {
        EXPECT_EQ(as_floats(maker->release()), values);
    }
    EXPECT_TRUE(keys.listed().empty()) << "Pd quit last and removes the segment";
}

TEST(Karbox, ArraysAreLaidEndToEndAndSpreadBack)
{
    Keys keys(1);
    const std::string k = keys.str(0);
    Holder peer({"-c", "hold", k, "100"});
    ASSERT_TRUE(peer.attached()) << peer.first_line();
    const floats a = ramp(60, 1, 1), b = ramp(60, -1, -0.5f);
    Scenario s;
    s.array("a", a).array("b", b).array("c", floats(60, 5)).array("d", floats(60, 5));
    add_karbox(s.patch, k + " 100");
    // A missing array contributes nothing: the next one starts where it would have.
    s.send("k memset b nothere a").send("k memdump c d").dump("c").dump("d");
    s.send("k memset a b");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.errors(), strings{"nothere: no such array"});
    EXPECT_EQ(r.array("c"), b);
    EXPECT_EQ(r.array("d"), concat(floats(a.begin(), a.begin() + 40), floats(20, 5)));
    // Pd has quit, the peer is still attached: the segment stays.
    Result status = shm_tool({"status", k});
    EXPECT_EQ(status_field(status, "attached"), "1") << status.output();
    if (windows()) {
        // Removing says who holds it; it goes with its last holder.
        Result removing = shm_tool({"remove", k});
        EXPECT_EQ(removing.exit_code, 0) << removing.output();
        EXPECT_TRUE(removing.contains("key " + k + ": held by 1 program;")) << removing.output();
    }
    EXPECT_EQ(as_floats(peer.release()), concat(a, floats(b.begin(), b.begin() + 40)));
    if (!windows()) {
        EXPECT_EQ(keys.listed(), std::vector<int>{keys[0]}) << "nobody removed it";
        EXPECT_EQ(shm_tool({"remove", k}).exit_code, 0);
    }
    EXPECT_TRUE(keys.listed().empty());
}

TEST(Karbox, PositionsAndCountsAreClippedToBlockAndArray)
{
    Keys keys(1);
    const std::string k = keys.str(0);
    Holder peer({"-c", "hold", k, "100"});
    ASSERT_TRUE(peer.attached()) << peer.first_line();
    const floats src = ramp(60, 100, 1);
    Scenario s;
    s.patch.obj("struct lvxbad float x");
    s.array("src", src).array("bad", {1, 2});
    for (const char *d : {"d1", "d2", "d3", "d4"})
        s.array(d, floats(8, -1));
    add_karbox(s.patch, k + " 100");
    s.send("lvx spoil bad lvxbad");
    s.send("k memset 0 9 9 9").send("k memclear");
    s.send("k memset 98 1 2 3 4");          // 98, 99 only
    s.send("k memset -5 5 6");              // 0, 1
    s.send("k memset 10 src 5 3");          // src[5..7] -> 10..12
    s.send("k memset 20 src 58");           // src[58..59] -> 20..21
    s.send("k memset 30 src 0 0").send("k memset 30 src 0 -4").send("k memset 100 src");
    s.send("k memset 40 1 x 3");            // a symbol writes 0
    s.send("k memset 7").send("k memset 50 bad").send("k memset 50 src -9 1"); // src[0] -> 50
    s.send("k memdump 10 d1 5 3");          // 10..12 -> d1[5..7]
    s.send("k memdump 0 d2 -4");            // from the array's start
    s.send("k memdump 95 d3");              // 95..99 -> d3[0..4]
    s.send("k memdump 0 d4 0 0").send("k memdump 3").send("k memdump 0 bad").send("k memdump 1 1");
    for (const char *i : {"-3", "1000000", "2.9", "@nan", "@inf", "@-inf", "99.99"})
        s.send("k memread " + std::string(i));
    s.dump("d1").dump("d2").dump("d3").dump("d4");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();

    floats block(100, 0);
    block[98] = 1, block[99] = 2, block[0] = 5, block[1] = 6;
    block[10] = 105, block[11] = 106, block[12] = 107, block[20] = 158, block[21] = 159;
    block[40] = 1, block[41] = 0, block[42] = 3, block[50] = 100;
    EXPECT_EQ(as_floats(peer.release()), block);
    EXPECT_EQ(r.array("d1"), (floats{-1, -1, -1, -1, -1, 105, 106, 107}));
    EXPECT_EQ(r.array("d2"), floats(block.begin(), block.begin() + 8));
    EXPECT_EQ(r.array("d3"), (floats{0, 0, 0, 1, 2, -1, -1, -1}));
    EXPECT_EQ(r.array("d4"), floats(8, -1));
    EXPECT_EQ(r.printed("k-left"), (strings{"5", "2", "0", "5", "2", "5", "2"}));
    // Pd names the missing field itself before the object's own line.
    EXPECT_EQ(r.errors(), (strings{"bad: needs floating-point 'y' field",
        "bad: bad template for tabread", "bad: needs floating-point 'y' field",
        "bad: bad template for tabwrite", ": no such array"}));
    if (!windows()) {
        EXPECT_EQ(shm_tool({"remove", k}).exit_code, 0);
    }
    EXPECT_TRUE(keys.listed().empty());
}

TEST(Karbox, GrowingFailsAndReallocatingLeavesAttachedPeersTheirData)
{
    Keys keys(1);
    const std::string k = keys.str(0);
    // The peer holds the block from its start (Windows keeps no block nobody holds).
    Holder peer({"-c", "hold", k, "4"});
    ASSERT_TRUE(peer.attached()) << peer.first_line();
    ASSERT_EQ(shm_tool({"write", k, "4", "0", "1", "2", "3", "4"}).exit_code, 0);
    Scenario s;
    add_karbox(s.patch, k + " 4");
    add_karbox(s.patch, "", "g");
    s.send("k memread 3");
    // The segment exists at 16 bytes: it cannot grow for an object that does not hold it.
    s.send("g allocate " + k + " 1000").send("g memread 0").send("g memset 0 5");
    // The holder re-allocates: the old segment goes (the peer keeps it), a new zeroed one comes.
    s.send("k allocate " + k + " 4").send("k memread 3").send("k memset 0 9").send("k memread 0");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.errors(), (strings{"id should be > 0",
        "could not allocate karbox memory Id : " + k + ", size 1000",
        "Create a valid shared memory before setting data !"}));
    EXPECT_EQ(r.printed("g-right"), (strings{"-1", k}));
    EXPECT_TRUE(r.printed("g-left").empty());
    EXPECT_EQ(r.printed("k-right"), strings{k});
    if (windows()) {
        // Windows cannot remove a block the peer holds: allocate joins it
        // again, contents and all, and the peer sees what Pd writes.
        EXPECT_EQ(r.printed("k-left"), (strings{"4", "4", "9"}));
        EXPECT_EQ(as_floats(peer.release()), (floats{9, 2, 3, 4}));
    } else {
        EXPECT_EQ(r.printed("k-left"), (strings{"4", "0", "9"}));
        EXPECT_EQ(as_floats(peer.release()), (floats{1, 2, 3, 4}));
    }
    // The old segment went with the peer; Pd removed the new one as it quit.
    EXPECT_TRUE(keys.listed().empty());
}

TEST(Karbox, TwoPdProcessesShareOneKey)
{
    Keys keys(1);
    const std::string k = keys.str(0);
    floats sent = ramp(16, -3, 0.75f);
    sent[15] = 1234.5f;

    // A writes 16 values, then waits for B's 777 at position 16.
    Scenario a;
    a.realtime().timeout(40);
    int ka = add_karbox(a.patch, k + " 17", "a");
    int ta = poll_until(a.patch, ka, "apoll", 16, "777", 2);
    a.patch.print(ta, 1, "acked");
    a.patch.connect(ta, 0, a.patch.msg("; pd quit"), 0);
    a.send("a memset 0 " + nums(sent)).send("apoll 1").wait(30000);
    // Pd for Windows takes another one loading its startup libraries in the
    // same wine prefix for a crash of its own: B starts once A's patch is open.
    std::promise<void> a_open;
    if (windows()) {
        a.patch.print(a.patch.obj("loadbang"), 0, "a-open");
        a.on_line([&a_open, told = false](const std::string &l) mutable {
            if (!told && l == "a-open: bang") {
                told = true;
                a_open.set_value();
            }
        });
    }

    // B waits for A's last value, copies the block into an array and answers.
    Scenario b;
    b.realtime().timeout(40);
    b.array("got", floats(16, -1));
    int kb = add_karbox(b.patch, k + " 17", "b");
    int tb = poll_until(b.patch, kb, "bpoll", 15, "1234.5", 4);
    b.patch.connect(tb, 3, b.patch.msg("memdump got"), 0);
    b.patch.connect(b.patch.size() - 1, 0, kb, 0);
    b.patch.connect(tb, 2, b.patch.msg("; lvx dump got"), 0);
    b.patch.connect(tb, 1, b.patch.msg("memset 16 777"), 0);
    b.patch.connect(b.patch.size() - 1, 0, kb, 0);
    b.patch.connect(tb, 0, b.patch.msg("; pd quit"), 0);
    b.send("bpoll 1").wait(30000);

    auto first = std::async(std::launch::async, [&a] { return a.run(); });
    if (windows())
        a_open.get_future().wait_for(std::chrono::seconds(20));
    Result result_b = b.run();
    Result result_a = first.get();
    ASSERT_TRUE(result_a.clean()) << result_a.output();
    ASSERT_TRUE(result_b.clean()) << result_b.output();
    EXPECT_EQ(result_b.array("got"), sent) << result_b.output();
    EXPECT_EQ(result_a.printed("acked"), strings{"bang"}) << result_a.output();
    EXPECT_TRUE(result_a.errors().empty()) << result_a.output();
    EXPECT_TRUE(result_b.errors().empty()) << result_b.output();
    // Whichever quit last removed the segment.
    EXPECT_TRUE(keys.listed().empty());
}

// Objects deleted while Pd runs: the last one attached removes the segment,
// so a new object under the key starts from zero; with another process
// still attached the segment and its data stay.
TEST(Karbox, TheLastOneOutRemovesTheSegment)
{
    for (bool with_peer : {false, true}) {
        SCOPED_TRACE(with_peer ? "with a peer attached" : "alone");
        Keys keys(1);
        const std::string k = keys.str(0);
        std::unique_ptr<Holder> peer;
        if (with_peer) {
            peer = std::make_unique<Holder>(strings{"-c", "hold", k, "4"});
            ASSERT_TRUE(peer->attached()) << peer->first_line();
        }
        Scenario s;
        add_karbox(s.patch.subpatch("one"), k + " 4", "k1");
        add_karbox(s.patch.subpatch("two"), k + " 4", "k2");
        Canvas &three = s.patch.subpatch("three");
        three.obj("r k3");
        three.obj("lvx_print three");
        s.send("k1 memset 0 7 8 9 10").send("pd-one clear").send("k2 memread 1");
        s.send("pd-two clear");
        s.send("pd-three obj 10 10 karbox " + k + " 4").send("pd-three connect 0 0 2 0")
            .send("pd-three connect 2 0 1 0").send("k3 memread 1");
        Result r = s.run();
        ASSERT_TRUE(r.clean()) << r.output();
        EXPECT_TRUE(r.errors().empty()) << r.output();
        EXPECT_EQ(r.printed("k2-left"), strings{"8"});
        EXPECT_EQ(r.printed("three"), strings{with_peer ? "8" : "0"});
        if (with_peer) {
            // Pd quit while the peer was attached: the segment outlives both
            // (on Windows, it goes with the peer).
            EXPECT_EQ(as_floats(peer->release()), (floats{7, 8, 9, 10}));
            if (!windows()) {
                EXPECT_EQ(keys.listed(), std::vector<int>{keys[0]});
                EXPECT_EQ(shm_tool({"remove", k}).exit_code, 0);
            }
        }
        EXPECT_TRUE(keys.listed().empty());
    }
}

TEST(Karbox, EmptyBlocksAndImpossibleSizesTouchNothing)
{
    Keys keys(3);
    const std::string k0 = keys.str(0), k1 = keys.str(1), k2 = keys.str(2);
    Holder peer({"-c", "hold", k0, "4"});
    ASSERT_TRUE(peer.attached()) << peer.first_line();
    ASSERT_EQ(shm_tool({"write", k0, "4", "0", "1", "2", "3", "4"}).exit_code, 0);
    Scenario s;
    s.array("a", {-1, -1});
    add_karbox(s.patch, "");
    // Size 0 joins the segment with a block of no floats: nothing to read or write.
    s.send("k allocate " + k0 + " 0").send("k memread 0").send("k memread -1").send("k memset 0 9")
        .send("k memset a").send("k memclear").send("k memdump a").dump("a");
    // Size 0 cannot create a segment; negative sizes and sizes whose bytes
    // overflow an int (2^29 floats and more) are never asked for.
    s.send("k allocate " + k1 + " 0");
    s.send("k allocate " + k2 + " -5").send("k allocate " + k2 + " 1e9")
        .send("k allocate " + k2 + " 536870912").send("k allocate " + k2 + " -1e30");
    s.send("k memset 0 1");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_TRUE(r.printed("k-left").empty());
    EXPECT_EQ(r.array("a"), (floats{-1, -1}));
    EXPECT_EQ(r.printed("k-right"), (strings{k0, "-1", k1, "-1", k2, "-1", k2, "-1", k2, "-1", k2}));
    const std::string fail = "could not allocate karbox memory Id : ";
    EXPECT_EQ(r.errors(), (strings{"id should be > 0", fail + k1 + ", size 0", fail + k2 + ", size -5",
        fail + k2 + ", size 1000000000", fail + k2 + ", size 536870912",
        fail + k2 + ", size -2147483648", "Create a valid shared memory before setting data !"}));
    EXPECT_EQ(as_floats(peer.release()), (floats{1, 2, 3, 4}));
    // k0 went when Pd moved on (the peer had it to the end); k1 and k2 never existed.
    EXPECT_TRUE(keys.listed().empty());
}

// shmat can fail after shmget succeeded: here Pd's address space is too
// small for a 2 GB segment. The block is absent and says why.
TEST(Karbox, AFailedAttachLeavesNoBlock)
{
    if (emulated())
        GTEST_SKIP() << "qemu-user reserves the guest's whole address space up front, so "
                        "Pd's address space cannot be limited under emulation";
    Keys keys(1);
    const std::string k = keys.str(0);
    Scenario s;
    Canvas c;
    int box = add_karbox(c, "");
    int m = c.msg("allocate " + k + " 500000000 , memset 0 1 , memread 0 ; pd quit");
    int lb = c.obj("loadbang");
    c.connect(lb, 0, m, 0);
    c.connect(m, 0, box, 0);
    s.file("main.pd", c.text());
    strings cmd = {"prlimit", "--as=1000000000", "--"};
    strings pd = pd_command(s.patch_path(), true, false, {});
    cmd.insert(cmd.end(), pd.begin(), pd.end());
    Result r = run_process(cmd, {}, s.dir(), 30);
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.errors(), (strings{"id should be > 0", "karbox: could not attach shared memory Id : " + k +
        ", size 500000000 (Cannot allocate memory)",
        "Create a valid shared memory before setting data !"}));
    EXPECT_EQ(r.printed("k-right"), (strings{"-1", k}));
    EXPECT_TRUE(r.printed("k-left").empty());
    // The segment it obtained but could not use is not left behind.
    EXPECT_TRUE(keys.listed().empty());
}

TEST(LorvexShm, RefusesWhatDoesNotFit)
{
    Keys keys(1);
    const std::string k = keys.str(0);
    EXPECT_EQ(shm_tool({"print", k, "4"}).exit_code, 1) << "no segment yet";
    Result sizeless = shm_tool({"-c", "clear", k, "0"});
    EXPECT_EQ(sizeless.exit_code, 1) << "a new segment needs a size";
    EXPECT_EQ(sizeless.lines, strings{"lorvex-shm: a new segment needs a SIZE above 0"});
    // On Windows a program holds the block throughout: nobody would, between the commands.
    std::unique_ptr<Holder> holder;
    if (windows()) {
        holder = std::make_unique<Holder>(strings{"-c", "hold", k, "4"});
        ASSERT_TRUE(holder->attached()) << holder->first_line();
    }
    ASSERT_EQ(shm_tool({"-c", "write", k, "4", "1", "5", "6"}).exit_code, 0);
    EXPECT_EQ(shm_tool({"write", k, "4", "3", "1", "2"}).exit_code, 1);
    EXPECT_EQ(shm_tool({"write", k, "4", "0", "x"}).exit_code, 1);
    EXPECT_EQ(shm_tool({"print", k, "5"}).exit_code, 1);
    EXPECT_EQ(shm_tool({"print", k, "4", "3", "2"}).exit_code, 1);
    // The largest numbers the tool accepts are refused with what was asked for.
    Result huge = shm_tool({"print", k, "4", "2", "9223372036854775807"});
    EXPECT_EQ(huge.exit_code, 1);
    EXPECT_EQ(huge.lines, strings{"lorvex-shm: 9223372036854775807 floats from position 2 do not fit "
                                  "in a block of 4 floats"});
    EXPECT_EQ(shm_tool({"print", k, "0", "1", "2"}).lines, (strings{"5", "6"}));
    EXPECT_EQ(shm_tool({"print", "0", "4"}).exit_code, 2);
    EXPECT_EQ(shm_tool({"print", k, "-4"}).exit_code, 2);
    // Values from standard input.
    Result piped = run_process({"sh", "-c", "printf '7 -8.5\\n9' | " + tool_path() + " write " + k + " 4 1 -"},
        {}, std::filesystem::temp_directory_path(), 10);
    EXPECT_EQ(piped.exit_code, 0) << piped.output();
    EXPECT_EQ(shm_tool({"print", k, "4"}).lines, (strings{"0", "7", "-8.5", "9"}));
    EXPECT_EQ(shm_tool({"clear", k, "4"}).exit_code, 0);
    EXPECT_EQ(shm_tool({"print", k, "0"}).lines, (strings{"0", "0", "0", "0"}));
    EXPECT_EQ(shm_tool({"remove", k}).exit_code, 0);
    if (holder)
        holder->release();
    EXPECT_TRUE(keys.listed().empty());
}

namespace {

// Whether `pid` is a descendant of this process.
bool started_by_this_test(pid_t pid)
{
    for (int depth = 0; depth < 8 && pid > 1; depth++) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
            return false;
        std::istringstream fields(line.substr(line.rfind(')') + 1));
        std::string state;
        fields >> state >> pid;
        if (pid == getpid())
            return true;
    }
    return false;
}

} // namespace

// The columns of lorvex-shm list for `key`: id, bytes, floats, attached,
// creator, state; empty when it is not listed.
strings listed_row(int key)
{
    Result r = shm_tool({"list"});
    for (const auto &l : r.lines) {
        std::istringstream words(l);
        std::string k;
        strings row;
        if (!(words >> k) || k != std::to_string(key))
            continue;
        for (std::string w; words >> w;)
            row.push_back(w);
        return row;
    }
    return {};
}

// A Pd killed by SIGKILL never removes its block. list shows it with nobody
// attached and its creator gone, and prune removes it, and of the segments
// it is shown only that one and another whose creator has exited: those
// with a process attached, with a creator still running, or with other
// permissions stay.
TEST(LorvexShm, PruneRemovesWhatAKilledPdLeft)
{
    if (windows())
        GTEST_SKIP() << "Windows removes a block with its last holder, a killed Pd too: "
                        "AKilledPdLeavesNothingOnWindows";
    Keys keys(5);
    const std::string k_pd = keys.str(0), k_held = keys.str(1), k_mine = keys.str(2), k_private = keys.str(3),
                      k_made = keys.str(4);
    Holder held({"-c", "hold", k_held, "2"});
    ASSERT_TRUE(held.attached()) << held.first_line();
    // Made by this process, which runs on, and left unattached.
    ASSERT_NE(shmget(keys[2], 16, IPC_CREAT | 0606), -1);
    // Not karbox's: read and write for the owner alone, its maker gone.
    pid_t maker = fork();
    if (maker == 0)
        _exit(shmget(keys[3], 16, IPC_CREAT | 0600) == -1);
    int status = 0;
    ASSERT_EQ(waitpid(maker, &status, 0), maker);
    ASSERT_EQ(status, 0);
    // Made by lorvex-shm, which has exited.
    ASSERT_EQ(shm_tool({"-c", "clear", k_made, "4"}).exit_code, 0);

    Scenario s;
    s.realtime().no_quit().timeout(30);
    int box = s.patch.obj("karbox " + k_pd + " 8");
    int values = s.patch.msg("memset 0 1 2 3");
    s.patch.connect(s.patch.obj("loadbang"), 0, values, 0);
    s.patch.connect(values, 0, box, 0);
    auto pd = std::async(std::launch::async, [&s] { return s.run(); });
    // Attached, and the values written at load (a slow, emulated Pd attaches
    // well before its loadbang).
    const strings written = {"1", "2", "3", "0"};
    strings row;
    for (int i = 0; i < 200 && (row.size() < 6 || row[3] != "1" ||
                                   shm_tool({"print", k_pd, "4"}).lines != written);
         i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        row = listed_row(keys[0]);
    }
    ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(row[1], "32");
    EXPECT_EQ(row[3], "1");
    EXPECT_EQ(row[5], "alive");
    const pid_t creator = static_cast<pid_t>(std::stol(row[4]));
    // Only a Pd this test started is killed.
    ASSERT_TRUE(creator > 0 && creator != getpid());
    ASSERT_TRUE(started_by_this_test(creator));
    kill(creator, SIGKILL);
    Result r = pd.get();
    if (r.pid == creator) {
        EXPECT_EQ(r.signal, SIGKILL) << r.output();
    }

    EXPECT_EQ(listed_row(keys[0]), (strings{row[0], "32", "8", "0", row[4], "gone"}));
    EXPECT_EQ(listed_row(keys[1]).at(3), "1");
    EXPECT_EQ(listed_row(keys[2]).at(5), "alive");
    EXPECT_TRUE(listed_row(keys[3]).empty()) << "other permissions are not listed";
    EXPECT_EQ(shm_tool({"print", k_pd, "4"}).lines, written);

    Result pruned = shm_tool({"prune", k_pd, k_held, k_mine, k_private, k_made});
    ASSERT_EQ(pruned.exit_code, 0) << pruned.output();
    const std::string out = pruned.output();
    EXPECT_TRUE(pruned.contains("removed key " + k_pd + " (id " + row[0] + ", 32 bytes, creator " + row[4] + " gone)")) << out;
    EXPECT_TRUE(pruned.contains("removed key " + k_made + " ")) << out;
    EXPECT_TRUE(pruned.contains("kept key " + k_held + " (id ")) << out;
    EXPECT_TRUE(pruned.contains(": processes are attached")) << out;
    EXPECT_TRUE(pruned.contains("kept key " + k_mine + " (id ")) << out;
    EXPECT_TRUE(pruned.contains(": its creator runs")) << out;
    EXPECT_TRUE(pruned.contains("kept key " + k_private + ": no segment with karbox's permissions")) << out;
    EXPECT_TRUE(pruned.contains("removed 2 segments")) << out;
    EXPECT_EQ(keys.listed(), (std::vector<int>{keys[1], keys[2], keys[3]}));
    EXPECT_EQ(as_floats(held.release()), (floats{0, 0}));
}

// Windows removes a block when its last holder goes, however it goes: a
// killed Pd leaves nothing behind, prune finds nothing to remove and says
// who holds the blocks there are.
TEST(LorvexShm, AKilledPdLeavesNothingOnWindows)
{
    if (!windows())
        GTEST_SKIP() << "on Linux a killed Pd's segment stays: PruneRemovesWhatAKilledPdLeft";
    Keys keys(2);
    const std::string k_pd = keys.str(0), k_held = keys.str(1);
    Holder held({"-c", "hold", k_held, "2"});
    ASSERT_TRUE(held.attached()) << held.first_line();

    Scenario s;
    Canvas c;
    int box = c.obj("karbox " + k_pd + " 8");
    int values = c.msg("memset 0 1 2 3");
    c.connect(c.obj("loadbang"), 0, values, 0);
    c.connect(values, 0, box, 0);
    s.file("main.pd", c.text());
    Child pd(pd_command(s.patch_path(), false, false, {}));
    // list: key, bytes, floats, programs holding it.
    auto row_of = [](const std::string &key) {
        for (const std::string &l : shm_tool({"list"}).lines) {
            std::istringstream words(l);
            std::string k;
            strings row;
            if (!(words >> k) || k != key)
                continue;
            for (std::string w; words >> w;)
                row.push_back(w);
            return row;
        }
        return strings{};
    };
    strings row;
    for (int i = 0; i < 200 && row != strings{"32", "8", "1"}; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        row = row_of(k_pd);
    }
    ASSERT_EQ(row, (strings{"32", "8", "1"}));
    EXPECT_EQ(shm_tool({"print", k_pd, "4"}).lines, (strings{"1", "2", "3", "0"}));
    kill(pd.pid(), SIGKILL);
    pd.finish(0);

    EXPECT_TRUE(row_of(k_pd).empty());
    EXPECT_EQ(row_of(k_held), (strings{"8", "2", "1"}));
    EXPECT_EQ(shm_tool({"status", k_pd}).exit_code, 1);
    Result pruned = shm_tool({"prune", k_pd, k_held});
    ASSERT_EQ(pruned.exit_code, 0) << pruned.output();
    EXPECT_EQ(pruned.lines, (strings{"kept key " + k_held + ": held by 1 program (Windows removes a "
                                     "block with its last holder)",
                                "kept key " + k_pd + ": no block with this key", "removed 0 segments"}))
        << pruned.output();
    EXPECT_EQ(keys.listed(), std::vector<int>{keys[1]});
    EXPECT_EQ(as_floats(held.release()), (floats{0, 0}));
    EXPECT_TRUE(keys.listed().empty());
}
