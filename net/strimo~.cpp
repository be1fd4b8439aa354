// strimo~: sends the audio of 1..32 signal inlets to one network peer, over
// TCP or UDP, as frames of 1024 samples per channel behind a 24-byte header.
//
// Connecting (name lookup, connect) happens on a short-lived thread so that it
// never stalls Pd. The thread never calls into Pd and never touches the
// object: it works on an attempt record of its own, which the object's clock
// polls from Pd's scheduler thread. Whichever of the two lets go of the attempt
// last frees it, so the object may be deleted while its thread still waits in
// connect(): the thread then closes its socket and frees the attempt alone.
//
// The same clock tells the patch of a connection lost in the perform routine:
// sent from inside a DSP block, the 0 could make the patch stop DSP or change
// the graph, freeing the signal chain Pd is still running.
#include "lorvex/os/socket.hpp"
#include "lorvex/plugin.hpp"
#include "lorvex/stream_frame.hpp"
#include "lorvex/trunc.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include <pthread.h>

namespace stream = lorvex::stream;
namespace os = lorvex::os;
using stream::t_tag;

namespace {

constexpr int strimo_max_inlets = 32;
constexpr int strimo_default_port = 8000;
// How often (logical ms) the object looks at an attempt under way.
constexpr double strimo_poll_ms = 1;

// Where a connection attempt stopped.
enum strimo_stage { STAGE_SOCKET, STAGE_LOOKUP, STAGE_CONNECT, STAGE_CONNECTED };

// One connection attempt: what the thread was asked, and what came of it.
// The object and the thread each hold a reference; the thread gives up its own
// when it has finished, which is how the object learns that the outcome is
// there (refs == 1).
struct strimo_attempt {
    std::atomic<int> refs;
    t_symbol *host;       // for the reports, made on the scheduler thread
    // The name the thread looks up, its own copy: a symbol lives only as long
    // as the Pd instance whose table holds it, which may go first.
    char hostname[256];
    int port;
    int protocol;
    strimo_stage stage;
    int err;              // the system's error where the attempt stopped
    bool nodelay_failed;
    bool priority_failed;
    os::socket_t fd;      // the connected socket, os::no_socket otherwise
};

// Gives up one reference; the last one closes a socket nobody took and frees.
void strimo_attempt_release(strimo_attempt *a)
{
    if (a->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        if (a->fd != os::no_socket)
            os::close_socket(a->fd);
        delete a;
    }
}

} // namespace

struct t_strimo_tilde {
    t_object x_obj;
    t_outlet *x_outconnect;
    t_outlet *x_outinfo;
    t_clock *x_clock;
    os::socket_t x_fd;
    int x_protocol;
    t_tag x_tag;
    t_symbol *x_hostname;
    int x_portno;
    int x_connectstate;         // 1 from the announcement of a connection until that of its end
    unsigned char *x_cbuf;
    int x_cbufsize;
    int x_framesamples;
    int x_blocksperframe;
    int x_blockindex;
    int x_samplerate;
    int x_vecsize;
    int x_ninlets;
    int x_channels;
    int x_format;
    std::int32_t x_framecount;
    t_int *x_dspvec;
    pthread_mutex_t x_mutex;
    pthread_t x_childthread;
    strimo_attempt *x_attempt;  // the attempt x_childthread works on
};

static t_class *strimo_tilde_class;

// Symbols are looked up where they are used, never kept from setup: in a
// program running several Pd instances each instance has a symbol table of
// its own, and the plug-in is set up only once, in whichever came first.
static t_symbol *strimo_tilde_hostname(t_symbol *host)
{
    return *host->s_name ? host : gensym("localhost");
}

// The error is read by the caller at once after the failing call.
static void strimo_tilde_sockerror(const char *label, int err)
{
    char text[256];
    os::socket_error_text(err, text, sizeof text);
    post("strimo~: %s: %s (%d)", label, text, err);
}

// ---- the connection thread -------------------------------------------------

