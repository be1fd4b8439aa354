// strimo~ in the real Pd against real peers on loopback: the receiver tool
// lorvex-recv, sockets of the test's own, and a listener whose full backlog
// makes a connect hang. Changes are timed by DSP block (a [bang~] counter), so
// what each frame must contain is known exactly.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sndfile.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <unistd.h>

#include "lorvex/stream_frame.hpp"
#include "pd.hpp"
#include "receiver.hpp"

using namespace lorvex::test;
namespace stream = lorvex::stream;
using strings = std::vector<std::string>;
using bytes = std::vector<unsigned char>;

namespace {

// ---- peers ------------------------------------------------------------------

// lorvex-recv as a child process, its output read on a thread as it comes.

// A loopback socket of the test's own; closed when it goes.
struct Socket {
    int fd = -1;
    explicit Socket(int f = -1) : fd(f) {}
    Socket(Socket &&o) noexcept : fd(std::exchange(o.fd, -1)) {}
    Socket &operator=(Socket &&o) noexcept
    {
        std::swap(fd, o.fd);
        return *this;
    }
    ~Socket()
    {
        if (fd >= 0)
            close(fd);
    }
    int port() const
    {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        return ntohs(a.sin_port);
    }
};

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

Socket listener(int backlog)
{
    Socket s(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = loopback(0);
    if (bind(s.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(s.fd, backlog) != 0)
        throw std::runtime_error("listen failed");
    return s;
}

// A port nothing listens on: bound for a moment, then given back.
int dead_port()
{
    Socket s = listener(1);
    return s.port();
}

bool readable(int fd, double seconds)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(seconds * 1000)) == 1;
}

Socket accept_within(const Socket &l, double seconds)
{
    return Socket(readable(l.fd, seconds) ? accept(l.fd, nullptr, nullptr) : -1);
}

bool read_exactly(int fd, unsigned char *into, std::size_t n, double seconds)
{
    for (std::size_t got = 0; got < n;) {
        if (!readable(fd, seconds))
            return false;
        ssize_t r = recv(fd, into + got, n - got, 0);
        if (r <= 0)
            return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// ---- what the receiver reported ---------------------------------------------

struct Frame {
    int count, channels, framesize;
    std::string format;
};

// The frames of each connection (UDP: all in one), from -v lines.
std::vector<std::vector<Frame>> frames_by_connection(const strings &lines)
{
    static const std::regex frame(R"(frame (-?\d+): format (\w+), channels (\d+), framesize (\d+))");
    std::vector<std::vector<Frame>> out(1);
    for (const auto &l : lines) {
        std::smatch m;
        if (l.rfind("connection from", 0) == 0 && !out.back().empty())
            out.emplace_back();
        else if (std::regex_match(l, m, frame))
            out.back().push_back({std::stoi(m[1]), std::stoi(m[3]), std::stoi(m[4]), m[2]});
    }
    return out;
}

struct Wav {
    int channels = 0, format = 0;
    bytes data;
};

Wav read_wav(const std::filesystem::path &p)
{
    Wav w;
    SF_INFO info{};
    SNDFILE *f = sf_open(p.c_str(), SFM_READ, &info);
    if (!f)
        return w;
    w.channels = info.channels;
    w.format = info.format & SF_FORMAT_SUBMASK;
    w.data.resize(static_cast<std::size_t>(std::filesystem::file_size(p)));
    w.data.resize(static_cast<std::size_t>(sf_read_raw(f, w.data.data(), static_cast<sf_count_t>(w.data.size()))));
    sf_close(f);
    return w;
}

// strimo~'s report of a failed socket call, "strimo~: <label>: <text> (<code>)":
// strerror()'s words and errno on Linux; on Windows Windows' own words
// (which differ between its releases and wine) and the Winsock code.
std::string sockerror(const std::string &label, int linux_code, int windows_code)
{
    if (windows())
        return "strimo~: " + label + ": \x01 (" + std::to_string(windows_code) + ")";
    return "strimo~: " + label + ": " + std::strerror(linux_code) + " (" + std::to_string(linux_code) + ")";
}

std::string refused()
{
    return sockerror("connecting stream socket", ECONNREFUSED, 10061 /* WSAECONNREFUSED */);
}

// How many lines are such a report: on Windows the words (\x01 above) are
// any text without a line end.
std::size_t count_sockerror(const Result &r, const std::string &report)
{
    const std::size_t any = report.find('\x01');
    if (any == std::string::npos)
        return r.count(report);
    const std::string head = report.substr(0, any), tail = report.substr(any + 1);
    return static_cast<std::size_t>(std::count_if(r.lines.begin(), r.lines.end(), [&](const std::string &l) {
        return l.size() > head.size() + tail.size() && l.rfind(head, 0) == 0 &&
               l.compare(l.size() - tail.size(), tail.size(), tail) == 0;
    }));
}

// The frame's data as the sender must have encoded it.
bytes encoded(int format, const std::vector<std::vector<float>> &channels)
{
    const int n = static_cast<int>(channels.empty() ? 0 : channels[0].size());
    std::vector<const float *> in;
    for (const auto &c : channels)
        in.push_back(c.data());
    bytes out(static_cast<std::size_t>(stream::frame_bytes(format, static_cast<int>(channels.size()))) *
              static_cast<std::size_t>(n) / stream::frame_samples);
    stream::encode_block(format, in.data(), static_cast<int>(in.size()), n, out.data());
    return out;
}

// ---- patches ----------------------------------------------------------------

// [strimo~ args] at [r s]: its state printed as "state", its info as "info".
int add_sender(Canvas &c, const std::string &args, const std::string &name = "s")
{
    int x = c.obj("strimo~ " + args);
    c.receive(name, x);
    c.print(x, 0, "state");
    c.print(x, 1, "info");
    return x;
}

// 1, 2, 3, ... one per sample from the first DSP block on (exact as floats).
int ramp(Canvas &c)
{
    int one = c.obj("sig~ 1");
    int sum = c.obj("rpole~ 1");
    c.connect(one, 0, sum, 0);
    return sum;
}

// A count of the DSP blocks run so far, updated after each block; "blocks
// bang" prints it as "blocks". Answers the box whose outlet sends the count.
int block_counter(Canvas &c)
{
    int tick = c.obj("bang~");
    int f = c.obj("f");
    int inc = c.obj("+ 1");
    c.connect(tick, 0, f, 0);
    c.connect(f, 0, inc, 0);
    c.connect(inc, 0, f, 1);
    int show = c.obj("f");
    c.connect(inc, 0, show, 1);
    c.receive("blocks", show);
    c.print(show, 0, "blocks");
    return inc;
}

// Sends `message` to `target` after block `block` (before the next one runs).
void at_block(Canvas &c, int counter, int block, int target, const std::string &message)
{
    int sel = c.obj("sel " + std::to_string(block));
    c.connect(counter, 0, sel, 0);
    int m = c.msg(message);
    c.connect(sel, 0, m, 0);
    c.connect(m, 0, target, 0);
}

// Starts DSP when the sender first reports a connection, so that block 1 is
// the first block of frame 1 and every frame is sent.
void dsp_on_first_connect(Canvas &c, int sender)
{
    int sel = c.obj("sel 1");
    c.connect(sender, 0, sel, 0);
    int t = c.obj("t b b");
    c.connect(sel, 0, t, 0);
    int gate = c.obj("spigot 1");
    c.connect(t, 1, gate, 0);
    int on = c.msg("; pd dsp 1");
    c.connect(gate, 0, on, 0);
    int shut = c.msg("0");
    c.connect(t, 0, shut, 0);
    c.connect(shut, 0, gate, 1);
}

std::string connect_to(int port) { return "s connect localhost " + std::to_string(port); }

// The realtime scenarios run with strimo~ as built, from the sanitizer build
// (AddressSanitizer, UBSan) and built with ThreadSanitizer.
enum class Build { plain, sanitized, threads };

void prepare(Scenario &s, Build b)
{
    s.realtime().timeout(60);
    if (b == Build::sanitized)
        s.sanitized();
    if (b == Build::threads)
        s.lib(LORVEX_TSAN_STRIMO).env("LD_PRELOAD", LORVEX_TSAN_RUNTIME)
            .env("TSAN_OPTIONS", "exitcode=66 report_signal_unsafe=0");
}

class Stream : public ::testing::TestWithParam<Build> {
protected:
    void SetUp() override
    {
        // The sanitizer builds are native; under emulation the other
        // architecture's plain build is what runs.
        if (emulated() && GetParam() != Build::plain)
            GTEST_SKIP() << "sanitizer builds run natively only";
        // The thread sanitizer's strimo~ is built for single precision only
        // (the sanitizer build of both flavours covers Pd64).
        if (pd64 && GetParam() == Build::threads)
            GTEST_SKIP() << "ThreadSanitizer build is single-precision only";
        if (embedded() && GetParam() == Build::threads)
            GTEST_SKIP() << "ThreadSanitizer build is of Pd's own flavour only";
    }
    void prepare(Scenario &s) { ::prepare(s, GetParam()); }
};

// No crash, no time-out, no sanitizer report of either kind.
bool clean(const Result &r) { return r.clean() && !r.contains("ThreadSanitizer"); }

std::string build_name(const ::testing::TestParamInfo<Build> &info)
{
    switch (info.param) {
    case Build::plain: return "plain";
    case Build::sanitized: return "sanitized";
    default: return "threads";
    }
}

} // namespace

// ---- the wire ---------------------------------------------------------------

// Read by the test itself, byte by byte, independent of the shared definitions.
TEST_P(Stream, HeaderAndSamplesOnTheWire)
{
    Socket peer = listener(4);
    Scenario s;
    prepare(s);
    int x = add_sender(s.patch, "2");
    int half = s.patch.obj("sig~ 0.5"), over = s.patch.obj("sig~ 1.5");
    s.patch.connect(half, 0, x, 0);
    s.patch.connect(over, 0, x, 1);
    dsp_on_first_connect(s.patch, x);
    // Requested before the first frame: taken at its end, so frame 2 is 16-bit.
    s.send("s format 16bit").send("s connect 127.0.0.1 " + std::to_string(peer.port()));
    s.wait(400).send("s disconnect");

    bytes first(24 + 8192), second(24 + 4096);
    bool got = false;
    std::thread reader([&] {
        Socket c = accept_within(peer, 20);
        got = read_exactly(c.fd, first.data(), first.size(), 20) &&
              read_exactly(c.fd, second.data(), second.size(), 20);
    });
    Result r = s.run();
    reader.join();
    ASSERT_TRUE(clean(r)) << r.output();
    ASSERT_TRUE(got) << r.output();
    const bytes tag1 = {1, 1, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0x00, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const bytes tag2 = {1, 11, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(bytes(first.begin(), first.begin() + 24), tag1);
    EXPECT_EQ(bytes(second.begin(), second.begin() + 24), tag2);
    // 0.5 and 1.5 as little-endian floats, then as 16-bit 16384 and -16386, interleaved.
    for (int k = 0; k < 1024; k++) {
        const unsigned char *f = &first[24 + 8 * k];
        ASSERT_EQ(bytes(f, f + 8), (bytes{0, 0, 0, 0x3f, 0, 0, 0xc0, 0x3f})) << k;
        const unsigned char *h = &second[24 + 4 * k];
        ASSERT_EQ(bytes(h, h + 4), (bytes{0x00, 0x40, 0xfe, 0xbf})) << k;
    }
    EXPECT_EQ(r.printed("state"), (strings{"1", "0"}));
}

// Format and channel changes, requested in the middle of frames, take effect
// at the next frame; every frame is checked sample by sample.
TEST_P(Stream, ChangesTakeEffectBetweenFrames)
{
    auto wav = std::filesystem::temp_directory_path() / ("lorvex-stream-" + std::to_string(getpid()) +
                                                       std::to_string(static_cast<int>(GetParam())) + ".wav");
    Receiver rx({"-p", "0", "-v", "-o", wav.string()});
    ASSERT_NE(rx.port(), 0);
    Scenario s;
    prepare(s);
    int x = add_sender(s.patch, "2");
    int count = ramp(s.patch), half = s.patch.obj("sig~ 0.5");
    s.patch.connect(count, 0, x, 0);
    s.patch.connect(half, 0, x, 1);
    dsp_on_first_connect(s.patch, x);
    int blocks = block_counter(s.patch);
    at_block(s.patch, blocks, 24, x, "format 16bit");   // in frame 2 (blocks 17..32)
    at_block(s.patch, blocks, 56, x, "channels 1");     // in frame 4
    at_block(s.patch, blocks, 88, x, "format 8bit");    // in frame 6
    at_block(s.patch, blocks, 128, x, "disconnect");    // just after frame 8
    s.send(connect_to(rx.port())).wait(600);
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    ASSERT_TRUE(rx.wait_for_line("connection closed")) << joined(rx.finish());
    strings lines = rx.finish();
    auto conns = frames_by_connection(lines);
    ASSERT_EQ(conns.size(), 1u) << joined(lines);
    const std::vector<Frame> &frames = conns[0];
    ASSERT_EQ(frames.size(), 8u) << joined(lines);
    const struct {
        const char *format;
        int code, channels;
    } expect[] = {{"float", 1, 2}, {"float", 1, 2}, {"16bit", 11, 2}, {"16bit", 11, 2},
        {"16bit", 11, 1}, {"16bit", 11, 1}, {"8bit", 10, 1}, {"8bit", 10, 1}};
    std::map<std::pair<int, int>, bytes> by_file;   // (format, channels) -> data expected
    for (int f = 0; f < 8; f++) {
        EXPECT_EQ(frames[f].count, f + 1);
        EXPECT_EQ(frames[f].format, expect[f].format) << f;
        EXPECT_EQ(frames[f].channels, expect[f].channels) << f;
        EXPECT_EQ(frames[f].framesize, stream::frame_bytes(expect[f].code, expect[f].channels));
        std::vector<std::vector<float>> in(static_cast<std::size_t>(expect[f].channels),
            std::vector<float>(1024, 0.5f));
        for (int k = 0; k < 1024; k++)
            in[0][static_cast<std::size_t>(k)] = static_cast<float>(f * 1024 + k + 1);
        bytes e = encoded(expect[f].code, in);
        auto &file = by_file[{expect[f].code, expect[f].channels}];
        file.insert(file.end(), e.begin(), e.end());
    }
    // One WAV file per run of equal format and channel count, in order.
    const std::pair<int, int> order[] = {{1, 2}, {11, 2}, {11, 1}, {10, 1}};
    for (int i = 0; i < 4; i++) {
        auto path = wav;
        if (i > 0)
            path.replace_filename(wav.stem().string() + "-" + std::to_string(i + 1) + ".wav");
        Wav w = read_wav(path);
        std::filesystem::remove(path);
        EXPECT_EQ(w.channels, order[i].second) << path;
        EXPECT_TRUE(w.data == by_file[order[i]]) << path << ": data differs";
    }
    EXPECT_TRUE(r.contains("strimo~: format set to 16bit")) << r.output();
    EXPECT_TRUE(r.contains("strimo~: channels set to 1")) << r.output();
    EXPECT_EQ(summary(lines)["bad"], 0);
    EXPECT_EQ(summary(lines)["gaps"], 0);
}

// The values of the three encodings, through Pd, with no clipping, and
// values beyond the integer range encoded as defined.
TEST_P(Stream, EncodingsOfTheFirstSamples)
{
    Receiver rx({"-p", "0", "-v", "-s", "1"});
    Scenario s;
    prepare(s);
    int x = add_sender(s.patch, "8");
    const char *values[] = {"1.5", "-1.5", "0.5", "-1", "0.999", "1", "0", "1e+30"};
    for (int j = 0; j < 8; j++) {
        int v = s.patch.obj(std::string("sig~ ") + values[j]);
        s.patch.connect(v, 0, x, j);
        if (j == 6)
            s.patch.receive("nan", v);
    }
    dsp_on_first_connect(s.patch, x);
    int blocks = block_counter(s.patch);
    at_block(s.patch, blocks, 8, x, "format 16bit");
    at_block(s.patch, blocks, 24, x, "format 8bit");
    at_block(s.patch, blocks, 48, x, "disconnect");
    s.send("nan @nan").send(connect_to(rx.port())).wait(400);
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    ASSERT_TRUE(rx.wait_for_line("connection closed")) << joined(rx.finish());
    strings lines = rx.finish();
    auto first_samples = [&](int count) {
        for (std::size_t i = 0; i + 1 < lines.size(); i++)
            if (lines[i].rfind("frame " + std::to_string(count) + ":", 0) == 0)
                return lines[i + 1];
        return std::string("(frame missing)");
    };
    EXPECT_EQ(first_samples(1), "  0: 1.5 -1.5 0.5 -1 0.999000013 1 nan 1.00000002e+30") << joined(lines);
    EXPECT_EQ(first_samples(2), "  0: -16386 16386 16384 -32767 32734 32767 0 -1") << joined(lines);
    EXPECT_EQ(first_samples(3), "  0: 64 192 192 0 255 0 0 255") << joined(lines);
}

// ---- frames and block sizes -------------------------------------------------

// The count restarts with each connect request and keeps counting while the
// connection is made; frames done while unconnected are not sent.
TEST_P(Stream, CountRestartsAtEachConnectRequest)
{
    Receiver rx({"-p", "0", "-v"});
    Scenario s;
    prepare(s);
    int x = add_sender(s.patch, "1");
    dsp_on_first_connect(s.patch, x);
    int blocks = block_counter(s.patch);
    at_block(s.patch, blocks, 80, x, "disconnect");   // after frame 5
    at_block(s.patch, blocks, 120, x, "connect localhost " + std::to_string(rx.port()));
    at_block(s.patch, blocks, 200, x, "disconnect");  // 5 frames after the request
    s.send(connect_to(rx.port())).wait(800);
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    rx.wait_for([](const strings &l) {
        return std::count_if(l.begin(), l.end(), [](auto &x) { return x.rfind("connection closed", 0) == 0; }) == 2;
    }, 10);
    strings lines = rx.finish();
    auto conns = frames_by_connection(lines);
    ASSERT_EQ(conns.size(), 2u) << joined(lines);
    std::vector<int> first, second;
    for (auto &f : conns[0])
        first.push_back(f.count);
    for (auto &f : conns[1])
        second.push_back(f.count);
    EXPECT_EQ(first, (std::vector<int>{1, 2, 3, 4, 5}));
    // The connection is made within the frame the request fell into, or later.
    ASSERT_FALSE(second.empty()) << joined(lines);
    EXPECT_GE(second.front(), 1);
    EXPECT_EQ(second.back(), 5);
    for (std::size_t i = 1; i < second.size(); i++)
        EXPECT_EQ(second[i], second[i - 1] + 1);
    EXPECT_EQ(r.printed("state"), (strings{"1", "0", "1", "0"}));
}

// Inside a subpatch of the given block size: a ramp into [strimo~ 1],
// connected to the receiver; blocks are counted in the subpatch.
struct Blocked {
    Scenario s;
    Canvas *sub;
    int sender, blocks, block;

    Blocked(Build build, int block_size) : block(0)
    {
        prepare(s, build);
        sub = &s.patch.subpatch("blk");
        block = sub->obj("block~ " + std::to_string(block_size));
        sender = add_sender(*sub, "1");
        sub->connect(ramp(*sub), 0, sender, 0);
        dsp_on_first_connect(*sub, sender);
        blocks = block_counter(*sub);
    }
};

// The ramp's values in each received frame, from the WAV file.
std::vector<std::vector<float>> ramp_frames(const std::filesystem::path &wav)
{
    Wav w = read_wav(wav);
    std::vector<std::vector<float>> frames;
    for (std::size_t at = 0; at + 4096 <= w.data.size(); at += 4096) {
        frames.emplace_back(1024);
        std::memcpy(frames.back().data(), &w.data[at], 4096);
    }
    return frames;
}

bool consecutive(const std::vector<float> &v)
{
    for (std::size_t i = 1; i < v.size(); i++)
        if (v[i] != v[i - 1] + 1)
            return false;
    return true;
}

// Streams the ramp of a Blocked scenario (with the block-timed messages that
// `setup` adds) into a WAV file, and checks that the frames received start at
// the ramp values `first` and that each holds consecutive values: no partial
// frame was sent and none was completed with blocks from elsewhere.
void expect_ramp_frames(Build build, int block_size, const std::function<void(Blocked &)> &setup,
    const std::vector<float> &first, Result &r)
{
    auto wav = std::filesystem::temp_directory_path() /
               ("lorvex-ramp-" + std::to_string(getpid()) + "-" + std::to_string(block_size) + "-" +
                   std::to_string(static_cast<int>(build)) + ".wav");
    Receiver rx({"-p", "0", "-o", wav.string()});
    Blocked b(build, block_size);
    setup(b);
    b.s.send(connect_to(rx.port())).wait(600);
    r = b.s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    ASSERT_TRUE(rx.wait_for_line("connection closed")) << joined(rx.finish());
    strings lines = rx.finish();
    auto frames = ramp_frames(wav);
    std::filesystem::remove(wav);
    ASSERT_EQ(frames.size(), first.size()) << block_size << "\n" << joined(lines);
    for (std::size_t f = 0; f < frames.size(); f++) {
        EXPECT_EQ(frames[f][0], first[f]) << block_size << ": frame " << f + 1;
        EXPECT_TRUE(consecutive(frames[f])) << block_size << ": frame " << f + 1;
    }
}

TEST_P(Stream, BlockSizesThatDivideTheFrame)
{
    for (int size : {64, 1024}) {
        Result r;
        // Eight frames, then disconnect.
        expect_ramp_frames(GetParam(), size, [size](Blocked &b) {
            at_block(*b.sub, b.blocks, 8 * 1024 / size, b.sender, "disconnect");
        }, {1, 1025, 2049, 3073, 4097, 5121, 6145, 7169}, r);
    }
}

TEST_P(Stream, BlockSizesThatDoNotDivideTheFrameAreRefused)
{
    for (int size : {2048, 48}) {
        Receiver rx({"-p", "0", "-v"});
        Blocked b(GetParam(), size);
        b.s.send(connect_to(rx.port())).wait(300).send("s disconnect");
        Result r = b.s.run();
        ASSERT_TRUE(clean(r)) << r.output();
        EXPECT_TRUE(r.contains(
            "error: strimo~: signal vector size too large (needs to be even divisor of 1024)"))
            << r.output();
        EXPECT_EQ(r.printed("state"), (strings{"1", "0"})) << r.output();
        rx.wait_for_line("connection closed");
        EXPECT_EQ(summary(rx.finish())["frames"], 0) << size;
    }
}

// A block-size change in the middle of a frame drops that frame's blocks so
// far: the next frame starts afresh with the new blocks, nothing partial is sent.
TEST_P(Stream, BlockSizeChangeRestartsTheFrame)
{
    Result r;
    // After block 40, 8 blocks into frame 3; then 32 blocks of 128 make frames 3 to 6.
    expect_ramp_frames(GetParam(), 64, [](Blocked &b) {
        int rebuild = b.sub->msg("; pd dsp 1");
        at_block(*b.sub, b.blocks, 40, b.block, "set 128");
        at_block(*b.sub, b.blocks, 40, rebuild, "bang");
        at_block(*b.sub, b.blocks, 72, b.sender, "disconnect");
    }, {1, 1025, 2561, 3585, 4609, 5633}, r);
}

// A refused block size leaves the object out of the chain; when a usable one
// (even the old one) returns, the frame left unfinished is dropped, not
// completed with blocks from much later.
TEST_P(Stream, RefusedBlockSizeDropsTheFrameInProgress)
{
    Result r;
    // 8 blocks into frame 3: one block of 2048 (refused), then back to 64.
    expect_ramp_frames(GetParam(), 64, [](Blocked &b) {
        int rebuild = b.sub->msg("; pd dsp 1");
        at_block(*b.sub, b.blocks, 40, b.block, "set 2048");
        at_block(*b.sub, b.blocks, 40, rebuild, "bang");
        at_block(*b.sub, b.blocks, 41, b.block, "set 64");
        at_block(*b.sub, b.blocks, 41, rebuild, "bang");
        at_block(*b.sub, b.blocks, 41 + 32, b.sender, "disconnect");
    }, {1, 1025, 4609, 5633}, r);
    EXPECT_EQ(r.count("strimo~: signal vector size too large"), 1u) << r.output();
}

// ---- channels and datagrams -------------------------------------------------

// Channels 0: every frame is a header alone, over TCP and over UDP alike.
TEST_P(Stream, ChannelsZeroSendsHeadersAlone)
{
    for (bool udp : {false, true}) {
        Receiver rx(udp ? strings{"-p", "0", "-u", "-v"} : strings{"-p", "0", "-v"});
        Scenario s;
        prepare(s);
        int x = add_sender(s.patch, udp ? "2 1" : "2");
        int blocks = block_counter(s.patch);
        // 16 frames: room for a connection that takes a while (a Pd under
        // emulation on a busy machine) to still carry 5 of them.
        at_block(s.patch, blocks, 16 * 16, x, "disconnect");
        // The first frame, done before the connection, still has two channels.
        s.send("s channels 0").dsp(true).wait(30).send(connect_to(rx.port())).wait(500);
        Result r = s.run();
        ASSERT_TRUE(clean(r)) << r.output();
        EXPECT_FALSE(r.contains("strimo~: send")) << r.output();
        EXPECT_EQ(r.printed("state"), (strings{"1", "0"})) << r.output();
        rx.wait_for([](const strings &l) { return frames_by_connection(l).back().size() >= 5; }, 10);
        strings lines = rx.finish();
        auto frames = frames_by_connection(lines).back();
        ASSERT_GE(frames.size(), 5u) << joined(lines);
        for (auto &f : frames) {
            EXPECT_EQ(f.channels, 0);
            EXPECT_EQ(f.framesize, 0);
        }
        EXPECT_EQ(summary(lines)["gaps"], 0) << joined(lines);
        EXPECT_EQ(summary(lines)["bad"], 0) << joined(lines);
    }
}

// The largest frames a datagram holds go through; a float frame of 16
// channels (65536 bytes) cannot, and the failed send ends the connection.
TEST_P(Stream, UdpFramesUpToTheDatagramLimit)
{
    Receiver rx({"-p", "0", "-u", "-v"});
    Scenario s;
    prepare(s);
    int x = add_sender(s.patch, "32 1");
    int blocks = block_counter(s.patch);
    // Five frames of 15 channels first: room for a connection that takes a
    // while (a Pd under emulation on a busy machine) to still carry one.
    at_block(s.patch, blocks, 72, x, "format 16bit , channels 31");   // frames 6..
    at_block(s.patch, blocks, 104, x, "format 8bit , channels 32");   // frames 8..
    at_block(s.patch, blocks, 136, x, "format float , channels 16");  // frame 10 fails
    s.send("s channels 15").dsp(true).wait(30).send(connect_to(rx.port())).wait(600);
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    EXPECT_EQ(count_sockerror(r, sockerror("send data", EMSGSIZE, 10040 /* WSAEMSGSIZE */)), 1u)
        << r.output();
    EXPECT_EQ(r.printed("state"), (strings{"1", "0"})) << r.output();
    rx.wait_for([](const strings &l) { return frames_by_connection(l).back().size() >= 4; }, 10);
    strings lines = rx.finish();
    std::map<int, int> sizes;   // framesize -> frames
    const auto frames = frames_by_connection(lines).back();
    for (auto &f : frames)
        sizes[f.framesize]++;
    EXPECT_GE(sizes[61440], 1) << joined(lines);
    EXPECT_EQ(sizes[63488], 2) << joined(lines);
    EXPECT_EQ(sizes[32768], 2) << joined(lines);
    EXPECT_EQ(sizes.size(), 3u) << joined(lines);
    EXPECT_EQ(summary(lines)["bad"], 0) << joined(lines);
}

// ---- connections ------------------------------------------------------------

TEST_P(Stream, PeerThatClosesEndsTheConnection)
{
    Receiver rx({"-p", "0", "-n", "3"});
    Scenario s;
    prepare(s);
    int x = add_sender(s.patch, "2");
    dsp_on_first_connect(s.patch, x);
    s.send(connect_to(rx.port())).wait(1000).say("alive").send("s connect localhost " +
        std::to_string(rx.port()));
    s.wait(200);
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    EXPECT_TRUE(r.contains("strimo~: send data: ") || r.contains("strimo~: send tag: ")) << r.output();
    EXPECT_EQ(r.printed("state"), (strings{"1", "0"})) << r.output();
    EXPECT_TRUE(r.contains("lvx: alive"));
    // And a later connect is tried (it is refused: the receiver has gone).
    EXPECT_EQ(count_sockerror(r, refused()), 1u) << r.output();
}

// The 0 of a failed send reaches the patch between DSP blocks, never from
// inside one: a patch may answer it by stopping DSP, which frees the signal
// chain that Pd would otherwise still be running. Freed memory is filled, so
// that running on in a freed chain crashes.
TEST_P(Stream, PatchMayStopDspWhenASendFails)
{
    Receiver rx({"-p", "0", "-n", "2"});
    Scenario s;
    prepare(s);
    s.env("GLIBC_TUNABLES", "glibc.malloc.tcache_count=0").env("MALLOC_PERTURB_", "165");
    if (GetParam() == Build::sanitized)
        s.env("ASAN_OPTIONS", "detect_leaks=0:halt_on_error=1:abort_on_error=0:exitcode=86:"
                              "max_free_fill_size=4096:free_fill_byte=165");
    int x = add_sender(s.patch, "1");
    int lost = s.patch.obj("sel 0");
    s.patch.connect(x, 0, lost, 0);
    int stop = s.patch.msg("; pd dsp 0");
    s.patch.connect(lost, 0, stop, 0);
    s.send(connect_to(rx.port())).wait(200).dsp(true).wait(1000).say("alive");
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    EXPECT_TRUE(r.contains("strimo~: send ")) << r.output();
    EXPECT_EQ(r.printed("state"), (strings{"1", "0"})) << r.output();
    EXPECT_TRUE(r.contains("lvx: alive"));
}

TEST_P(Stream, RefusedConnectionLeavesTheObjectIdle)
{
    Receiver rx({"-p", "0"});
    Scenario s;
    prepare(s);
    add_sender(s.patch, "1");
    s.send("s connect localhost " + std::to_string(dead_port())).wait(300);
    s.send(connect_to(rx.port())).wait(300).send("s connect localhost 9").wait(50);
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    EXPECT_EQ(count_sockerror(r, refused()), 1u) << r.output();
    EXPECT_EQ(r.printed("state"), strings{"1"}) << r.output();
    EXPECT_FALSE(r.contains("already trying")) << r.output();
    EXPECT_EQ(r.count("strimo~: already connected"), 1u) << r.output();
    EXPECT_TRUE(rx.wait_for_line("connection from")) << joined(rx.finish());
}

// A connect that hangs (the listener's backlog is full) leaves Pd running:
// blocks keep passing and messages are answered while it is pending, and it
// completes once the peer makes room.
TEST_P(Stream, SlowConnectNeverStallsTheScheduler)
{
    Socket peer = listener(0);
    Socket queued(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = loopback(peer.port());
    ASSERT_EQ(connect(queued.fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);

    Scenario s;
    prepare(s);
    int x = s.patch.obj("strimo~ 1");
    s.patch.receive("s", x);
    // The block count at each state change, then the state.
    int t = s.patch.obj("t f b");
    s.patch.connect(x, 0, t, 0);
    int blocks = block_counter(s.patch);
    (void)blocks;
    int show = s.patch.msg("; blocks bang");
    s.patch.connect(t, 1, show, 0);
    s.patch.print(t, 0, "state");
    const std::string request = "s connect 127.0.0.1 " + std::to_string(peer.port());
    s.dsp(true).wait(50).send("blocks bang").send(request);
    s.wait(300).send(request).wait(300).send(request).say("pending").wait(5000);
    Socket made_room;
    s.on_line([&](const std::string &line) {
        if (line == "lvx: pending")
            made_room = accept_within(peer, 5);
    });
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    EXPECT_GE(made_room.fd, 0);
    EXPECT_EQ(r.count("strimo~: already trying to connect"), 2u) << r.output();
    ASSERT_EQ(r.printed("state"), strings{"1"}) << r.output();
    auto counts = r.printed_floats("blocks");
    ASSERT_EQ(counts.size(), 2u) << r.output();
    // 600 ms and more, in blocks of 64 samples at Pd's rate.
    EXPECT_GT(counts[1][0] - counts[0][0], 0.6 * pd_default_rate() / 64) << r.output();
}

// Deleting the object while its thread waits in connect(): the thread finishes
// alone and closes its socket while Pd runs on (the sanitizer build catches
// any use of the freed object).
TEST_P(Stream, DeletedWhileConnecting)
{
    Socket peer = listener(0);
    Socket queued(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = loopback(peer.port());
    ASSERT_EQ(connect(queued.fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);

    Scenario s;
    prepare(s);
    add_sender(s.patch.subpatch("conn"), "1");
    s.dsp(true).send("s connect 127.0.0.1 " + std::to_string(peer.port())).wait(200);
    s.send("pd-conn clear").say("deleted").wait(6000).say("end");
    bool closed = false;
    s.on_line([&](const std::string &line) {
        if (line != "lvx: deleted")
            return;
        Socket first = accept_within(peer, 5);
        Socket orphan = accept_within(peer, 4);
        unsigned char c;
        closed = orphan.fd >= 0 && readable(orphan.fd, 1) && recv(orphan.fd, &c, 1, 0) == 0;
    });
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    EXPECT_TRUE(closed) << "the abandoned connection was not closed while Pd ran\n" << r.output();
    EXPECT_TRUE(r.contains("lvx: end"));
    EXPECT_TRUE(r.printed("state").empty()) << r.output();
}

TEST_P(Stream, DeletingAConnectedObjectClosesTheConnection)
{
    Receiver rx({"-p", "0"});
    Scenario s;
    prepare(s);
    add_sender(s.patch.subpatch("conn"), "1");
    s.send(connect_to(rx.port())).wait(200).dsp(true).wait(100);
    s.send("pd-conn clear").say("deleted").wait(2000);
    bool closed = false;
    s.on_line([&](const std::string &line) {
        if (line == "lvx: deleted")
            closed = rx.wait_for_line("connection closed", 1.5);
    });
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    EXPECT_EQ(r.printed("state"), strings{"1"}) << r.output();
    EXPECT_TRUE(closed) << "the connection stayed open after the object was deleted";
}

// The state outlet may feed straight back: disconnect as soon as connected,
// connect again as soon as disconnected, fifty times over, while DSP runs.
TEST_P(Stream, ManyConnectCycles)
{
    Receiver rx({"-p", "0"});
    Scenario s;
    prepare(s);
    int x = add_sender(s.patch, "2");
    int sel = s.patch.obj("sel 1 0");
    s.patch.connect(x, 0, sel, 0);
    int off = s.patch.msg("disconnect");
    s.patch.connect(sel, 0, off, 0);
    s.patch.connect(off, 0, x, 0);
    int f = s.patch.obj("f"), inc = s.patch.obj("+ 1");
    s.patch.connect(sel, 1, f, 0);
    s.patch.connect(f, 0, inc, 0);
    s.patch.connect(inc, 0, f, 1);
    int more = s.patch.obj("moses 50");
    s.patch.connect(inc, 0, more, 0);
    int again = s.patch.msg("connect localhost " + std::to_string(rx.port()));
    s.patch.connect(more, 0, again, 0);
    s.patch.connect(again, 0, x, 0);
    s.patch.print(more, 1, "done");
    s.dsp(true).send(connect_to(rx.port())).wait(1500);
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    EXPECT_EQ(r.printed("done"), strings{"50"}) << r.output();
    strings states = r.printed("state");
    ASSERT_EQ(states.size(), 100u) << r.output();
    for (std::size_t i = 0; i < states.size(); i++)
        EXPECT_EQ(states[i], i % 2 ? "0" : "1") << i;
    EXPECT_FALSE(r.contains("already")) << r.output();
    rx.wait_for([](const strings &l) {
        return std::count_if(l.begin(), l.end(), [](auto &x) { return x.rfind("connection closed", 0) == 0; }) == 50;
    }, 10);
    EXPECT_EQ(summary(rx.finish())["connections"], 50);
}

// Attempts whose thread ends at once (a host name longer than any host's),
// taken up as fast as eight objects take them: each thread may end before
// the object has even let go of it, or while it does.
TEST_P(Stream, AttemptsThatEndAtOnce)
{
    Scenario s;
    prepare(s);
    int metro = s.patch.obj("metro 1");
    s.patch.receive("go", metro);
    int m = s.patch.msg("connect " + std::string(300, 'h') + " 3000");
    s.patch.connect(metro, 0, m, 0);
    for (int i = 0; i < 8; i++)
        s.patch.connect(m, 0, s.patch.obj("strimo~ 1"), 0);
    s.send("go 1").wait(1500).send("go 0").wait(100).say("alive");
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    EXPECT_TRUE(r.contains("lvx: alive")) << r.output();
    // Each object takes one attempt every millisecond or two.
    EXPECT_GT(r.count("strimo~: bad host?"), 400u) << r.output();
    EXPECT_FALSE(r.contains("connected host")) << r.output();
}

// The protocol argument: 0 (or none) is TCP, anything else UDP, which
// "connects" whether or not anything listens.
TEST_P(Stream, ProtocolArgumentAndDefaultPeers)
{
    Scenario s;
    prepare(s);
    const std::string port = std::to_string(dead_port());
    const char *args[] = {"1 1", "1 -1", "1 0.5", "1 0", "1"};
    for (int i = 0; i < 5; i++) {
        int x = s.patch.obj(std::string("strimo~ ") + args[i]);
        s.patch.receive("s" + std::to_string(i), x);
        s.patch.print(x, 0, "state" + std::to_string(i));
        s.send("s" + std::to_string(i) + " connect localhost " + port).wait(100);
    }
    // A float 1 before any connect: the loopback name and port 3000; without
    // arguments (or port 0): port 8000; then float 1 again reuses host and port.
    int u = add_sender(s.patch, "1 1", "u");
    (void)u;
    s.send("u 1").wait(100).send("u 0").send("u connect").wait(100).send("u 0");
    s.send("u connect 127.0.0.1 0").wait(100).send("u 0").send("u host localhost");
    s.send("u 1").wait(100).send("u connect").send("u 0").send("u disconnect");
    s.send("u connect localhost 70000").send("u connect localhost -1").wait(50);
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(r.printed("state" + std::to_string(i)), strings{"1"}) << args[i];
    for (int i = 3; i < 5; i++)
        EXPECT_TRUE(r.printed("state" + std::to_string(i)).empty()) << args[i];
    EXPECT_EQ(count_sockerror(r, refused()), 2u);
    auto posts = [&] {
        strings out;
        for (auto &l : r.lines)
            if (l.rfind("strimo~: connected host", 0) == 0 && l.find(port) == std::string::npos)
                out.push_back(l);
        return out;
    }();
    EXPECT_EQ(posts, (strings{"strimo~: connected host localhost on port 3000",
                         "strimo~: connected host localhost on port 8000",
                         "strimo~: connected host 127.0.0.1 on port 8000",
                         "strimo~: connected host localhost on port 8000"})) << r.output();
    EXPECT_EQ(r.printed("state"), (strings{"1", "0", "1", "0", "1", "0", "1", "0"})) << r.output();
    EXPECT_EQ(r.count("strimo~: already connected"), 1u) << r.output();
    EXPECT_TRUE(r.contains("error: strimo~: port 70000 out of range (1..65535)")) << r.output();
    EXPECT_TRUE(r.contains("error: strimo~: port -1 out of range (1..65535)")) << r.output();
}

INSTANTIATE_TEST_SUITE_P(Builds, Stream,
    ::testing::Values(Build::plain, Build::sanitized, Build::threads), build_name);

// ---- the receiver on its own ------------------------------------------------

namespace {

bytes frame_bytes(int format, int count, int channels, int framesize, std::size_t data)
{
    auto tag = stream::encode_tag(format, count, channels, framesize);
    bytes out(tag.begin(), tag.end());
    out.resize(out.size() + data, 0x80);
    return out;
}

void send_all(int fd, const bytes &b)
{
    ASSERT_EQ(send(fd, b.data(), b.size(), MSG_NOSIGNAL), static_cast<ssize_t>(b.size()));
}

Socket connected(int type, int port)
{
    Socket s(socket(AF_INET, type, 0));
    sockaddr_in a = loopback(port);
    if (connect(s.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        throw std::runtime_error("connect failed");
    return s;
}

} // namespace

TEST(Receiver, RefusesBadHeadersAndReportsGaps)
{
    Receiver rx({"-p", "0", "-v"}, Receiver::program::of_build);
    {
        Socket c = connected(SOCK_STREAM, rx.port());
        send_all(c.fd, frame_bytes(stream::SF_FLOAT, 1, 1, 4096, 4096));
        send_all(c.fd, frame_bytes(stream::SF_FLOAT, 3, 1, 4096, 4096));
        bytes bad = frame_bytes(stream::SF_FLOAT, 4, 1, 4096, 4096);
        bad[17] = 1;
        send_all(c.fd, bad);
        ASSERT_TRUE(rx.wait_for_line("connection closed after 2 frames")) << joined(rx.finish());
    }
    {
        Socket c = connected(SOCK_STREAM, rx.port());
        send_all(c.fd, frame_bytes(stream::SF_16BIT, 1, 2, 8192, 8192));
        ASSERT_TRUE(rx.wait_for_line("connection closed after 0 frames")) << joined(rx.finish());
    }
    strings lines = rx.finish();
    const std::string all = joined(lines);
    EXPECT_NE(all.find("gap: 1 frame missing before frame 3\n"), std::string::npos) << all;
    EXPECT_NE(all.find("bad header: reserved bytes are not 0 (bytes: 01 01 00 00 04 00 00 00 01 00 00 00 "
                       "00 10 00 00 00 01 00 00 00 00 00 00)\n"), std::string::npos) << all;
    EXPECT_NE(all.find("bad header: framesize does not match format and channels"), std::string::npos) << all;
    auto sum = summary(lines);
    EXPECT_EQ(sum["connections"], 2);
    EXPECT_EQ(sum["frames"], 2);
    EXPECT_EQ(sum["gaps"], 1);
    EXPECT_EQ(sum["missing"], 1);
    EXPECT_EQ(sum["bad"], 2);
}

TEST(Receiver, DatagramsMustMatchTheirHeader)
{
    auto wav = std::filesystem::temp_directory_path() / ("lorvex-udp-" + std::to_string(getpid()) + ".wav");
    Receiver rx({"-p", "0", "-u", "-v", "-s", "1", "-o", wav.string()}, Receiver::program::of_build);
    Socket c = connected(SOCK_DGRAM, rx.port());
    auto datagrams = [&](int count, int channels, std::size_t data) {
        bytes f = frame_bytes(stream::SF_8BIT, count, channels, 1024 * channels, data);
        send_all(c.fd, bytes(f.begin(), f.begin() + 24));
        if (data)
            send_all(c.fd, bytes(f.begin() + 24, f.end()));
    };
    datagrams(1, 1, 1000);   // short data
    datagrams(2, 1, 1024);
    datagrams(1, 1, 1024);   // a new sender's count
    datagrams(2, 0, 0);      // header alone
    ASSERT_TRUE(rx.wait_for([](const strings &l) { return frames_by_connection(l).back().size() == 3; }, 10))
        << joined(rx.finish());
    strings lines = rx.finish();
    const std::string all = joined(lines);
    EXPECT_NE(all.find("bad frame: 1000 data bytes, header says 1024"), std::string::npos) << all;
    EXPECT_NE(all.find("count restarts at 1"), std::string::npos) << all;
    EXPECT_NE(all.find("frame 2: format 8bit, channels 1, framesize 1024\n  0: 128\n"), std::string::npos) << all;
    auto sum = summary(lines);
    EXPECT_EQ(sum["frames"], 3);
    EXPECT_EQ(sum["restarts"], 1);
    EXPECT_EQ(sum["bad"], 1);
    // Two 8-bit frames of silence, written unchanged.
    Wav w = read_wav(wav);
    std::filesystem::remove(wav);
    EXPECT_EQ(w.format, SF_FORMAT_PCM_U8);
    EXPECT_EQ(w.data, bytes(2048, 0x80));
}

// ---- several senders at once --------------------------------------------------

namespace {

// A frame whose every data byte is different from the last frame's: bytes
// counting up from `seed`.
bytes numbered_frame(int format, int count, int channels, unsigned seed)
{
    const int size = stream::frame_bytes(format, channels);
    bytes f = frame_bytes(format, count, channels, size, static_cast<std::size_t>(size));
    for (int i = 0; i < size; i++)
        f[24 + static_cast<std::size_t>(i)] = static_cast<unsigned char>(seed + static_cast<unsigned>(i) * 7u);
    return f;
}

bytes data_of(const bytes &frame) { return bytes(frame.begin() + 24, frame.end()); }

bytes cat(bytes a, const bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::size_t count_lines(const strings &lines, const std::string &text)
{
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(),
        [&](const std::string &l) { return l.find(text) != std::string::npos; }));
}

// The file named on the "writing <file>: <what>" line.
std::filesystem::path file_written(const strings &lines, const std::string &what)
{
    static const std::regex writing(R"((?:.*: )?writing (.*): (.*))");
    for (const auto &l : lines) {
        std::smatch m;
        if (std::regex_match(l, m, writing) && m[2] == what)
            return m[1].str();
    }
    return {};
}

int open_descriptors(pid_t pid)
{
    int n = 0;
    for ([[maybe_unused]] auto &e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        n++;
    return n;
}

std::filesystem::path temp_wav(const std::string &name)
{
    return std::filesystem::temp_directory_path() / ("lorvex-" + name + "-" + std::to_string(getpid()) + ".wav");
}

} // namespace

// One connection that says nothing and one that hung in the middle of a
// header: a sender that comes after them streams at once, and both are
// closed when they have sent no whole frame for the time given.
TEST(Receiver, AnIdleConnectionHoldsUpNoSender)
{
    auto wav = temp_wav("idle");
    Receiver rx({"-p", "0", "-v", "-t", "1", "-o", wav.string()}, Receiver::program::of_build);
    Socket idle = connected(SOCK_STREAM, rx.port());
    Socket stale = connected(SOCK_STREAM, rx.port());
    send_all(stale.fd, bytes(10, 1));
    ASSERT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, "connection from") == 2; }, 5))
        << joined(rx.finish());
    Socket c = connected(SOCK_STREAM, rx.port());
    bytes sent;
    for (int n = 1; n <= 4; n++) {
        bytes f = numbered_frame(stream::SF_FLOAT, n, 1, static_cast<unsigned>(n));
        send_all(c.fd, f);
        sent = cat(sent, data_of(f));
    }
    EXPECT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, "format float, channels 1") == 4; }, 5));
    // The idle pair is closed from its side: the test's sockets see the end.
    char byte;
    EXPECT_TRUE(readable(idle.fd, 5) && recv(idle.fd, &byte, 1, 0) == 0);
    EXPECT_TRUE(readable(stale.fd, 5) && recv(stale.fd, &byte, 1, 0) == 0);
    strings lines = rx.finish();
    const std::string all = joined(lines);
    // Every frame arrived while the idle ones were still open.
    const auto first_closing = all.find("closing idle connection: no complete frame for 1 s");
    ASSERT_NE(first_closing, std::string::npos) << all;
    EXPECT_LT(all.rfind("frame 4: format float"), first_closing) << all;
    EXPECT_EQ(count_lines(lines, "connection closed after 0 frames"), 2u) << all;
    auto sum = summary(lines);
    EXPECT_EQ(sum["connections"], 3);
    EXPECT_EQ(sum["frames"], 4);
    EXPECT_EQ(sum["idle"], 3) << "the sender fell silent too";
    EXPECT_EQ(sum["bad"], 0);
    Wav w = read_wav(wav);
    std::filesystem::remove(wav);
    EXPECT_EQ(w.data, sent);
}

// With -1 the receiver stops when a sender ends, not when a connection that
// never sent a frame does.
TEST(Receiver, OnlyASenderEndsAOneShotReceiver)
{
    Receiver rx({"-p", "0", "-1"}, Receiver::program::of_build);
    {
        Socket probe = connected(SOCK_STREAM, rx.port());
        ASSERT_TRUE(rx.wait_for_line("connection from"));
    }
    ASSERT_TRUE(rx.wait_for_line("connection closed after 0 frames"));
    Socket c = connected(SOCK_STREAM, rx.port());
    send_all(c.fd, frame_bytes(stream::SF_FLOAT, 1, 0, 0, 0));
    c = Socket();
    ASSERT_TRUE(rx.wait_for_line("summary: ")) << joined(rx.finish());
    auto sum = summary(rx.finish());
    EXPECT_EQ(sum["connections"], 2);
    EXPECT_EQ(sum["frames"], 1);
}

// Two senders whose frames interleave, one cut in the middle of a frame:
// each is decoded on its own, into its own file, with its own counts.
TEST(Receiver, TwoSendersAtOnceIntoTwoFiles)
{
    auto wav = temp_wav("two");
    Receiver rx({"-p", "0", "-v", "-o", wav.string()}, Receiver::program::of_build);
    Socket a = connected(SOCK_STREAM, rx.port());
    Socket b = connected(SOCK_STREAM, rx.port());
    ASSERT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, "connection from") == 2; }, 5));
    std::vector<bytes> fa, fb;
    for (int n = 1; n <= 3; n++)
        fa.push_back(numbered_frame(stream::SF_FLOAT, n, 2, 11u * static_cast<unsigned>(n)));
    for (int n : {1, 3})
        fb.push_back(numbered_frame(stream::SF_16BIT, n, 1, 100u + static_cast<unsigned>(n)));
    const std::size_t half = fa[0].size() / 2;
    send_all(a.fd, bytes(fa[0].begin(), fa[0].begin() + static_cast<long>(half)));
    send_all(b.fd, fb[0]);
    ASSERT_TRUE(rx.wait_for_line("frame 1: format 16bit")) << joined(rx.finish());
    send_all(a.fd, bytes(fa[0].begin() + static_cast<long>(half), fa[0].end()));
    send_all(a.fd, fa[1]);
    send_all(b.fd, fb[1]);
    send_all(a.fd, fa[2]);
    ASSERT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, ": format ") == 5; }, 5))
        << joined(rx.finish());
    a = Socket();
    b = Socket();
    ASSERT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, "connection closed after") == 2; }, 5));
    strings lines = rx.finish();
    const std::string all = joined(lines);
    // While both stream, every line says whose it is.
    EXPECT_EQ(count_lines(lines, ": gap: 1 frame missing before frame 3"), 1u) << all;
    EXPECT_EQ(count_lines(lines, "sender totals: frames 3 gaps 0 missing 0 restarts 0 bad 0"), 1u) << all;
    EXPECT_EQ(count_lines(lines, "sender totals: frames 2 gaps 1 missing 1 restarts 0 bad 0"), 1u) << all;
    auto sum = summary(lines);
    EXPECT_EQ(sum["connections"], 2);
    EXPECT_EQ(sum["frames"], 5);
    EXPECT_EQ(sum["gaps"], 1);
    EXPECT_EQ(sum["missing"], 1);
    const auto file_a = file_written(lines, "float, 2 channels");
    const auto file_b = file_written(lines, "16bit, 1 channels");
    ASSERT_FALSE(file_a.empty() || file_b.empty()) << all;
    EXPECT_NE(file_a, file_b);
    Wav wa = read_wav(file_a), wb = read_wav(file_b);
    std::filesystem::remove(file_a);
    std::filesystem::remove(file_b);
    EXPECT_EQ(wa.data, cat(cat(data_of(fa[0]), data_of(fa[1])), data_of(fa[2])));
    EXPECT_EQ(wb.data, cat(data_of(fb[0]), data_of(fb[1])));
    EXPECT_EQ(wa.channels, 2);
    EXPECT_EQ(wb.format, SF_FORMAT_PCM_16);
}

