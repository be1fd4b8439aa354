// lorvex-recv: the receiving end of strimo~'s audio stream. Listens on a TCP
// or UDP port, checks every header, reports gaps in the frame count, decodes
// the samples and writes them to WAV files; prints a line per frame (-v) and a
// summary when it stops (after -n frames, at the end of the first connection
// with -1, or on SIGINT/SIGTERM).
#include "lorvex/stream_frame.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sndfile.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace stream = lorvex::stream;

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void on_signal(int) { stop_requested = 1; }

struct options {
    int port = 8000;
    bool udp = false;
    std::string wav;
    int rate = 44100;
    bool verbose = false;
    int show_samples = 0;
    long max_frames = 0;
    bool once = false;
};

void usage()
{
    std::fprintf(stderr,
        "usage: lorvex-recv [-u] [-p port] [-o file.wav] [-r rate] [-v] [-s samples] [-n frames] [-1]\n"
        "  -p port     port to listen on (default 8000; 0: any free port, printed at start)\n"
        "  -u          receive UDP datagrams instead of TCP connections\n"
        "  -o file     write the audio to a WAV file; a change of format or channel\n"
        "              count starts the next file (file-2.wav, file-3.wav, ...)\n"
        "  -r rate     sample rate written into WAV files (default 44100)\n"
        "  -v          print one line per frame\n"
        "  -s samples  with -v, print the first samples of each frame as sent\n"
        "  -n frames   stop after this many frames\n"
        "  -1          (TCP) stop when the first connection ends\n");
}

