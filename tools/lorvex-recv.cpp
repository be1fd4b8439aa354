// lorvex-recv: the receiving end of strimo~'s audio stream. Listens on a TCP
// or UDP port, checks every header, reports gaps in the frame count, decodes
// the samples and writes them to WAV files; prints a line per frame (-v) and a
// summary when it stops (after -n frames, at the end of the first connection
// with -1, or on SIGINT/SIGTERM).
//
// Several senders may stream at once: one poll loop serves every TCP
// connection (and every UDP source), each decoded on its own, so a peer that
// connects and then says nothing (a port scanner, a hung sender) holds up
// nobody; it is closed when it has sent no complete frame for a while. At
// the cap on senders (-m), a newcomer takes the place of the connection
// that has been silent longest among those that never sent a whole frame,
// so that a flood of idle connections cannot lock real senders out.
#include "recv_stream.hpp"

#include "lorvex/os/process.hpp"
#include "lorvex/os/socket.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <map>
#include <memory>
#include <sndfile.h>
#include <string>
#include <vector>

namespace stream = lorvex::stream;
namespace incoming = lorvex::incoming;
namespace os = lorvex::os;
using clock_type = std::chrono::steady_clock;

namespace {

volatile std::sig_atomic_t stop_requested = 0;

struct options {
    int port = 8000;
    bool udp = false;
    std::string wav;
    int rate = 44100;
    bool verbose = false;
    int show_samples = 0;
    long max_frames = 0;
    bool once = false;
    double idle_seconds = 5;
    long max_senders = 64;
};

// Asked for (--help), the usage goes to standard output; after a mistake,
// to standard error.
void usage(std::FILE *to)
{
    std::fprintf(to,
        "usage: lorvex-recv [-u] [-p port] [-o file.wav] [-r rate] [-v] [-s samples] [-n frames] [-1]\n"
        "                   [-t seconds] [-m senders]\n"
        "       lorvex-recv --help | --version\n"
        "Receives the audio stream of strimo~ and writes it to WAV files.\n"
        "  -p port     port to listen on (default 8000; 0: any free port, printed at start)\n"
        "  -u          receive UDP datagrams instead of TCP connections\n"
        "  -o file     write the audio to a WAV file; a change of format or channel\n"
        "              count starts the next file (file-2.wav, file-3.wav, ...).\n"
        "              While one sender writes file.wav, another that starts\n"
        "              sending writes its own: file-c5.wav for the 5th since\n"
        "              the start (then file-c5-2.wav, ...)\n"
        "  -r rate     sample rate written into WAV files (default 44100)\n"
        "  -v          print one line per frame\n"
        "  -s samples  with -v, print the first samples of each frame as sent\n"
        "  -n frames   stop after this many frames (from all senders together)\n"
        "  -1          (TCP) stop when the first connection that sent frames ends\n"
        "              (one that sent none, such as a port scanner, does not count)\n"
        "  -t seconds  close a connection (forget a UDP source) that has sent no\n"
        "              complete frame for this long (default 5; 0: never)\n"
        "  -m senders  most connections (UDP sources) served at once (default 64);\n"
        "              a newcomer takes the place of the one silent longest among\n"
        "              those that have sent no complete frame, and is refused only\n"
        "              when every one has\n"
        "  -h, --help  print this and exit\n"
        "  --version   print the version and exit\n"
        "While several senders stream, each line about one of them starts with\n"
        "its address and port (\"127.0.0.1:40312: frame 7: ...\").\n");
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

bool parse_seconds(const char *text, double &out)
{
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (errno || end == text || *end || !(v >= 0 && v <= 86400))
        return false;
    out = v;
    return true;
}

enum class asked { run, help, version, mistake };

asked parse_options(int argc, char **argv, options &o)
{
    static const option long_options[] = {
        {"help", no_argument, nullptr, 'h'}, {"version", no_argument, nullptr, 'V'}, {nullptr, 0, nullptr, 0}};
    int c;
    long v;
    while ((c = getopt_long(argc, argv, "p:uo:r:vs:n:1t:m:h", long_options, nullptr)) != -1) {
        switch (c) {
        case 'h': return asked::help;
        case 'V': return asked::version;
        case 'p':
            if (!parse_int(optarg, 0, 65535, v))
                return asked::mistake;
            o.port = static_cast<int>(v);
            break;
        case 'u': o.udp = true; break;
        case 'o': o.wav = optarg; break;
        case 'r':
            if (!parse_int(optarg, 1, 10000000, v))
                return asked::mistake;
            o.rate = static_cast<int>(v);
            break;
        case 'v': o.verbose = true; break;
        case 's':
            if (!parse_int(optarg, 0, stream::frame_samples, v))
                return asked::mistake;
            o.show_samples = static_cast<int>(v);
            break;
        case 'n':
            if (!parse_int(optarg, 1, 2147483647, v))
                return asked::mistake;
            o.max_frames = v;
            break;
        case '1': o.once = true; break;
        case 't':
            if (!parse_seconds(optarg, o.idle_seconds))
                return asked::mistake;
            break;
        case 'm':
            if (!parse_int(optarg, 1, 1000000, o.max_senders))
                return asked::mistake;
            break;
        default: return asked::mistake;
        }
    }
    return optind == argc ? asked::run : asked::mistake;
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    return text;
}

// "take.wav" with `suffix` before the extension: "take-c2.wav".
std::string with_suffix(const std::string &path, const std::string &suffix)
{
    std::string stem = path, ext;
    auto dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos) {
        stem = path.substr(0, dot);
        ext = path.substr(dot);
    }
    return stem + suffix + ext;
}

// WAV output: the stream's three encodings are WAV's own 32-bit float,
// 16-bit and unsigned 8-bit sample formats in the same byte order, so a
// frame's data goes into the file unchanged. `said` receives the line to
// print when a file is opened or cannot be.
class wav_writer {
public:
    wav_writer(std::string path, int rate) : base_(std::move(path)), rate_(rate) {}
    ~wav_writer() { close(); }
    wav_writer(const wav_writer &) = delete;
    wav_writer &operator=(const wav_writer &) = delete;

