// How a probe prints a line: as Pd's own console does with -stderr, but
// without post()'s line-length limit, so long captures arrive whole. Where a
// program embedding Pd has taken the console over (libpd's print hook), the
// line goes there, so that it reaches the instance that printed it.
#pragma once

#include <m_pd.h>
extern "C" {
#include <s_stuff.h>
}

#include <cstdio>
#include <string>

namespace lorvex::probe {

inline void console_line(const std::string &line)
{
    if (sys_printhook) {
        sys_printhook((line + "\n").c_str());
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace lorvex::probe