namespace {

std::string from(const Socket &s) { return "127.0.0.1:" + std::to_string(s.port()) + ": "; }

} // namespace

// 200 idle connections at once against a cap of 50, beside a sender that
// has streamed: each newcomer takes the place of the connection silent
// longest among those that never sent a frame, so a real sender coming after
// the flood is read at once, and the one that streamed is never closed.
// When all are gone the receiver holds no more descriptors than before.
TEST(Receiver, AFloodOfIdleConnectionsMakesRoomForSenders)
{
    Receiver rx({"-p", "0", "-v", "-m", "50", "-t", "0"}, Receiver::program::of_build);
    // Its open files are counted on Linux (a Windows program's are wine's).
    const int before = windows() ? 0 : open_descriptors(rx.pid());
    Socket a = connected(SOCK_STREAM, rx.port());
    send_all(a.fd, frame_bytes(stream::SF_FLOAT, 1, 0, 0, 0));
    ASSERT_TRUE(rx.wait_for_line("frame 1: format float, channels 0")) << joined(rx.finish());
    std::vector<Socket> flood;
    std::vector<std::string> flood_from;
    for (int i = 0; i < 200; i++) {
        flood.push_back(connected(SOCK_STREAM, rx.port()));
        flood_from.push_back(from(flood.back()));
    }
    ASSERT_TRUE(rx.wait_for([](const strings &l) {
        return count_lines(l, "connection from 127") == 201 && count_lines(l, ": making room for ") == 151;
    }, 20)) << joined(rx.finish());

    Socket b = connected(SOCK_STREAM, rx.port());
    for (int n = 1; n <= 3; n++)
        send_all(b.fd, frame_bytes(stream::SF_FLOAT, n, 0, 0, 0));
    EXPECT_TRUE(rx.wait_for([&](const strings &l) { return count_lines(l, from(b) + "frame 3: format float") == 1; }, 10));
    send_all(a.fd, frame_bytes(stream::SF_FLOAT, 2, 0, 0, 0));
    EXPECT_TRUE(rx.wait_for([&](const strings &l) { return count_lines(l, from(a) + "frame 2: format float") == 1; }, 10));

    flood.clear();
    a = Socket();
    b = Socket();
    EXPECT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, "connection closed after") == 202; }, 20));
    if (!windows()) {
        EXPECT_EQ(open_descriptors(rx.pid()), before);
    }
    strings lines = rx.finish();
    const std::string all = joined(lines);
    // The silent longest went first: the first 152 of the flood.
    for (std::size_t i = 0; i < flood_from.size(); i++)
        EXPECT_EQ(count_lines(lines, flood_from[i] + "making room for "), i < 152 ? 1u : 0u) << i;
    EXPECT_EQ(count_lines(lines, ": making room for "), 152u) << all;
    EXPECT_EQ(count_lines(lines, from(a) + "making room"), 0u) << all;
    EXPECT_EQ(count_lines(lines, from(b) + "making room"), 0u) << all;
    EXPECT_EQ(count_lines(lines, "(-m 50): no complete frame, silent for "), 152u) << all;
    auto sum = summary(lines);
    EXPECT_EQ(sum["connections"], 202) << all;
    EXPECT_EQ(sum["displaced"], 152);
    EXPECT_EQ(sum["refused"], 0);
    EXPECT_EQ(sum["frames"], 5);
}

