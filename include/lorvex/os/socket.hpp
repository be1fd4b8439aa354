// IPv4 sockets for strimo~ and lorvex-recv: BSD sockets on Linux, Winsock
// on Windows, behind one set of names. What differs:
//   - a socket is an int on Linux and a SOCKET on Windows (socket_t, with
//     no_socket for none);
//   - Windows needs Winsock started once per process (start_sockets);
//   - a send to a peer that has gone must fail, not end the process: Linux
//     ignores SIGPIPE and passes MSG_NOSIGNAL; Windows raises no signal for
//     it at all, so there is nothing to ignore;
//   - errors are errno on Linux and WSAGetLastError() on Windows, told in
//     strerror()'s words or Windows' own (FormatMessage, UTF-8);
//   - Windows has no SO_PRIORITY: a socket keeps the default priority there.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include "lorvex/os/windows.hpp"
#else
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace lorvex::os {

#ifdef _WIN32
using socket_t = SOCKET;
inline constexpr socket_t no_socket = INVALID_SOCKET;
using socket_length = int;
#else
using socket_t = int;
inline constexpr socket_t no_socket = -1;
using socket_length = socklen_t;
#endif

// Readies the system's sockets for this process; false when it cannot.
inline bool start_sockets()
{
#ifdef _WIN32
    // Counted by Winsock: every caller may start it, and nobody needs to
    // stop it before the process ends.
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
#else
    return true;
#endif
}

// The error of the socket call that just failed.
inline int socket_error()
{
#ifdef _WIN32
    return WSAGetLastError();
#else
    return errno;
#endif
}

// The system's words for a socket error.
inline void socket_error_text(int err, char *buf, std::size_t size)
{
#ifdef _WIN32
    error_text(static_cast<unsigned long>(err), buf, size);
#else
    if (size > 0) {
        std::strncpy(buf, std::strerror(err), size - 1);
        buf[size - 1] = 0;
    }
#endif
}

// What stands in for a peer that went away: an error result, never a signal.
inline void ignore_broken_pipe()
{
#ifndef _WIN32
    signal(SIGPIPE, SIG_IGN);
#endif
}

inline socket_t open_socket(int type)
{
    return socket(AF_INET, type, 0);
}

// A socket no program started later inherits.
inline socket_t open_private_socket(int type)
{
#ifdef _WIN32
    return WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
#else
    return socket(AF_INET, type | SOCK_CLOEXEC, 0);
#endif
}

inline void close_socket(socket_t s)
{
#ifdef _WIN32
    closesocket(s);
#else
    close(s);
#endif
}

// Nagle's delay off (stream sockets); false when refused.
inline bool set_nodelay(socket_t s)
{
    const int one = 1;
    return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one) == 0;
}

// The queueing priority of the socket's packets; false when refused.
// Windows has none to set: nothing happens there, and nothing fails.
inline bool set_priority(socket_t s, int priority)
{
#ifdef _WIN32
    (void)s;
    (void)priority;
    return true;
#else
    return setsockopt(s, SOL_SOCKET, SO_PRIORITY, &priority, sizeof priority) == 0;
#endif
}

inline bool connect_to(socket_t s, const sockaddr_in &peer)
{
    return connect(s, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) == 0;
}

// One send, which a vanished peer makes fail rather than signal; the bytes
// accepted, or -1.
inline long send_bytes(socket_t s, const void *data, std::size_t size)
{
#ifdef _WIN32
    return send(s, static_cast<const char *>(data), static_cast<int>(size), 0);
#else
    return static_cast<long>(send(s, data, size, MSG_NOSIGNAL));
#endif
}

// ---- for the receiving side -------------------------------------------------

// Receives what is there without waiting (the socket is non-blocking); the
// bytes read, 0 at the end of a stream, -1 on an error or when there is
// nothing yet (would_block() tells).
inline long receive_bytes(socket_t s, void *buf, std::size_t size)
{
#ifdef _WIN32
    return recv(s, static_cast<char *>(buf), static_cast<int>(size), 0);
#else
    return static_cast<long>(recv(s, buf, size, MSG_DONTWAIT));
#endif
}

inline long receive_datagram(socket_t s, void *buf, std::size_t size, sockaddr_in &from)
{
    socket_length len = sizeof from;
#ifdef _WIN32
    return recvfrom(s, static_cast<char *>(buf), static_cast<int>(size), 0,
        reinterpret_cast<sockaddr *>(&from), &len);
#else
    return static_cast<long>(recvfrom(s, buf, size, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &len));
#endif
}

// Whether a failed call only found nothing to do yet (or was interrupted).
inline bool would_block(int err)
{
#ifdef _WIN32
    return err == WSAEWOULDBLOCK || err == WSAEINTR;
#else
    return err == EINTR || err == EAGAIN || err == EWOULDBLOCK;
#endif
}

// Whether a failed accept ran out of descriptors (sockets) to give.
inline bool out_of_descriptors(int err)
{
#ifdef _WIN32
    return err == WSAEMFILE || err == WSAENOBUFS;
#else
    return err == EMFILE || err == ENFILE;
#endif
}

inline bool set_nonblocking(socket_t s)
{
#ifdef _WIN32
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
#else
    return fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK) == 0;
#endif
}

// Lets a listener take its port again at once after a restart. Windows
// does that by default, and its SO_REUSEADDR means something else (taking
// a port another program listens on): nothing is set there.
inline void reuse_address(socket_t s)
{
#ifdef _WIN32
    (void)s;
#else
    const int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
}

inline void set_receive_buffer(socket_t s, int bytes)
{
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&bytes), sizeof bytes);
}

// A waiting connection, non-blocking like its listener, and private to
// this process; no_socket when there is none (socket_error() tells why).
inline socket_t accept_connection(socket_t listener, sockaddr_in &from)
{
    socket_length len = sizeof from;
#ifdef _WIN32
    socket_t s = accept(listener, reinterpret_cast<sockaddr *>(&from), &len);
    if (s != no_socket) {
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        set_nonblocking(s);
    }
    return s;
#else
    return accept4(listener, reinterpret_cast<sockaddr *>(&from), &len, SOCK_CLOEXEC);
#endif
}

inline int bound_port(socket_t s)
{
    sockaddr_in addr{};
    socket_length len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len);
    return ntohs(addr.sin_port);
}

// Waits up to `ms` for the sockets' events (poll() and its Winsock twin
// take the same records); the number ready, or -1 (socket_error() tells).
inline int wait_for_sockets(pollfd *fds, std::size_t n, int ms)
{
#ifdef _WIN32
    return WSAPoll(fds, static_cast<ULONG>(n), ms);
#else
    return poll(fds, static_cast<nfds_t>(n), ms);
#endif
}

// How many sockets this process may have open at once, raised to the most
// allowed first; -1 when the system sets no such limit (Windows).
inline long most_open_sockets()
{
#ifdef _WIN32
    return -1;
#else
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) != 0)
        return -1;
    if (lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
        getrlimit(RLIMIT_NOFILE, &lim);
    }
    return lim.rlim_cur == RLIM_INFINITY ? 1000000 : static_cast<long>(lim.rlim_cur);
#endif
}

} // namespace lorvex::os