static void *strimo_tilde_child_connect(void *arg)
{
    auto *a = static_cast<strimo_attempt *>(arg);
    os::socket_t fd = os::open_socket(a->protocol);
    if (fd == os::no_socket) {
        a->stage = STAGE_SOCKET;
        a->err = os::socket_error();
        strimo_attempt_release(a);
        return nullptr;
    }
    // getaddrinfo, unlike gethostbyname, keeps no state shared between threads.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = a->protocol;
    addrinfo *found = nullptr;
    if (!a->hostname[0] || getaddrinfo(a->hostname, nullptr, &hints, &found) != 0 || !found) {
        a->stage = STAGE_LOOKUP;
        os::close_socket(fd);
        strimo_attempt_release(a);
        return nullptr;
    }
    sockaddr_in peer;
    std::memcpy(&peer, found->ai_addr, sizeof peer);
    freeaddrinfo(found);
    peer.sin_port = htons(static_cast<std::uint16_t>(a->port));

    if (a->protocol == SOCK_STREAM && !os::set_nodelay(fd))
        a->nodelay_failed = true;
    if (!os::set_priority(fd, 6))
        a->priority_failed = true;

    if (!os::connect_to(fd, peer)) {
        a->stage = STAGE_CONNECT;
        a->err = os::socket_error();
        os::close_socket(fd);
    } else {
        a->stage = STAGE_CONNECTED;
        a->fd = fd;
    }
    strimo_attempt_release(a);
    return nullptr;
}

// ---- methods ---------------------------------------------------------------

// Runs on the scheduler thread, between DSP blocks: announces a connection the
// perform routine lost; else, while an attempt is under way, waits for its
// thread to finish, then reports what happened and takes the socket over.
static void strimo_tilde_notify(t_strimo_tilde *x)
{
    pthread_mutex_lock(&x->x_mutex);
    // One announcement per call: the patch may delete the object in answer to it.
    if (x->x_fd == os::no_socket && x->x_connectstate) {
        x->x_connectstate = 0;
        if (x->x_attempt)
            clock_delay(x->x_clock, strimo_poll_ms);
        pthread_mutex_unlock(&x->x_mutex);
        outlet_float(x->x_outconnect, 0);
        return;
    }
    strimo_attempt *a = x->x_attempt;
    if (a && a->refs.load(std::memory_order_acquire) != 1) {
        clock_delay(x->x_clock, strimo_poll_ms);
        pthread_mutex_unlock(&x->x_mutex);
        return;
    }
    x->x_attempt = nullptr;
    x->x_childthread = 0;
    bool connected = false;
    if (a) {
        const char *host = a->host->s_name;
        if (a->stage == STAGE_SOCKET) {
            post("strimo~: connection to %s on port %d failed", host, a->port);
            strimo_tilde_sockerror("socket", a->err);
        } else if (a->stage == STAGE_LOOKUP) {
            post("strimo~: bad host?");
        } else {
            if (a->nodelay_failed)
                pd_error(x, "strimo~: setsockopt(TCP_NODELAY) failed");
            if (a->priority_failed)
                pd_error(x, "strimo~: setsockopt(SO_PRIORITY) failed");
            if (a->stage == STAGE_CONNECT) {
                strimo_tilde_sockerror("connecting stream socket", a->err);
            } else {
                post("strimo~: connected host %s on port %d", host, a->port);
                x->x_fd = a->fd;
                a->fd = os::no_socket;
                x->x_connectstate = 1;
                connected = true;
            }
        }
        strimo_attempt_release(a);
    }
    pthread_mutex_unlock(&x->x_mutex);
    // Outside the lock: what the patch does with the state may come straight back here.
    if (connected)
        outlet_float(x->x_outconnect, 1);
}