// The silent longest goes first: of three idle connections, the oldest
// makes room, then the next; one that sent part of a frame since counts as
// heard from then.
TEST(Receiver, TheConnectionSilentLongestMakesRoom)
{
    Receiver rx({"-p", "0", "-v", "-m", "3", "-t", "0"}, Receiver::program::of_build);
    Socket first = connected(SOCK_STREAM, rx.port());
    ASSERT_TRUE(rx.wait_for_line("connection from"));
    Socket second = connected(SOCK_STREAM, rx.port());
    Socket third = connected(SOCK_STREAM, rx.port());
    ASSERT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, "connection from") == 3; }, 5));
    // The first says something, though no whole frame: now the second is
    // the one silent longest.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    send_all(first.fd, bytes(10, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Socket fourth = connected(SOCK_STREAM, rx.port());
    ASSERT_TRUE(rx.wait_for_line(from(second) + "making room for 127.0.0.1:" + std::to_string(fourth.port())))
        << joined(rx.finish());
    Socket fifth = connected(SOCK_STREAM, rx.port());
    ASSERT_TRUE(rx.wait_for_line(from(third) + "making room for 127.0.0.1:" + std::to_string(fifth.port())))
        << joined(rx.finish());
    strings lines = rx.finish();
    EXPECT_EQ(count_lines(lines, from(first) + "making room"), 0u) << joined(lines);
}

