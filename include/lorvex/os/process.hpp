// What the command-line tools need of their process beyond sockets: output
// that leaves line by line, and hearing when the user asks them to stop.
#pragma once

#include <csignal>
#include <cstdio>

#ifdef _WIN32
#include "lorvex/os/windows.hpp"
#endif

namespace lorvex::os {

// Each line of `f` goes out when it is complete, for whoever reads as it
// happens (a person, a test). Windows' C runtime has no line buffering:
// there every write goes out at once.
inline void line_buffered(std::FILE *f)
{
#ifdef _WIN32
    std::setvbuf(f, nullptr, _IONBF, 0);
#else
    std::setvbuf(f, nullptr, _IOLBF, 0);
#endif
}

namespace detail {
inline volatile std::sig_atomic_t *stop_flag = nullptr;
#ifdef _WIN32
inline BOOL WINAPI on_console_event(DWORD)
{
    if (stop_flag)
        *stop_flag = 1;
    return TRUE;
}
#else
inline void on_stop_signal(int)
{
    if (stop_flag)
        *stop_flag = 1;
}
#endif
} // namespace detail

// Sets *flag when the user asks the program to stop: SIGINT (Ctrl-C) or
// SIGTERM on Linux; Ctrl-C, Ctrl-Break or closing the console on Windows,
// whose console events stand in for those signals. The program then ends
// in its own time, finishing what it writes.
inline void on_stop_request(volatile std::sig_atomic_t *flag)
{
    detail::stop_flag = flag;
#ifdef _WIN32
    SetConsoleCtrlHandler(detail::on_console_event, TRUE);
#else
    struct sigaction sa {};
    sa.sa_handler = detail::on_stop_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif
}

} // namespace lorvex::os