static void strimo_tilde_connect(t_strimo_tilde *x, t_symbol *host, t_floatarg port)
{
    pthread_mutex_lock(&x->x_mutex);
    if (x->x_childthread) {
        pthread_mutex_unlock(&x->x_mutex);
        post("strimo~: already trying to connect");
        return;
    }
    if (x->x_fd != os::no_socket) {
        pthread_mutex_unlock(&x->x_mutex);
        post("strimo~: already connected");
        return;
    }
    const std::int32_t portno = port == 0 ? strimo_default_port : lorvex::trunc(port);
    if (portno < 1 || portno > 65535) {
        pthread_mutex_unlock(&x->x_mutex);
        pd_error(x, "strimo~: port %d out of range (1..65535)", portno);
        return;
    }
    x->x_hostname = strimo_tilde_hostname(host);
    x->x_portno = portno;
    x->x_framecount = 0;
    auto *a = new (std::nothrow) strimo_attempt{};
    if (!a) {
        pthread_mutex_unlock(&x->x_mutex);
        pd_error(x, "strimo~: out of memory");
        return;
    }
    a->refs.store(2, std::memory_order_relaxed);
    a->host = x->x_hostname;
    // A name too long for any host is looked up as none, and so not found.
    if (std::strlen(a->host->s_name) < sizeof a->hostname)
        std::strcpy(a->hostname, a->host->s_name);
    a->port = x->x_portno;
    a->protocol = x->x_protocol;
    a->fd = os::no_socket;
    // Nothing ever waits for the thread: it frees what it holds when it ends.
    // It is detached from the start: detaching it afterwards races with its
    // end, which the Windows threads library does not survive (it hands the
    // finished thread's record to the next thread while still tidying it).
    pthread_attr_t attr;
    int err = pthread_attr_init(&attr);
    if (err == 0) {
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        err = pthread_create(&x->x_childthread, &attr, strimo_tilde_child_connect, a);
        pthread_attr_destroy(&attr);
    }
    if (err != 0) {
        x->x_childthread = 0;
        pthread_mutex_unlock(&x->x_mutex);
        delete a;
        post("strimo~: starting the connection thread: %s (%d)", std::strerror(err), err);
        return;
    }
    x->x_attempt = a;
    clock_delay(x->x_clock, strimo_poll_ms);
    pthread_mutex_unlock(&x->x_mutex);
}

// Also announces at once a loss the clock has yet to announce.
static void strimo_tilde_disconnect(t_strimo_tilde *x)
{
    pthread_mutex_lock(&x->x_mutex);
    const bool was_connected = x->x_connectstate != 0;
    if (x->x_fd != os::no_socket) {
        os::close_socket(x->x_fd);
        x->x_fd = os::no_socket;
    }
    x->x_connectstate = 0;
    pthread_mutex_unlock(&x->x_mutex);
    if (was_connected)
        outlet_float(x->x_outconnect, 0);
}

static void strimo_tilde_float(t_strimo_tilde *x, t_floatarg f)
{
    if (f != 0)
        strimo_tilde_connect(x, x->x_hostname, static_cast<t_float>(x->x_portno));
    else
        strimo_tilde_disconnect(x);
}

static void strimo_tilde_host(t_strimo_tilde *x, t_symbol *host)
{
    pthread_mutex_lock(&x->x_mutex);
    x->x_hostname = strimo_tilde_hostname(host);
    pthread_mutex_unlock(&x->x_mutex);
}

// Only x_ninlets inputs and room for x_ninlets channels exist: a larger count
// is limited to the number of inlets, and the post says what was set.
static void strimo_tilde_channels(t_strimo_tilde *x, t_floatarg f)
{
    pthread_mutex_lock(&x->x_mutex);
    if (f >= 0 && f <= stream::max_channels) {
        const int channels = std::min<int>(lorvex::trunc(f), x->x_ninlets);
        x->x_channels = channels;
        post("strimo~: channels set to %d", channels);
    }
    pthread_mutex_unlock(&x->x_mutex);
}