// Only when every place holds a sender that has streamed is a newcomer
// refused, and the senders stream on.
TEST(Receiver, RefusesOnlyWhenEverySenderHasStreamed)
{
    Receiver rx({"-p", "0", "-v", "-m", "3", "-t", "0"}, Receiver::program::of_build);
    std::vector<Socket> senders;
    for (int i = 0; i < 3; i++) {
        senders.push_back(connected(SOCK_STREAM, rx.port()));
        send_all(senders.back().fd, frame_bytes(stream::SF_FLOAT, 1, 0, 0, 0));
    }
    ASSERT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, "frame 1: format float") == 3; }, 10))
        << joined(rx.finish());
    Socket late = connected(SOCK_STREAM, rx.port());
    ASSERT_TRUE(rx.wait_for_line("refusing connection from 127.0.0.1:" + std::to_string(late.port()) +
                                 ": 3 connections open already (-m), each has sent frames"))
        << joined(rx.finish());
    // Refused: its side sees the end.
    char byte;
    EXPECT_TRUE(readable(late.fd, 5) && recv(late.fd, &byte, 1, 0) == 0);
    for (auto &s : senders)
        send_all(s.fd, frame_bytes(stream::SF_FLOAT, 2, 0, 0, 0));
    EXPECT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, "frame 2: format float") == 3; }, 10));
    strings lines = rx.finish();
    auto sum = summary(lines);
    EXPECT_EQ(sum["refused"], 1) << joined(lines);
    EXPECT_EQ(sum["displaced"], 0);
    EXPECT_EQ(sum["frames"], 6);
}

