// Long runs against real peers, watching what the Pd process holds: strimo~
// in real-time Pd through many connect/disconnect cycles against lorvex-recv
// and against a peer that accepts and closes at once, then a long stream of
// 32 float channels at 48 kHz checked sample by sample; karbox through many
// allocations of a segment that another process keeps attached. Afterwards
// Pd holds as many descriptors and threads as before (from /proc), and no
// segment is left in the system.
//
// make test runs them briefly; make soak (LORVEX_SOAK=long) runs 1000 cycles
// and LORVEX_SOAK_MINUTES (default 10) of streaming.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sndfile.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "pd.hpp"
#include "receiver.hpp"

using namespace lorvex::test;
using strings = std::vector<std::string>;

namespace {

bool long_run()
{
    const char *v = std::getenv("LORVEX_SOAK");
    return v && std::string(v) == "long";
}

int cycles() { return long_run() ? 1000 : 100; }

double stream_seconds()
{
    const char *m = std::getenv("LORVEX_SOAK_MINUTES");
    return long_run() ? 60 * (m && *m ? std::atof(m) : 10) : 5;
}

// ---- peers ----------------------------------------------------------------------



// A peer that takes every connection and closes it at once, on a thread.
class Slammer {
public:
    Slammer()
    {
        // Not handed on to Pd, whose descriptors are counted.
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd_, 16) != 0)
            throw std::runtime_error("listen failed");
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 100) == 1) {
                    int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                    if (c >= 0) {
                        close(c);
                        accepted_++;
                    }
                }
            }
        });
    }
    ~Slammer()
    {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    int port() const { return port_; }
    int accepted() const { return accepted_; }

private:
    int fd_ = -1, port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

// ---- what Pd holds -------------------------------------------------------------

struct Held {
    int fds = -1, threads = -1;
};

// The "proc:" lines lvxsoak printed, in order.
std::vector<Held> held(const Result &r)
{
    std::vector<Held> out;
    for (const auto &text : r.printed("proc")) {
        Held h;
        if (std::sscanf(text.c_str(), "fds %d threads %d", &h.fds, &h.threads) == 2)
            out.push_back(h);
    }
    return out;
}

// ---- strimo~ --------------------------------------------------------------------

// [lvx_count~ 32] into every inlet of [strimo~ 32] (at [r s]); the state
// outlet drives the cycles: `hold` ms after each connection it disconnects,
// and after each disconnection it connects again to `port`, `n` times in
// all. When the last has ended, Pd shows what it holds and quits.
void cycling_patch(Scenario &s, int port, int n, int hold)
{
    Canvas &p = s.patch;
    int src = p.obj("lvx_count~ 32");
    int x = p.obj("strimo~ 32");
    for (int c = 0; c < 32; c++)
        p.connect(src, c, x, c);
    p.receive("s", x);
    p.print(x, 0, "state");
    int sel = p.obj("sel 1 0");
    p.connect(x, 0, sel, 0);
    int wait = p.obj("delay " + std::to_string(hold));
    p.connect(sel, 0, wait, 0);
    int off = p.msg("disconnect");
    p.connect(wait, 0, off, 0);
    p.connect(off, 0, x, 0);
    int f = p.obj("f"), inc = p.obj("+ 1");
    p.connect(sel, 1, f, 0);
    p.connect(f, 0, inc, 0);
    p.connect(inc, 0, f, 1);
    int more = p.obj("moses " + std::to_string(n));
    p.connect(inc, 0, more, 0);
    int again = p.msg("connect localhost " + std::to_string(port));
    p.connect(more, 0, again, 0);
    p.connect(again, 0, x, 0);
    p.print(more, 1, "done");
    // The last connection thread has long ended after half a second.
    int settle = p.obj("delay 500");
    p.connect(more, 1, settle, 0);
    int end = p.msg("; lvxsoak proc; pd dsp 0; pd quit");
    p.connect(settle, 0, end, 0);
}

void run_cycles(Scenario &s, int port, int n, int hold, Result &r)
{
    s.realtime().no_quit().lib("lvxsoak").flag("-r").flag("48000").timeout(60 + n * 0.2);
    cycling_patch(s, port, n, hold);
    s.dsp(true).wait(100).send("lvxsoak proc").send("s connect localhost " + std::to_string(port));
    r = s.run();
}

void expect_cycles(const Result &r, int n)
{
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("done"), strings{std::to_string(n)}) << r.output();
    strings states = r.printed("state");
    ASSERT_EQ(states.size(), 2u * static_cast<std::size_t>(n)) << r.output();
    for (std::size_t i = 0; i < states.size(); i++)
        ASSERT_EQ(states[i], i % 2 ? "0" : "1") << "state " << i << "\n" << r.output();
    EXPECT_FALSE(r.contains("already")) << r.output();
    auto h = held(r);
    ASSERT_EQ(h.size(), 2u) << r.output();
    EXPECT_EQ(h[1].fds, h[0].fds) << "descriptors before and after the cycles";
    EXPECT_EQ(h[1].threads, h[0].threads) << "threads before and after the cycles";
}