    bool write(const stream::t_tag &t, const unsigned char *data, std::string &said)
    {
        if (base_.empty() || t.channels == 0)
            return true;
        if (!file_ || t.format != format_ || t.channels != channels_) {
            close();
            if (!open(t.format, t.channels, said))
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
        return with_suffix(base_, "-" + std::to_string(files_));
    }

    bool open(int format_code, int channels, std::string &said)
    {
        SF_INFO info{};
        info.samplerate = rate_;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | (format_code == stream::SF_FLOAT   ? SF_FORMAT_FLOAT
                                          : format_code == stream::SF_16BIT ? SF_FORMAT_PCM_16
                                                                            : SF_FORMAT_PCM_U8);
        std::string name = next_name();
        file_ = sf_open(name.c_str(), SFM_WRITE, &info);
        if (!file_) {
            said = "cannot write " + name + ": " + sf_strerror(nullptr);
            return false;
        }
        format_ = format_code;
        channels_ = channels;
        said = format("writing %s: %s, %d channels", name.c_str(), stream::format_name(format_code), channels);
        return true;
    }

    std::string base_;
    int rate_;
    SNDFILE *file_ = nullptr;
    int format_ = 0, channels_ = 0, files_ = 0;
};

struct counters {
    long frames = 0, gaps = 0, missing = 0, restarts = 0, bad = 0;
};

// One sender: a TCP connection, or the datagrams from one UDP source.
struct sender {
    os::socket_t fd = os::no_socket;  // TCP only
    long number = 0;                // the how-manieth sender since the start
    std::string where;              // "address:port"
    incoming::frame_reader reader;      // TCP: the byte stream
    incoming::count_watch counts;
    counters c;
    clock_type::time_point last;    // when it came, or sent its last whole frame
    clock_type::time_point heard;   // when it came, or sent its last bytes
    bool main_file = false;         // writes to the -o file itself
    std::unique_ptr<wav_writer> own_file;
    stream::t_tag pending{};        // UDP: the header whose data comes next
    bool have_header = false;
};

std::string address_of(const sockaddr_in &a)
{
    char addr[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, addr, sizeof addr);
    return std::string(addr) + ":" + std::to_string(ntohs(a.sin_port));
}

class receiver {
public:
    explicit receiver(const options &o) : opt_(o), main_wav_(o.wav, o.rate) {}