// The keyword is compared with the format in effect, not with one requested.
static void strimo_tilde_format(t_strimo_tilde *x, t_symbol *name, t_floatarg)
{
    auto begins = [name](const char *keyword) {
        return std::strncmp(name->s_name, keyword, std::strlen(keyword)) == 0;
    };
    pthread_mutex_lock(&x->x_mutex);
    const int now = x->x_tag.format;
    if (begins("float") && now != stream::SF_FLOAT) {
        x->x_format = stream::SF_FLOAT;
    } else if (begins("16bit") && now != stream::SF_16BIT) {
        x->x_format = stream::SF_16BIT;
    } else if (begins("8bit") && now != stream::SF_8BIT) {
        x->x_format = stream::SF_8BIT;
    } else if (begins("mp3") && now != stream::SF_MP3) {
        pthread_mutex_unlock(&x->x_mutex);
        pd_error(x, "strimo~: not compiled with mp3 support");
        return;
    } else if (begins("aac") && now != stream::SF_AAC) {
        pthread_mutex_unlock(&x->x_mutex);
        pd_error(x, "strimo~: not compiled with aac support");
        return;
    }
    post("strimo~: format set to %s", name->s_name);
    pthread_mutex_unlock(&x->x_mutex);
}

// Reads only fields the scheduler thread writes: no lock.
static void strimo_tilde_info(t_strimo_tilde *x)
{
    t_atom a;
    const char *format;
    switch (x->x_tag.format) {
    case stream::SF_FLOAT: format = "_float_"; break;
    case stream::SF_16BIT: format = "_16bit_"; break;
    case stream::SF_8BIT: format = "_8bit_"; break;
    case stream::SF_MP3: format = "_mp3_"; break;
    case stream::SF_AAC: format = "_aac_"; break;
    default: format = "_unknown_"; break;
    }
    const auto bits = static_cast<std::uint32_t>(8 * stream::bytes_per_sample(x->x_tag.format));
    SETSYMBOL(&a, gensym(format));
    outlet_anything(x->x_outinfo, gensym("format"), 1, &a);
    SETFLOAT(&a, x->x_tag.channels);
    outlet_anything(x->x_outinfo, gensym("channels"), 1, &a);
    SETFLOAT(&a, static_cast<t_float>(x->x_tag.framesize));
    outlet_anything(x->x_outinfo, gensym("framesize"), 1, &a);
    // Wraps like the 32-bit unsigned rate it is.
    const std::uint32_t rate = static_cast<std::uint32_t>(x->x_samplerate) *
                               static_cast<std::uint32_t>(x->x_tag.channels) * bits;
    SETFLOAT(&a, static_cast<t_float>(static_cast<double>(rate) / 1000.));
    outlet_anything(x->x_outinfo, gensym("bitrate"), 1, &a);
    SETSYMBOL(&a, x->x_hostname);
    outlet_anything(x->x_outinfo, gensym("ipaddr"), 1, &a);
}

// ---- signal processing -----------------------------------------------------

// Sends the frame in x_cbuf. On failure answers false with the label for the
// report and the error of the failed send.
static bool strimo_tilde_sendframe(t_strimo_tilde *x, std::int32_t length, const char **label,
    int *err)
{
    x->x_tag.count = x->x_framecount;
    x->x_tag.framesize = length;
    const auto tag = stream::encode_tag(x->x_tag.format, x->x_tag.count, x->x_tag.channels,
        x->x_tag.framesize);
    if (os::send_bytes(x->x_fd, tag.data(), tag.size()) < 0) {
        *err = os::socket_error();
        *label = "send tag";
        return false;
    }
    *label = "send data";
    if (x->x_protocol == SOCK_STREAM) {
        for (std::int32_t sent = 0; sent < length;) {
            const long r = os::send_bytes(x->x_fd, x->x_cbuf + sent,
                static_cast<std::size_t>(length - sent));
            if (r <= 0) {
                *err = os::socket_error();
                return false;
            }
            sent += static_cast<std::int32_t>(r);
        }
    } else if (length > 0) {
        // A short count is not a failure, and an empty data part is not sent:
        // the header alone is the frame.
        if (os::send_bytes(x->x_fd, x->x_cbuf, static_cast<std::size_t>(length)) <= 0) {
            *err = os::socket_error();
            return false;
        }
    }
    return true;
}