TEST(Soak, ConnectCyclesAgainstTheReceiver)
{
    Receiver rx({"-p", "0"});
    int port = rx.port();
    ASSERT_NE(port, 0);
    Scenario s;
    Result r;
    run_cycles(s, port, cycles(), 5, r);
    expect_cycles(r, cycles());
    strings lines = rx.finish(SIGTERM);
    auto sum = summary(lines);
    EXPECT_EQ(sum["connections"], cycles()) << joined(lines);
    EXPECT_EQ(sum["bad"], 0) << joined(lines);
    EXPECT_EQ(sum["gaps"], 0) << joined(lines);
}

// Long enough held for frames to be sent into the closed connection, so that
// some cycles end by a failed send and the rest by "disconnect".
TEST(Soak, ConnectCyclesAgainstAPeerThatClosesAtOnce)
{
    Slammer peer;
    Scenario s;
    Result r;
    run_cycles(s, peer.port(), cycles(), 50, r);
    expect_cycles(r, cycles());
    EXPECT_EQ(peer.accepted(), cycles());
    EXPECT_GT(r.count("send "), 0u) << "no cycle ended by a failed send\n" << r.output();
}

// Sample k of channel c as [lvx_count~] makes it.
float counted(std::uint32_t k, std::uint32_t c)
{
    std::uint32_t v = (k * (2 * c + 1) + 1000003u * c) & 0xffffffu;
    return static_cast<float>(static_cast<std::int32_t>(v) - 8388608);
}

TEST(Soak, LongStreamOf32FloatChannels)
{
    Scenario s;
    std::filesystem::path wav = s.dir() / "soak.wav";
    Receiver rx({"-p", "0", "-o", wav.string(), "-r", "48000"});
    int port = rx.port();
    ASSERT_NE(port, 0);
    const double seconds = stream_seconds();
    s.realtime().lib("lvxsoak").flag("-r").flag("48000").timeout(seconds + 60);
    int src = s.patch.obj("lvx_count~ 32");
    int x = s.patch.obj("strimo~ 32");
    for (int c = 0; c < 32; c++)
        s.patch.connect(src, c, x, c);
    s.patch.receive("s", x);
    s.patch.print(x, 0, "state");
    s.dsp(true).wait(100).send("lvxsoak proc").send("s connect localhost " + std::to_string(port));
    s.wait(seconds * 1000).send("s disconnect").wait(500).send("lvxsoak proc");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.printed("state"), (strings{"1", "0"})) << r.output();
    auto h = held(r);
    ASSERT_EQ(h.size(), 2u) << r.output();
    EXPECT_EQ(h[1].fds, h[0].fds);
    EXPECT_EQ(h[1].threads, h[0].threads);

    strings lines = rx.finish(SIGTERM);
    auto sum = summary(lines);
    EXPECT_EQ(sum["connections"], 1) << joined(lines);
    EXPECT_EQ(sum["gaps"], 0) << joined(lines);
    EXPECT_EQ(sum["missing"], 0) << joined(lines);
    EXPECT_EQ(sum["bad"], 0) << joined(lines);
    // Nearly every frame of the time streamed arrived (Pd's clock may lag a little).
    EXPECT_GT(sum["frames"], static_cast<long>(seconds * 48000 / 1024 * 0.8)) << joined(lines);

    // Every sample as sent: consecutive counts from where the receiver joined.
    SF_INFO info{};
    SNDFILE *f = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << joined(lines);
    ASSERT_EQ(info.channels, 32);
    ASSERT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    EXPECT_EQ(info.frames, sum["frames"] * 1024);
    std::vector<float> buf(32 * 4096);
    std::uint32_t k = 0;
    long long wrong = 0, at = 0;
    std::string first_wrong;
    for (sf_count_t got; (got = sf_readf_float(f, buf.data(), 4096)) > 0;) {
        for (sf_count_t i = 0; i < got; i++, at++) {
            if (at == 0)
                k = static_cast<std::uint32_t>(static_cast<std::int32_t>(buf[0]) + 8388608);
            for (std::uint32_t c = 0; c < 32; c++) {
                float v = buf[static_cast<std::size_t>(i) * 32 + c];
                if (std::bit_cast<std::uint32_t>(v) != std::bit_cast<std::uint32_t>(counted(k, c)) &&
                    wrong++ == 0)
                    first_wrong = "sample " + std::to_string(at) + " channel " + std::to_string(c);
            }
            k++;
        }
    }
    sf_close(f);
    EXPECT_EQ(wrong, 0) << "first at " << first_wrong;
    EXPECT_EQ(at, info.frames);
    std::filesystem::remove(wav);
}