    bool done() const { return stop_requested || (opt_.max_frames && all_.frames >= opt_.max_frames); }

    std::vector<std::unique_ptr<sender>> &senders() { return senders_; }

    // A new sender. At the cap, the sender silent longest among those that
    // have never sent a whole frame is closed to make room; nullptr (the
    // newcomer refused) only when every sender has sent one.
    sender *add(os::socket_t fd, const sockaddr_in &from)
    {
        const std::string where = address_of(from);
        if (static_cast<long>(senders_.size()) >= opt_.max_senders) {
            sender *quiet = quietest_without_frames();
            if (!quiet)
                return nullptr;
            displaced_++;
            line(*quiet, format("making room for %s (-m %ld): no complete frame, silent for %.1f s", where.c_str(),
                             opt_.max_senders,
                             std::chrono::duration<double>(clock_type::now() - quiet->heard).count()));
            remove(quiet, opt_.udp ? "source forgotten" : "connection closed");
        }
        auto s = std::make_unique<sender>();
        s->fd = fd;
        s->number = ++numbered_;
        s->where = where;
        s->last = s->heard = clock_type::now();
        senders_.push_back(std::move(s));
        return senders_.back().get();
    }

    sender *quietest_without_frames()
    {
        sender *quiet = nullptr;
        for (auto &s : senders_)
            if (s->c.frames == 0 && (!quiet || s->heard < quiet->heard))
                quiet = s.get();
        return quiet;
    }

    // Counts the senders let go, so that whoever keeps pointers to them
    // knows when to look again.
    long removals() const { return removals_; }

    // Prints the lines that close a sender and lets it go.
    void remove(sender *s, const char *ended)
    {
        // Closed first: whoever reads the lines finds the descriptor gone.
        if (s->fd != os::no_socket)
            os::close_socket(s->fd);
        s->own_file.reset();
        line(*s, format("%s after %ld frames", ended, s->c.frames));
        line(*s, format("sender totals: frames %ld gaps %ld missing %ld restarts %ld bad %ld", s->c.frames,
            s->c.gaps, s->c.missing, s->c.restarts, s->c.bad));
        if (s->main_file)
            main_taken_ = false;
        if (s->c.frames > 0)
            sender_ended_ = true;
        removals_++;
        for (auto it = senders_.begin(); it != senders_.end(); ++it)
            if (it->get() == s) {
                senders_.erase(it);
                break;
            }
    }

    // One line about one sender: while others stream too, it says whose.
    void line(const sender &s, const std::string &text)
    {
        if (senders_.size() > 1)
            std::printf("%s: %s\n", s.where.c_str(), text.c_str());
        else
            std::printf("%s\n", text.c_str());
    }

    void bad_header(sender &s, const unsigned char *raw, const char *why)
    {
        s.c.bad++;
        all_.bad++;
        std::string text = format("bad header: %s (bytes:", why);
        for (int i = 0; i < stream::tag_size; i++)
            text += format(" %02x", raw[i]);
        line(s, text + ")");
    }

    void bad_frame(sender &s, const std::string &why)
    {
        s.c.bad++;
        all_.bad++;
        line(s, "bad frame: " + why);
    }

    // One whole frame: header checked, data of the announced size. False
    // when the receiver is done or the file cannot be written.
    bool frame(sender &s, const stream::t_tag &t, const unsigned char *data)
    {
        std::int64_t missing = 0;
        switch (s.counts.see(t.count, missing)) {
        case incoming::count_watch::order::gap:
            s.c.gaps++;
            all_.gaps++;
            s.c.missing += static_cast<long>(missing);
            all_.missing += static_cast<long>(missing);
            line(s, format("gap: %lld frame%s missing before frame %d", static_cast<long long>(missing),
                        missing == 1 ? "" : "s", t.count));
            break;
        case incoming::count_watch::order::restart:
            s.c.restarts++;
            all_.restarts++;
            line(s, format("count restarts at %d", t.count));
            break;
        default: break;
        }
        s.c.frames++;
        all_.frames++;
        s.last = clock_type::now();
        if (opt_.verbose) {
            line(s, format("frame %d: format %s, channels %d, framesize %d", t.count,
                        stream::format_name(t.format), t.channels, t.framesize));
            for (int k = 0; k < opt_.show_samples && t.channels > 0; k++) {
                std::string text = format("  %d:", k);
                for (int j = 0; j < t.channels; j++)
                    text += " " + incoming::sample_text(t, data, k, j);
                line(s, text);
            }
        }
        // Headers alone (no channels) write nothing, and take no file.
        if (t.channels == 0 || opt_.wav.empty())
            return !done();
        std::string said;
        const bool written = file_of(s).write(t, data, said);
        if (!said.empty())
            line(s, said);
        else if (!written)
            line(s, std::string("cannot write the WAV file: ") + std::strerror(errno));
        return written && !done();
    }