// Over UDP alike: sources that never sent a whole frame make room for new
// ones, the source that streams stays.
TEST(Receiver, SilentDatagramSourcesMakeRoom)
{
    Receiver rx({"-p", "0", "-u", "-v", "-m", "2", "-t", "0"}, Receiver::program::of_build);
    Socket a = connected(SOCK_DGRAM, rx.port());
    send_all(a.fd, frame_bytes(stream::SF_8BIT, 1, 0, 0, 0));
    ASSERT_TRUE(rx.wait_for_line("frame 1: format 8bit")) << joined(rx.finish());
    std::vector<Socket> noise;
    for (int i = 0; i < 5; i++) {
        noise.push_back(connected(SOCK_DGRAM, rx.port()));
        send_all(noise.back().fd, bytes(3, 0));
    }
    ASSERT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, ": making room for ") == 4; }, 10))
        << joined(rx.finish());
    Socket b = connected(SOCK_DGRAM, rx.port());
    send_all(b.fd, frame_bytes(stream::SF_8BIT, 1, 0, 0, 0));
    send_all(a.fd, frame_bytes(stream::SF_8BIT, 2, 0, 0, 0));
    EXPECT_TRUE(rx.wait_for([&](const strings &l) {
        return count_lines(l, from(b) + "frame 1: format 8bit") == 1 && count_lines(l, from(a) + "frame 2") == 1;
    }, 10));
    strings lines = rx.finish();
    EXPECT_EQ(count_lines(lines, from(a) + "making room"), 0u) << joined(lines);
    auto sum = summary(lines);
    EXPECT_EQ(sum["displaced"], 5) << joined(lines);
    EXPECT_EQ(sum["sources"], 7);
    EXPECT_EQ(sum["refused"], 0);
}