// ---- karbox ---------------------------------------------------------------------

std::string hex_key(int key)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", key);
    return buf;
}

// Segments with this key, or made by these processes, as ipcs lists them.
strings segments(int key, std::initializer_list<int> pids)
{
    Result r = run_process({"ipcs", "-m", "-p"}, {}, std::filesystem::current_path(), 10);
    Result k = run_process({"ipcs", "-m"}, {}, std::filesystem::current_path(), 10);
    strings out;
    for (const auto &l : k.lines)
        if (l.rfind(hex_key(key), 0) == 0)
            out.push_back(l);
    for (const auto &l : r.lines) {
        std::istringstream w(l);
        std::string id, owner;
        long cpid = 0, lpid = 0;
        if (w >> id >> owner >> cpid >> lpid)
            for (int p : pids)
                if (p > 0 && cpid == p)
                    out.push_back(l);
    }
    return out;
}

// Two karbox objects in Pd share one key; every cycle the first allocates it
// anew with another size (removing the segment it held while the other
// object and a peer process still have it attached), the second follows, a
// value written through the first is read through the second. The peer holds
// on to the first segment throughout.
TEST(Soak, KarboxAllocationCyclesWithAPeerAttached)
{
    const int key = 1000000 + getpid() % 4000000;
    const int n = 1000;
    ASSERT_EQ(segments(key, {}), strings{}) << "key " << key << " is in use";
    Child peer({(tool_dir() / "lorvex-shm").string(), "-c", "hold", std::to_string(key), "16"});
    ASSERT_FALSE(peer.wait_for_match("^attached ", 10).empty()) << joined(peer.finish(SIGTERM));

    Scenario s;
    s.timeout(120);
    Canvas &box = s.patch.subpatch("boxes");
    int a = box.obj("karbox " + std::to_string(key) + " 16");
    int b = box.obj("karbox " + std::to_string(key) + " 16");
    box.receive("ka", a);
    box.receive("kb", b);
    box.print(a, 1, "a");
    box.print(b, 0, "read");
    box.print(b, 1, "b");
    for (int i = 0; i < n; i++) {
        std::string size = std::to_string(16 + (i % 7) * 1000);
        s.send("ka allocate " + std::to_string(key) + " " + size)
            .send("kb allocate " + std::to_string(key) + " " + size)
            .send("ka memset 5 " + std::to_string(i))
            .send("kb memread 5");
    }
    s.send("pd-boxes clear");
    Result r = s.run();
    ASSERT_TRUE(r.clean()) << r.output();
    EXPECT_EQ(r.errors(), strings{}) << r.output();
    strings reads = r.printed("read");
    ASSERT_EQ(reads.size(), static_cast<std::size_t>(n)) << r.output();
    for (int i = 0; i < n; i++)
        ASSERT_EQ(reads[static_cast<std::size_t>(i)], std::to_string(i)) << i;
    // (What creation allocates goes out before the outlets are connected.)
    EXPECT_EQ(r.count("a: " + std::to_string(key)), static_cast<std::size_t>(n));
    EXPECT_EQ(r.count("b: " + std::to_string(key)), static_cast<std::size_t>(n));

    // The peer still sees the block it attached first, untouched since.
    const int peer_pid = peer.pid();
    peer.close_stdin();
    strings said = peer.finish(0);
    EXPECT_EQ(said.size(), 17u) << joined(said);
    EXPECT_EQ(segments(key, {r.pid, peer_pid}), strings{}) << "left behind";
    EXPECT_EQ(remove_segments_left_by(r.pid), strings{});
}

} // namespace