    // The file a sender writes, chosen at its first frame: the -o file when
    // no other sender writes it, else one of its own. So a connection that
    // never sends a frame takes no name from anyone.
    wav_writer &file_of(sender &s)
    {
        if (!s.main_file && !s.own_file) {
            if (!main_taken_)
                s.main_file = main_taken_ = true;
            else
                s.own_file = std::make_unique<wav_writer>(
                    with_suffix(opt_.wav, "-c" + std::to_string(s.number)), opt_.rate);
        }
        return s.own_file ? *s.own_file : main_wav_;
    }

    // Closes (forgets) the senders that sent no whole frame for too long.
    void drop_idle(const char *what)
    {
        if (opt_.idle_seconds <= 0)
            return;
        const auto now = clock_type::now();
        for (std::size_t i = 0; i < senders_.size();) {
            sender *s = senders_[i].get();
            if (std::chrono::duration<double>(now - s->last).count() < opt_.idle_seconds) {
                i++;
                continue;
            }
            idle_++;
            line(*s, format("%s: no complete frame for %g s", what, opt_.idle_seconds));
            remove(s, opt_.udp ? "source forgotten" : "connection closed");
        }
    }

    bool sender_ended() const { return sender_ended_; }
    void refused() { refused_++; }

    void finish()
    {
        while (!senders_.empty())
            remove(senders_.front().get(), opt_.udp ? "source forgotten" : "connection closed");
        main_wav_.close();
        // Over UDP the senders are sources, not connections.
        std::printf("summary: connections %ld frames %ld gaps %ld missing %ld restarts %ld bad %ld "
                    "idle %ld refused %ld displaced %ld%s\n",
            opt_.udp ? 0 : numbered_, all_.frames, all_.gaps, all_.missing, all_.restarts, all_.bad, idle_,
            refused_, displaced_, opt_.udp ? format(" sources %ld", numbered_).c_str() : "");
    }

private:
    const options &opt_;
    wav_writer main_wav_;
    bool main_taken_ = false;
    std::vector<std::unique_ptr<sender>> senders_;
    counters all_;
    long numbered_ = 0, idle_ = 0, refused_ = 0, displaced_ = 0, removals_ = 0;
    bool sender_ended_ = false;
};

// The system's words for a socket error.
std::string socket_error_text(int err)
{
    char text[256];
    os::socket_error_text(err, text, sizeof text);
    return text;
}

// Reads what one connection has, as much as fits in `buf`; false when the
// connection is to be closed (its end, an error, a bad header, a stop).
bool serve(receiver &rx, sender &s, std::vector<unsigned char> &buf)
{
    const long r = os::receive_bytes(s.fd, buf.data(), buf.size());
    if (r < 0 && os::would_block(os::socket_error()))
        return true;
    if (r <= 0)
        return false;
    s.heard = clock_type::now();
    if (s.reader.feed(buf.data(), static_cast<std::size_t>(r),
            [&](const stream::t_tag &t, const unsigned char *data) { return rx.frame(s, t, data); }))
        return true;
    // A TCP stream cannot be resynchronised after a bad header: the connection is dropped.
    if (const char *why = s.reader.problem()) {
        rx.bad_header(s, s.reader.header().data(), why);
        rx.line(s, "dropping the connection");
    }
    return false;
}

// Takes every connection waiting on the listener; answers false when the
// process is out of descriptors (the listener then rests a moment).
bool take_connections(os::socket_t listener, receiver &rx)
{
    static bool out_told = false;
    // A bounded number a turn, so that even a flood of connects leaves the
    // connections already there their turn.
    for (int n = 0; n < 256; n++) {
        sockaddr_in from{};
        const os::socket_t fd = os::accept_connection(listener, from);
        if (fd == os::no_socket) {
            const int err = os::socket_error();
            if (os::out_of_descriptors(err)) {
                if (!out_told)
                    std::printf("cannot take more connections: %s\n", socket_error_text(err).c_str());
                out_told = true;
                return false;
            }
            return true;
        }
        out_told = false;
        sender *s = rx.add(fd, from);
        if (!s) {
            rx.refused();
            std::printf("refusing connection from %s: %zu connections open already (-m), each has sent frames\n",
                address_of(from).c_str(), rx.senders().size());
            os::close_socket(fd);
            continue;
        }
        char addr[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
        rx.line(*s, format("connection from %s port %d", addr, ntohs(from.sin_port)));
    }
    return true;
}

void run_tcp(os::socket_t listener, receiver &rx, const options &o)
{
    std::vector<unsigned char> buf(1 << 16);
    std::vector<pollfd> fds;
    std::vector<sender *> polled;
    auto listener_rests_until = clock_type::now();
    while (!rx.done() && !(o.once && rx.sender_ended())) {
        fds.clear();
        polled.clear();
        const bool listening = clock_type::now() >= listener_rests_until;
        if (listening)
            fds.push_back({listener, POLLIN, 0});
        for (auto &s : rx.senders()) {
            fds.push_back({s->fd, POLLIN, 0});
            polled.push_back(s.get());
        }
        const int r = os::wait_for_sockets(fds.data(), fds.size(), 100);
        if (r < 0 && !os::would_block(os::socket_error()))
            break;
        // Connections that ended go before new ones are taken, so that a
        // sender that reconnects at once is never seen twice.
        const std::size_t first = listening ? 1 : 0;
        for (std::size_t i = 0; r > 0 && i < polled.size(); i++)
            if (fds[first + i].revents && !serve(rx, *polled[i], buf))
                rx.remove(polled[i], "connection closed");
        rx.drop_idle("closing idle connection");
        if (listening && r > 0 && (fds[0].revents & POLLIN) && !take_connections(listener, rx))
            listener_rests_until = clock_type::now() + std::chrono::milliseconds(100);
    }
}

// Over UDP a frame is a header datagram, then (unless it is empty) a data
// datagram of exactly framesize bytes; each source address is a sender.
void datagram(receiver &rx, sender &s, const unsigned char *buf, std::size_t size)
{
    if (s.have_header && size != static_cast<std::size_t>(stream::tag_size)) {
        s.have_header = false;
        if (size != static_cast<std::size_t>(s.pending.framesize))
            rx.bad_frame(s, std::to_string(size) + " data bytes, header says " + std::to_string(s.pending.framesize));
        else
            rx.frame(s, s.pending, buf);
        return;
    }
    if (s.have_header)
        rx.bad_frame(s, "the data of frame " + std::to_string(s.pending.count) + " is missing");
    s.have_header = false;
    if (size != static_cast<std::size_t>(stream::tag_size)) {
        rx.bad_frame(s, std::to_string(size) + " bytes where a header was expected");
        return;
    }
    stream::tag_bytes raw;
    std::memcpy(raw.data(), buf, raw.size());
    const stream::t_tag t = stream::decode_tag(raw);
    if (const char *why = stream::tag_problem(t))
        rx.bad_header(s, raw.data(), why);
    else if (t.framesize == 0)
        rx.frame(s, t, nullptr);
    else
        s.pending = t, s.have_header = true;
}

void run_udp(os::socket_t fd, receiver &rx)
{
    std::vector<unsigned char> buf(65536);
    std::map<std::string, sender *> by_address;
    bool refusal_told = false;
    // The map is made anew whenever a source has gone (forgotten when idle,
    // or to make room for a new one).
    long removals = rx.removals();
    const auto look_again = [&] {
        if (rx.removals() == removals)
            return;
        removals = rx.removals();
        by_address.clear();
        for (auto &s : rx.senders())
            by_address[s->where] = s.get();
        refusal_told = false;
    };
    while (!rx.done()) {
        pollfd p{fd, POLLIN, 0};
        const int r = os::wait_for_sockets(&p, 1, 100);
        if (r < 0 && !os::would_block(os::socket_error()))
            break;
        // Several datagrams a turn, but never so many that idle sources wait.
        for (int n = 0; r > 0 && n < 256 && !rx.done(); n++) {
            sockaddr_in from{};
            const long got = os::receive_datagram(fd, buf.data(), buf.size(), from);
            if (got < 0)
                break;
            const std::string where = address_of(from);
            auto at = by_address.find(where);
            sender *s = at == by_address.end() ? nullptr : at->second;
            if (!s && (s = rx.add(os::no_socket, from)) != nullptr) {
                look_again();
                by_address[where] = s;
                refusal_told = false;
            }
            if (!s) {
                // Told once until a source goes, so a flood cannot fill the output.
                if (!refusal_told)
                    std::printf("ignoring datagrams from %s: %zu sources already (-m), each has sent frames\n",
                        where.c_str(), rx.senders().size());
                refusal_told = true;
                rx.refused();
                continue;
            }
            s->heard = clock_type::now();
            datagram(rx, *s, buf.data(), static_cast<std::size_t>(got));
        }
        rx.drop_idle("forgetting source");
        look_again();
    }
}

os::socket_t open_socket(const options &o, int &port)
{
    const os::socket_t fd = os::open_private_socket(o.udp ? SOCK_DGRAM : SOCK_STREAM);
    if (fd == os::no_socket) {
        std::fprintf(stderr, "lorvex-recv: socket: %s\n", socket_error_text(os::socket_error()).c_str());
        return os::no_socket;
    }
    os::reuse_address(fd);
    if (o.udp) {
        // Room for a burst of the largest datagrams while a frame is written out.
        os::set_receive_buffer(fd, 4 << 20);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<std::uint16_t>(o.port));
    // A long backlog: a burst of connections waits to be taken (or refused)
    // instead of retrying its connect seconds later.
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0 ||
        (!o.udp && listen(fd, SOMAXCONN) < 0)) {
        std::fprintf(stderr, "lorvex-recv: port %d: %s\n", o.port,
            socket_error_text(os::socket_error()).c_str());
        os::close_socket(fd);
        return os::no_socket;
    }
    os::set_nonblocking(fd);
    port = os::bound_port(fd);
    return fd;
}

// Every connection takes a descriptor (and a file with -o): the cap stays
// below what the process may open.
void fit_cap_to_descriptors(options &o)
{
    const long room = os::most_open_sockets();
    if (room < 0)
        return;
    const long most = std::max(1L, (room - 16) / (o.wav.empty() ? 1 : 2));
    if (o.max_senders > most) {
        std::printf("at most %ld senders at once (the limit on open files)\n", most);
        o.max_senders = most;
    }
}

} // namespace

int main(int argc, char **argv)
{
    options o;
    switch (parse_options(argc, argv, o)) {
    case asked::help: usage(stdout); return 0;
    case asked::version: std::printf("lorvex-recv (lorvex) %s\n", LORVEX_VERSION); return 0;
    case asked::mistake: usage(stderr); return 2;
    case asked::run: break;
    }
    // Whoever reads the output (a person or a test) sees each line as it happens.
    os::line_buffered(stdout);
    os::on_stop_request(&stop_requested);
    os::ignore_broken_pipe();
    if (!os::start_sockets()) {
        std::fprintf(stderr, "lorvex-recv: the system's sockets cannot be started\n");
        return 1;
    }

    int port = 0;
    const os::socket_t fd = open_socket(o, port);
    if (fd == os::no_socket)
        return 1;
    std::printf("listening on %s port %d\n", o.udp ? "udp" : "tcp", port);
    fit_cap_to_descriptors(o);

    receiver rx(o);
    if (o.udp)
        run_udp(fd, rx);
    else
        run_tcp(fd, rx, o);
    os::close_socket(fd);
    rx.finish();
    return 0;
}