static t_int *strimo_tilde_perform(t_int *w)
{
    auto *x = reinterpret_cast<t_strimo_tilde *>(w[1]);
    const int n = static_cast<int>(w[2]);
    const int ninlets = x->x_ninlets;
    const int format = x->x_tag.format, channels = x->x_tag.channels;
    const std::int32_t length = stream::frame_bytes(format, channels);

    const t_sample *in[strimo_max_inlets];
    for (int j = 0; j < ninlets; j++)
        in[j] = reinterpret_cast<const t_sample *>(w[3 + j]);

    pthread_mutex_lock(&x->x_mutex);
    if (n != x->x_vecsize) {
        x->x_vecsize = n;
        x->x_blockindex = 0;
        x->x_blocksperframe = x->x_framesamples / n;
    }
    stream::encode_block(format, in, channels, n,
        x->x_cbuf + x->x_blockindex * n * channels * stream::bytes_per_sample(format));
    if (x->x_blockindex < x->x_blocksperframe - 1) {
        x->x_blockindex++;
        pthread_mutex_unlock(&x->x_mutex);
        return w + ninlets + 3;
    }
    x->x_blockindex = 0;
    x->x_framecount = stream::next_count(x->x_framecount);
    if (x->x_fd != os::no_socket) {
        const char *label = nullptr;
        int err = 0;
        if (!strimo_tilde_sendframe(x, length, &label, &err)) {
            // Closed here; the patch hears of it from the clock, between blocks.
            os::close_socket(x->x_fd);
            x->x_fd = os::no_socket;
            clock_delay(x->x_clock, 0);
            pthread_mutex_unlock(&x->x_mutex);
            strimo_tilde_sockerror(label, err);
            return w + ninlets + 3;
        }
    }
    // Changes take effect here, between frames, so a header always describes its data.
    x->x_tag.channels = static_cast<std::int8_t>(x->x_channels);
    x->x_tag.format = static_cast<std::uint8_t>(x->x_format);
    pthread_mutex_unlock(&x->x_mutex);
    return w + ninlets + 3;
}

static void strimo_tilde_dsp(t_strimo_tilde *x, t_signal **sp)
{
    const int n = sp[0]->s_n;
    pthread_mutex_lock(&x->x_mutex);
    x->x_dspvec[0] = reinterpret_cast<t_int>(x);
    x->x_dspvec[1] = n;
    for (int i = 0; i < x->x_ninlets; i++)
        x->x_dspvec[2 + i] = reinterpret_cast<t_int>(sp[i]->s_vec);
    x->x_samplerate = lorvex::trunc(sp[0]->s_sr);
    const bool fits = stream::frame_samples % n == 0;
    // A frame left unfinished is not continued by a later chain with the same
    // block size: its first blocks would be from long before its last.
    if (!fits)
        x->x_vecsize = 0;
    pthread_mutex_unlock(&x->x_mutex);
    if (!fits) {
        pd_error(x, "strimo~: signal vector size too large (needs to be even divisor of %d)",
            stream::frame_samples);
        return;
    }
    dsp_addv(strimo_tilde_perform, x->x_ninlets + 2, x->x_dspvec);
}

// ---- new / free -------------------------------------------------------------

static void strimo_tilde_free(t_strimo_tilde *x)
{
    strimo_tilde_disconnect(x);
    // An attempt still under way goes on alone and cleans up after itself.
    if (x->x_attempt) {
        strimo_attempt_release(x->x_attempt);
        x->x_attempt = nullptr;
    }
    if (x->x_cbuf)
        freebytes(x->x_cbuf, static_cast<size_t>(x->x_cbufsize));
    if (x->x_dspvec)
        freebytes(x->x_dspvec, static_cast<size_t>(x->x_ninlets + 3) * sizeof(t_int));
    if (x->x_clock)
        clock_free(x->x_clock);
    pthread_mutex_destroy(&x->x_mutex);
}