bool parse_int(const char *text, long lo, long hi, long &out)
{
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno || !end || *end || end == text || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool parse_options(int argc, char **argv, options &o)
{
    int c;
    long v;
    while ((c = getopt(argc, argv, "p:uo:r:vs:n:1h")) != -1) {
        switch (c) {
        case 'p':
            if (!parse_int(optarg, 0, 65535, v))
                return false;
            o.port = static_cast<int>(v);
            break;
        case 'u': o.udp = true; break;
        case 'o': o.wav = optarg; break;
        case 'r':
            if (!parse_int(optarg, 1, 10000000, v))
                return false;
            o.rate = static_cast<int>(v);
            break;
        case 'v': o.verbose = true; break;
        case 's':
            if (!parse_int(optarg, 0, stream::frame_samples, v))
                return false;
            o.show_samples = static_cast<int>(v);
            break;
        case 'n':
            if (!parse_int(optarg, 1, 2147483647, v))
                return false;
            o.max_frames = v;
            break;
        case '1': o.once = true; break;
        default: return false;
        }
    }
    return optind == argc;
}

// WAV output: the stream's three encodings are WAV's own 32-bit float,
// 16-bit and unsigned 8-bit sample formats in the same byte order, so a
// frame's data goes into the file unchanged.
class wav_writer {
public:
    wav_writer(std::string path, int rate) : base_(std::move(path)), rate_(rate) {}
    ~wav_writer() { close(); }

    bool write(const stream::t_tag &t, const unsigned char *data)
    {
        if (base_.empty() || t.channels == 0)
            return true;
        if (!file_ || t.format != format_ || t.channels != channels_) {
            close();
            if (!open(t.format, t.channels))
                return false;
        }
        return sf_write_raw(file_, data, t.framesize) == t.framesize;
    }

    void close()
    {
        if (file_)
            sf_close(file_);
        file_ = nullptr;
    }

private:
    std::string next_name()
    {
        if (++files_ == 1)
            return base_;
        std::string stem = base_, ext;
        auto dot = base_.rfind('.');
        if (dot != std::string::npos && base_.find('/', dot) == std::string::npos) {
            stem = base_.substr(0, dot);
            ext = base_.substr(dot);
        }
        return stem + "-" + std::to_string(files_) + ext;
    }

    bool open(int format, int channels)
    {
        SF_INFO info{};
        info.samplerate = rate_;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | (format == stream::SF_FLOAT   ? SF_FORMAT_FLOAT
                                          : format == stream::SF_16BIT ? SF_FORMAT_PCM_16
                                                                       : SF_FORMAT_PCM_U8);
        std::string name = next_name();
        file_ = sf_open(name.c_str(), SFM_WRITE, &info);
        if (!file_) {
            std::printf("cannot write %s: %s\n", name.c_str(), sf_strerror(nullptr));
            return false;
        }
        format_ = format;
        channels_ = channels;
        std::printf("writing %s: %s, %d channels\n", name.c_str(), stream::format_name(format),
            channels);
        return true;
    }

    std::string base_;
    int rate_;
    SNDFILE *file_ = nullptr;
    int format_ = 0, channels_ = 0, files_ = 0;
};

struct totals {
    long connections = 0, frames = 0, gaps = 0, missing = 0, bad = 0, restarts = 0;
};

class receiver {
public:
    explicit receiver(const options &o) : opt_(o), wav_(o.wav, o.rate) {}

    // A new sender (TCP connection): its count starts afresh.
    void new_stream() { expected_ = -1; }

    bool done() const { return stop_requested || (opt_.max_frames && t_.frames >= opt_.max_frames); }

    void bad_header(const unsigned char *raw, const char *why)
    {
        t_.bad++;
        std::printf("bad header: %s (bytes:", why);
        for (int i = 0; i < stream::tag_size; i++)
            std::printf(" %02x", raw[i]);
        std::printf(")\n");
    }

    void bad_frame(const char *why)
    {
        t_.bad++;
        std::printf("bad frame: %s\n", why);
    }

    // One whole frame: header checked, data of the announced size.
    bool frame(const stream::t_tag &t, const unsigned char *data)
    {
        if (expected_ >= 0 && t.count > expected_) {
            t_.gaps++;
            t_.missing += t.count - expected_;
            const long missing = static_cast<long>(t.count - expected_);
            std::printf("gap: %ld frame%s missing before frame %d\n", missing,
                missing == 1 ? "" : "s", t.count);
        } else if (expected_ >= 0 && t.count < expected_) {
            t_.restarts++;
            std::printf("count restarts at %d\n", t.count);
        }
        expected_ = static_cast<std::int64_t>(t.count) + 1;
        t_.frames++;
        if (opt_.verbose) {
            std::printf("frame %d: format %s, channels %d, framesize %d\n", t.count,
                stream::format_name(t.format), t.channels, t.framesize);
            print_samples(t, data);
        }
        return wav_.write(t, data);
    }

    totals &sums() { return t_; }
    void close_output() { wav_.close(); }

private:
    // Samples as they were sent: floats exactly, 16- and 8-bit as their codes.
    void print_samples(const stream::t_tag &t, const unsigned char *data)
    {
        const int size = stream::bytes_per_sample(t.format);
        for (int k = 0; k < opt_.show_samples && t.channels > 0; k++) {
            std::printf("  %d:", k);
            for (int j = 0; j < t.channels; j++) {
                const unsigned char *at = data + (k * t.channels + j) * size;
                if (t.format == stream::SF_FLOAT) {
                    std::printf(" %.9g", static_cast<double>(stream::decode_sample(t.format, at)));
                } else if (t.format == stream::SF_16BIT) {
                    std::int16_t v;
                    std::memcpy(&v, at, 2);
                    std::printf(" %d", v);
                } else {
                    std::printf(" %d", *at);
                }
            }
            std::printf("\n");
        }
    }

    const options &opt_;
    wav_writer wav_;
    totals t_;
    std::int64_t expected_ = -1;
};

// Waits until fd is readable or a stop is asked for.
bool wait_readable(int fd)
{
    while (!stop_requested) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 200);
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
    return false;
}