// Datagrams of two sources, header and data of one between those of the
// other: each source is a sender of its own, with its own count.
TEST(Receiver, DatagramSourcesAreToldApart)
{
    Receiver rx({"-p", "0", "-u", "-v"}, Receiver::program::of_build);
    Socket a = connected(SOCK_DGRAM, rx.port());
    Socket b = connected(SOCK_DGRAM, rx.port());
    for (int n = 1; n <= 3; n++) {
        bytes fa = numbered_frame(stream::SF_8BIT, n, 1, 1), fb = numbered_frame(stream::SF_8BIT, 40 + 2 * n, 2, 2);
        send_all(a.fd, bytes(fa.begin(), fa.begin() + 24));
        send_all(b.fd, bytes(fb.begin(), fb.begin() + 24));
        send_all(b.fd, data_of(fb));
        send_all(a.fd, data_of(fa));
    }
    ASSERT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, ": format 8bit") == 6; }, 5))
        << joined(rx.finish());
    strings lines = rx.finish();
    const std::string all = joined(lines);
    EXPECT_EQ(count_lines(lines, "127.0.0.1:" + std::to_string(b.port()) + ": gap: 1 frame missing before frame "), 2u)
        << all;
    EXPECT_EQ(count_lines(lines, "bad frame"), 0u) << all;
    auto sum = summary(lines);
    EXPECT_EQ(sum["frames"], 6);
    EXPECT_EQ(sum["sources"], 2);
    EXPECT_EQ(sum["gaps"], 2);
    EXPECT_EQ(sum["restarts"], 0);
}