static void *strimo_tilde_new(t_floatarg channels, t_floatarg protocol)
{
    auto *x = lorvex::new_record<t_strimo_tilde>(strimo_tilde_class);
    std::memset(reinterpret_cast<char *>(x) + sizeof(t_object), 0,
        sizeof(t_strimo_tilde) - sizeof(t_object));
    x->x_ninlets = std::clamp<int>(lorvex::trunc(channels), 1, strimo_max_inlets);
    for (int i = 1; i < x->x_ninlets; i++)
        inlet_new(&x->x_obj, &x->x_obj.ob_pd, &s_signal, &s_signal);
    x->x_outconnect = outlet_new(&x->x_obj, &s_float);
    x->x_outinfo = outlet_new(&x->x_obj, &s_list);
    x->x_clock = clock_new(x, lorvex::method(strimo_tilde_notify));
    // What the destructor needs comes first, so that a failure below can free the object.
    x->x_fd = os::no_socket;
    pthread_mutex_init(&x->x_mutex, nullptr);
    x->x_cbufsize = x->x_ninlets * stream::frame_samples * 4;
    x->x_dspvec = static_cast<t_int *>(getbytes(static_cast<size_t>(x->x_ninlets + 3) * sizeof(t_int)));
    x->x_cbuf = static_cast<unsigned char *>(getbytes(static_cast<size_t>(x->x_cbufsize)));
    if (!x->x_dspvec || !x->x_cbuf) {
        pd_error(nullptr, "strimo~: out of memory");
        pd_free(&x->x_obj.ob_pd);
        return nullptr;
    }
    x->x_portno = 3000;
    x->x_connectstate = 0;
    x->x_childthread = 0;
    x->x_hostname = gensym("localhost");
    // NaN is not 0: anything but 0 is UDP.
    x->x_protocol = protocol == 0 ? SOCK_STREAM : SOCK_DGRAM;
    x->x_format = x->x_tag.format = stream::SF_FLOAT;
    x->x_tag.mark = 1;
    x->x_channels = x->x_ninlets;
    x->x_tag.channels = static_cast<std::int8_t>(x->x_ninlets);
    x->x_vecsize = 64;
    x->x_framesamples = stream::frame_samples;
    x->x_blocksperframe = stream::frame_samples / 64;
    x->x_blockindex = 0;
    // A peer that goes away must fail a send, not end Pd.
    os::ignore_broken_pipe();
    return x;
}

LORVEX_EXPORT void strimo_tilde_setup(void)
{
    using lorvex::method;
    strimo_tilde_class = class_new(gensym("strimo~"), lorvex::creator(strimo_tilde_new),
        method(strimo_tilde_free), sizeof(t_strimo_tilde), CLASS_DEFAULT, A_DEFFLOAT,
        A_DEFFLOAT, A_NULL);
    class_addmethod(strimo_tilde_class, nullfn, gensym("signal"), A_NULL);
    class_addmethod(strimo_tilde_class, method(strimo_tilde_dsp), gensym("dsp"), A_CANT, A_NULL);
    class_addfloat(strimo_tilde_class, method(strimo_tilde_float));
    class_addbang(strimo_tilde_class, method(strimo_tilde_info));
    class_addmethod(strimo_tilde_class, method(strimo_tilde_connect), gensym("connect"),
        A_DEFSYM, A_DEFFLOAT, A_NULL);
    class_addmethod(strimo_tilde_class, method(strimo_tilde_disconnect), gensym("disconnect"),
        A_NULL);
    class_addmethod(strimo_tilde_class, method(strimo_tilde_channels), gensym("channels"),
        A_FLOAT, A_NULL);
    class_addmethod(strimo_tilde_class, method(strimo_tilde_format), gensym("format"),
        A_SYMBOL, A_DEFFLOAT, A_NULL);
    class_addmethod(strimo_tilde_class, method(strimo_tilde_host), gensym("host"), A_DEFSYM,
        A_NULL);
    class_sethelpsymbol(strimo_tilde_class, gensym("strimo~"));
    if (!os::start_sockets())
        pd_error(nullptr, "strimo~: the system's sockets cannot be started");
    post("strimo~ v%s: audio stream sender over TCP or UDP", "1.0alpha11");
}