// Reads exactly n bytes; false at the end of the stream, on an error or a stop.
bool read_exactly(int fd, unsigned char *into, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        if (!wait_readable(fd))
            return false;
        ssize_t r = recv(fd, into + got, n - got, 0);
        if (r == 0)
            return false;
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// A TCP stream cannot be resynchronised after a bad header: the connection is dropped.
void serve_connection(int fd, receiver &rx)
{
    std::vector<unsigned char> data(stream::max_channels * stream::frame_samples * 4);
    stream::tag_bytes raw;
    rx.new_stream();
    long frames = 0;
    while (!rx.done() && read_exactly(fd, raw.data(), raw.size())) {
        const stream::t_tag t = stream::decode_tag(raw);
        if (const char *why = stream::tag_problem(t)) {
            rx.bad_header(raw.data(), why);
            std::printf("dropping the connection\n");
            break;
        }
        if (!read_exactly(fd, data.data(), static_cast<std::size_t>(t.framesize)))
            break;
        if (!rx.frame(t, data.data()))
            break;
        frames++;
    }
    std::printf("connection closed after %ld frames\n", frames);
}

void run_tcp(int listener, receiver &rx, const options &o)
{
    while (!rx.done() && wait_readable(listener)) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        int fd = accept(listener, reinterpret_cast<sockaddr *>(&from), &len);
        if (fd < 0)
            continue;
        rx.sums().connections++;
        char addr[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
        std::printf("connection from %s port %d\n", addr, ntohs(from.sin_port));
        serve_connection(fd, rx);
        close(fd);
        if (o.once)
            break;
    }
}

// Over UDP a frame is a header datagram, then (unless it is empty) a data
// datagram of exactly framesize bytes.
void run_udp(int fd, receiver &rx)
{
    std::vector<unsigned char> buf(65536);
    stream::t_tag pending{};
    bool have_header = false;
    while (!rx.done() && wait_readable(fd)) {
        ssize_t r = recv(fd, buf.data(), buf.size(), 0);
        if (r < 0)
            continue;
        const auto size = static_cast<std::size_t>(r);
        if (have_header && size != static_cast<std::size_t>(stream::tag_size)) {
            have_header = false;
            if (size != static_cast<std::size_t>(pending.framesize)) {
                rx.bad_frame((std::to_string(size) + " data bytes, header says " +
                                 std::to_string(pending.framesize)).c_str());
                continue;
            }
            if (!rx.frame(pending, buf.data()))
                break;
            continue;
        }
        if (have_header)
            rx.bad_frame(("the data of frame " + std::to_string(pending.count) + " is missing").c_str());
        have_header = false;
        if (size != static_cast<std::size_t>(stream::tag_size)) {
            rx.bad_frame((std::to_string(size) + " bytes where a header was expected").c_str());
            continue;
        }
        stream::tag_bytes raw;
        std::memcpy(raw.data(), buf.data(), raw.size());
        const stream::t_tag t = stream::decode_tag(raw);
        if (const char *why = stream::tag_problem(t)) {
            rx.bad_header(raw.data(), why);
            continue;
        }
        if (t.framesize == 0) {
            if (!rx.frame(t, nullptr))
                break;
        } else {
            pending = t;
            have_header = true;
        }
    }
}

int open_socket(const options &o, int &port)
{
    int fd = socket(AF_INET, o.udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (fd < 0) {
        std::perror("lorvex-recv: socket");
        return -1;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (o.udp) {
        // Room for a burst of the largest datagrams while a frame is written out.
        const int size = 4 << 20;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<std::uint16_t>(o.port));
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0 ||
        (!o.udp && listen(fd, 4) < 0)) {
        std::fprintf(stderr, "lorvex-recv: port %d: %s\n", o.port, std::strerror(errno));
        close(fd);
        return -1;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

int main(int argc, char **argv)
{
    options o;
    if (!parse_options(argc, argv, o)) {
        usage();
        return 2;
    }
    // Whoever reads the output (a person or a test) sees each line as it happens.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int port = 0;
    int fd = open_socket(o, port);
    if (fd < 0)
        return 1;
    std::printf("listening on %s port %d\n", o.udp ? "udp" : "tcp", port);

    receiver rx(o);
    if (o.udp)
        run_udp(fd, rx);
    else
        run_tcp(fd, rx, o);
    close(fd);
    rx.close_output();
    const totals &t = rx.sums();
    std::printf("summary: connections %ld frames %ld gaps %ld missing %ld restarts %ld bad %ld\n",
        t.connections, t.frames, t.gaps, t.missing, t.restarts, t.bad);
    return 0;
}