// strimo~ in the real Pd streams while the test streams from a socket of its
// own and a third connection idles: every frame of both arrives, in order.
TEST(Receiver, StrimoIsOneOfSeveralSenders)
{
    auto wav = temp_wav("beside");
    Receiver rx({"-p", "0", "-t", "10", "-o", wav.string()}, Receiver::program::of_build);
    Socket idle = connected(SOCK_STREAM, rx.port());
    Socket other = connected(SOCK_STREAM, rx.port());
    Scenario s;
    prepare(s, Build::plain);
    int x = add_sender(s.patch, "1");
    s.patch.connect(ramp(s.patch), 0, x, 0);
    dsp_on_first_connect(s.patch, x);
    s.send(connect_to(rx.port())).wait(800).send("s disconnect");
    bytes sent;
    std::thread beside([&] {
        for (int n = 1; n <= 20; n++) {
            bytes f = numbered_frame(stream::SF_16BIT, n, 2, static_cast<unsigned>(n));
            if (send(other.fd, f.data(), f.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(f.size()))
                return;
            sent = cat(sent, data_of(f));
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    });
    Result r = s.run();
    beside.join();
    ASSERT_TRUE(clean(r)) << r.output();
    other = Socket();
    ASSERT_TRUE(rx.wait_for([](const strings &l) { return count_lines(l, "connection closed after") == 2; }, 10))
        << joined(rx.finish());
    strings lines = rx.finish();
    const auto from_pd = file_written(lines, "float, 1 channels");
    const auto from_test = file_written(lines, "16bit, 2 channels");
    ASSERT_FALSE(from_pd.empty() || from_test.empty()) << joined(lines);
    auto frames = ramp_frames(from_pd);
    Wav w = read_wav(from_test);
    std::filesystem::remove(from_pd);
    std::filesystem::remove(from_test);
    EXPECT_EQ(w.data, sent);
    EXPECT_EQ(sent.size(), 20u * 4096u);
    ASSERT_GE(frames.size(), 10u) << joined(lines);
    for (std::size_t f = 0; f < frames.size(); f++) {
        EXPECT_EQ(frames[f][0], 1.f + 1024.f * static_cast<float>(f)) << "frame " << f + 1;
        EXPECT_TRUE(consecutive(frames[f])) << "frame " << f + 1;
    }
    EXPECT_EQ(summary(lines)["gaps"], 0);
}

// ---- messages (no peer needed) -----------------------------------------------

TEST(StreamMessages, CreationArgumentsSetTheInlets)
{
    Scenario s;
    const char *args[] = {"", "0", "-3", "2.9", "40", "32"};
    for (int i = 0; i < 6; i++) {
        int x = s.patch.obj(std::string("strimo~ ") + args[i]);
        s.patch.receive("s" + std::to_string(i), x);
        s.patch.print(x, 1, "info" + std::to_string(i));
        s.send("s" + std::to_string(i) + " bang");
    }
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    const char *channels[] = {"1", "1", "1", "2", "32", "32"};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(r.printed("info" + std::to_string(i)),
            (strings{"format _float_", std::string("channels ") + channels[i], "framesize 0",
                "bitrate 0", "ipaddr localhost"}))
            << args[i];
    EXPECT_TRUE(r.contains("strimo~ v1.0alpha11"));
}

TEST(StreamMessages, ChannelsAndFormatRequests)
{
    Scenario s;
    add_sender(s.patch, "2");
    s.send("s channels 2.7").send("s channels 33").send("s channels -1").send("s channels @nan");
    s.send("s channels 5").send("s format floaty").send("s format 16bit 3").send("s format wav");
    s.send("s format mp3").send("s format aac").send("s host").send("s bang");
    // One frame later the requests are in effect.
    s.dsp(true).wait(30).send("s bang");
    s.send("s format floaty").send("s channels 0").wait(30).send("s bang");
    s.send("s channels 2").wait(30).send("s bang").send("s disconnect").send("s 0");
    Result r = s.run();
    ASSERT_TRUE(clean(r)) << r.output();
    strings posts;
    for (auto &l : r.lines)
        if (l.find("strimo~: ") != std::string::npos)
            posts.push_back(l);
    EXPECT_EQ(posts, (strings{"strimo~: channels set to 2", "strimo~: channels set to 2",
                         "strimo~: format set to floaty", "strimo~: format set to 16bit",
                         "strimo~: format set to wav", "error: strimo~: not compiled with mp3 support",
                         "error: strimo~: not compiled with aac support",
                         "strimo~: format set to floaty", "strimo~: channels set to 0",
                         "strimo~: channels set to 2"}))
        << r.output();
    // Kilobits a second at the rate Pd runs at (1411.2 for 16 bits at 44100).
    auto kbits = [](int bits) {
        return num(static_cast<pd_float>(static_cast<double>(pd_default_rate()) * 2 * bits / 1000));
    };
    EXPECT_EQ(r.printed("info"),
        (strings{"format _float_", "channels 2", "framesize 0", "bitrate 0", "ipaddr localhost",
            "format _16bit_", "channels 2", "framesize 0", "bitrate " + kbits(16), "ipaddr localhost",
            "format _float_", "channels 0", "framesize 0", "bitrate 0", "ipaddr localhost",
            "format _float_", "channels 2", "framesize 0", "bitrate " + kbits(32), "ipaddr localhost"}))
        << r.output();
    EXPECT_TRUE(r.printed("state").empty()) << r.output();
}
